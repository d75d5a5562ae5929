// A serial gauge on a pseudo-terminal: the library under test opens the terminal's link like a
// tty device. The gauge answers the requests it knows, pushes lines unasked, can stall, send
// garbage, and disappear (link and terminal gone) and come back on a new terminal.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class GaugeEmulator {
 public:
  // Creates the terminal and the symbolic link at link pointing to it.
  explicit GaugeEmulator(std::string link);
  GaugeEmulator(const GaugeEmulator&) = delete;
  GaugeEmulator& operator=(const GaugeEmulator&) = delete;
  ~GaugeEmulator();

  // Whenever the bytes received so far end with request, answer is sent (unless stalled).
  void Answer(const std::string& request, const std::string& answer);
  // As Answer, with the answer made by make when the request arrives.
  void AnswerWith(const std::string& request, std::function<std::string()> make);
  // Paces answers as a line at baud would: each one leaves after the time its request and
  // itself take on the wire (10 bits a byte). 0, the default, answers at once.
  void SetBaud(int baud) { baud_ = baud; }
  void Stall(bool stalled) { stalled_ = stalled; }
  // Sends bytes unasked. Returns false when the terminal is gone.
  bool Push(const std::string& bytes);
  // Closes the terminal and removes the link, as an unplugged USB adapter.
  void Disappear();
  // A new terminal behind the same link, as the adapter plugged in again.
  bool Reappear();
  // Requests answered or left unanswered so far.
  int requests() const { return requests_; }
  bool ok() const { return master_ >= 0; }

 private:
  bool Open();
  void Run();

  std::string link_;
  std::mutex mutex_;
  std::map<std::string, std::function<std::string()>> answers_;
  std::atomic<int> baud_{0};
  std::atomic<bool> stalled_{false};
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  int master_ = -1;
  int slave_ = -1;  // held so that the master never reads EIO while the library reopens
  std::thread thread_;
};
