// Answer templates: the notation of configured texts read as an answer, with the measured
// value and the input's measured-value address filled in.
#pragma once

#include <string>

// Returns the answer that templ stands for: comma-separated items as in ConvString (quoted
// text, character codes 0..255), blanks always kept; "<mv>" inserts valueText, "<ch>" inserts
// meaValAdr, any other item starting with "<" and any code outside 0..255 insert nothing.
std::string FillAnswerTemplate(const std::string& templ, const std::string& valueText,
                               const std::string& meaValAdr);
