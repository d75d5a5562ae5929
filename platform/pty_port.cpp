#include "pty_port.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <vector>

namespace {

constexpr size_t kChunk = 4096;

// The target of the symbolic link at path; empty when it is no link.
std::string ReadLink(const std::string& path) {
  std::vector<char> buffer(4096);
  ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<size_t>(n));
}

int OpenSlave(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

}  // namespace

PtyPort::PtyPort(std::string folder) : folder_(std::move(folder)) {}

PtyPort::~PtyPort() { DeletePort(); }

bool PtyPort::CreatePort(const std::string& name) {
  DeletePort();
  auto refuse = [&](const std::string& reason) {
    std::cerr << "Velk_VCP: port " << name << ": " << reason << '\n';
    claim_.Release();
    return false;
  };
  if (!IsValidPortName(name)) return refuse("not a valid port name");
  std::string error;
  if (!EnsureFolder(folder_, error)) return refuse(error);
  if (!claim_.Acquire(folder_, name)) return refuse("in use by a running port");
  const std::string link = folder_ + "/" + name;
  struct stat info {};
  if (lstat(link.c_str(), &info) == 0 && !(S_ISLNK(info.st_mode) && IsPtyTarget(ReadLink(link)))) {
    return refuse(link + " exists and is not a port of this program");
  }

  int master = open("/dev/ptmx", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char slave[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, slave, sizeof slave) != 0) {
    std::string reason = std::string("cannot make a pseudo-terminal: ") + strerror(errno);
    if (master >= 0) close(master);
    return refuse(reason);
  }
  master_ = master;
  slave_path_ = slave;
  // Raw before anything is written, or the line would echo; then open the slave once,
  // because a fresh pty reports no hang-up until its slave has been opened.
  MakeRaw();
  int fd = OpenSlave(slave_path_);
  if (fd >= 0) close(fd);

  const std::string temporary = folder_ + "/." + name + ".new";
  unlink(temporary.c_str());
  if (symlink(slave_path_.c_str(), temporary.c_str()) != 0 ||
      rename(temporary.c_str(), link.c_str()) != 0) {
    std::string reason = "cannot link " + link + ": " + strerror(errno);
    unlink(temporary.c_str());
    close(master_);
    master_ = -1;
    slave_path_.clear();
    return refuse(reason);
  }
  name_ = name;
  link_path_ = link;
  client_ = false;
  Refresh();
  return true;
}

void PtyPort::DeletePort() {
  if (master_ < 0) return;
  close(master_);
  master_ = -1;
  if (ReadLink(link_path_) == slave_path_) unlink(link_path_.c_str());
  claim_.Release();
  name_.clear();
  link_path_.clear();
  slave_path_.clear();
  client_ = false;
  dropping_ = false;
  out_.clear();
  in_.clear();
}

void PtyPort::MakeRaw() {
  // Line settings on the master apply to the slave: every byte passes both ways unchanged.
  termios t{};
  if (tcgetattr(master_, &t) != 0) return;
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(master_, TCSANOW, &t);
}

void PtyPort::PurgeClientInput() {
  // What the program wrote and the client has not read lies in the slave's input queue,
  // which only a descriptor of the slave can flush. A client holding the port exclusively
  // (TIOCEXCL) keeps it; nothing is lost on the program's side.
  int fd = OpenSlave(slave_path_);
  if (fd < 0) return;
  tcflush(fd, TCIFLUSH);
  close(fd);
}

void PtyPort::Refresh() {
  if (master_ < 0) return;
  pollfd p{master_, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return;
  const bool present = !(p.revents & POLLHUP);
  if (present && !client_) ClientArrived();
  if (!present && client_) ClientLeft();
  client_ = present;
}

void PtyPort::ClientArrived() {
  ++session_;
  // Output buffered before this client came belongs to nobody.
  PurgeClientInput();
  out_.clear();
  in_.clear();
  dropping_ = false;
}

void PtyPort::ClientLeft() {
  ++session_;
  // Whatever the client set is undone, and what it left unread or unanswered is dropped.
  MakeRaw();
  tcflush(master_, TCIFLUSH);
  PurgeClientInput();
  out_.clear();
  in_.clear();
  dropping_ = false;
}

void PtyPort::Flush() {
  uint8_t chunk[kChunk];
  while (!out_.empty()) {
    size_t n = std::min(out_.size(), kChunk);
    std::copy_n(out_.begin(), n, chunk);
    ssize_t written = write(master_, chunk, n);
    if (written <= 0) break;  // full (EAGAIN) or the client is going; try on a later tick
    out_.erase(out_.begin(), out_.begin() + written);
  }
  if (out_.empty()) dropping_ = false;
}

void PtyPort::WriteData(const uint8_t* data, int32_t count) {
  Refresh();
  if (master_ < 0 || !client_ || !data || count <= 0) return;
  size_t size = static_cast<size_t>(count);
  size_t offset = 0;
  if (out_.empty()) {
    while (offset < size) {
      ssize_t written = write(master_, data + offset, std::min(size - offset, kChunk));
      if (written <= 0) break;
      offset += static_cast<size_t>(written);
    }
  }
  if (offset == size) return;
  // Only the newest kOutputQueueMax bytes can be kept.
  size_t dropped = 0;
  if (size - offset > kOutputQueueMax) {
    dropped = size - offset - kOutputQueueMax;
    offset = size - kOutputQueueMax;
  }
  out_.insert(out_.end(), data + offset, data + size);
  if (out_.size() > kOutputQueueMax) {
    dropped += out_.size() - kOutputQueueMax;
    out_.erase(out_.begin(), out_.end() - static_cast<std::ptrdiff_t>(kOutputQueueMax));
  }
  if (dropped > 0 && !dropping_) {
    std::cerr << "Velk_VCP: port " << name_
              << ": the client does not read; the oldest output is dropped\n";
  }
  if (dropped > 0) dropping_ = true;
}

uint32_t PtyPort::ClientSession() {
  Refresh();
  return session_;
}

void PtyPort::Pump() {
  Refresh();
  if (client_) Flush();
}

void PtyPort::Drain() {
  uint8_t chunk[kChunk];
  while (in_.size() < kInputMax) {
    ssize_t n = read(master_, chunk, std::min(kChunk, kInputMax - in_.size()));
    if (n <= 0) break;  // nothing waiting (EAGAIN), or no client (EIO)
    in_.insert(in_.end(), chunk, chunk + n);
  }
}

int32_t PtyPort::InCount() {
  Refresh();
  if (master_ < 0 || !client_) return 0;
  Drain();
  return static_cast<int32_t>(in_.size());
}

void PtyPort::ReadData(uint8_t* data, int32_t& count) {
  if (!data || count <= 0 || master_ < 0) {
    count = 0;
    return;
  }
  if (in_.size() < static_cast<size_t>(count) && client_) Drain();
  size_t n = std::min(in_.size(), static_cast<size_t>(count));
  std::copy_n(in_.begin(), n, data);
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
  count = static_cast<int32_t>(n);
}

bool PtyPort::IsOpened() {
  Refresh();
  return master_ >= 0 && client_;
}

void PtyPort::ResetPort() {
  if (master_ < 0) return;
  Refresh();
  in_.clear();
  out_.clear();
  dropping_ = false;
  tcflush(master_, TCIFLUSH);
  PurgeClientInput();
}

void PtyPort::RemoveStalePorts() {
  DIR* dir = opendir(folder_.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
  for (const std::string& entry : names) {
    std::string name;
    if (entry.rfind("COM", 0) == 0) {
      name = entry;
      if (!IsPtyTarget(ReadLink(folder_ + "/" + name))) continue;
    } else if (entry.rfind(".COM", 0) == 0 && entry.size() > 6 &&
               entry.compare(entry.size() - 5, 5, ".lock") == 0) {
      name = entry.substr(1, entry.size() - 6);
      struct stat info {};
      if (lstat((folder_ + "/" + name).c_str(), &info) == 0) continue;  // handled with its link
    } else {
      continue;
    }
    if (!IsValidPortName(name)) continue;
    PortClaim probe;
    if (!probe.Acquire(folder_, name)) continue;  // a live port owns it
    const std::string link = folder_ + "/" + name;
    if (IsPtyTarget(ReadLink(link))) unlink(link.c_str());
    probe.Release();
  }
}
