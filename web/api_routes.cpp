#include "api_routes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <deque>
#include <nlohmann/json.hpp>

#include "history_query.h"
#include "text_encoding.h"
#include "utc_time.h"
#include "value_csv.h"
#include "value_json.h"

using nlohmann::json;

namespace {

constexpr size_t kDefaultLimit = 10000;
constexpr size_t kMaxLimit = 100000;
constexpr size_t kLogLines = 40;
constexpr off_t kLogTail = 64 * 1024;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

json Parsed(const StatusSnapshot& snapshot) { return json::parse(*snapshot.Get(), nullptr, false); }

bool HistoryOn(const json& status) {
  return status.is_object() && status.contains("values") && status["values"].is_object() &&
         status["values"].contains("history") && status["values"]["history"].is_object();
}

// Reads the gauge filter "D.A" (device 1..8, input 1..199).
bool GaugeFilter(const std::string& text, HistoryFilter& filter) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return false;
  int device = 0, input = 0;
  const auto [d_end, d_error] = std::from_chars(text.data(), text.data() + dot, device);
  const auto [i_end, i_error] =
      std::from_chars(text.data() + dot + 1, text.data() + text.size(), input);
  if (d_error != std::errc() || i_error != std::errc() || d_end != text.data() + dot ||
      i_end != text.data() + text.size() || device < 1 || device > 8 || input < 1 || input > 199) {
    return false;
  }
  filter.device = device;
  filter.input = input;
  return true;
}

}  // namespace

QueryValues ParseQuery(const std::string& query) {
  QueryValues values;
  size_t start = 0;
  while (start < query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (!pair.empty()) {
      values[Decode(pair.substr(0, equals))] =
          equals == std::string::npos ? "" : Decode(pair.substr(equals + 1));
    }
    start = end + 1;
  }
  return values;
}

WebReply ErrorReply(int status, const std::string& text) {
  return {status, "application/json", json{{"error", text}}.dump() + "\n"};
}

WebReply StatusReply(const StatusSnapshot& snapshot) {
  return {200, "application/json", *snapshot.Get() + "\n"};
}

WebReply ValuesReply(const StatusSnapshot& snapshot, const std::string& history_file,
                     const QueryValues& query, bool csv) {
  HistoryFilter filter;
  size_t limit = kDefaultLimit;
  for (const auto& [name, value] : query) {
    if (name == "since" || name == "until") {
      if (value.empty()) continue;
      const std::optional<int64_t> at = ParseIsoUtc(value);
      if (!at) return ErrorReply(400, name + ": " + value + " is no time like 2026-12-08T10:00");
      (name == "since" ? filter.since_ms : filter.until_ms) = at;
    } else if (name == "gauge") {
      if (!value.empty() && !GaugeFilter(value, filter)) {
        return ErrorReply(400, "gauge: " + value + " is no input D.A");
      }
    } else if (name == "limit") {
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), limit);
      if (error != std::errc() || end != value.data() + value.size() || limit < 1 ||
          limit > kMaxLimit) {
        return ErrorReply(400, "limit: give 1.." + std::to_string(kMaxLimit));
      }
    } else {
      return ErrorReply(400, "unknown parameter " + name + " (since, until, gauge, limit)");
    }
  }
  if (!HistoryOn(Parsed(snapshot))) {
    return ErrorReply(409, "the value history is off (velk-vcp-config history on)");
  }
  // The newest events pass; older ones give way as the history is read oldest first.
  std::deque<std::string> rows;
  std::string error;
  const bool ok = ReadHistory(
      history_file, filter,
      [&](const NumberedEvent& e) {
        if (rows.size() == limit) rows.pop_front();
        rows.push_back(csv ? ValueCsvLine(e) : ValueEventJson(e));
      },
      error);
  if (!ok) return ErrorReply(500, error);
  WebReply reply;
  if (csv) {
    reply.content_type = "text/csv; charset=utf-8";
    reply.body = ValueCsvHeader();
    for (const std::string& row : rows) reply.body += row;
    return reply;
  }
  reply.body = "[";
  for (size_t i = 0; i < rows.size(); ++i) reply.body += (i > 0 ? ",\n" : "\n") + rows[i];
  reply.body += "\n]\n";
  return reply;
}

WebReply LogReply(const StatusSnapshot& snapshot) {
  const json status = Parsed(snapshot);
  json log = status.is_object() && status.contains("log") ? status["log"] : json::object();
  const std::string file = log.is_object() ? log.value("file", std::string()) : std::string();
  json lines = json::array();
  json bytes = nullptr;
  const int fd = file.empty() ? -1 : ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    bytes = static_cast<int64_t>(st.st_size);
    const off_t from = st.st_size > kLogTail ? st.st_size - kLogTail : 0;
    std::string tail(static_cast<size_t>(st.st_size - from), '\0');
    const ssize_t n = ::pread(fd, tail.data(), tail.size(), from);
    tail.resize(n > 0 ? static_cast<size_t>(n) : 0);
    // A cut first line is left out.
    if (from > 0)
      tail.erase(0, tail.find('\n') == std::string::npos ? tail.size() : tail.find('\n') + 1);
    std::deque<std::string> last;
    size_t start = 0;
    while (start < tail.size()) {
      size_t end = tail.find('\n', start);
      if (end == std::string::npos) end = tail.size();
      std::string line = tail.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) {
        last.push_back(Cp1252ToUtf8(line));
        if (last.size() > kLogLines) last.pop_front();
      }
      start = end + 1;
    }
    for (std::string& line : last) lines.push_back(std::move(line));
  }
  if (fd >= 0) ::close(fd);
  return {200, "application/json",
          json{{"on", log.is_object() ? log.value("on", false) : false},
               {"file", file},
               {"bytes", bytes},
               {"lines", lines}}
                  .dump(-1, ' ', false, json::error_handler_t::replace) +
              "\n"};
}
