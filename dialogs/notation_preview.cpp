#include "notation_preview.h"

#include <QLineEdit>

#include "ui_text.h"

NotationPreview::NotationPreview(QLineEdit* box, NotationKind kind,
                                 std::function<bool()> dropBlanks)
    : QObject(box), box_(box), kind_(kind), dropBlanks_(std::move(dropBlanks)) {
  connect(box, &QLineEdit::textChanged, this, &NotationPreview::Refresh);
  Refresh();
}

void NotationPreview::Refresh() {
  box_->setToolTip(TooltipFor(box_->text(), kind_, dropBlanks_ && dropBlanks_()));
}

QString NotationPreview::TooltipFor(const QString& text, NotationKind kind, bool dropBlanks) {
  std::string bytes = NotationPreviewText(ToEngineText(text), kind, dropBlanks);
  QString shown = bytes.empty() ? QStringLiteral("(no bytes)") : QString::fromStdString(bytes);
  // Rich text, so that "<ch>" is not taken for a tag and blanks stay visible.
  return QStringLiteral("<p style='white-space:pre'>Bytes: ") + shown.toHtmlEscaped() +
         QStringLiteral("</p>");
}
