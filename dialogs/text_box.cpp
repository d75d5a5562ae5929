#include "text_box.h"

#include <QLineEdit>
#include <limits>

QLineEdit* NewTextBox(QWidget* parent, const QString& name) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setMaxLength(std::numeric_limits<int>::max());
  return box;
}
