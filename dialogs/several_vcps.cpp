#include "several_vcps.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <optional>
#include <string>

#include "endpoint_config.h"
#include "settings_record.h"
#include "ui_text.h"

namespace {

std::array<int16_t*, 4> PortSettings() {
  return {&Settings.VcpCom1, &Settings.VcpCom2, &Settings.VcpCom3, &Settings.VcpCom4};
}

std::array<int16_t*, 4> HotKeySettings() {
  return {&Settings.HotKey1, &Settings.HotKey2, &Settings.HotKey3, &Settings.HotKey4};
}

}  // namespace

QString HotKeyEntryText(int index) {
  static const char* const kModifiers[] = {"F", "Ctrl+F", "Alt+F", "Alt+Ctrl+F"};
  if (index == 0) return "---";
  if (index < 1 || index >= kHotKeyEntries) return {};
  return QString(kModifiers[(index - 1) / 12]) + QString::number((index - 1) % 12 + 1);
}

SeveralVCPs::SeveralVCPs(const ComPortTable& comPortExists, QWidget* parent)
    : QDialog(parent),
      Label1(new QLabel(this)),
      Label2(new QLabel(this)),
      SharedPorts(new QCheckBox(this)),
      EveryPort(new QCheckBox(this)),
      OKButton(new QPushButton(this)),
      CancelButton(new QPushButton(this)),
      exists_(comPortExists) {
  setObjectName("SeveralVCPs");
  Label1->setObjectName("Label1");
  Label2->setObjectName("Label2");
  OKButton->setObjectName("OKButton");
  CancelButton->setObjectName("CancelButton");
  auto* grid = new QGridLayout;
  grid->addWidget(Label1, 0, 1);
  grid->addWidget(Label2, 0, 2);
  for (int r = 0; r < 4; ++r) {
    VCPOnOff[r] = new QCheckBox(QString::number(r + 1), this);
    VCPSelect[r] = new QComboBox(this);
    KComb[r] = new QComboBox(this);
    NetworkPort[r] = new QLabel(this);
    NetworkPort[r]->setObjectName(QString("NetworkPort_%1").arg(r));
    VCPOnOff[r]->setObjectName(QString("VCPOnOff_%1").arg(r));
    VCPSelect[r]->setObjectName(QString("VCPSelect_%1").arg(r));
    KComb[r]->setObjectName(QString("KComb_%1").arg(r));
    VCPSelect[r]->setMinimumWidth(110);
    KComb[r]->setMinimumWidth(120);
    grid->addWidget(VCPOnOff[r], r + 1, 0);
    grid->addWidget(VCPSelect[r], r + 1, 1);
    grid->addWidget(KComb[r], r + 1, 2);
    grid->addWidget(NetworkPort[r], r + 1, 3);
    connect(VCPOnOff[r], &QCheckBox::clicked, this, [this, r] { VCPOnOff_Click(r); });
  }
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  SharedPorts->setObjectName("SharedPorts");
  layout->addLayout(grid);
  layout->addWidget(SharedPorts);
  EveryPort->setObjectName("EveryPort");
  layout->addWidget(EveryPort);
  layout->addLayout(buttons);
  connect(OKButton, &QPushButton::clicked, this, &SeveralVCPs::OKButton_Click);
  connect(CancelButton, &QPushButton::clicked, this, &SeveralVCPs::CancelButton_Click);
}

int SeveralVCPs::ComToListIndex(int com) const {
  int position = 0;
  for (int n = 1; n <= 16; ++n) {
    if (exists_[n] != 0) continue;
    if (n == com) return position;
    ++position;
  }
  return -1;
}

int SeveralVCPs::ListIndexToCom(int index) const {
  int position = 0;
  for (int n = 1; n <= 16; ++n) {
    if (exists_[n] != 0) continue;
    if (position == index) return n;
    ++position;
  }
  return 0;
}

void SeveralVCPs::showEvent(QShowEvent* event) {
  Form_Load();
  QDialog::showEvent(event);
}

void SeveralVCPs::Form_Load() {
  SetDialogColour(this);
  setWindowTitle("  ");
  Label1->setText(LanguageText(101));
  Label2->setText(LanguageText(130));
  OKButton->setText(LanguageText(501));
  CancelButton->setText(LanguageText(502));
  for (int r = 0; r < 4; ++r) {
    VCPSelect[r]->clear();
    for (int n = 1; n <= 16; ++n) {
      if (exists_[n] == 0) VCPSelect[r]->addItem("COM" + QString::number(n));
    }
    KComb[r]->clear();
    for (int i = 0; i < kHotKeyEntries; ++i) KComb[r]->addItem(HotKeyEntryText(i));
  }
  const auto ports = PortSettings();
  const auto hotKeys = HotKeySettings();
  for (int r = 0; r < 4; ++r) {
    const bool on = *ports[r] >= 1;
    VCPOnOff[r]->setChecked(on);
    VCPSelect[r]->setEnabled(on);
    KComb[r]->setEnabled(on);
    VCPSelect[r]->setCurrentIndex(ComToListIndex(*ports[r]));
    const int hotKey = *hotKeys[r];
    KComb[r]->setCurrentIndex(hotKey >= 0 && hotKey < kHotKeyEntries ? hotKey : -1);
    std::optional<NetworkEndpointConfig> network;
    std::string reason;
    if (!NetworkEndpointFromSettings(Settings, r + 1, network, reason)) {
      NetworkPort[r]->setText("network: invalid");
      NetworkPort[r]->setToolTip(QString::fromStdString(reason));
    } else {
      NetworkPort[r]->setText(network ? "network: " + QString::fromStdString(EndpointText(*network))
                                      : QString());
      NetworkPort[r]->setToolTip("Set with velk-vcp-config net");
    }
  }
  VCPOnOff[0]->setEnabled(false);
  SharedPorts->setText("Several programs may hold one port at once");
  SharedPorts->setChecked(Settings.SharedPorts != 0);
  EveryPort->setText("Answer requests on every port");
  EveryPort->setToolTip(
      "Each port's client gets the answers to its own commands at any time; foot switch and "
      "data keys still go to the served port only");
  EveryPort->setChecked(Settings.AnswerEveryPort != 0);
}

void SeveralVCPs::VCPOnOff_Click(int index) {
  const bool on = VCPOnOff[index]->isChecked();
  VCPSelect[index]->setEnabled(on);
  KComb[index]->setEnabled(on);
}

void SeveralVCPs::OKButton_Click() {
  std::array<int, 4> chosen{};
  for (int r = 0; r < 4; ++r) {
    chosen[r] = VCPOnOff[r]->isChecked() ? VCPSelect[r]->currentIndex() : -1;
    if (VCPOnOff[r]->isChecked() && chosen[r] < 0) return RefusePort(r + 1);
  }
  for (int r = 0; r < 3; ++r) {
    for (int s = r + 1; s < 4; ++s) {
      if (chosen[r] >= 0 && chosen[r] == chosen[s]) return RefusePort(s + 1);
    }
  }
  const auto ports = PortSettings();
  const auto hotKeys = HotKeySettings();
  for (int r = 0; r < 4; ++r) {
    *ports[r] = static_cast<int16_t>((VCPOnOff[r]->isChecked() ? 1 : 0) *
                                     ListIndexToCom(VCPSelect[r]->currentIndex()));
    *hotKeys[r] = static_cast<int16_t>(KComb[r]->currentIndex());
  }
  Settings.SharedPorts = SharedPorts->isChecked() ? 1 : 0;
  Settings.AnswerEveryPort = EveryPort->isChecked() ? 1 : 0;
  accept();
}

void SeveralVCPs::CancelButton_Click() { reject(); }

void SeveralVCPs::RefusePort(int portNumber) {
  QMessageBox::critical(this, LanguageText(111), "COM-Port No." + QString::number(portNumber));
}
