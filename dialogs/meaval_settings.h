// The measured-value format dialog: number of characters, decimal point or comma, leading
// zeros, plus sign and the answers on time-out and out of range.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Shown modally over the setup window. OK writes the controls into the live Settings; cancel,
// Escape and the window frame change nothing.
class MeaVal_Settings : public QDialog {
  Q_OBJECT

 public:
  explicit MeaVal_Settings(QWidget* parent = nullptr);

  QLabel* Numofchar1;
  QLineEdit* Numofchar2;
  QLabel* DecPnt1;
  QComboBox* DecPnt2;
  QCheckBox* LeadZeros1;
  QCheckBox* PosSign1;
  QLabel* Timeout1;
  QLineEdit* Timeout2;
  QLabel* Range1;
  QLineEdit* Range2;
  QPushButton* OKButton;
  QPushButton* Abbruch;

  // Stores the controls and closes. A number of characters outside -32768..32767 is refused
  // with a message; the dialog then stays open and nothing is stored.
  void OKButton_Click();
  void Abbruch_Click();

 private:
  void Form_Load();
};
