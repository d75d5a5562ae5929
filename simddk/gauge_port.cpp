#include "gauge_port.h"

#include <errno.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <optional>

#include "number_text.h"
#include "serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, 3600000));
}

// Writes all bytes within timeout_ms, giving up at once when wake_fd becomes readable (a stop).
// Returns false when the port fails, does not take them in time (ETIMEDOUT) or a stop came
// (ECANCELED).
bool WriteAll(int fd, const std::string& bytes, int timeout_ms, int wake_fd) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (Clock::now() >= deadline) {
      errno = ETIMEDOUT;
      return false;
    }
    pollfd p[2] = {{wake_fd, POLLIN, 0}, {fd, POLLOUT, 0}};
    poll(p, 2, 10);
    if (p[0].revents) {
      errno = ECANCELED;
      return false;
    }
  }
  return true;
}

// Closes a serial port without waiting for output it still holds (a gauge that stopped the
// flow with XOFF would keep close() waiting for the driver's closing time).
void CloseDiscarding(int fd) {
  tcflush(fd, TCIOFLUSH);
  close(fd);
}

std::string Printable(const std::string& line) {
  std::string out;
  for (unsigned char c : line.substr(0, 40))
    out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

GaugePort::GaugePort(std::vector<Input> inputs, DataKeySink sink)
    : inputs_(std::move(inputs)), sink_(std::move(sink)), readings_(inputs_.size()) {
  if (!inputs_.empty()) path_ = inputs_.front().source.path;
}

GaugePort::~GaugePort() { Stop(); }

bool GaugePort::Start(std::string& error) {
  Stop();
  const Clock::time_point now = Clock::now();
  for (GaugeReading& r : readings_) r = GaugeReading{kStatusNoValue, 0.0, now};
  return thread_.Start([this] { Run(); }, error);
}

void GaugePort::Stop() { thread_.Stop(); }

GaugeReading GaugePort::Latest(size_t index) const {
  std::lock_guard lock(mutex_);
  return index < readings_.size() ? readings_[index] : GaugeReading{};
}

std::string GaugePort::Describe(size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= readings_.size()) return {};
  const auto age =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - readings_[index].at);
  return "serial " + path_ + " " + DescribeSerialLine(inputs_.front().source.line) +
         (open_ ? ", port open" : ", port closed") + ", age " + std::to_string(age.count()) +
         " ms, last error " + (last_error_.empty() ? "none" : last_error_);
}

void GaugePort::Settle(size_t index, int16_t status, double value) {
  std::lock_guard lock(mutex_);
  GaugeReading& r = readings_[index];
  r.status = status;
  if (status == kStatusValid) r.value = value;
  r.at = Clock::now();
}

void GaugePort::SetError(const std::string& error) {
  std::lock_guard lock(mutex_);
  last_error_ = error;
}

void GaugePort::SetOpen(bool open) {
  std::lock_guard lock(mutex_);
  const bool was_open = open_;
  open_ = open;
  if (open || !was_open) return;  // the readings turn to no value once, when the port goes
  const Clock::time_point now = Clock::now();
  for (GaugeReading& r : readings_) {
    r.status = kStatusNoValue;
    r.at = now;
  }
}

void GaugePort::Run() {
  const SerialLine line_settings = inputs_.front().source.line;
  // An unasked line belongs to the first input that only listens, else to the first input.
  size_t push_input = 0;
  for (size_t i = 0; i < inputs_.size(); ++i) {
    if (inputs_[i].source.request.empty()) {
      push_input = i;
      break;
    }
  }
  std::vector<Clock::time_point> due(inputs_.size(), Clock::now());
  int fd = -1;
  bool reported = false;  // the current outage was reported
  std::optional<size_t> asked;
  bool timed_out = false;  // the last request got no answer, which may still come late
  Clock::time_point deadline;
  std::string line;
  bool discarding = false;

  auto take_line = [&](const std::string& text) {
    const size_t index = asked ? *asked : push_input;
    const SerialSource& source = inputs_[index].source;
    std::optional<double> number =
        LeadingNumber(std::string_view(text).substr(std::min<size_t>(source.skip, text.size())));
    if (number && !std::isfinite(*number)) number.reset();
    if (!number) {
      SetError((asked ? "answer '" : "unasked line '") + Printable(text) + "' holds no number");
    }
    if (!asked && timed_out) {
      // An answer that comes after its timeout is no press of the data key.
      timed_out = false;
      SetError("late answer '" + Printable(text) + "' dropped");
      return;
    }
    if (asked) {
      Settle(index, number ? kStatusValid : kStatusNoValue, number.value_or(0.0));
      due[index] = Clock::now() + std::chrono::milliseconds(source.interval_ms);
      asked.reset();
    } else if (number) {
      Settle(index, kStatusValid, *number);
      sink_(inputs_[index].device, inputs_[index].input, *number);
    }
  };
  auto wait_for_stop = [&](std::chrono::milliseconds pause) {
    pollfd p{thread_.wake_descriptor(), POLLIN, 0};
    return poll(&p, 1, static_cast<int>(pause.count())) > 0;
  };
  auto lose_port = [&](const std::string& reason) {
    CloseDiscarding(fd);
    fd = -1;
    SetOpen(false);
    SetError(reason);
    if (!reported) {
      std::cerr << "Velk_DDK: serial port " << path_ << " is gone (" << reason
                << "); trying again every second\n";
      reported = true;
    }
    asked.reset();
  };

  for (;;) {
    if (fd < 0) {
      std::string error;
      fd = OpenSerialPort(path_, line_settings, error);
      if (fd < 0) {
        SetOpen(false);
        SetError(error);
        if (!reported) {
          std::cerr << "Velk_DDK: serial port " << path_ << ": " << error
                    << "; trying again every second\n";
          reported = true;
        }
        if (wait_for_stop(kPortRetry)) break;
        continue;
      }
      if (reported) std::cerr << "Velk_DDK: serial port " << path_ << " is open again\n";
      reported = false;
      SetOpen(true);
      line.clear();
      discarding = false;
      std::fill(due.begin(), due.end(), Clock::now());
    }

    if (!asked) {
      std::optional<size_t> next;
      for (size_t i = 0; i < inputs_.size(); ++i) {
        if (inputs_[i].source.request.empty()) continue;
        if (!next || due[i] < due[*next]) next = i;
      }
      if (next && due[*next] <= Clock::now()) {
        const SerialSource& source = inputs_[*next].source;
        if (!WriteAll(fd, source.request, source.timeout_ms, thread_.wake_descriptor())) {
          if (errno == ECANCELED) break;
          lose_port(std::string("cannot send the request: ") + strerror(errno));
          if (wait_for_stop(kPortRetry)) break;
          continue;
        }
        asked = next;
        timed_out = false;
        deadline = Clock::now() + std::chrono::milliseconds(source.timeout_ms);
      }
    }
    int wait_ms = -1;
    if (asked) {
      wait_ms = MillisecondsUntil(deadline);
    } else {
      for (size_t i = 0; i < inputs_.size(); ++i) {
        if (inputs_[i].source.request.empty()) continue;
        const int ms = MillisecondsUntil(due[i]);
        wait_ms = wait_ms < 0 ? ms : std::min(wait_ms, ms);
      }
    }
    pollfd fds[2] = {{thread_.wake_descriptor(), POLLIN, 0}, {fd, POLLIN, 0}};
    if (poll(fds, 2, wait_ms) < 0 && errno != EINTR) {
      lose_port(std::string("cannot wait for the port: ") + strerror(errno));
      continue;
    }
    if (fds[0].revents) break;
    if (fds[1].revents) {
      char buffer[512];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        lose_port(n == 0 ? "the port was closed" : strerror(errno));
        if (wait_for_stop(kPortRetry)) break;
        continue;
      }
      for (ssize_t k = 0; k < n; ++k) {
        const char c = buffer[k];
        if (c == '\r' || c == '\n') {
          if (!discarding && !line.empty()) take_line(line);
          line.clear();
          discarding = false;
        } else if (!discarding) {
          if (line.size() >= kGaugeLineMax) {
            SetError("line longer than " + std::to_string(kGaugeLineMax) + " bytes dropped");
            line.clear();
            discarding = true;
          } else {
            line += c;
          }
        }
      }
    }
    if (asked && Clock::now() >= deadline) {
      const SerialSource& source = inputs_[*asked].source;
      SetError("no answer within " + std::to_string(source.timeout_ms) + " ms");
      Settle(*asked, kStatusNoValue, 0.0);
      due[*asked] = Clock::now() + std::chrono::milliseconds(source.interval_ms);
      asked.reset();
      timed_out = true;
      line.clear();
      discarding = false;
    }
  }
  if (fd >= 0) CloseDiscarding(fd);
}
