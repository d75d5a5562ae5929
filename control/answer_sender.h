// Sends the rest of answers that a client's socket did not take at once, on a thread of its
// own, so that a client that reads a large answer slowly (or not at all) never holds the
// serving thread. Each answer goes whole within a time bound, or its connection is reported as
// failed; the connections stay their owner's, which closes them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class AnswerSender {
 public:
  // An answer not sent whole within this time fails.
  static constexpr std::chrono::seconds kPatience{10};

  AnswerSender() = default;
  AnswerSender(const AnswerSender&) = delete;
  AnswerSender& operator=(const AnswerSender&) = delete;
  ~AnswerSender() { Stop(); }

  // Starts the thread. Returns the descriptor that becomes readable when answers are done
  // (see TakeDone), or -1 when the thread or its pipes cannot be made (nothing is started).
  int Start();
  // Ends the thread; answers not yet sent fail silently. The descriptors handed over are the
  // caller's again (none is closed). Nothing when not started.
  void Stop();

  // Sends text on fd (non-blocking, the caller's) from the thread. Returns false when not
  // started; the caller must not write to fd until TakeDone reports it.
  bool Send(int fd, std::string text);
  // The same for an answer still to be written out: the thread writes it as one line of JSON
  // (texts that are no UTF-8 with replacement characters), so that neither writing a large
  // answer nor freeing it costs the caller's thread.
  bool Send(int fd, nlohmann::json answer);
  // The answers finished since the last call: each connection with true when its answer went
  // whole, false when the client went away or did not take it in time.
  std::vector<std::pair<int, bool>> TakeDone();

 private:
  struct Job {
    int fd;
    std::string text;
    nlohmann::json answer;  // written into text first, when not null
    size_t sent = 0;
    std::chrono::steady_clock::time_point deadline;
  };
  void Run();
  void Finish(int fd, bool ok);

  std::mutex mutex_;
  std::deque<Job> incoming_;
  std::vector<std::pair<int, bool>> done_;
  bool stopping_ = false;
  int wake_[2] = {-1, -1};  // wakes the thread for a new answer or the stop
  int done_pipe_[2] = {-1, -1};
  std::thread thread_;
};
