#include "additional_settings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

#include "notation_preview.h"
#include "settings_record.h"
#include "text_box.h"
#include "ui_text.h"

AdditionalSettings::AdditionalSettings(QWidget* parent)
    : QDialog(parent),
      CommandTab(new QGroupBox(this)),
      CommandStr(new QLabel(CommandTab)),
      Answer(new QLabel(CommandTab)),
      UndefCommand1(new QLabel(this)),
      UndefCommand2(NewTextBox(this, "UndefCommand2")),
      EndChar1(new QLabel(this)),
      EndChar2(NewTextBox(this, "EndChar2")),
      SpecSettings(new QGroupBox(this)),
      Blanks(new QCheckBox(SpecSettings)),
      MultipleCommands(new QCheckBox(SpecSettings)),
      History(new QCheckBox(SpecSettings)),
      Separator1(new QLabel(SpecSettings)),
      Separator2(NewTextBox(SpecSettings, "Separator2")),
      OKButton(new QPushButton(this)),
      Abbruch(new QPushButton(this)) {
  setObjectName("AdditionalSettings");
  Blanks->setObjectName("Blanks");
  MultipleCommands->setObjectName("MultipleCommands");
  History->setObjectName("History");
  OKButton->setObjectName("OKButton");
  Abbruch->setObjectName("Abbruch");
  OKButton->setDefault(true);

  auto* table = new QGridLayout(CommandTab);
  table->setColumnMinimumWidth(0, 200);
  table->setColumnMinimumWidth(1, 200);
  table->addWidget(CommandStr, 0, 0);
  table->addWidget(Answer, 0, 1);
  for (int i = 0; i < 10; ++i) {
    CS[i] = NewTextBox(CommandTab, QString("CS%1").arg(i));
    CA[i] = NewTextBox(CommandTab, QString("CA%1").arg(i));
    table->addWidget(CS[i], i + 1, 0);
    table->addWidget(CA[i], i + 1, 1);
  }

  auto* texts = new QGridLayout;
  texts->addWidget(UndefCommand1, 0, 0);
  texts->addWidget(UndefCommand2, 0, 1);
  texts->addWidget(EndChar1, 1, 0);
  texts->addWidget(EndChar2, 1, 1);

  auto* flags = new QGridLayout(SpecSettings);
  flags->addWidget(Blanks, 0, 0, 1, 2);
  flags->addWidget(MultipleCommands, 1, 0, 1, 2);
  flags->addWidget(Separator1, 2, 0);
  flags->addWidget(Separator2, 2, 1);
  flags->addWidget(History, 3, 0, 1, 2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(Abbruch);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(CommandTab);
  layout->addLayout(texts);
  layout->addWidget(SpecSettings);
  layout->addLayout(buttons);

  // The previews follow the Blanks box as it is ticked, before OK stores it.
  auto blanksOn = [this] { return Blanks->isChecked(); };
  std::vector<NotationPreview*> previews;
  for (int i = 0; i < 10; ++i) {
    previews.push_back(new NotationPreview(CS[i], NotationKind::Command, blanksOn));
    previews.push_back(new NotationPreview(CA[i], NotationKind::Answer, blanksOn));
  }
  for (QLineEdit* box : {UndefCommand2, EndChar2, Separator2}) {
    new NotationPreview(box, NotationKind::Answer, blanksOn);
  }
  connect(Blanks, &QCheckBox::toggled, this, [previews] {
    for (NotationPreview* preview : previews) preview->Refresh();
  });

  connect(OKButton, &QPushButton::clicked, this, &AdditionalSettings::OKButton_Click);
  connect(Abbruch, &QPushButton::clicked, this, &AdditionalSettings::Abbruch_Click);
  connect(MultipleCommands, &QCheckBox::clicked, this, &AdditionalSettings::MultipleCommands_Click);
  Form_Load();
}

void AdditionalSettings::Form_Load() {
  SetDialogColour(this);
  setWindowTitle("  " + LanguageText(570));
  CommandTab->setTitle("  " + LanguageText(571) + "  ");
  CommandStr->setText("  " + LanguageText(572));
  Answer->setText("  " + LanguageText(573));
  UndefCommand1->setText(LanguageText(574));
  EndChar1->setText(LanguageText(575));
  SpecSettings->setTitle("  " + LanguageText(580) + "  ");
  Blanks->setText(LanguageText(581));
  MultipleCommands->setText(LanguageText(582));
  Separator1->setText(LanguageText(583));
  History->setText(LanguageText(584));
  OKButton->setText(LanguageText(501));
  Abbruch->setText(LanguageText(502));

  for (int i = 0; i < 10; ++i) {
    CS[i]->setText(FromEngineText(Settings.TabCommand[i + 1]));
    CA[i]->setText(FromEngineText(Settings.TabAnswer[i + 1]));
  }
  UndefCommand2->setText(FromEngineText(Settings.UndefCommand));
  EndChar2->setText(FromEngineText(Settings.EndChar));
  Blanks->setChecked(Settings.Blanks != 0);
  MultipleCommands->setChecked(Settings.MultipleCommands != 0);
  Separator2->setText(FromEngineText(Settings.Separator));
  History->setChecked(Settings.HistoryOn != 0);
  MultipleCommands_Click();
}

void AdditionalSettings::MultipleCommands_Click() {
  Separator2->setEnabled(MultipleCommands->isChecked());
}

void AdditionalSettings::OKButton_Click() {
  for (int i = 0; i < 10; ++i) {
    Settings.TabCommand[i + 1] = ToEngineText(CS[i]->text());
    Settings.TabAnswer[i + 1] = ToEngineText(CA[i]->text());
  }
  Settings.UndefCommand = ToEngineText(UndefCommand2->text());
  Settings.EndChar = ToEngineText(EndChar2->text());
  Settings.Blanks = Blanks->isChecked() ? 1 : 0;
  Settings.MultipleCommands = MultipleCommands->isChecked() ? 1 : 0;
  Settings.Separator = ToEngineText(Separator2->text());
  Settings.HistoryOn = History->isChecked() ? 1 : 0;
  accept();
}

void AdditionalSettings::Abbruch_Click() { reject(); }
