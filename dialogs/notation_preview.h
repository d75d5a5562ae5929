// Keeps a text box's tooltip showing the bytes its notation text stands for.
#pragma once

#include <QObject>
#include <functional>

#include "notation_preview_text.h"

class QLineEdit;

// Lives as a child of the box; the tooltip follows every edit. The stored text is untouched.
class NotationPreview : public QObject {
  Q_OBJECT

 public:
  // dropBlanks tells whether the Blanks setting is on (it matters for commands only).
  NotationPreview(QLineEdit* box, NotationKind kind, std::function<bool()> dropBlanks);

  // Sets the tooltip from the box's current text; call it when the Blanks choice changed.
  void Refresh();

  // Returns the tooltip for a box text: rich text "Bytes: " followed by the readable bytes,
  // or by "(no bytes)" when the text converts to nothing.
  static QString TooltipFor(const QString& text, NotationKind kind, bool dropBlanks);

 private:
  QLineEdit* box_;
  NotationKind kind_;
  std::function<bool()> dropBlanks_;
};
