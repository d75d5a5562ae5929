#include "notation_preview_text.h"

#include <cstdio>

#include "key_value_file.h"
#include "text_encoding.h"
#include "text_notation.h"

namespace {

void AppendReadable(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\\':
      out += "\\\\";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  // 0x81, 0x8D, 0x8F, 0x90 and 0x9D are unassigned in Windows-1252, 0xA0 is an invisible blank.
  bool unassigned = byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
  if ((byte >= 0x20 && byte < 0x7F) || (byte >= 0x80 && byte != 0xA0 && !unassigned)) {
    out += Cp1252ToUtf8(std::string(1, static_cast<char>(byte)));
    return;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

// Returns text with every item that reads "<mv>" replaced by a quoted marker byte, cut into
// items exactly as the conversion cuts an answer.
std::string WithValueMarker(const std::string& text, char marker) {
  const std::string quotedMarker = std::string("\"") + marker + "\"";
  std::string out;
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    bool last = i + 1 == text.size();
    if (!last && (text[i] != ',' || quoted)) continue;
    size_t end = last ? text.size() : i;
    std::string_view item(text.data() + start, end - start);
    out += TrimSpaces(item) == "<mv>" ? std::string_view(quotedMarker) : item;
    if (!last) out += ',';
    start = i + 1;
  }
  return out;
}

}  // namespace

std::string NotationPreviewText(const std::string& text, NotationKind kind, bool dropBlanks) {
  // The text is converted twice with different marker bytes for the channel address and the
  // value; where the two results differ, a placeholder stands.
  constexpr char kFirst = 0, kChannel = 1, kValue = 2;
  SettingsRecord s;
  s.Blanks = dropBlanks ? 1 : 0;
  const int16_t antwort = kind == NotationKind::Command ? 0 : 1;
  const bool isTemplate = kind == NotationKind::AnswerTemplate;
  s.Inputs[1][1].CommandAdr = std::string(1, kFirst);
  std::string first =
      ConvString(isTemplate ? WithValueMarker(text, kFirst) : text, 1, 1, antwort, s);
  s.Inputs[1][1].CommandAdr = std::string(1, kChannel);
  std::string second =
      ConvString(isTemplate ? WithValueMarker(text, kValue) : text, 1, 1, antwort, s);
  std::string out;
  for (size_t i = 0; i < first.size() && i < second.size(); ++i) {
    if (first[i] == second[i]) {
      AppendReadable(out, static_cast<unsigned char>(first[i]));
    } else {
      out += second[i] == kChannel ? "<ch>" : "<mv>";
    }
  }
  return out;
}
