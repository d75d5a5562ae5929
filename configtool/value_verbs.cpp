// history and values: keeping the values sent in the value history, and printing it.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "arguments.h"
#include "history_query.h"
#include "settings_record.h"
#include "utc_time.h"
#include "value_csv.h"
#include "value_history.h"
#include "value_json.h"
#include "verb_definitions.h"

namespace {

// Prints the stored value events that pass filter as CSV or JSON lines. Returns the exit
// status.
int PrintValues(const HistoryFilter& filter, bool json) {
  if (!std::filesystem::exists(kHistoryFileName)) {
    std::cerr << "velk-vcp-config: no value history here (velk-vcp-config history on)\n";
    return kFileError;
  }
  if (!json) std::cout << ValueCsvHeader();
  std::string error;
  const bool ok = ReadHistory(
      kHistoryFileName, filter,
      [json](const NumberedEvent& e) {
        if (json) {
          std::cout << ValueEventJson(e) << "\n";
        } else {
          std::cout << ValueCsvLine(e);
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
    bool csv = false, json = false;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("--since", a->since, "from this UTC time on (2026-12-08T10:00)")
      ->type_name("TIME");
  command.add_option("--until", a->until, "before this UTC time")->type_name("TIME");
  command.add_option("--gauge", a->gauge, "only input D.A")->type_name("D.A");
  CLI::Option* csvFlag = command.add_flag("--csv", a->csv, "CSV with a header line (the default)");
  command.add_flag("--json", a->json, "one JSON object a line")->excludes(csvFlag);
  return ReadAction([a] {
    HistoryFilter filter;
    for (auto [text, field] :
         {std::pair{&a->since, &filter.since_ms}, {&a->until, &filter.until_ms}}) {
      if (text->empty()) continue;
      *field = ParseIsoUtc(*text);
      if (!*field) throw UsageError{"values: " + *text + " is no time like 2026-12-08T10:00"};
    }
    if (!a->gauge.empty()) std::tie(filter.device, filter.input) = InputAddress(a->gauge);
    return PrintValues(filter, a->json);
  });
}
