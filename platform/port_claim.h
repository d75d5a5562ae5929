// Ownership of a port name between processes: a lock file ".<name>.lock" in the port folder,
// held with flock for as long as a live port uses the name. The kernel drops the lock when
// the owner dies, so a port left by a dead run is recognisable as stale.
#pragma once

#include <string>

class PortClaim {
 public:
  PortClaim() = default;
  PortClaim(const PortClaim&) = delete;
  PortClaim& operator=(const PortClaim&) = delete;
  ~PortClaim();

  // Claims name in folder. Returns true when this instance now holds it; false when a live
  // port (of this or another process) holds it (errno EWOULDBLOCK), or the lock file cannot
  // be made (errno says why).
  bool Acquire(const std::string& folder, const std::string& name);
  // Removes the lock file and gives the claim up; nothing when none is held.
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Returns true when target, read from a port link, names a pseudo-terminal slave: such links
// are made by ports; links anywhere else are a user's (a real device marking a number taken).
bool IsPtyTarget(const std::string& target);
