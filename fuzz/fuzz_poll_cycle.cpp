// The poll cycle over an arbitrary byte stream cut at arbitrary tick boundaries, in terminated
// and prefix mode, with a command table, value format and device behaviour drawn from the
// input. After every tick: the receive ring is in range and, in terminated mode, holds no
// complete command; every byte written to the port is a fixed answer of the table or the
// answer of a value the device library just gave out, and no such answer is lost; the
// library is asked only about configured inputs; the monitor lists stay bounded.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device_library.h"
#include "fuzz_input.h"
#include "key_state.h"
#include "main_view.h"
#include "port_bridge.h"
#include "settings_record.h"
#include "virtual_port.h"

namespace {

constexpr size_t kMaxStreamBytes = 64 * 1024;
constexpr int kMaxTicks = 4000;

// Input bytes with helpers that favour the bytes commands are made of.
class Input : public FuzzInput {
 public:
  using FuzzInput::FuzzInput;
  // Mostly bytes the commands are made of, so that commands match; 0xFF escapes any byte.
  uint8_t Char() {
    static constexpr char kAlphabet[] = "M*ONF?K;,1A \r\nL";
    const uint8_t b = Byte();
    if (b == 0xFF) return Byte();
    return static_cast<uint8_t>(kAlphabet[b % (sizeof kAlphabet - 1)]);
  }
  std::string Word(int longest) {
    std::string word;
    const int length = Byte() % (longest + 1);
    for (int i = 0; i < length; ++i) word.push_back(static_cast<char>(Char()));
    return word;
  }
};

// The notation of bytes as character codes, e.g. "77,13".
std::string Codes(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (!text.empty()) text += ',';
    text += std::to_string(c);
  }
  return text;
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "," + b;
}

struct Event {
  enum Kind { kValue, kCollect, kWrite } kind;
  int16_t d = 0;
  int16_t a = 0;
  double value = 0;
  int16_t status = 0;
  std::string bytes;
};

class FakePort : public IVirtualPort {
 public:
  explicit FakePort(std::vector<Event>* events) : events_(events) {}
  bool CreatePort(const std::string&) override { return true; }
  void DeletePort() override {}
  void WriteData(const uint8_t* data, int32_t count) override {
    if (data == nullptr || count <= 0) std::abort();
    std::string bytes(data, data + count);
    if (events_) {
      events_->push_back({Event::kWrite, 0, 0, 0, 0, std::move(bytes)});
    } else {
      last_ = std::move(bytes);
    }
  }
  void ReadData(uint8_t* data, int32_t& count) override {
    if (count < 0 || static_cast<size_t>(count) > in.size()) std::abort();
    std::copy_n(in.begin(), count, data);
    in.erase(in.begin(), in.begin() + count);
  }
  bool IsOpened() override { return opened; }
  int32_t InCount() override { return opened ? static_cast<int32_t>(in.size()) : 0; }
  void ResetPort() override { in.clear(); }
  void RemoveStalePorts() override {}

  // Takes what the last WriteData wrote (reference port only).
  std::optional<std::string> TakeLast() {
    std::optional<std::string> last = std::move(last_);
    last_.reset();
    return last;
  }

  std::deque<uint8_t> in;
  bool opened = true;

 private:
  std::vector<Event>* events_;
  std::optional<std::string> last_;
};

class ScriptedDevice : public IDeviceLibrary {
 public:
  ScriptedDevice(std::string script, bool footSwitches, std::vector<Event>& events,
                 const SettingsRecord& s)
      : script_(std::move(script)), foot_switches_(footSwitches), events_(events), s_(s) {
    if (script_.empty()) script_ = "\x01";
  }

  void Device_PreInit() override {}
  int16_t Device_Init(int16_t, const std::string&, int32_t) override { return 0; }
  void Device_DeInit() override {}
  int16_t Device_GetName(int16_t, const std::string&, int16_t d, int16_t kind, int16_t n,
                         std::string& name) override {
    if (!foot_switches_ || kind != 1 || d < 1 || d > 2 || n < 0 || n > 1) return 1;
    name = "Foot switch";
    return 0;
  }
  void Device_Setup(int16_t, const std::string&, int32_t) override {}
  int16_t Device_Value(int16_t d, int16_t a, double& value) override {
    if (!Configured(d, a)) std::abort();
    static constexpr int16_t kStatuses[] = {0, 0, 136, 1, 5, -1, -32768, 32767};
    const int16_t status = kStatuses[Next() % 8];
    value = NextValue();
    events_.push_back({Event::kValue, d, a, value, status, {}});
    return status;
  }
  int16_t Device_Trigger(int16_t, int16_t) override {
    static constexpr int16_t kPressed[] = {0, 0, 0, 1, 2, -1, 32767, -32768};
    return kPressed[Next() % 8];
  }
  int16_t Device_Collect(int16_t d, int16_t& input, double& value) override {
    if (!Configured(d, input)) std::abort();
    const uint8_t r = Next();
    if (r % 4 != 0) return static_cast<int16_t>(r % 2 == 0 ? 1 : -1);
    static constexpr int16_t kInputs[] = {1, 2, 7, 120, 200, 0, -1, 201, 32767, -32768};
    input = kInputs[Next() % 10];
    value = NextValue();
    events_.push_back({Event::kCollect, d, input, value, 0, {}});
    return 0;
  }
  void Device_LimitCheck(int16_t d, int16_t a, int16_t kind, double, double) override {
    if (!Configured(d, a) || (kind != 1 && kind != 2)) std::abort();
  }

 private:
  bool Configured(int16_t d, int16_t a) const {
    return d >= 1 && d <= 8 && a >= 1 && a <= kLastAddress && s_.Inputs[d][a].State != 0;
  }
  uint8_t Next() {
    const uint8_t b = static_cast<uint8_t>(script_[at_]);
    at_ = (at_ + 1) % script_.size();
    return static_cast<uint8_t>(b + turn_++ / script_.size());
  }
  double NextValue() {
    static constexpr double kValues[] = {
        1.234, -0.5, 0.0, 2.5e-7, 123456789.0, -1e300, 1e15, __builtin_nan(""), __builtin_inf()};
    return kValues[Next() % 9];
  }

  std::string script_;
  size_t at_ = 0;
  size_t turn_ = 0;
  bool foot_switches_;
  std::vector<Event>& events_;
  const SettingsRecord& s_;
};

class NoDevice : public IDeviceLibrary {
 public:
  void Device_PreInit() override {}
  int16_t Device_Init(int16_t, const std::string&, int32_t) override { return 1; }
  void Device_DeInit() override {}
  int16_t Device_GetName(int16_t, const std::string&, int16_t, int16_t, int16_t,
                         std::string&) override {
    return 1;
  }
  void Device_Setup(int16_t, const std::string&, int32_t) override {}
  int16_t Device_Value(int16_t, int16_t, double&) override { return -1; }
  int16_t Device_Trigger(int16_t, int16_t) override { return 0; }
  int16_t Device_Collect(int16_t, int16_t&, double&) override { return 1; }
  void Device_LimitCheck(int16_t, int16_t, int16_t, double, double) override {}
};

std::string AnswerTemplate(uint8_t choice) {
  static const char* const kTemplates[] = {
      "<ch>,\":\",<mv>,13,10",    "<mv>,13",        "\"VAL\",<mv>", "",           "32,32",
      "<ch>,\":NO VALUE\",13,10", "<mv>,<mv>,<ch>", "300,<x>,\"\"", "\"E\",13,10"};
  return kTemplates[choice % 9];
}

// Reads the settings of one run from the front of the input.
void ReadSettings(Input& in, SettingsRecord& s, bool& prefix, bool& logOn, bool& footSwitches) {
  const uint8_t flags = in.Byte();
  prefix = flags & 1;
  s.Blanks = (flags >> 1) & 1;
  s.MultipleCommands = (flags >> 2) & 1;
  logOn = (flags >> 3) & 1;
  footSwitches = (flags >> 4) & 1;
  const bool commandsEnd = !((flags >> 7) & 1);
  std::string end;
  if (!prefix) {
    end = in.Word(2);
    if (end.empty()) end = "\r";
  }
  s.EndChar = Codes(end);
  s.Separator = Codes(in.Word(1));
  const std::string endCodes = commandsEnd ? Codes(end) : "";
  if ((flags >> 5) & 1) s.OkString = "\"OK!\",13,10";
  if ((flags >> 6) & 1) s.UndefCommand = "\"???\",13,10";

  const uint8_t format = in.Byte();
  static constexpr int16_t kWidths[] = {9, 0, 1, 3, 12, -1, 20, 6};
  s.NumOfChar = kWidths[format % 8];
  s.DecPnt = (format >> 3) & 1;
  s.LeadZeros = (format >> 4) & 1;
  s.PosSign = (format >> 5) & 1;
  s.AnswerString = AnswerTemplate(in.Byte());
  s.Timeout = AnswerTemplate(in.Byte());
  s.Range = AnswerTemplate(in.Byte());

  const uint8_t kinds = in.Byte();
  for (int k = 1; k <= kChannelCommands; ++k) {
    s.ChCommandOn[k] = (kinds >> (k - 1)) & 1;
    s.ChCommandAll[k] = Join(Codes(in.Word(3)), endCodes);
    s.ChCommandSingle[k] = Join(Join(Codes(in.Word(2)), "<ch>"), endCodes);
  }
  s.FsCommand[1] = Join(Codes(in.Word(3)), endCodes);
  s.FsCommand[2] = "\"FS0\",13";
  s.FsCommand[3] = "\"FS1\",13";
  const int extras = in.Byte() % 4;
  for (int i = 1; i <= extras; ++i) {
    s.TabCommand[i] = Join(Codes(in.Word(3)), endCodes);
    s.TabAnswer[i] = "\"EX" + std::to_string(i) + "\",13";
  }

  const int inputs = in.Byte() % 7;
  for (int i = 0; i < inputs; ++i) {
    const int d = 1 + in.Byte() % 8;
    const int a = 1 + in.Byte() % kLastAddress;
    InputRecord& r = s.Inputs[d][a];
    r.State = 1;
    r.FS = in.Byte() & 1;
    r.CommandAdr = in.Word(2);
    r.MeaValAdr = std::to_string(d) + "." + std::to_string(a);
  }
  const uint8_t triggers = in.Byte();
  s.FsSelect = static_cast<int16_t>(triggers % 3);
  static const char* const kAddresses[] = {"", "0", "1.1", "2.0", "1.x", " 2 . 1 ", "9.1", "1."};
  s.AddInputAdr1 = kAddresses[(triggers >> 2) % 8];
  s.AddInputAdr2 = kAddresses[(triggers >> 5) % 8];
}

// Checks the events of one tick in order and forgets them.
class Checker {
 public:
  Checker(const CommandTab& tab, PortBridge& reference, FakePort& port)
      : reference_(reference), port_(port) {
    for (const std::string* t :
         {&tab.OkAnswer, &tab.UndefAnswer, &tab.FsAnswerUp, &tab.FsAnswerDown}) {
      if (!t->empty()) fixed_.insert(*t);
    }
    for (int i = 1; i <= kExtraCommands; ++i) {
      if (!tab.ExtraAnswer[i].empty()) fixed_.insert(tab.ExtraAnswer[i]);
    }
  }

  void Check(std::vector<Event>& events) {
    std::optional<std::string> pending;
    for (const Event& e : events) {
      switch (e.kind) {
        case Event::kValue:
          if (pending) std::abort();  // the previous value was never answered
          if (e.status >= 0) {
            pending = Expected(e.d, e.a, e.value, e.status == 0 ? 0 : e.status == 136 ? 2 : 1);
          }
          break;
        case Event::kCollect:
          if (pending) std::abort();
          if (IsValidCollectInput(e.a)) pending = Expected(e.d, e.a, e.value, 0);
          break;
        case Event::kWrite:
          if (pending && *pending == e.bytes) {
            pending.reset();
          } else if (!fixed_.contains(e.bytes)) {
            std::abort();  // an answer no table entry allows
          }
          break;
      }
    }
    if (pending) std::abort();
    events.clear();
  }

 private:
  // What the answer of a value is, or nothing when it is not sent (blank).
  std::optional<std::string> Expected(int16_t d, int16_t a, double value, int16_t code) {
    if (d < 1 || d > 8) std::abort();
    reference_.SendMeaValue(d, a, value, code);
    return port_.TakeLast();
  }

  PortBridge& reference_;
  FakePort& port_;
  std::set<std::string> fixed_;
};

void CheckState(PortBridge& bridge, bool terminated) {
  const ReceiveRing& ring = bridge.RxRing();
  if (ring.RxRead() < 0 || ring.RxRead() >= ReceiveRing::kPositions) std::abort();
  if (ring.RxWrite() < 0 || ring.RxWrite() >= ReceiveRing::kPositions) std::abort();
  if (ring.Used() > ReceiveRing::kCapacity) std::abort();
  if (terminated && ring.Text().find(bridge.Table().EndText) != std::string::npos) std::abort();
  if (bridge.Log().List1().lines().size() > MonitorList::kMaxLines) std::abort();
  if (bridge.Log().List2().lines().size() > MonitorList::kMaxLines) std::abort();
  if (bridge.TickCounter() < 0 || bridge.TickCounter() > 5) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  SettingsRecord s;
  s.VcpCom1 = 5;
  bool prefix = false, logOn = false, footSwitches = false;
  ReadSettings(in, s, prefix, logOn, footSwitches);
  const std::string script = in.Word(16);

  std::vector<Event> events;
  ScriptedDevice device(script, footSwitches, events, s);
  FakePort port(&events);
  IMainView view;
  InertKeyState keys;
  PortBridge bridge(view, device, {&port, nullptr, nullptr, nullptr}, keys, s);
  bridge.CreateCommandTab();
  if (logOn) bridge.Log().Open("/dev/null");
  const bool terminated = !bridge.Table().EndText.empty();
  if (terminated == prefix) std::abort();

  SettingsRecord referenceSettings = s;
  NoDevice noDevice;
  FakePort referencePort(nullptr);
  PortBridge reference(view, noDevice, {&referencePort, nullptr, nullptr, nullptr}, keys,
                       referenceSettings);
  Checker checker(bridge.Table(), reference, referencePort);

  size_t fed = 0;
  int ticks = 0;
  auto tick = [&] {
    bridge.Timer1_Timer();
    ++ticks;
    checker.Check(events);
    CheckState(bridge, terminated);
  };
  auto feed = [&](uint8_t b) {
    if (fed >= kMaxStreamBytes) return;
    port.in.push_back(b);
    ++fed;
  };
  while (!in.Empty() && ticks < kMaxTicks) {
    const uint8_t op = in.Byte();
    if (op >= 0xE0 && op < 0xF0) {
      // A flood: a short pattern repeated over more than the ring holds.
      const std::string pattern = in.Word(4);
      const size_t count = static_cast<size_t>(op - 0xE0 + 1) * 1024;
      for (size_t i = 0; !pattern.empty() && i < count; ++i) {
        feed(static_cast<uint8_t>(pattern[i % pattern.size()]));
      }
      tick();
    } else if (op >= 0xF0 && op < 0xF8) {
      for (int i = 0; i <= (op & 7); ++i) tick();
    } else if (op == 0xF8) {
      port.opened = !port.opened;
      tick();
    } else {
      for (int i = op % 32; i > 0; --i) feed(in.Char());
      tick();
    }
  }
  port.opened = true;
  for (int i = 0; i < 20 && !port.in.empty(); ++i) tick();
  return 0;
}
