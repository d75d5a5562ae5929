// The one settings record of the program, its live instance and the setup window's undo copy.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Settings of one device input. Texts are 8-bit (Windows-1252) byte strings.
struct InputRecord {
  int16_t State = 0;       // 1 = the input takes part in the command table
  int16_t FS = 0;          // 1 = the input is released by the foot switch
  std::string CommandAdr;  // text by which a client addresses the input in a command
  std::string MeaValAdr;   // text inserted for "<ch>" in an answer
};

constexpr int kDeviceCount = 10;  // device index 0..9; devices 1..8 are stored
constexpr int kInputCount = 202;  // input index 0..201; inputs 1..199 are stored
constexpr int kFirstStoredDevice = 1;
constexpr int kLastStoredDevice = 8;
constexpr int kLastStoredInput = 199;
constexpr int kChannelCommands = 7;  // channel commands 1..7
constexpr int kTableCommands = 10;   // additional commands 1..10
constexpr int16_t kOwnCommandFormat = 1000;

// Every array has a fixed size, so one assignment copies the whole record.
// Arrays are indexed from 1 where the settings number their elements from 1 (element 0 unused).
struct SettingsRecord {
  int16_t LanguageNo = 1;
  int16_t VcpCom1 = 0;
  int16_t CommandFormat = 0;
  int16_t ShowInfoWin = 1;
  int16_t LogOn = 0;
  std::string Password;
  int16_t VcpCom2 = 0;
  int16_t VcpCom3 = 0;
  int16_t VcpCom4 = 0;
  int16_t HotKey1 = 0;
  int16_t HotKey2 = 0;
  int16_t HotKey3 = 0;
  int16_t HotKey4 = 0;
  int16_t SharedPorts = 0;      // 1: several clients may hold one port at once
  int16_t AnswerEveryPort = 0;  // 1: every port's client is answered, not only the served one's
  // The value history and the MQTT publisher (0 and empty: off, the defaults).
  int16_t HistoryOn = 0;        // 1: every value sent is kept in the history database
  int16_t HistoryKeepDays = 0;  // retention in days (0: the default, or HistoryMaxMb)
  int16_t HistoryMaxMb = 0;     // retention in megabytes (0: by days)
  std::string MqttUrl;          // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; empty: off
  std::string MqttPrefix;       // topic prefix (empty: "velk")
  std::string MqttStation;      // station name (empty: the host name)
  std::string MqttUser;
  std::string MqttPasswordFile;  // file holding the password (private to the user)
  std::string MqttCaFile;        // CA certificates for TLS
  // The station's client certificate and its private key for a broker that asks for one
  // (PEM files; both or neither).
  std::string MqttCertFile;
  std::string MqttKeyFile;
  // Network ports of slots 1..4 (index 0 unused). NetPort: the TCP port ("" : none);
  // NetProtocol: "raw" or "rfc2217" ("" : raw); NetBind: the listening address ("" : 127.0.0.1);
  // NetAllow: the client networks let in, comma-separated CIDR ("" : any, loopback only).
  std::array<std::string, 5> NetPort;
  std::array<std::string, 5> NetProtocol;
  std::array<std::string, 5> NetBind;
  std::array<std::string, 5> NetAllow;
  int16_t NetIdleSeconds = 0;  // the idle limit of network clients (0: 60 s)
  // TLS on network ports: the station's certificate chain and private key (PEM files, absolute
  // paths), the CA whose client certificates are let in ("": no client certificates asked),
  // and per slot 1..4 (index 0 unused) whether its network port speaks TLS (1) or not (0).
  std::string TlsCertFile;
  std::string TlsKeyFile;
  std::string TlsClientCaFile;
  std::array<int16_t, 5> NetTls{};
  // The station's web page: its TCP port ("": off), listening address ("": 127.0.0.1), client
  // networks let in (comma-separated CIDR; "": any, loopback only), TLS with the station's
  // certificate (1) or not (0), and the file whose first line is the page's password ("": none).
  std::string WebPort;
  std::string WebBind;
  std::string WebAllow;
  int16_t WebTls = 0;
  std::string WebPasswordFile;
  std::string DeviceName = "Velkit - ka / kb - Series ( CH1 ... CH8 )";
  std::array<int16_t, kChannelCommands + 1> ChCommandOn{};
  std::array<std::string, kChannelCommands + 1> ChCommandAll;
  std::array<std::string, kChannelCommands + 1> ChCommandSingle;
  std::string OkString;
  std::string AnswerString = "<mv>";
  int16_t NumOfChar = 9;
  int16_t DecPnt = 0;
  int16_t LeadZeros = 1;
  int16_t PosSign = 1;
  std::string Timeout;
  std::string Range;
  std::array<std::string, 4> FsCommand;                    // 1..3
  std::array<std::string, kTableCommands + 2> TabCommand;  // 1..10
  std::array<std::string, kTableCommands + 2> TabAnswer;   // 1..10
  std::string UndefCommand;
  std::string EndChar;
  int16_t Blanks = 0;
  int16_t MultipleCommands = 0;
  std::string Separator;
  std::array<std::array<InputRecord, kInputCount>, kDeviceCount> Inputs;
  int16_t FsSelect = 0;
  std::string AddInputAdr1;
  std::string AddInputAdr2;

  bool operator==(const SettingsRecord&) const = default;
};

bool operator==(const InputRecord& a, const InputRecord& b);

// The live settings, read and written in place by the whole program.
extern SettingsRecord Settings;
// Whole-record copy the setup window restores on cancel.
extern SettingsRecord SettingsBackup;

// Sets the start values of a first start: the language from the system locale and every other
// field its default. AddInputAdr1 and AddInputAdr2 are left as they are. No preset is applied.
void SetDefaultSettings(SettingsRecord& s);
