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

#include "port_holder.h"
#include "service_manager.h"

namespace {

constexpr size_t kChunk = 4096;

// The target of the symbolic link at path; empty when it is no link.
std::string ReadLink(const std::string& path) {
  std::vector<char> buffer(4096);
  ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<size_t>(n));
}

// Asks the pty for a descriptor of its slave without a path lookup; read-only, so that its
// close wakes no watch. Falls back to opening the path on kernels without TIOCGPTPEER.
int OpenOwnSlave(int master, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
#ifdef TIOCGPTPEER
  const int fd = ioctl(master, TIOCGPTPEER, kFlags);
  if (fd >= 0 || errno != EINVAL) return fd;
#endif
  return open(path.c_str(), kFlags);
}

// True while a client holds the slave of master: the master is hung up only while none does.
bool IsHeld(int master) {
  pollfd p{master, 0, 0};
  return poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

}  // namespace

PtyPort::PtyPort(std::string folder) : folder_(std::move(folder)) {}

PtyPort::~PtyPort() { DeletePort(); }

void PtyPort::SetShared(bool shared) {
  exclusive_ = !shared;
  MarkPortsShared(folder_, shared);
}

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
  MarkPortsShared(folder_, !exclusive_);
  if (!claim_.Acquire(folder_, name)) {
    return refuse(errno == EWOULDBLOCK ? std::string("in use by a running port")
                                       : std::string("cannot claim the name: ") + strerror(errno));
  }
  const std::string link = folder_ + "/" + name;
  struct stat info {};
  if (lstat(link.c_str(), &info) == 0 && !(S_ISLNK(info.st_mode) && IsPtyTarget(ReadLink(link)))) {
    return refuse(link + " exists and is not a port of this program");
  }
  name_ = name;
  link_path_ = link;
  out_.SetReportName(name);
  Terminal first;
  // A terminal the program had before a restart (kept by the service manager, or handed over
  // by a re-execution) is taken back with its clients; otherwise a new one is made.
  const int kept = service::TakeInherited(name);
  const bool adopted = kept >= 0 && AdoptTerminal(first, kept, error);
  if (kept >= 0 && !adopted) {
    std::cerr << "Velk_VCP: port " << name << ": the kept terminal is unusable (" << error
              << "); making a new one\n";
    close(kept);
  }
  if (!adopted && !OpenTerminal(first, error)) {
    name_.clear();
    link_path_.clear();
    return refuse(error);
  }
  master_ = std::exchange(first.master, -1);
  slave_path_ = first.slave;
  watch_.Swap(first.watch);
  ++generation_;
  if (!Link(error)) {
    watch_.Stop();
    close(master_);
    master_ = -1;
    slave_path_.clear();
    name_.clear();
    link_path_.clear();
    return refuse(error);
  }
  client_ = false;
  service::StorePort(name_, master_);
  MakeSpare();
  // A client that held the kept terminal holds the port at once, with what it wrote meanwhile.
  if (adopted) {
    Settle({});
    adopted_session_ = session_;
  }
  return true;
}

bool PtyPort::AdoptTerminal(Terminal& terminal, int master, std::string& reason) {
  char slave[128] = {};
  if (ptsname_r(master, slave, sizeof slave) != 0) {
    reason = std::string("no pseudo-terminal: ") + strerror(errno);
    return false;
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  // The line stays as the client set it: it still holds the port.
  if (!terminal.watch.Start(slave)) {
    reason = std::string("cannot follow the clients of the port: ") + strerror(errno);
    return false;
  }
  terminal.master = master;
  terminal.slave = slave;
  return true;
}

bool PtyPort::OpenTerminal(Terminal& terminal, std::string& reason) {
  const int master = open("/dev/ptmx", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char slave[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, slave, sizeof slave) != 0) {
    reason = std::string("cannot make a pseudo-terminal: ") + strerror(errno);
    if (master >= 0) close(master);
    return false;
  }
  // Raw before anything is written, or the line would echo.
  MakeRaw(master);
  // A slave never opened does not count as hung up: one open and close of its own makes the
  // master report the hang-up until a client comes. Done before the watch starts, which it
  // would wake otherwise.
  const int own = OpenOwnSlave(master, slave);
  if (own >= 0) close(own);
  if (!terminal.watch.Start(slave)) {
    reason = std::string("cannot follow the clients of the port: ") + strerror(errno);
    close(master);
    return false;
  }
  terminal.master = master;
  terminal.slave = slave;
  return true;
}

void PtyPort::CloseTerminal(Terminal& terminal) {
  terminal.watch.Stop();
  if (terminal.master >= 0) close(terminal.master);
  terminal.master = -1;
  terminal.slave.clear();
}

void PtyPort::MakeSpare() {
  std::string reason;
  if (spare_.master < 0) OpenTerminal(spare_, reason);  // without one a departure makes it
}

void PtyPort::RetireSpare() {
  // The spare is the terminal the link has just left. Exclusive, so that an open that followed
  // the link before it moved fails with EBUSY (root, whom the mode does not stop, excepted);
  // the client has made it so already unless the port is shared. Its watch stays: root's
  // open through the link in that moment wakes the program (TakeBackRetired).
  const int fd = OpenOwnSlave(spare_.master, spare_.slave);
  if (fd >= 0) {
    ioctl(fd, TIOCEXCL);
    close(fd);
  }
  spare_.watch.Take();  // the program's own open
  Terminal previous;
  std::swap(previous.master, retired_.master);
  std::swap(previous.slave, retired_.slave);
  previous.watch.Swap(retired_.watch);
  std::swap(retired_.master, spare_.master);
  std::swap(retired_.slave, spare_.slave);
  retired_.watch.Swap(spare_.watch);
  // The new spare is made while the previous retired terminal is still open: the kernel gives
  // the lowest free number, which must not be one a client may still be opening by.
  MakeSpare();
  CloseTerminal(previous);
}

void PtyPort::SwapTerminals() {
  std::swap(master_, spare_.master);
  std::swap(slave_path_, spare_.slave);
  watch_.Swap(spare_.watch);
  ++generation_;
}

bool PtyPort::Link(std::string& reason) {
  // A new link replaces the old one in one step: a client opening the port meanwhile finds
  // either terminal, never no port.
  const std::string temporary = folder_ + "/." + name_ + ".new";
  unlink(temporary.c_str());
  if (symlink(slave_path_.c_str(), temporary.c_str()) != 0 ||
      rename(temporary.c_str(), link_path_.c_str()) != 0) {
    reason = "cannot link " + link_path_ + ": " + strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void PtyPort::ReplaceTerminal() {
  std::string reason;
  // A spare that someone holds before the link ever led to it was opened by its device path,
  // not through the port: a /dev/pts path kept from before, whose number the spare now has.
  // It is replaced (its opener hung up), so that the port's next session is only the client
  // that comes through the link.
  if (spare_.master >= 0 && IsHeld(spare_.master)) CloseTerminal(spare_);
  if (spare_.master < 0 && !OpenTerminal(spare_, reason)) {
    // A client that the exclusive mode keeps out is told EBUSY until a later departure.
    std::cerr << "Velk_VCP: port " << name_ << ": " << reason << '\n';
    MakeRaw(master_);
    return;
  }
  SwapTerminals();  // the old terminal is the spare now
  const bool linked = Link(reason);
  if (linked && (Held() || !IsHeld(spare_.master))) {
    service::ForgetPort(name_);
    service::StorePort(name_, master_);
    RetireSpare();
    return;
  }
  // The link could not move, or root (whom the exclusive mode does not stop) opened the old
  // terminal before it moved: the old terminal goes on serving.
  SwapTerminals();
  std::string relinked;
  if (linked) Link(relinked);
  // Whoever opened meanwhile may have come and gone: what waits is nobody's for sure.
  DropAllPending();
  FlushClientInput();
  if (!linked) {
    std::cerr << "Velk_VCP: port " << name_ << ": " << reason << '\n';
    MakeRaw(master_);
  }
}

void PtyPort::DeletePort() {
  if (master_ < 0) return;
  service::ForgetPort(name_);
  // A locked terminal is exclusive with nobody holding it: kept for the next run, it would
  // keep every client out. The next run makes a fresh one instead.
  if (!locked_) service::KeepForHandOver(name_, master_);
  locked_ = false;
  ++generation_;
  out_.EndDropEpisode();
  watch_.Stop();
  close(master_);  // the last descriptor of the master: the client is hung up
  master_ = -1;
  CloseTerminal(spare_);
  CloseTerminal(retired_);
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

void PtyPort::MakeRaw(int master) {
  // Line settings on the master apply to the slave: every byte passes both ways unchanged.
  termios t{};
  if (tcgetattr(master, &t) != 0) return;
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(master, TCSANOW, &t);
}

bool PtyPort::Held() const { return master_ >= 0 && IsHeld(master_); }

void PtyPort::FollowClients() {
  if (master_ < 0) return;
  PtyClientWatch::Changes changes = watch_.Take();
  if (locked_) return;  // the slot's client is elsewhere; the terminal lets nobody in
  if (TakeBackRetired()) changes = watch_.Take();
  Settle(changes);
}

bool PtyPort::TakeBackRetired() {
  if (retired_.master < 0 || retired_.watch.descriptor() < 0) return false;
  const PtyClientWatch::Changes seen = retired_.watch.Take();
  if (!seen.opened && !seen.lost) return false;
  if (client_ || Held() || !IsHeld(retired_.master)) return false;
  // Root, whom the exclusive mode does not stop, followed the link in the moment it moved and
  // opened the terminal it left (so may anyone on a shared port, before the terminal became
  // exclusive). That opener came through the port: the link goes back to its terminal, which
  // serves it, and the terminal the link had moved to is retired in its place.
  std::swap(master_, retired_.master);
  std::swap(slave_path_, retired_.slave);
  watch_.Swap(retired_.watch);
  ++generation_;
  std::string reason;
  if (!Link(reason)) std::cerr << "Velk_VCP: port " << name_ << ": " << reason << '\n';
  const int fd = OpenOwnSlave(retired_.master, retired_.slave);
  if (fd >= 0) {
    ioctl(fd, TIOCEXCL);
    close(fd);
  }
  retired_.watch.Take();
  service::ForgetPort(name_);
  service::StorePort(name_, master_);
  return true;
}

bool PtyPort::LockOut() {
  if (locked_) return true;
  if (master_ < 0) return false;
  FollowClients();
  if (client_ || Held()) return false;
  // Exclusive, and left so: an exclusive terminal stays exclusive after its last close, and
  // EndLockOut moves the port to a fresh one instead of releasing this one.
  const int fd = OpenOwnSlave(master_, slave_path_);
  if (fd < 0) return false;
  ioctl(fd, TIOCEXCL);
  close(fd);
  // A client that opened before the terminal became exclusive holds it now: it is the
  // port's client.
  if (Held()) {
    FollowClients();
    return false;
  }
  locked_ = true;
  // Not kept across a restart while locked (see DeletePort); EndLockOut stores the fresh one.
  service::ForgetPort(name_);
  return true;
}

void PtyPort::EndLockOut() {
  if (!locked_) return;
  locked_ = false;
  watch_.Take();
  DropAllPending();
  ReplaceTerminal();
  FollowClients();
}

void PtyPort::Settle(const PtyClientWatch::Changes& changes) {
  bool held = Held();
  if (client_) {
    // Under the exclusive mode a close can only be the client's own (or that of root, which
    // the mode does not stop and which may have opened again at once): it ends the session
    // even when the terminal is still held.
    if (held && !changes.lost && !(exclusive_ && changes.closed)) return;
    ClientLeft();
  } else if (changes.lost || changes.closed || (changes.opened && !held)) {
    // A client came and went before the program saw it (and another may hold the port now):
    // whatever it left is dropped.
    DropAllPending();
  } else {
    if (held) ClientArrived();
    return;
  }
  if (held) {
    FlushClientInput();
  } else {
    ReplaceTerminal();
    held = Held();
  }
  if (held) ClientArrived();
}

void PtyPort::MakeExclusive() {
  const int fd = OpenOwnSlave(master_, slave_path_);
  if (fd < 0) return;  // EBUSY: the client made the terminal exclusive itself
  ioctl(fd, TIOCEXCL);
  close(fd);
}

void PtyPort::FlushClientInput() {
  // Answers the departed client left unread stay in the terminal for whoever opens it next.
  // Only a terminal that is not exclusive (or a program run by root) lets the program in.
  const int fd = OpenOwnSlave(master_, slave_path_);
  if (fd < 0) return;
  tcflush(fd, TCIFLUSH);
  close(fd);
}

void PtyPort::ClientArrived() {
  ++session_;
  // Output buffered before this client came belongs to nobody.
  out_.StartClient();
  in_.Clear();
  client_ = true;
  if (exclusive_) MakeExclusive();
  holder_.Start(slave_path_);
}

void PtyPort::ClientLeft() {
  ++session_;
  holder_.Clear();
  DropAllPending();
  client_ = false;
}

void PtyPort::DropAllPending() {
  int waiting = 0;
  if (ioctl(master_, FIONREAD, &waiting) != 0) waiting = 0;
  // Counted until the engine takes the count; ports nobody serves saturate instead of wrapping.
  const int64_t dropped =
      int64_t{dropped_input_} + std::max(waiting, 0) + static_cast<int64_t>(in_.size());
  dropped_input_ = static_cast<int32_t>(std::min<int64_t>(dropped, INT32_MAX));
  // What the program wrote and the client did not read the kernel discarded at its last
  // close; what it wrote and the program did not read goes here.
  tcflush(master_, TCIFLUSH);
  in_.Clear();
  out_.Clear();
  out_.EndDropEpisode();
}

void PtyPort::WriteData(const uint8_t* data, int32_t count) {
  if (master_ < 0 || !client_ || !data || count <= 0) return;
  out_.Add(data, static_cast<size_t>(count));
}

void PtyPort::Pump() {
  if (queued_output() == 0 || !client_) return;
  // A client that closed since its commands were read must not leave their answers to a
  // client that opened right after (root, whom the exclusive mode does not stop, or anyone on
  // a shared port): one look at the events before writing.
  const PtyClientWatch::Changes changes = watch_.Take();
  if (changes.opened || changes.closed || changes.lost) {
    Settle(changes);
    if (queued_output() == 0 || !client_) return;
  }
  while (!out_.empty()) {
    const ssize_t written = write(master_, out_.data(), out_.size());
    if (written <= 0) break;  // full (EAGAIN): the rest goes when the client has read
    out_.Consume(static_cast<size_t>(written));
  }
  if (out_.empty()) out_.EndDropEpisode();
}

uint32_t PtyPort::ClientSession() { return session_; }

int32_t PtyPort::TakeDroppedInput() {
  const int32_t dropped = dropped_input_;
  dropped_input_ = 0;
  return dropped;
}

bool PtyPort::EchoesAnswers() {
  termios t{};
  return master_ >= 0 && tcgetattr(master_, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

void PtyPort::Drain() {
  uint8_t chunk[kChunk];
  while (in_.size() < BoundedOutput::kInputMax) {
    const size_t wanted = std::min(kChunk, BoundedOutput::kInputMax - in_.size());
    const ssize_t n = read(master_, chunk, wanted);
    if (n <= 0) break;  // nothing waiting (EAGAIN), or no client (EIO)
    in_.Append(chunk, static_cast<size_t>(n));
    out_.CountInput(static_cast<size_t>(n));
    if (static_cast<size_t>(n) < wanted) break;  // a short read took everything
  }
}

int32_t PtyPort::InCount() {
  if (master_ < 0 || !client_) return 0;
  if (take_only_what_is_read_) {
    int waiting = 0;
    if (ioctl(master_, FIONREAD, &waiting) != 0 || waiting < 0) waiting = 0;
    return static_cast<int32_t>(
        std::min<size_t>(in_.size() + static_cast<size_t>(waiting), INT32_MAX));
  }
  if (!InputPaused()) Drain();
  return static_cast<int32_t>(in_.size());
}

void PtyPort::ReadData(uint8_t* data, int32_t& count) {
  if (!data || count <= 0 || master_ < 0) {
    count = 0;
    return;
  }
  if (take_only_what_is_read_) {
    // What was taken goes first; then exactly what is asked comes from the terminal.
    size_t n = std::min(in_.size(), static_cast<size_t>(count));
    std::copy_n(in_.data(), n, data);
    in_.Consume(n);
    if (n < static_cast<size_t>(count) && client_) {
      const ssize_t got = read(master_, data + n, static_cast<size_t>(count) - n);
      if (got > 0) {
        n += static_cast<size_t>(got);
        out_.CountInput(static_cast<size_t>(got));
      }
    }
    count = static_cast<int32_t>(n);
    return;
  }
  if (in_.size() < static_cast<size_t>(count) && client_ && !InputPaused()) Drain();
  const size_t n = std::min(in_.size(), static_cast<size_t>(count));
  std::copy_n(in_.data(), n, data);
  in_.Consume(n);
  count = static_cast<int32_t>(n);
}

const std::string& PtyPort::ClientName() {
  static const std::string kNone;
  if (!client_) return kNone;
  // Empty until the look-up started at the client's arrival has finished; then made once.
  if (client_name_session_ != session_ && holder_.Done()) {
    client_name_session_ = session_;
    const std::optional<PortHolder> holder = holder_.holder();
    client_name_ = holder ? std::to_string(holder->pid) + " " + holder->program : "";
  }
  if (client_name_session_ != session_) client_name_.clear();
  return client_name_;
}

bool PtyPort::IsOpened() { return master_ >= 0 && client_; }

void PtyPort::ResetPort() {
  if (master_ < 0) return;
  in_.Clear();
  out_.Clear();
  // The client's own unread answers are the kernel's; what has not reached its line yet goes.
  tcflush(master_, TCIOFLUSH);
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
