// The password prompt: asks for one entry and hands it back; the caller compares it.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

// Modal use: set QuitVisible, exec(), then read QuitChosen and PasswordEntry. Closing the window
// by its frame or with Escape counts as the cancel button.
class PasswordWindow : public QDialog {
  Q_OBJECT

 public:
  explicit PasswordWindow(QWidget* parent = nullptr);

  // The text confirmed with OK, unchanged; empty after cancel or quit.
  QString PasswordEntry;
  // Set by the caller before showing: whether the quit button is offered.
  bool QuitVisible = false;
  // True when the window was closed with the quit button.
  bool QuitChosen = false;

  QLineEdit* Text1;
  QPushButton* OKButton;
  QPushButton* Abbruch;
  QPushButton* QuitButton;

  void OKButton_Click();
  void Abbruch_Click();
  void QuitButton_Click();

  // Escape and the window frame end the dialog as Abbruch does.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Form_Load();
  void Finish(const QString& entry, bool quit, int result);
};
