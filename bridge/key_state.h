// Key states as the hot keys read them: virtual key numbers 17 (Ctrl), 18 (Alt) and 112..123
// (F1..F12). The desktop supplies the platform's implementation.
#pragma once

#include <set>

constexpr int kVirtualKeyControl = 17;
constexpr int kVirtualKeyAlt = 18;
constexpr int kVirtualKeyF1 = 112;

class IKeyState {
 public:
  virtual ~IKeyState() = default;
  // Returns true while the key is held down at this moment.
  virtual bool IsDown(int virtualKey) = 0;
  // Returns false when no key can ever be down, so that a loop need not sample the keys.
  virtual bool CanChange() const { return true; }
};

// No key is ever down: hot keys have no effect (headless).
class InertKeyState : public IKeyState {
 public:
  bool IsDown(int) override { return false; }
  bool CanChange() const override { return false; }
};

// Keys held down as set by the owner (tests).
class SettableKeyState : public IKeyState {
 public:
  bool IsDown(int virtualKey) override { return down_.count(virtualKey) > 0; }
  void Press(int virtualKey) { down_.insert(virtualKey); }
  void Release(int virtualKey) { down_.erase(virtualKey); }
  void ReleaseAll() { down_.clear(); }

 private:
  std::set<int> down_;
};
