#include "system_tray_icon.h"

SystemTrayIcon::SystemTrayIcon() {
  QObject::connect(&icon_, &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) LeftClicked();
                   });
}

bool SystemTrayIcon::Available() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void SystemTrayIcon::Add(const QIcon& icon, const QString& tip) {
  icon_.setIcon(icon);
  icon_.setToolTip(tip.left(63));
  icon_.show();
}

void SystemTrayIcon::Remove() { icon_.hide(); }

bool SystemTrayIcon::Shown() const { return icon_.isVisible(); }
