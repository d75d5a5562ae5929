#include "password_window.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui_text.h"

PasswordWindow::PasswordWindow(QWidget* parent)
    : QDialog(parent),
      Text1(new QLineEdit(this)),
      OKButton(new QPushButton(this)),
      Abbruch(new QPushButton(this)),
      QuitButton(new QPushButton(this)) {
  setObjectName("PasswordWindow");
  Text1->setObjectName("Text1");
  OKButton->setObjectName("OKButton");
  Abbruch->setObjectName("Abbruch");
  QuitButton->setObjectName("QuitButton");
  Text1->setEchoMode(QLineEdit::Password);
  Text1->setMinimumWidth(220);
  OKButton->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(OKButton);
  buttons->addWidget(Abbruch);
  buttons->addWidget(QuitButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text1);
  layout->addLayout(buttons);

  connect(OKButton, &QPushButton::clicked, this, &PasswordWindow::OKButton_Click);
  connect(Abbruch, &QPushButton::clicked, this, &PasswordWindow::Abbruch_Click);
  connect(QuitButton, &QPushButton::clicked, this, &PasswordWindow::QuitButton_Click);
}

void PasswordWindow::showEvent(QShowEvent* event) {
  Form_Load();
  QDialog::showEvent(event);
}

void PasswordWindow::Form_Load() {
  SetDialogColour(this);
  setWindowTitle("  Password");
  OKButton->setText(LanguageText(501));
  Abbruch->setText(LanguageText(502));
  QuitButton->setText(LanguageText(103));
  QuitButton->setVisible(QuitVisible);
  Text1->clear();
  Text1->setFocus();
}

void PasswordWindow::OKButton_Click() { Finish(Text1->text(), false, QDialog::Accepted); }

void PasswordWindow::Abbruch_Click() { Finish({}, false, QDialog::Rejected); }

void PasswordWindow::QuitButton_Click() { Finish({}, true, QDialog::Rejected); }

void PasswordWindow::reject() { Abbruch_Click(); }

void PasswordWindow::Finish(const QString& entry, bool quit, int result) {
  PasswordEntry = entry;
  QuitChosen = quit;
  done(result);
}
