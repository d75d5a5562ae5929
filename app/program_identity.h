// The program-wide title, logo and icon that the start-up form sets and the main window uses.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// The program's own version, set by the build.
struct ProgramVersion {
  int major = 0;
  int minor = 0;
  int revision = 0;
};

// Returns the version the program was built as (2.40.0 for the shipped build).
ProgramVersion BuiltVersion();

// Returns "Version 2.40.0" for 2.40.0: the three numbers in decimal, separated by dots.
QString VersionLabelText(const ProgramVersion& v);

// Returns "Velk Virtual COM Port Driver   V2.400" for 2.40.0: the major number, a dot, then
// the minor number and the revision written one after the other.
QString ProgramTitleText(const ProgramVersion& v);

extern QString ProgramTitle;
extern QImage LogoPicture;
extern QIcon ProgramIcon;
