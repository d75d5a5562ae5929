// A readable rendering of the bytes a configured command or answer text stands for.
#pragma once

#include <string>

// What the text is used for: it decides how blanks and placeholders are treated.
enum class NotationKind {
  Command,         // a command a client sends: blanks drop when the Blanks setting is on
  Answer,          // a fixed answer, end character or separator: blanks are kept
  AnswerTemplate,  // a measured-value answer: blanks are kept and "<mv>" is the value
};

// Returns the bytes of text, converted as the command table converts it, written readably in
// UTF-8: printable characters as they are, "\\" for a backslash, \r \n \t, other control bytes
// and unprintable bytes as \xNN, "<ch>" where the channel's address goes and, in an answer
// template, "<mv>" where the value goes. dropBlanks is the Blanks setting. An empty conversion
// gives an empty string.
std::string NotationPreviewText(const std::string& text, NotationKind kind, bool dropBlanks);
