#include "load_config.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "configuration_list.h"
#include "configuration_name.h"
#include "ui_text.h"

LoadConfig::LoadConfig(QWidget* parent)
    : QDialog(parent),
      List1(new QListWidget(this)),
      OKButton(new QPushButton(this)),
      CancelButton(new QPushButton(this)) {
  setObjectName("LoadConfig");
  List1->setObjectName("List1");
  OKButton->setObjectName("OKButton");
  CancelButton->setObjectName("CancelButton");
  OKButton->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(List1);
  layout->addLayout(buttons);

  connect(List1, &QListWidget::itemSelectionChanged, this, &LoadConfig::List1_Click);
  connect(List1, &QListWidget::itemDoubleClicked, this, &LoadConfig::OKButton_Click);
  connect(OKButton, &QPushButton::clicked, this, &LoadConfig::OKButton_Click);
  connect(CancelButton, &QPushButton::clicked, this, &LoadConfig::CancelButton_Click);
  Form_Load();
}

void LoadConfig::Form_Load() {
  SetDialogColour(this);
  setWindowTitle("  " + LanguageText(201));
  OKButton->setText(LanguageText(501));
  CancelButton->setText(LanguageText(502));
  List1->clear();
  for (const std::string& name : ListConfigurations()) List1->addItem(FromEngineText(name));
  List1->setCurrentRow(-1);
  OKButton->setEnabled(false);
}

void LoadConfig::List1_Click() {
  if (List1->currentRow() >= 0 && !List1->selectedItems().isEmpty()) OKButton->setEnabled(true);
}

void LoadConfig::OKButton_Click() {
  const QList<QListWidgetItem*> chosen = List1->selectedItems();
  if (chosen.isEmpty()) return;
  ConfigFile = chosen.front()->text() +
               QString::fromUtf8(kConfigurationSuffix.data(), kConfigurationSuffix.size());
  done(QDialog::Accepted);
}

void LoadConfig::CancelButton_Click() {
  ConfigFile.clear();
  done(QDialog::Rejected);
}

void LoadConfig::reject() { CancelButton_Click(); }
