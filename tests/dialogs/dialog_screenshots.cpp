// Writes pictures of the setup window and its dialogs, as they look with the shipped English
// texts and presets, into the folder given as the first argument.
//
//   dialog_screenshots OUT_FOLDER   (run in a folder holding the language, preset and device
//                                    files, e.g. build/bin)
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "additional_settings.h"
#include "ddk_library.h"
#include "default_addresses.h"
#include "device_items.h"
#include "language_file.h"
#include "load_config.h"
#include "meaval_settings.h"
#include "settings_file.h"
#include "settings_record.h"
#include "setup_window.h"

namespace {

bool Save(QWidget& window, const QString& folder, const QString& name) {
  window.show();
  window.adjustSize();
  QApplication::processEvents();
  const QString path = QDir(folder).filePath(name);
  if (window.grab().save(path)) return true;
  std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: dialog_screenshots OUT_FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  // The settings file is read (created empty when missing) and never written.
  ReadSettings("");
  LoadLanguage(1);
  DdkLibrary library;
  AssignDefaultAddresses(Settings, ListDeviceInputs(library, DeviceLanguage()));
  bool ok = true;
  {
    SetupWindow window(library);
    ok &= Save(window, folder, "setup_window.png");
  }
  {
    Settings.CommandFormat = kOwnCommandFormat;
    SetupWindow window(library);
    ok &= Save(window, folder, "setup_window_own_format.png");
  }
  {
    AdditionalSettings dialog;
    ok &= Save(dialog, folder, "additional_settings.png");
  }
  {
    MeaVal_Settings dialog;
    ok &= Save(dialog, folder, "measured_value_format.png");
  }
  {
    LoadConfig dialog;
    ok &= Save(dialog, folder, "load_configuration.png");
  }
  return ok ? 0 : 1;
}
