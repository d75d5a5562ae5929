#include "input_table.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

#include "settings_record.h"
#include "text_box.h"
#include "ui_text.h"

InputTable::InputTable(IDeviceLibrary& library, bool& loading, QWidget* parent)
    : QGroupBox(parent),
      Status(new QLabel(this)),
      CommandAdr(new QLabel(this)),
      MeaValAdr(new QLabel(this)),
      Footswitch(new QLabel(this)),
      VScroll1(new QScrollBar(Qt::Vertical, this)),
      library_(library),
      loading_(loading) {
  setObjectName("Inputs");
  VScroll1->setObjectName("VScroll1");
  auto* grid = new QGridLayout(this);
  Address[0] = new QLabel(this);
  GauInput[0] = new QLabel(this);
  grid->addWidget(Address[0], 0, 0);
  grid->addWidget(GauInput[0], 0, 1);
  grid->addWidget(Status, 0, 2);
  grid->addWidget(CommandAdr, 0, 3);
  grid->addWidget(MeaValAdr, 0, 4);
  grid->addWidget(Footswitch, 0, 5);
  for (int k = 1; k <= kRows; ++k) {
    Address[k] = new QLabel(this);
    GauInput[k] = new QLabel(this);
    State[k] = new QCheckBox(this);
    CAdr[k] = NewTextBox(this, QString("CAdr%1").arg(k));
    MVAdr[k] = NewTextBox(this, QString("MVAdr%1").arg(k));
    FS[k] = new QCheckBox(this);
    Address[k]->setObjectName(QString("Address%1").arg(k));
    GauInput[k]->setObjectName(QString("GauInput%1").arg(k));
    State[k]->setObjectName(QString("State%1").arg(k));
    FS[k]->setObjectName(QString("FS%1").arg(k));
    CAdr[k]->setMaximumWidth(90);
    MVAdr[k]->setMaximumWidth(90);
    GauInput[k]->setMinimumWidth(150);
    grid->addWidget(Address[k], k, 0);
    grid->addWidget(GauInput[k], k, 1);
    grid->addWidget(State[k], k, 2);
    grid->addWidget(CAdr[k], k, 3);
    grid->addWidget(MVAdr[k], k, 4);
    grid->addWidget(FS[k], k, 5);
    connect(State[k], &QCheckBox::clicked, this, [this, k] { State_Click(k); });
  }
  grid->addWidget(VScroll1, 1, 6, kRows, 1);
  grid->setColumnStretch(1, 1);
  VScroll1->setPageStep(kRows);
  connect(VScroll1, &QScrollBar::valueChanged, this, &InputTable::VScroll1_Change);
}

void InputTable::SetCaptions() {
  SetDialogColour(this);
  setTitle("  " + LanguageText(530) + "  ");
  Address[0]->setText("  " + LanguageText(531));
  GauInput[0]->setText("  " + LanguageText(530));
  Status->setText("  " + LanguageText(532));
  CommandAdr->setText("  " + LanguageText(534));
  MeaValAdr->setText("  " + LanguageText(535));
  Footswitch->setText("  " + LanguageText(536));
  for (int k = 1; k <= kRows; ++k) {
    State[k]->setText(LanguageText(533));
    FS[k]->setText(LanguageText(533));
  }
}

void InputTable::PrepareInputRows() {
  loading_ = true;
  inputs_ = ListDeviceInputs(library_, DeviceLanguage());
  const int count = static_cast<int>(inputs_.size());
  VScroll1->setMinimum(1);
  VScroll1->setMaximum(count > kRows ? count - (kRows - 1) : 1);
  VScroll1->setValue(1);
  VScroll1->setEnabled(count > kRows);
  for (int k = 1; k <= kRows; ++k) ShowRow(k, k <= count);
  TopRow = 1;
  loading_ = false;
}

void InputTable::ShowRow(int k, bool visible) {
  Address[k]->clear();
  GauInput[k]->clear();
  State[k]->setChecked(false);
  CAdr[k]->clear();
  MVAdr[k]->clear();
  FS[k]->setChecked(false);
  for (QWidget* w : std::initializer_list<QWidget*>{Address[k], GauInput[k], State[k], CAdr[k],
                                                    MVAdr[k], FS[k]}) {
    w->setVisible(visible);
  }
}

void InputTable::ShowInputRows() {
  const int p = VScroll1->value();
  for (int k = 1; k <= kRows; ++k) {
    const size_t c = static_cast<size_t>(p + k - 1);
    if (c > inputs_.size()) continue;
    const DeviceInput& input = inputs_[c - 1];
    const InputRecord& record = Settings.Inputs[input.device][input.number];
    Address[k]->setText(QString("ADR%1.%2").arg(input.device).arg(input.number));
    GauInput[k]->setText("  " + FromEngineText(input.name));
    State[k]->setChecked(record.State != 0);
    CAdr[k]->setText(FromEngineText(record.CommandAdr));
    MVAdr[k]->setText(FromEngineText(record.MeaValAdr));
    FS[k]->setChecked(record.FS != 0);
    State_Click(k);
  }
}

void InputTable::StoreInputRows() {
  for (int k = 1; k <= kRows; ++k) {
    const size_t c = static_cast<size_t>(TopRow + k - 1);
    if (c > inputs_.size()) continue;
    const DeviceInput& input = inputs_[c - 1];
    InputRecord& record = Settings.Inputs[input.device][input.number];
    record.State = State[k]->isChecked() ? 1 : 0;
    record.CommandAdr = ToEngineText(CAdr[k]->text());
    record.MeaValAdr = ToEngineText(MVAdr[k]->text());
    record.FS = FS[k]->isChecked() ? 1 : 0;
  }
}

void InputTable::State_Click(int k) {
  const bool on = State[k]->isChecked();
  CAdr[k]->setEnabled(on);
  MVAdr[k]->setEnabled(on);
  FS[k]->setEnabled(on);
}

void InputTable::VScroll1_Change() {
  if (loading_) return;
  StoreInputRows();
  ShowInputRows();
  TopRow = VScroll1->value();
}
