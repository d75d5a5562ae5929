#include "meaval_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "notation_preview.h"
#include "number_text.h"
#include "settings_record.h"
#include "text_box.h"
#include "ui_text.h"

MeaVal_Settings::MeaVal_Settings(QWidget* parent)
    : QDialog(parent),
      Numofchar1(new QLabel(this)),
      Numofchar2(NewTextBox(this, "Numofchar2")),
      DecPnt1(new QLabel(this)),
      DecPnt2(new QComboBox(this)),
      LeadZeros1(new QCheckBox(this)),
      PosSign1(new QCheckBox(this)),
      Timeout1(new QLabel(this)),
      Timeout2(NewTextBox(this, "Timeout2")),
      Range1(new QLabel(this)),
      Range2(NewTextBox(this, "Range2")),
      OKButton(new QPushButton(this)),
      Abbruch(new QPushButton(this)) {
  setObjectName("MeaVal_Settings");
  DecPnt2->setObjectName("DecPnt2");
  LeadZeros1->setObjectName("LeadZeros1");
  PosSign1->setObjectName("PosSign1");
  OKButton->setObjectName("OKButton");
  Abbruch->setObjectName("Abbruch");
  OKButton->setDefault(true);

  auto* grid = new QGridLayout;
  grid->addWidget(Numofchar1, 0, 0);
  grid->addWidget(Numofchar2, 0, 1);
  grid->addWidget(DecPnt1, 1, 0);
  grid->addWidget(DecPnt2, 1, 1);
  grid->addWidget(LeadZeros1, 2, 0, 1, 2);
  grid->addWidget(PosSign1, 3, 0, 1, 2);
  grid->addWidget(Timeout1, 4, 0);
  grid->addWidget(Timeout2, 4, 1);
  grid->addWidget(Range1, 5, 0);
  grid->addWidget(Range2, 5, 1);
  grid->setColumnMinimumWidth(1, 200);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(Abbruch);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);

  new NotationPreview(Timeout2, NotationKind::AnswerTemplate, nullptr);
  new NotationPreview(Range2, NotationKind::AnswerTemplate, nullptr);

  connect(OKButton, &QPushButton::clicked, this, &MeaVal_Settings::OKButton_Click);
  connect(Abbruch, &QPushButton::clicked, this, &MeaVal_Settings::Abbruch_Click);
  Form_Load();
}

void MeaVal_Settings::Form_Load() {
  SetDialogColour(this);
  setWindowTitle("  " + LanguageText(550));
  Numofchar1->setText(LanguageText(551));
  DecPnt1->setText(LanguageText(552));
  LeadZeros1->setText(LanguageText(554));
  PosSign1->setText(LanguageText(555));
  Timeout1->setText(LanguageText(556));
  Range1->setText(LanguageText(557));
  OKButton->setText(LanguageText(501));
  Abbruch->setText(LanguageText(502));

  DecPnt2->clear();
  DecPnt2->addItem(LanguageText(552));
  DecPnt2->addItem(LanguageText(553));
  Numofchar2->setText(QString::number(Settings.NumOfChar));
  DecPnt2->setCurrentIndex(Settings.DecPnt);
  LeadZeros1->setChecked(Settings.LeadZeros != 0);
  PosSign1->setChecked(Settings.PosSign != 0);
  Timeout2->setText(FromEngineText(Settings.Timeout));
  Range2->setText(FromEngineText(Settings.Range));
}

void MeaVal_Settings::OKButton_Click() {
  // Blanks, tabs and line ends anywhere in the text are ignored.
  std::string text = ToEngineText(Numofchar2->text());
  std::erase_if(text, [](char c) { return c == '\n' || c == '\r'; });
  std::optional<int16_t> count = RoundToInt16(NumericValue(text, Blanks::Anywhere));
  if (!count) {
    QMessageBox::warning(this, windowTitle(),
                         "The number of characters must lie between -32768 and 32767.");
    Numofchar2->setFocus();
    return;
  }
  Settings.NumOfChar = *count;
  // A DecPnt outside the list shows no entry; it is kept until the user picks one.
  if (DecPnt2->currentIndex() >= 0) Settings.DecPnt = static_cast<int16_t>(DecPnt2->currentIndex());
  Settings.LeadZeros = LeadZeros1->isChecked() ? 1 : 0;
  Settings.PosSign = PosSign1->isChecked() ? 1 : 0;
  Settings.Timeout = ToEngineText(Timeout2->text());
  Settings.Range = ToEngineText(Range2->text());
  accept();
}

void MeaVal_Settings::Abbruch_Click() { reject(); }
