#include "pty_port.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
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
  if (!claim_.Acquire(folder_, name)) {
    return refuse(errno == EWOULDBLOCK ? std::string("in use by a running port")
                                       : std::string("cannot claim the name: ") + strerror(errno));
  }
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
  ++generation_;
  auto undo = [&](const std::string& reason) {
    watch_.Stop();
    if (slave_ >= 0) close(slave_);
    slave_ = -1;
    close(master_);
    master_ = -1;
    slave_path_.clear();
    return refuse(reason);
  };
  // Raw before anything is written, or the line would echo. The program's own slave
  // descriptor is opened before the watch starts, so it is never counted as a client.
  MakeRaw();
  slave_ = OpenSlave(slave_path_);
  if (slave_ < 0) return undo("cannot open " + slave_path_ + ": " + strerror(errno));
  if (!watch_.Start(slave_path_)) {
    return undo(std::string("cannot follow the clients of the port: ") + strerror(errno));
  }

  const std::string temporary = folder_ + "/." + name + ".new";
  unlink(temporary.c_str());
  if (symlink(slave_path_.c_str(), temporary.c_str()) != 0 ||
      rename(temporary.c_str(), link.c_str()) != 0) {
    std::string reason = "cannot link " + link + ": " + strerror(errno);
    unlink(temporary.c_str());
    return undo(reason);
  }
  name_ = name;
  link_path_ = link;
  client_ = false;
  return true;
}

void PtyPort::DeletePort() {
  if (master_ < 0) return;
  ++generation_;
  EndDropEpisode();
  watch_.Stop();
  if (slave_ >= 0) close(slave_);
  slave_ = -1;
  close(master_);  // the last descriptor of the master: the client is hung up
  master_ = -1;
  if (ReadLink(link_path_) == slave_path_) unlink(link_path_.c_str());
  claim_.Release();
  name_.clear();
  link_path_.clear();
  slave_path_.clear();
  client_ = false;
  out_.Clear();
  in_.Clear();
  dropped_input_ = 0;
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

void PtyPort::FollowClients() {
  if (master_ < 0) return;
  // Bounded, so that a client opening and closing without pause cannot hold the thread.
  for (int round = 0; round < 16; ++round) {
    const PtyClientWatch::Changes changes = watch_.Take();
    if (!changes.arrived && !changes.departed) return;
    if (changes.lost) RecountAfterOverflow();
    // A departure is handled first: everything waiting came from or was meant for clients
    // that are gone, even when a new client arrived right after them (its first bytes may
    // then be dropped too; it repeats its command, it never gets a foreign answer).
    if (changes.departed) ClientLeft();
    if (watch_.holders() > 0) ClientArrived();
    // Events that came while the departed client's bytes were dropped are read next.
  }
}

void PtyPort::RecountAfterOverflow() {
  // The kernel dropped events: ask the pty itself whether anyone holds the slave, which it
  // tells only while the program's own slave descriptor is closed.
  std::cerr << "Velk_VCP: port " << name_ << ": too many clients came and went at once\n";
  ++generation_;
  watch_.Stop();
  if (slave_ >= 0) close(slave_);
  pollfd p{master_, POLLIN, 0};
  const bool held = poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
  slave_ = OpenSlave(slave_path_);
  if (watch_.Start(slave_path_)) watch_.SetHolders(held ? 1 : 0);
}

void PtyPort::ClientArrived() {
  ++session_;
  // Output buffered before this client came belongs to nobody.
  if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
  out_.Clear();
  in_.Clear();
  client_ = true;
}

void PtyPort::ClientLeft() {
  ++session_;
  DropAllPending();
  // Whatever the client set is undone.
  MakeRaw();
  client_ = false;
}

void PtyPort::DropAllPending() {
  int waiting = 0;
  if (ioctl(master_, FIONREAD, &waiting) != 0) waiting = 0;
  // Counted until the engine takes the count; ports nobody serves saturate instead of wrapping.
  const int64_t dropped =
      int64_t{dropped_input_} + std::max(waiting, 0) + static_cast<int64_t>(in_.size());
  dropped_input_ = static_cast<int32_t>(std::min<int64_t>(dropped, INT32_MAX));
  tcflush(master_, TCIFLUSH);
  // What the program wrote and the client did not read lies in the slave's input queue.
  if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
  in_.Clear();
  out_.Clear();
  EndDropEpisode();
}

void PtyPort::EndDropEpisode() {
  if (dropped_answers_ == 0) return;
  std::cerr << "Velk_VCP: port " << name_ << ": " << dropped_answers_ << " answers ("
            << dropped_bytes_ << " bytes) were dropped whole: the client did not read them\n";
  dropped_answers_ = 0;
  dropped_bytes_ = 0;
}

void PtyPort::WriteData(const uint8_t* data, int32_t count) {
  if (master_ < 0 || !client_ || !data || count <= 0) return;
  const size_t size = static_cast<size_t>(count);
  if (queued_output() + size > kOutputQueueMax) {
    if (dropped_answers_ == 0) {
      std::cerr << "Velk_VCP: port " << name_ << ": the client does not read its answers ("
                << queued_output() << " bytes wait); answers that do not fit are dropped\n";
    }
    ++dropped_answers_;
    dropped_bytes_ += size;
    return;
  }
  out_.Append(data, size);
}

void PtyPort::Pump() {
  if (queued_output() == 0) return;
  FollowClients();
  if (!client_) return;
  while (!out_.empty()) {
    const ssize_t written = write(master_, out_.data(), out_.size());
    if (written <= 0) break;  // full (EAGAIN): the rest goes when the client has read
    out_.Consume(static_cast<size_t>(written));
  }
  if (out_.empty()) EndDropEpisode();
  // A client that left while the bytes went out: what it did not read goes, too.
  FollowClients();
}

uint32_t PtyPort::ClientSession() { return session_; }

int32_t PtyPort::TakeDroppedInput() {
  const int32_t dropped = dropped_input_;
  dropped_input_ = 0;
  return dropped;
}

void PtyPort::Drain() {
  uint8_t chunk[kChunk];
  bool got = false;
  while (in_.size() < kInputMax) {
    const ssize_t n = read(master_, chunk, std::min(kChunk, kInputMax - in_.size()));
    if (n <= 0) break;  // nothing waiting (EAGAIN)
    in_.Append(chunk, static_cast<size_t>(n));
    got = true;
  }
  // A client that left before these bytes were read may have written some of them: when a
  // departure shows now, they are all dropped with the rest of what it left.
  if (got) FollowClients();
}

int32_t PtyPort::InCount() {
  if (!client_) FollowClients();
  if (master_ < 0 || !client_) return 0;
  if (!InputPaused()) Drain();
  return static_cast<int32_t>(in_.size());
}

void PtyPort::ReadData(uint8_t* data, int32_t& count) {
  if (!data || count <= 0 || master_ < 0) {
    count = 0;
    return;
  }
  if (in_.size() < static_cast<size_t>(count) && client_ && !InputPaused()) Drain();
  const size_t n = std::min(in_.size(), static_cast<size_t>(count));
  std::copy_n(in_.data(), n, data);
  in_.Consume(n);
  count = static_cast<int32_t>(n);
}

bool PtyPort::IsOpened() {
  FollowClients();
  return master_ >= 0 && client_;
}

void PtyPort::ResetPort() {
  if (master_ < 0) return;
  FollowClients();
  in_.Clear();
  out_.Clear();
  tcflush(master_, TCIFLUSH);
  if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
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
