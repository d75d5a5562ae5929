// Build-time tool: writes the program's icons into the run folder.
//   velk_make_icons FOLDER
// writes Velk_VCP.ico and Velk_VCP.png (the program icon) and 1.ico .. 4.ico (the port badges).
#include <QDir>
#include <QGuiApplication>
#include <QImageWriter>
#include <cstdio>

#include "icon_art.h"

namespace {

bool Save(const QImage& image, const QString& path, const char* format) {
  QImageWriter writer(path, format);
  if (writer.write(image)) return true;
  std::fprintf(stderr, "velk_make_icons: cannot write %s: %s\n", qPrintable(path),
               qPrintable(writer.errorString()));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: velk_make_icons FOLDER\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) {
    std::fprintf(stderr, "velk_make_icons: cannot create %s\n", argv[1]);
    return 1;
  }
  bool ok = Save(ProgramIconImage(64), folder.filePath("Velk_VCP.ico"), "ico");
  ok = Save(ProgramIconImage(256), folder.filePath("Velk_VCP.png"), "png") && ok;
  for (int digit = 1; digit <= 4; ++digit) {
    ok = Save(PortBadge(digit, 64), folder.filePath(QString("%1.ico").arg(digit)), "ico") && ok;
  }
  return ok ? 0 : 1;
}
