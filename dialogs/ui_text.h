// What every window of the program shares: language texts as Qt strings, the conversion between
// the engine's 8-bit texts and Qt strings, and the dialog background colour.
#pragma once

#include <QString>
#include <string>

class QWidget;

// Returns language text n converted from Windows-1252; an empty string for n outside 0..1000.
QString LanguageText(int n);

// Returns an engine text (Windows-1252 bytes) as a Qt string.
QString FromEngineText(const std::string& text);

// Returns a Qt string as engine text; characters Windows-1252 cannot hold become '?'.
std::string ToEngineText(const QString& text);

// Gives widget the dialogs' background colour: red 240, green 233, blue 208.
void SetDialogColour(QWidget* widget);
