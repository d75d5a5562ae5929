// The program's own pictures, drawn with QPainter: the port badges "1" to "4", the program icon
// and the logo. The badges' digits are drawn as segments, so the build-time tool needs no font.
#pragma once

#include <QImage>

// Returns a size x size picture of digit (0..9) in white on a round blue badge; a digit outside
// 0..9 gives the badge alone.
QImage PortBadge(int digit, int size);

// Returns the size x size program icon: a "V" over a serial plug on a rounded square.
QImage ProgramIconImage(int size);

// Returns the width x height logo: the program icon beside the word "VCP" (the word needs a
// QGuiApplication for its font).
QImage ProgramLogoImage(int width, int height);
