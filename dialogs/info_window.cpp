#include "info_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings_record.h"
#include "ui_text.h"

InfoWindow::InfoWindow(QWidget* parent)
    : QDialog(parent),
      Label1(new QLabel(this)),
      ShowInfoWin(new QCheckBox(this)),
      OKButton(new QPushButton(this)) {
  setObjectName("InfoWindow");
  Label1->setObjectName("Label1");
  ShowInfoWin->setObjectName("ShowInfoWin");
  OKButton->setObjectName("OKButton");
  Label1->setWordWrap(true);
  Label1->setFixedWidth(440);
  OKButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ShowInfoWin);
  buttons->addStretch();
  buttons->addWidget(OKButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addLayout(buttons);
  connect(OKButton, &QPushButton::clicked, this, &InfoWindow::OKButton_Click);
}

void InfoWindow::showEvent(QShowEvent* event) {
  Form_Load();
  QDialog::showEvent(event);
}

void InfoWindow::Form_Load() {
  SetDialogColour(this);
  setWindowTitle(" " + LanguageText(400));
  Label1->setText(LanguageText(120));
  Label1->setMinimumHeight(Label1->heightForWidth(Label1->width()));
  ShowInfoWin->setText(LanguageText(121));
  OKButton->setText(LanguageText(501));
  ShowInfoWin->setChecked(Settings.ShowInfoWin != 1);
}

void InfoWindow::OKButton_Click() {
  Settings.ShowInfoWin = ShowInfoWin->isChecked() ? 0 : 1;
  accept();
}
