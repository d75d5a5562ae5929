// The program's own pictures, drawn with QPainter: the port badges "1" to "4", the program icon
// and the logo. Digits are drawn as segments, so no font is needed.
#pragma once

#include <QImage>

// Returns a size x size picture of digit (0..9) in white on a round blue badge; a digit outside
// 0..9 gives the badge alone.
QImage PortBadge(int digit, int size);

// Returns the size x size program icon: a "V" over a serial plug on a rounded square.
QImage ProgramIconImage(int size);

// Returns the width x height logo: the program icon beside the word "VCP" in segments.
QImage ProgramLogoImage(int width, int height);
