// The list from which a named configuration is chosen for loading.
#pragma once

#include <QDialog>
#include <QString>

class QListWidget;
class QPushButton;

// Lists the configurations of the current folder. Modal use: exec(), then read ConfigFile.
class LoadConfig : public QDialog {
  Q_OBJECT

 public:
  explicit LoadConfig(QWidget* parent = nullptr);

  // The chosen file name with ".con"; empty after cancel, Escape or the window frame.
  QString ConfigFile;

  QListWidget* List1;
  QPushButton* OKButton;
  QPushButton* CancelButton;

  void List1_Click();
  void OKButton_Click();
  void CancelButton_Click();

  void reject() override;

 private:
  void Form_Load();
};
