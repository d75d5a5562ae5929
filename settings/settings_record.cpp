#include "settings_record.h"

#include "system_language.h"

SettingsRecord Settings;
SettingsRecord SettingsBackup;

bool operator==(const InputRecord& a, const InputRecord& b) {
  return a.State == b.State && a.FS == b.FS && a.CommandAdr == b.CommandAdr &&
         a.MeaValAdr == b.MeaValAdr;
}

void SetDefaultSettings(SettingsRecord& s) {
  std::string adr1 = std::move(s.AddInputAdr1);
  std::string adr2 = std::move(s.AddInputAdr2);
  s = SettingsRecord{};
  s.AddInputAdr1 = std::move(adr1);
  s.AddInputAdr2 = std::move(adr2);
  s.LanguageNo = LanguageNoForLangId(SystemDefaultLangId());
}
