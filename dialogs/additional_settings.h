// The additional-settings dialog: extra commands with fixed answers, the answer to an undefined
// command, end characters, blanks and multiple commands, and the value history switch.
#pragma once

#include <QDialog>
#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Shown modally over the setup window. OK writes the controls into the live Settings; cancel,
// Escape and the window frame change nothing. Texts are taken exactly as typed.
class AdditionalSettings : public QDialog {
  Q_OBJECT

 public:
  explicit AdditionalSettings(QWidget* parent = nullptr);

  QGroupBox* CommandTab;
  QLabel* CommandStr;
  QLabel* Answer;
  std::array<QLineEdit*, 10> CS{};
  std::array<QLineEdit*, 10> CA{};
  QLabel* UndefCommand1;
  QLineEdit* UndefCommand2;
  QLabel* EndChar1;
  QLineEdit* EndChar2;
  QGroupBox* SpecSettings;
  QCheckBox* Blanks;
  QCheckBox* MultipleCommands;
  QCheckBox* History;  // the value history on or off
  QLabel* Separator1;
  QLineEdit* Separator2;
  QPushButton* OKButton;
  QPushButton* Abbruch;

  void OKButton_Click();
  void Abbruch_Click();
  void MultipleCommands_Click();

 private:
  void Form_Load();
};
