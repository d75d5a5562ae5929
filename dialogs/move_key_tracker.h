// Follows which of the keys that move a window are held while that window is active.
#pragma once

#include <QObject>

#include "keyboard_move.h"

class QWidget;

// Watches the key events of window and its children. Alt with an arrow key is taken by the
// tracker (so that, say, a combo box does not open on Alt+Down). Leaving the window forgets
// every key, as its releases would go elsewhere.
class MoveKeyTracker : public QObject {
  Q_OBJECT

 public:
  explicit MoveKeyTracker(QWidget* window);

  // Returns the keys held now.
  MoveKeys Keys() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  MoveKeys keys_;
};
