#include "ui_text.h"

#include <QColor>
#include <QPalette>
#include <QWidget>

#include "language_file.h"
#include "text_encoding.h"

QString LanguageText(int n) {
  if (n < 0 || n > kLastTextNumber) return {};
  return FromEngineText(LanguageTexts[n]);
}

QString FromEngineText(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string ToEngineText(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

void SetDialogColour(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, QColor(240, 233, 208));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}
