// history and values: keeping the values sent in the value history, and printing it.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "arguments.h"
#include "history_query.h"
#include "history_verify.h"
#include "record_chain.h"
#include "settings_record.h"
#include "utc_time.h"
#include "value_csv.h"
#include "value_history.h"
#include "value_json.h"
#include "verb_definitions.h"

namespace {

// The exit status of --verify for a history whose chain shows a change.
constexpr int kAltered = 6;

// Prints the stored value events that pass filter as CSV or JSON lines, with_hash with each
// row's hash in the chain as a last member. Returns the exit status.
int PrintValues(const HistoryFilter& filter, bool json, bool with_hash) {
  if (!std::filesystem::exists(kHistoryFileName)) {
    std::cerr << "velk-vcp-config: no value history here (velk-vcp-config history on)\n";
    return kFileError;
  }
  if (!json) {
    std::string header = ValueCsvHeader();
    if (with_hash) header.insert(header.size() - 2, ",hash");
    std::cout << header;
  }
  std::string error;
  const bool ok = ReadHistoryWithHash(
      kHistoryFileName, filter,
      [json, with_hash](const NumberedEvent& e, std::string_view hash) {
        std::string line = json ? ValueEventJson(e) + "\n" : ValueCsvLine(e);
        if (with_hash) {
          // Before the JSON line's closing brace and line end, or the CSV line's CR LF.
          line.insert(line.size() - 2,
                      json ? ",\"hash\":\"" + HexOf(hash) + "\"" : "," + HexOf(hash));
        }
        std::cout << line;
      },
      error);
  std::cout.flush();
  if (!ok) {
    std::cerr << "velk-vcp-config: " << error << "\n";
    return kFileError;
  }
  return 0;
}

// Checks the history's chain and prints one line per finding. Returns 0 when it is intact,
// kAltered when it shows a change, kFileError when the history or its key cannot be read.
int VerifyValues() {
  const HistoryCheck check = VerifyHistory(kHistoryFileName);
  if (!check.read) {
    std::cerr << "velk-vcp-config: " << check.error << "\n";
    return kFileError;
  }
  for (const std::string& note : check.notes) std::cout << "note: " << note << "\n";
  for (const std::string& finding : check.findings) std::cout << "altered: " << finding << "\n";
  if (check.findings.empty()) std::cout << "intact\n";
  std::cout.flush();
  return check.findings.empty() ? 0 : kAltered;
}

// Returns text as one CSV cell: quoted when it holds a comma, quote or line break; with an
// apostrophe in front when a spreadsheet would run it as a formula.
std::string CsvCell(std::string text) {
  if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos) {
    text.insert(0, "'");
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// Prints the table of changes between the filter's times as CSV or JSON lines. Returns the
// exit status.
int PrintAudit(const HistoryFilter& filter, bool json) {
  if (!std::filesystem::exists(kHistoryFileName)) {
    std::cerr << "velk-vcp-config: no value history here (velk-vcp-config history on)\n";
    return kFileError;
  }
  if (!json) std::cout << "id,time,user,process,how,what\r\n";
  std::string error;
  const bool ok = ReadAudit(
      kHistoryFileName, filter,
      [json](int64_t id, const AuditEntry& e) {
        if (json) {
          std::cout << "{\"id\":" << id << ",\"time\":" << JsonString(IsoUtc(e.utc_ms))
                    << ",\"user\":" << JsonString(e.user)
                    << ",\"process\":" << JsonString(e.process) << ",\"how\":" << JsonString(e.how)
                    << ",\"what\":" << JsonString(e.what) << "}\n";
        } else {
          std::cout << id << "," << IsoUtc(e.utc_ms) << "," << CsvCell(e.user) << ","
                    << CsvCell(e.process) << "," << CsvCell(e.how) << "," << CsvCell(e.what)
                    << "\r\n";
        }
      },
      error);
  std::cout.flush();
  if (!ok) {
    std::cerr << "velk-vcp-config: " << error << "\n";
    return kFileError;
  }
  return 0;
}

}  // namespace

VerbAction DefineAudit(CLI::App& command) {
  struct Arguments {
    std::string since, until;
    bool csv = false, json = false;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("--since", a->since, "from this UTC time on (2026-12-08T10:00)")
      ->type_name("TIME");
  command.add_option("--until", a->until, "before this UTC time")->type_name("TIME");
  CLI::Option* csvFlag = command.add_flag("--csv", a->csv, "CSV with a header line (the default)");
  command.add_flag("--json", a->json, "one JSON object a line")->excludes(csvFlag);
  return ReadAction([a] {
    HistoryFilter filter;
    for (auto [text, field] :
         {std::pair{&a->since, &filter.since_ms}, {&a->until, &filter.until_ms}}) {
      if (text->empty()) continue;
      *field = ParseIsoUtc(*text);
      if (!*field) throw UsageError{"audit: " + *text + " is no time like 2026-12-08T10:00"};
    }
    return PrintAudit(filter, a->json);
  });
}

VerbAction DefineHistory(CLI::App& command) {
  struct Arguments {
    std::string state;
    std::optional<int> keepDays, maxMb;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("STATE", a->state, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  CLI::Option* keepOption =
      command.add_option("--keep", a->keepDays, "keep values DAYS days (default 90)")
          ->type_name("DAYS")
          ->check(CLI::Range(1, 32767));
  command.add_option("--max-mb", a->maxMb, "keep the file below N megabytes instead")
      ->type_name("N")
      ->check(CLI::Range(1, 32767))
      ->excludes(keepOption);
  return ChangeAction([a] {
    Settings.HistoryOn = OnOff(a->state) ? 1 : 0;
    if (a->keepDays) {
      Settings.HistoryKeepDays = static_cast<int16_t>(*a->keepDays);
      Settings.HistoryMaxMb = 0;
    }
    if (a->maxMb) {
      Settings.HistoryMaxMb = static_cast<int16_t>(*a->maxMb);
      Settings.HistoryKeepDays = 0;
    }
  });
}

VerbAction DefineValues(CLI::App& command) {
  struct Arguments {
    std::string since, until, gauge;
    bool csv = false, json = false, with_hash = false, verify = false;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("--since", a->since, "from this UTC time on (2026-12-08T10:00)")
      ->type_name("TIME");
  command.add_option("--until", a->until, "before this UTC time")->type_name("TIME");
  command.add_option("--gauge", a->gauge, "only input D.A")->type_name("D.A");
  CLI::Option* csvFlag = command.add_flag("--csv", a->csv, "CSV with a header line (the default)");
  CLI::Option* jsonFlag =
      command.add_flag("--json", a->json, "one JSON object a line")->excludes(csvFlag);
  command.add_flag("--with-hash", a->with_hash, "add each row's hash in the record's chain");
  command
      .add_flag("--verify", a->verify,
                "check the record's chain: exit 0 intact, 6 altered (one line per finding)")
      ->excludes(csvFlag)
      ->excludes(jsonFlag);
  return ReadAction([a] {
    if (a->verify) return VerifyValues();
    HistoryFilter filter;
    for (auto [text, field] :
         {std::pair{&a->since, &filter.since_ms}, {&a->until, &filter.until_ms}}) {
      if (text->empty()) continue;
      *field = ParseIsoUtc(*text);
      if (!*field) throw UsageError{"values: " + *text + " is no time like 2026-12-08T10:00"};
    }
    if (!a->gauge.empty()) std::tie(filter.device, filter.input) = InputAddress(a->gauge);
    return PrintValues(filter, a->json, a->with_hash);
  });
}
