// Cutting the received text into commands and answering them, in terminated and prefix mode.
#include <string>
#include <string_view>

#include "number_text.h"
#include "port_bridge.h"

namespace {
constexpr char kCarriageReturn = '\r';
}

struct PortBridge::Match {
  const CommandCandidate* candidate = nullptr;
  size_t length = 0;  // bytes of the received text the command takes
  double limit = 0.0;
};

void PortBridge::ProcessTerminated(const ServingContext& c) {
  RxState& rx = c.rx;
  const std::string text = rx.ring.Text();
  const std::string& end = tab_.EndText;
  const std::string& separator = tab_.SeparatorText;
  size_t start = 0;
  // Each end text ends one message: logged, acknowledged once, split and dispatched. Its
  // commands leave the ring one by one, so that a backlog can hold back the rest.
  for (size_t at; (at = text.find(end, start)) != std::string::npos;) {
    const size_t stop = at + end.size();
    if (!rx.message_open) {
      log_.Command(text.substr(start, stop - start));
      rx.message_open = true;
      rx.message_ack = false;
    }
    while (start < stop) {
      if (!RingOwnerStays(c) || Backlogged(c)) return;
      const std::string_view rest(text.data() + start, stop - start);
      const size_t cut = separator.empty() ? std::string::npos : rest.find(separator);
      std::string command(rest.substr(0, cut));
      size_t used = rest.size();
      if (cut != std::string::npos) {
        command += end;
        used = cut + separator.size();
      }
      rx.ring.Consume(static_cast<int>(used));
      start += used;
      DispatchTerminated(c, command, rx.message_ack);
    }
    rx.message_open = false;
  }
}

void PortBridge::DispatchTerminated(const ServingContext& c, const std::string& command,
                                    bool& ackSent) {
  SlotActivity& activity = Record(c.slot).activity;
  ++activity.commands;
  activity.last_command = command;
  const CommandCandidate* best = nullptr;
  if (!command.empty()) {
    for (const CommandCandidate& k : index_.Bucket(static_cast<uint8_t>(command.front()))) {
      if (best && k.TerminatedRank() >= best->TerminatedRank()) continue;
      const bool hit = k.type == CommandCandidate::Limit
                           ? command.size() > k.text.size() + 1 && command.starts_with(k.text)
                           : command == k.text;
      if (!hit) continue;
      best = &k;
      if (best->TerminatedRank() == 0) break;
    }
  }
  if (!best) {
    IVirtualPort* port = c.port;
    if (port && port->EchoesAnswers()) {
      // The client's line echoes: an answer would come back as another unknown command, and
      // so on for ever. Unknown commands go unanswered while it echoes; logged once a client.
      const uint32_t session = port->ClientSession();
      if (!echo_logged_ || echo_session_ != session) {
        log_.WriteLine("Client line echoes: unknown commands are not answered");
        echo_logged_ = true;
        echo_session_ = session;
      }
      return;
    }
    SendText(c, tab_.UndefAnswer);
    return;
  }
  switch (best->type) {
    case CommandCandidate::AllForm:
    case CommandCandidate::SingleForm:
      RunKind(c, best->number, best->d, best->a, best->type == CommandCandidate::AllForm, true,
              ackSent);
      break;
    case CommandCandidate::Limit:
      SetLimit(best->number, best->d, best->a,
               NumericValue(std::string_view(command).substr(best->text.size())));
      Acknowledge(c, ackSent);
      break;
    case CommandCandidate::FsQuery:
      SendText(c, foot_switch_down_ == 0 ? tab_.FsAnswerUp : tab_.FsAnswerDown);
      break;
    case CommandCandidate::Extra:
      SendText(c, tab_.ExtraAnswer[best->number]);
      break;
  }
}

void PortBridge::ProcessPrefix(const ServingContext& serving) {
  RxState& rx = serving.rx;
  const std::string text = rx.ring.Text();
  size_t base = 0;  // bytes of text consumed in this tick
  while (base < text.size()) {
    if (!RingOwnerStays(serving) || Backlogged(serving)) return;
    size_t skip = static_cast<size_t>(rx.prefix_skip);
    Match match;
    bool found = false;
    while (base + skip < text.size()) {
      const std::string_view rest = std::string_view(text).substr(base + skip);
      if (MatchPrefix(rest, match)) {
        found = true;
        break;
      }
      if (CouldStillMatch(rest)) break;  // the rest of a command may still be on its way
      ++skip;
    }
    // Skipped bytes are consumed only together with the next command.
    rx.prefix_skip = static_cast<int>(skip);
    if (!found) return;

    const CommandCandidate& c = *match.candidate;
    SlotActivity& activity = Record(serving.slot).activity;
    ++activity.commands;
    activity.last_command = text.substr(base + skip, match.length);
    bool ackSent = false;
    switch (c.type) {
      case CommandCandidate::AllForm:
      case CommandCandidate::SingleForm:
        RunKind(serving, c.number, c.d, c.a, c.type == CommandCandidate::AllForm, false, ackSent);
        break;
      case CommandCandidate::FsQuery:
        SendText(serving, foot_switch_down_ == 0 ? tab_.FsAnswerUp : tab_.FsAnswerDown);
        break;
      case CommandCandidate::Limit:
        SetLimit(c.number, c.d, c.a, match.limit);
        break;
      case CommandCandidate::Extra:
        SendText(serving, tab_.ExtraAnswer[c.number]);
        break;
    }
    rx.ring.Consume(static_cast<int>(skip + match.length));
    base += skip + match.length;
    rx.prefix_skip = 0;
    if (c.type != CommandCandidate::Limit) log_.Command(std::string(c.text));
  }
}

bool PortBridge::MatchPrefix(std::string_view text, Match& match) const {
  for (const CommandCandidate& c : index_.Bucket(static_cast<uint8_t>(text.front()))) {
    if (!text.starts_with(c.text)) continue;
    if (c.type != CommandCandidate::Limit) {
      match = {&c, c.text.size(), 0.0};
      return true;
    }
    // A limit command runs through its carriage return, with at least one byte before it.
    if (text.size() <= c.text.size() + 1) continue;
    const size_t cr = text.find(kCarriageReturn, c.text.size());
    if (cr == std::string_view::npos || cr == c.text.size()) continue;
    match = {&c, cr + 1, NumericValue(text.substr(c.text.size(), cr - c.text.size()))};
    return true;
  }
  return false;
}

bool PortBridge::CouldStillMatch(std::string_view text) const {
  for (const CommandCandidate& c : index_.Bucket(static_cast<uint8_t>(text.front()))) {
    if (text.size() < c.text.size() && c.text.starts_with(text)) return true;
    if (c.type == CommandCandidate::Limit && text.starts_with(c.text) &&
        text.find(kCarriageReturn, c.text.size()) == std::string_view::npos) {
      return true;
    }
  }
  return false;
}

void PortBridge::RunKind(const ServingContext& c, int kind, int d, int a, bool allForm,
                         bool withLog, bool& ackSent) {
  if (kind == 1) {
    Acknowledge(c, ackSent);
    if (!allForm) {
      if (tab_.Entry(d, a).Active > 0)
        AnswerValue(c, static_cast<int16_t>(d), static_cast<int16_t>(a), withLog);
      return;
    }
    for (int16_t dd = kFirstDevice; dd <= kLastDevice; ++dd) {
      if (tab_.DeviceUsed[dd] <= 0) continue;
      for (int16_t aa = 1; aa <= kLastAddress; ++aa) {
        if (tab_.Entry(dd, aa).Active <= 0) continue;
        if (withLog) log_.WriteLine("DAS-Command");
        AnswerValue(c, dd, aa, withLog);
      }
    }
    return;
  }
  const int16_t value = kind % 2 == 0 ? 1 : 0;
  auto set = [kind, value](CommandEntry& e) {
    if (kind <= 3) {
      e.Active = value;
    } else if (kind <= 5) {
      e.FootSwitch = value;
    } else {
      e.DataKey = value;
    }
  };
  if (allForm) {
    for (int dd = kFirstDevice; dd <= kLastDevice; ++dd) {
      if (tab_.DeviceUsed[dd] <= 0) continue;
      for (int aa = 1; aa <= kLastAddress; ++aa) {
        if (s_.Inputs[dd][aa].State == 1) set(tab_.Entry(dd, aa));
      }
    }
  } else {
    set(tab_.Entry(d, a));
  }
  if ((kind == 4 || kind == 5) && withLog) log_.WriteLine("DAF-Command  : " + FootSwitchFlags());
  Acknowledge(c, ackSent);
}

void PortBridge::SetLimit(int j, int d, int a, double value) {
  std::array<double, 5>& v = tab_.Entry(d, a).LimitValue;
  v[j] = value;
  switch (j) {
    case USL:
    case LSL:
      if (v[USL] < v[LSL]) v[j == USL ? LSL : USL] = kUpperLimitStart;
      device_.Device_LimitCheck(static_cast<int16_t>(d), static_cast<int16_t>(a), 2, v[USL],
                                v[LSL]);
      break;
    default:
      if (v[UCL] < v[LCL]) v[j == UCL ? LCL : UCL] = kUpperLimitStart;
      device_.Device_LimitCheck(static_cast<int16_t>(d), static_cast<int16_t>(a), 1, v[UCL],
                                v[LCL]);
      break;
  }
}

void PortBridge::Acknowledge(const ServingContext& c, bool& ackSent) {
  if (ackSent) return;
  SendText(c, tab_.OkAnswer);
  ackSent = true;
}
