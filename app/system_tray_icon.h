// The tray icon on a real desktop, with QSystemTrayIcon.
#pragma once

#include <QSystemTrayIcon>

#include "tray_icon.h"

class SystemTrayIcon : public ITrayIcon {
 public:
  SystemTrayIcon();
  // Returns QSystemTrayIcon::isSystemTrayAvailable().
  bool Available() const override;
  void Add(const QIcon& icon, const QString& tip) override;
  void Remove() override;
  bool Shown() const override;

 private:
  QSystemTrayIcon icon_;
};
