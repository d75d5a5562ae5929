// The program's icon in the desktop's notification area, behind a small interface so that the
// main window does not depend on how the desktop offers it.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>

class ITrayIcon {
 public:
  virtual ~ITrayIcon() = default;
  // Returns true when the desktop offers a notification area now.
  virtual bool Available() const = 0;
  // Adds the icon with tip as its tooltip, or replaces the shown one.
  virtual void Add(const QIcon& icon, const QString& tip) = 0;
  // Removes the icon; nothing when none is shown.
  virtual void Remove() = 0;
  // Returns true while the icon is shown.
  virtual bool Shown() const = 0;
  // Called on a left-button press on the icon; other buttons and double clicks are not passed on.
  void SetLeftClickHandler(std::function<void()> handler) { left_click_ = std::move(handler); }

 protected:
  void LeftClicked() {
    if (left_click_) left_click_();
  }

 private:
  std::function<void()> left_click_;
};
