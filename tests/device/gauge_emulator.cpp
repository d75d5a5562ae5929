#include "gauge_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

GaugeEmulator::GaugeEmulator(std::string link) : link_(std::move(link)) {
  if (Open()) thread_ = std::thread([this] { Run(); });
}

GaugeEmulator::~GaugeEmulator() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  Disappear();
}

bool GaugeEmulator::Open() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    if (master >= 0) close(master);
    return false;
  }
  const std::string slave_path = ptsname(master);
  const int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (slave < 0 || tcgetattr(slave, &t) != 0) {
    close(master);
    return false;
  }
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  unlink(link_.c_str());
  if (symlink(slave_path.c_str(), link_.c_str()) != 0) {
    close(slave);
    close(master);
    return false;
  }
  std::lock_guard lock(mutex_);
  master_ = master;
  slave_ = slave;
  return true;
}

void GaugeEmulator::Answer(const std::string& request, const std::string& answer) {
  AnswerWith(request, [answer] { return answer; });
}

void GaugeEmulator::AnswerWith(const std::string& request, std::function<std::string()> make) {
  std::lock_guard lock(mutex_);
  answers_[request] = std::move(make);
}

bool GaugeEmulator::Push(const std::string& bytes) {
  std::lock_guard lock(mutex_);
  if (master_ < 0) return false;
  return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void GaugeEmulator::Disappear() {
  std::lock_guard lock(mutex_);
  if (master_ < 0) return;
  unlink(link_.c_str());
  close(slave_);
  close(master_);
  master_ = slave_ = -1;
}

bool GaugeEmulator::Reappear() {
  if (master_ >= 0) return true;
  return Open();
}

void GaugeEmulator::Run() {
  std::string received;
  while (!stop_) {
    int fd = -1;
    {
      std::lock_guard lock(mutex_);
      fd = master_;
    }
    if (fd < 0) {
      usleep(10 * 1000);
      continue;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    std::lock_guard lock(mutex_);
    if (master_ != fd) continue;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) continue;
    received.append(buffer, static_cast<size_t>(n));
    for (const auto& [request, make] : answers_) {
      if (received.size() < request.size() ||
          received.compare(received.size() - request.size(), request.size(), request) != 0) {
        continue;
      }
      ++requests_;
      if (!stalled_) {
        const std::string answer = make();
        if (baud_ > 0) {
          const auto wire = (request.size() + answer.size()) * 10 * 1000000 / baud_;
          std::this_thread::sleep_for(std::chrono::microseconds(wire));
        }
        (void)!write(fd, answer.data(), answer.size());
      }
      received.clear();
      break;
    }
    if (received.size() > 4096) received.clear();
  }
}
