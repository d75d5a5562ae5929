// The data files the program ships: the six command-format presets and the three language
// files, read through the same code the program uses, from a copy in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "language_file.h"
#include "presets.h"
#include "settings_file.h"
#include "temp_dir.h"
#include "text_notation.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Splits a file into its lines; every line must end with CR LF.
std::vector<std::string> CrLfLines(const std::string& bytes, std::string& problem) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      problem = "last line without CR LF";
      break;
    }
    std::string line = bytes.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) problem = "lone CR or LF in: " + line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

// A temporary working folder holding a copy of every shipped data file.
class ShippedDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
      if (!entry.is_regular_file() || entry.path().filename() == "CMakeLists.txt") continue;
      dir.Write(entry.path().filename().string(), ReadBytes(entry.path()));
    }
  }
  TempDir dir;
};

// ---------------------------------------------------------------------------------------------
// Presets

// What docs/PRESETS.md promises for one preset: the bytes of its commands for one example
// input, and the answers for the value text the format gives 1.234.
struct PresetBytes {
  int number;
  const char* name;
  const char* commandAdr;  // example input's command address
  const char* meaValAdr;   // and its measured-value address
  const char* single[7];   // kinds 1..7, single-channel form for the example input
  const char* all[7];      // kinds 1..7, all-channels form
  const char* ack;
  const char* valueText;  // 1.234 in the format's value format
  int16_t numOfChar, decPnt, leadZeros, posSign;
  const char* answer;  // answer for the example input and valueText
  const char* timeout;
  const char* range;
  const char *fsQuery, *fsUp, *fsDown;
  std::vector<std::pair<const char*, const char*>> extra;
  const char* undefined;
  const char* endText;
  int16_t blanks;
  const char* separatorText;  // "" when multiple commands are off
};

// Test names show the preset, not the bytes of the whole expectation.
void PrintTo(const PresetBytes& p, std::ostream* os) { *os << "LIB00" << p.number; }

const std::vector<PresetBytes>& Documented() {
  static const std::vector<PresetBytes> presets = {
      {0,
       "Generic 8-channel interface (CH1 ... CH8)",
       "3",
       "30",
       {"M3\r", "ON3\r", "OFF3\r", "FON3\r", "FOFF3\r", "KON3\r", "KOFF3\r"},
       {"M*\r", "ON*\r", "OFF*\r", "FON*\r", "FOFF*\r", "KON*\r", "KOFF*\r"},
       "",
       "+0001.234",
       9,
       0,
       1,
       1,
       "30:+0001.234\r\n",
       "30:NO VALUE\r\n",
       "30:OUT OF RANGE\r\n",
       "FS?\r",
       "FS:0\r\n",
       "FS:1\r\n",
       {{"ID?\r", "GENERIC 8-CHANNEL INTERFACE\r\n"}, {"VER?\r", "V2.40\r\n"}, {"NCH?\r", "8\r\n"}},
       "?\r\n",
       "\r",
       0,
       "\r"},
      {1,
       "Multiplexer 8 x 8 (64 channels, 1.1 ... 8.8)",
       "2.3",
       "23",
       {"RD2.3\r", "EN2.3\r", "DI2.3\r", "FE2.3\r", "FD2.3\r", "KE2.3\r", "KD2.3\r"},
       {"RD*\r", "EN*\r", "DI*\r", "FE*\r", "FD*\r", "KE*\r", "KD*\r"},
       "OK\r\n",
       "+001.234",
       8,
       0,
       1,
       1,
       "23=+001.234\r\n",
       "23=TIMEOUT\r\n",
       "23=RANGE\r\n",
       "FS?\r",
       "FS=0\r\n",
       "FS=1\r\n",
       {{"ID?\r", "MUX 8X8\r\n"}, {"VER?\r", "V1.20\r\n"}, {"GRP?\r", "8\r\n"}},
       "ERR\r\n",
       "\r",
       1,
       ";"},
      {2,
       "Three-channel display unit (CH1 ... CH3)",
       "2",
       "2",
       {"2?\n", "2+\n", "2-\n", "2F\n", "2f\n", "2K\n", "2k\n"},
       {"0?\n", "0+\n", "0-\n", "0F\n", "0f\n", "0K\n", "0k\n"},
       "\x06",
       "+0001.234",
       9,
       0,
       1,
       1,
       "2:+0001.234\r\n",
       "2:----\r\n",
       "2:OVER\r\n",
       "F?\n",
       "F0\r\n",
       "F1\r\n",
       {{"ID?\n", "DISPLAY 3CH\r\n"}, {"VER?\n", "V3.1\r\n"}},
       "\x15",
       "\n",
       0,
       "\n"},
      {3,
       "Eight channels plus X and Y (CH1 ... CH8, X, Y)",
       "X",
       "X",
       {"QX\r", "+X\r", "-X\r", "F+X\r", "F-X\r", "K+X\r", "K-X\r"},
       {"Q\r", "+\r", "-\r", "F+\r", "F-\r", "K+\r", "K-\r"},
       "",
       "+00001,234",
       10,
       1,
       1,
       1,
       "X;+00001,234\r\n",
       "X;TIMEOUT\r\n",
       "X;RANGE\r\n",
       "F?\r",
       "F;0\r\n",
       "F;1\r\n",
       {{"I\r", "XY-10 INTERFACE\r\n"}, {"V\r", "V2.0\r\n"}, {"N\r", "10\r\n"}},
       "?\r\n",
       "\r",
       0,
       "\r"},
      {4,
       "Bus interface, 99 channels (CH01 ... CH99)",
       "7",
       "07",
       {"MEAS7?\r", "CHON7\r", "CHOFF7\r", "FSON7\r", "FSOFF7\r", "KEYON7\r", "KEYOFF7\r"},
       {"MEAS?\r", "CHON\r", "CHOFF\r", "FSON\r", "FSOFF\r", "KEYON\r", "KEYOFF\r"},
       "",
       "   1.234",
       8,
       0,
       0,
       0,
       "CH07=   1.234\r\n",
       "CH07=TIMEOUT\r\n",
       "CH07=RANGE\r\n",
       "FS?\r",
       "FS 0\r\n",
       "FS 1\r\n",
       {{"*IDN?\r", "BUS-99 INTERFACE\r\n"}, {"VER?\r", "1.00\r\n"}, {"CHAN?\r", "99\r\n"}},
       "ERR\r\n",
       "\r",
       0,
       "\r"},
      {5,
       "Single gauge without address (short commands)",
       "",
       "",
       {"", "", "", "", "", "", ""},
       {"?", "+", "-", "F", "f", "K", "k"},
       "",
       "+0001.234",
       9,
       0,
       1,
       1,
       "+0001.234\r\n",
       "NO VALUE\r\n",
       "OUT OF RANGE\r\n",
       "P",
       "P0\r\n",
       "P1\r\n",
       {{"I", "SINGLE GAUGE\r\n"}, {"V", "V1.0\r\n"}},
       "",
       "",
       0,
       ""},
  };
  return presets;
}

// The command addresses a format gives its inputs by default.
std::vector<std::string> DefaultCommandAddresses(int format) {
  std::vector<std::string> a;
  switch (format) {
    case 0:
      for (int c = 1; c <= 8; ++c) a.push_back(std::to_string(c));
      break;
    case 1:
      for (int c = 1; c <= 64; ++c)
        a.push_back(std::to_string((c - 1) / 8 + 1) + "." + std::to_string((c - 1) % 8 + 1));
      break;
    case 2:
      for (int c = 1; c <= 3; ++c) a.push_back(std::to_string(c));
      break;
    case 3:
      for (int c = 1; c <= 8; ++c) a.push_back(std::to_string(c));
      a.push_back("X");
      a.push_back("Y");
      break;
    case 4:
      for (int c = 1; c <= 99; ++c) a.push_back(std::to_string(c));
      break;
    default:
      a.push_back("");
  }
  return a;
}

class PresetFileTest : public ShippedDataTest, public ::testing::WithParamInterface<PresetBytes> {
 protected:
  // The preset loaded into a record whose device 1, input 1 has the example addresses.
  SettingsRecord Loaded() {
    SettingsRecord s;
    s.CommandFormat = static_cast<int16_t>(GetParam().number);
    EXPECT_TRUE(LoadPreset(s));
    s.Inputs[1][1].State = 1;
    s.Inputs[1][1].CommandAdr = GetParam().commandAdr;
    s.Inputs[1][1].MeaValAdr = GetParam().meaValAdr;
    return s;
  }
  // Bytes of a command as the command table prepares it.
  static std::string Command(const std::string& text, const SettingsRecord& s) {
    return ConvString(text, 1, 1, 0, s);
  }
  // Bytes of a fixed answer, end character or separator.
  static std::string Answer(const std::string& text, const SettingsRecord& s) {
    return ConvString(text, 1, 1, 1, s);
  }
  // An answer template filled for the example input: "<mv>" becomes the value text and
  // "<ch>" the measured-value address.
  static std::string Filled(std::string tmpl, const std::string& valueText,
                            const SettingsRecord& s) {
    for (size_t at; (at = tmpl.find("<mv>")) != std::string::npos;)
      tmpl.replace(at, 4, "\"" + valueText + "\"");
    SettingsRecord r = s;
    r.Inputs[1][1].CommandAdr = s.Inputs[1][1].MeaValAdr;
    return ConvString(tmpl, 1, 1, 1, r);
  }
};

TEST_P(PresetFileTest, ChannelCommandsConvertToTheDocumentedBytes) {
  const PresetBytes& p = GetParam();
  SettingsRecord s = Loaded();
  EXPECT_EQ(s.DeviceName, p.name);
  for (int k = 1; k <= 7; ++k) {
    SCOPED_TRACE("kind " + std::to_string(k));
    EXPECT_EQ(s.ChCommandOn[k], 1);
    EXPECT_EQ(Command(s.ChCommandSingle[k], s), p.single[k - 1]);
    EXPECT_EQ(Command(s.ChCommandAll[k], s), p.all[k - 1]);
  }
}

TEST_P(PresetFileTest, AnswersConvertToTheDocumentedBytes) {
  const PresetBytes& p = GetParam();
  SettingsRecord s = Loaded();
  EXPECT_EQ(Answer(s.OkString, s), p.ack);
  EXPECT_EQ(s.NumOfChar, p.numOfChar);
  EXPECT_EQ(s.DecPnt, p.decPnt);
  EXPECT_EQ(s.LeadZeros, p.leadZeros);
  EXPECT_EQ(s.PosSign, p.posSign);
  EXPECT_EQ(std::string(p.valueText).size(), static_cast<size_t>(p.numOfChar));
  EXPECT_EQ(Filled(s.AnswerString, p.valueText, s), p.answer);
  EXPECT_EQ(Filled(s.Timeout, p.valueText, s), p.timeout);
  EXPECT_EQ(Filled(s.Range, p.valueText, s), p.range);
  EXPECT_EQ(Answer(s.UndefCommand, s), p.undefined);
}

TEST_P(PresetFileTest, FootSwitchAndAdditionalCommandsConvertToTheDocumentedBytes) {
  const PresetBytes& p = GetParam();
  SettingsRecord s = Loaded();
  EXPECT_EQ(Command(s.FsCommand[1], s), p.fsQuery);
  EXPECT_EQ(Answer(s.FsCommand[2], s), p.fsUp);
  EXPECT_EQ(Answer(s.FsCommand[3], s), p.fsDown);
  for (int i = 1; i <= kTableCommands; ++i) {
    SCOPED_TRACE("additional command " + std::to_string(i));
    size_t n = static_cast<size_t>(i - 1);
    std::string command = n < p.extra.size() ? p.extra[n].first : "";
    std::string answer = n < p.extra.size() ? p.extra[n].second : "";
    EXPECT_EQ(Command(s.TabCommand[i], s), command);
    EXPECT_EQ(Answer(s.TabAnswer[i], s), answer);
  }
}

TEST_P(PresetFileTest, EndCharacterAndSeparatorAreTheDocumentedOnes) {
  const PresetBytes& p = GetParam();
  SettingsRecord s = Loaded();
  EXPECT_EQ(Answer(s.EndChar, s), p.endText);
  EXPECT_EQ(s.Blanks, p.blanks);
  std::string separator = s.MultipleCommands != 0 ? Answer(s.Separator, s) : "";
  EXPECT_EQ(separator, p.separatorText);
}

// Choosing a preset must replace the whole command format, so a key the file lacks would let
// the previous format's value leak through.
TEST_P(PresetFileTest, ReplacesEveryCommandFormatField) {
  SettingsRecord clean;
  SettingsRecord dirty;
  dirty.DeviceName = "junk";
  for (int k = 1; k <= 7; ++k) {
    dirty.ChCommandOn[k] = 7;
    dirty.ChCommandAll[k] = dirty.ChCommandSingle[k] = "junk";
  }
  dirty.OkString = dirty.AnswerString = dirty.Timeout = dirty.Range = "junk";
  dirty.NumOfChar = dirty.DecPnt = dirty.LeadZeros = dirty.PosSign = 7;
  for (int i = 1; i <= 3; ++i) dirty.FsCommand[i] = "junk";
  for (int i = 1; i <= kTableCommands; ++i) dirty.TabCommand[i] = dirty.TabAnswer[i] = "junk";
  dirty.UndefCommand = dirty.EndChar = dirty.Separator = "junk";
  dirty.Blanks = dirty.MultipleCommands = 7;
  clean.CommandFormat = dirty.CommandFormat = static_cast<int16_t>(GetParam().number);
  ASSERT_TRUE(LoadPreset(clean));
  ASSERT_TRUE(LoadPreset(dirty));
  EXPECT_TRUE(clean == dirty);
}

// Every command a client can send must be reachable: distinct from all others, ended by the
// end character (in a terminated format) and not cut apart by the separator.
TEST_P(PresetFileTest, CommandsAreUnambiguousForEveryDefaultAddress) {
  SettingsRecord s = Loaded();
  std::string end = Answer(s.EndChar, s);
  std::string separator = s.MultipleCommands != 0 ? Answer(s.Separator, s) : "";
  std::vector<std::string> commands;
  for (int k = 1; k <= 7; ++k) {
    commands.push_back(Command(s.ChCommandAll[k], s));
    for (const std::string& adr : DefaultCommandAddresses(GetParam().number)) {
      s.Inputs[1][1].CommandAdr = adr;
      commands.push_back(Command(s.ChCommandSingle[k], s));
    }
  }
  commands.push_back(Command(s.FsCommand[1], s));
  for (int i = 1; i <= kTableCommands; ++i) commands.push_back(Command(s.TabCommand[i], s));
  std::erase(commands, std::string());

  std::set<std::string> seen;
  for (const std::string& c : commands) {
    SCOPED_TRACE(c);
    EXPECT_TRUE(seen.insert(c).second) << "sent twice";
    for (const char* limit : {"USL", "UCL", "LCL", "LSL"}) EXPECT_NE(c.rfind(limit, 0), 0u);
    if (!end.empty()) {
      ASSERT_EQ(end.size(), 1u);
      EXPECT_EQ(c.back(), end[0]);
      EXPECT_EQ(c.find(end[0]), c.size() - 1);
      if (!separator.empty()) {
        EXPECT_EQ(c.find(separator[0]), separator == end ? c.size() - 1 : std::string::npos);
      }
    }
  }
  if (end.empty()) {
    // Prefix mode takes the first command the text starts with, holds back text starting with
    // "L" and skips the letters of a limit name that arrive alone.
    for (const std::string& a : commands) {
      EXPECT_EQ(std::string("USLC").find(a[0]), std::string::npos) << a;
      for (const std::string& b : commands)
        if (a != b) {
          EXPECT_NE(b.rfind(a, 0), 0u) << a << " is the start of " << b;
        }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shipped, PresetFileTest, ::testing::ValuesIn(Documented()),
                         [](const auto& info) {
                           return "LIB00" + std::to_string(info.param.number);
                         });

// The keys of a command format: device name, channel commands, answers and value format,
// foot-switch commands, additional commands, end character and the special settings.
std::set<int> CommandFormatKeys() {
  std::set<int> keys = {100, 300, 301, 302, 500, 501, 502};
  for (int base : {200, 210, 215, 220, 225, 230, 235})
    for (int i = 0; i < 3; ++i) keys.insert(base + i);
  for (int k = 239; k <= 246; ++k) keys.insert(k);
  for (int k = 400; k <= 421; ++k) keys.insert(k);
  return keys;
}

TEST_F(ShippedDataTest, PresetFilesAreCrLfTextWithEveryKeyOnce) {
  for (const PresetBytes& p : Documented()) {
    SCOPED_TRACE(PresetFileName(p.number));
    std::string problem;
    std::vector<std::string> lines = CrLfLines(dir.Read(PresetFileName(p.number)), problem);
    EXPECT_EQ(problem, "");
    std::set<int> keys;
    for (const std::string& line : lines) {
      size_t colon = line.find(':');
      ASSERT_NE(colon, std::string::npos) << line;
      EXPECT_TRUE(keys.insert(std::stoi(line.substr(0, colon))).second) << line;
    }
    EXPECT_EQ(keys, CommandFormatKeys());
  }
}

TEST_F(ShippedDataTest, CatalogueListsTheSixPresetsThenTheOwnFormat) {
  std::vector<PresetEntry> list = PresetCatalogue("Own");
  ASSERT_EQ(list.size(), Documented().size() + 1);
  for (size_t i = 0; i < Documented().size(); ++i) {
    EXPECT_EQ(list[i].number, Documented()[i].number);
    EXPECT_EQ(list[i].name, Documented()[i].name);
  }
  EXPECT_EQ(list.back().number, kOwnCommandFormat);
}

TEST_F(ShippedDataTest, FirstStartTakesPresetZero) {
  ASSERT_FALSE(fs::exists(kSettingsFileName));
  SettingsRecord s;
  s.DeviceName = "before";
  ReadSettings("", s);
  EXPECT_EQ(s.CommandFormat, 0);
  EXPECT_EQ(s.DeviceName, Documented()[0].name);
  EXPECT_EQ(ConvString(s.ChCommandAll[1], 1, 1, 0, s), "M*\r");
  EXPECT_EQ(ConvString(s.EndChar, 1, 1, 1, s), "\r");
}

// ---------------------------------------------------------------------------------------------
// Language files

// Every text number a window shows, and 999.
std::vector<int> RequiredTextNumbers() {
  std::vector<int> n = {110, 111, 112, 120, 121, 130, 200, 201, 400,
                        500, 501, 502, 510, 511, 520, 521, 559, 999};
  for (int i = 100; i <= 105; ++i) n.push_back(i);
  for (int i = 530; i <= 536; ++i) n.push_back(i);
  for (int i = 540; i <= 542; ++i) n.push_back(i);
  for (int i = 550; i <= 557; ++i) n.push_back(i);
  for (int i = 560; i <= 563; ++i) n.push_back(i);
  for (int i = 570; i <= 575; ++i) n.push_back(i);
  for (int i = 580; i <= 584; ++i) n.push_back(i);
  return n;
}

using Texts = std::array<std::string, kLastTextNumber + 1>;

Texts Loaded(int16_t language) {
  Texts t;
  EXPECT_TRUE(LoadLanguage(language, t));
  return t;
}

TEST_F(ShippedDataTest, EveryLanguageHasEveryTextAndItsDriverLanguageNumber) {
  for (int16_t language = 1; language <= 3; ++language) {
    SCOPED_TRACE(LanguageFileName(language));
    ASSERT_TRUE(fs::exists(LanguageFileName(language)));
    Texts t = Loaded(language);
    for (int n : RequiredTextNumbers()) EXPECT_FALSE(t[n].empty()) << "text " << n;
    EXPECT_EQ(t[999], std::to_string(language));
    for (int n = 0; n <= kLastTextNumber; ++n) EXPECT_EQ(t[n].find('"'), std::string::npos);
  }
}

TEST_F(ShippedDataTest, LanguagesAreTranslatedNotCopied) {
  Texts en = Loaded(1), de = Loaded(2), fr = Loaded(3);
  EXPECT_EQ(en[502], "Cancel");
  EXPECT_EQ(de[502], "Abbrechen");
  EXPECT_EQ(fr[502], "Annuler");
  int same = 0;
  for (int n : RequiredTextNumbers())
    if (en[n] == de[n] || en[n] == fr[n]) ++same;
  EXPECT_LE(same, 5);  // OK, Info, Status, 999 ... may be the same word
}

TEST_F(ShippedDataTest, AccentsArriveAsSingleWindows1252Bytes) {
  Texts de = Loaded(2), fr = Loaded(3);
  EXPECT_EQ(de[536],
            "Fu\xDF"
            "schalter");
  EXPECT_EQ(de[530], "Messeing\xE4nge");
  EXPECT_EQ(de[554], "F\xFChrende Nullen");
  EXPECT_EQ(de[120].substr(de[120].find("ffnen") - 1, 6),
            "\xD6"
            "ffnen");
  EXPECT_EQ(fr[532], "\xC9tat");
  EXPECT_EQ(fr[536],
            "P\xE9"
            "dale");
  EXPECT_EQ(fr[551], "Nombre de caract\xE8res");
  for (const Texts* t : {&de, &fr})
    for (const std::string& text : *t)
      for (unsigned char c : text) {
        EXPECT_NE(c, 0xC3) << text;  // the lead byte of UTF-8 accents
        EXPECT_TRUE(c >= 0x20 && c != 0x7F) << text;
      }
}

TEST_F(ShippedDataTest, LanguageFilesAreCrLfLinesWithEachNumberOnce) {
  for (int language = 1; language <= 3; ++language) {
    SCOPED_TRACE(LanguageFileName(language));
    std::string problem;
    std::vector<std::string> lines = CrLfLines(dir.Read(LanguageFileName(language)), problem);
    EXPECT_EQ(problem, "");
    std::set<int> numbers;
    for (const std::string& line : lines) {
      size_t colon = line.find(':');
      ASSERT_NE(colon, std::string::npos) << line;  // a line without one would extend a text
      int n = std::stoi(line.substr(0, colon));
      if (n >= 1) {
        EXPECT_TRUE(numbers.insert(n).second) << "text " << n << " twice";
      }
    }
    EXPECT_EQ(numbers.size(), RequiredTextNumbers().size());
  }
}

}  // namespace
