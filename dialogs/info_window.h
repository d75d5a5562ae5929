// The info window: an information text and the choice whether it is shown at every start. Its
// only effect is Settings.ShowInfoWin, changed in memory on OK.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

class InfoWindow : public QDialog {
  Q_OBJECT

 public:
  explicit InfoWindow(QWidget* parent = nullptr);

  QLabel* Label1;
  // Ticked means the window is not shown at start: the inverse of Settings.ShowInfoWin.
  QCheckBox* ShowInfoWin;
  QPushButton* OKButton;

  void OKButton_Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Form_Load();
};
