// The notation in which commands, answers, end characters and separators are configured:
// comma-separated items, each a quoted text, a character code (65, &H41, &O101) or the
// placeholder <ch> for the channel's command address.
#pragma once

#include <cstdint>
#include <string>

#include "settings_record.h"

// Returns the bytes that InpStr stands for. dev (0..9) and adr (0..201) choose the input whose
// CommandAdr replaces "<ch>"; outside those ranges "<ch>" adds nothing. antwort = 1 marks an
// answer text, whose blanks are always kept; for any other value blanks are dropped when
// s.Blanks is not 0. An item whose code is outside 0..255 adds nothing, and so does any other
// item in angle brackets (such as "<mv>") or a quote with fewer than three characters.
std::string ConvString(const std::string& InpStr, int16_t dev, int16_t adr, int16_t antwort,
                       const SettingsRecord& s = Settings);
