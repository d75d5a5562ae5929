#include "program_identity.h"

QString ProgramTitle;
QImage LogoPicture;
QIcon ProgramIcon;

ProgramVersion BuiltVersion() {
  return {VELK_VERSION_MAJOR, VELK_VERSION_MINOR, VELK_VERSION_PATCH};
}

QString VersionLabelText(const ProgramVersion& v) {
  return QString("Version %1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

QString ProgramTitleText(const ProgramVersion& v) {
  return QString("Velk Virtual COM Port Driver   V%1.%2%3")
      .arg(v.major)
      .arg(v.minor)
      .arg(v.revision);
}
