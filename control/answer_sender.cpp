#include "answer_sender.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

void ClosePair(int (&fds)[2]) {
  for (int& fd : fds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void Poke(int fd) { [[maybe_unused]] const ssize_t n = write(fd, "", 1); }

void Drain(int fd) {
  char buffer[64];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

int AnswerSender::Start() {
  if (thread_.joinable()) return done_pipe_[0];
  if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
  if (pipe2(done_pipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
    ClosePair(wake_);
    return -1;
  }
  stopping_ = false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    ClosePair(wake_);
    ClosePair(done_pipe_);
    return -1;
  }
  return done_pipe_[0];
}

void AnswerSender::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  Poke(wake_[1]);
  thread_.join();
  ClosePair(wake_);
  ClosePair(done_pipe_);
  incoming_.clear();
  done_.clear();
}

bool AnswerSender::Send(int fd, std::string text) {
  if (!thread_.joinable()) return false;
  {
    std::lock_guard lock(mutex_);
    incoming_.push_back(
        {fd, std::move(text), nullptr, 0, std::chrono::steady_clock::now() + kPatience});
  }
  Poke(wake_[1]);
  return true;
}

bool AnswerSender::Send(int fd, nlohmann::json answer) {
  if (!thread_.joinable()) return false;
  {
    std::lock_guard lock(mutex_);
    incoming_.push_back(
        {fd, {}, std::move(answer), 0, std::chrono::steady_clock::now() + kPatience});
  }
  Poke(wake_[1]);
  return true;
}

std::vector<std::pair<int, bool>> AnswerSender::TakeDone() {
  Drain(done_pipe_[0]);
  std::lock_guard lock(mutex_);
  return std::exchange(done_, {});
}

void AnswerSender::Finish(int fd, bool ok) {
  {
    std::lock_guard lock(mutex_);
    done_.emplace_back(fd, ok);
  }
  Poke(done_pipe_[1]);
}

void AnswerSender::Run() {
  std::vector<Job> jobs;
  std::vector<pollfd> polled;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      while (!incoming_.empty()) {
        jobs.push_back(std::move(incoming_.front()));
        incoming_.pop_front();
      }
    }
    for (Job& job : jobs) {
      if (job.answer.is_null()) continue;
      job.text = job.answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
      job.answer = nullptr;
    }
    const auto now = std::chrono::steady_clock::now();
    auto soonest = now + kPatience;
    for (auto job = jobs.begin(); job != jobs.end();) {
      if (job->deadline <= now) {
        Finish(job->fd, false);
        job = jobs.erase(job);
        continue;
      }
      soonest = std::min(soonest, job->deadline);
      ++job;
    }
    polled.assign(1, pollfd{wake_[0], POLLIN, 0});
    for (const Job& job : jobs) polled.push_back({job.fd, POLLOUT, 0});
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(soonest - now).count();
    if (poll(polled.data(), polled.size(), static_cast<int>(wait)) < 0 && errno != EINTR) return;
    if (polled[0].revents != 0) Drain(wake_[0]);
    for (size_t k = jobs.size(); k-- > 0;) {
      if (polled[k + 1].revents == 0) continue;
      Job& job = jobs[k];
      const ssize_t n = send(job.fd, job.text.data() + job.sent, job.text.size() - job.sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) job.sent += static_cast<size_t>(n);
      const bool failed = n < 0 && errno != EAGAIN && errno != EINTR;
      if (failed || job.sent == job.text.size()) {
        Finish(job.fd, !failed);
        jobs.erase(jobs.begin() + static_cast<std::ptrdiff_t>(k));
      }
    }
  }
}
