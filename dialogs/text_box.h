// Text boxes of the setup dialogs.
#pragma once

#include <QString>

class QLineEdit;
class QWidget;

// Returns a new one-line text box named name that takes text of any length (settings texts
// have no limit, and a box must never cut one short).
QLineEdit* NewTextBox(QWidget* parent, const QString& name);
