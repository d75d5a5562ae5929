#include "setup_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "additional_settings.h"
#include "configuration_name.h"
#include "default_addresses.h"
#include "device_items.h"
#include "format_choice.h"
#include "input_table.h"
#include "key_value_file.h"
#include "language_file.h"
#include "load_config.h"
#include "meaval_settings.h"
#include "move_key_tracker.h"
#include "notation_preview.h"
#include "password_window.h"
#include "settings_file.h"
#include "settings_record.h"
#include "text_box.h"
#include "ui_text.h"

namespace {

constexpr const char* kServiceCode = "KWZQ";

QString TrimmedOfSpaces(const QString& text) {
  return FromEngineText(std::string(TrimSpaces(ToEngineText(text))));
}

}  // namespace

bool ShowSetupWindow(QWidget* parent, IDeviceLibrary& library) {
  SetupWindow window(library, parent);
  return window.exec() == QDialog::Accepted;
}

SetupWindow::SetupWindow(IDeviceLibrary& library, QWidget* parent)
    : QDialog(parent),
      DDK_INFO(new QLabel(this)),
      DDK_SETUP(new QPushButton(this)),
      CommandFormat(new QLabel(this)),
      Com_Format(new QComboBox(this)),
      Inputs(new InputTable(library, Loading, this)),
      OK_STRING1(new QLabel(this)),
      OK_STRING2(NewTextBox(this, "OK_STRING2")),
      Answer_Label(new QLabel(this)),
      Answer_String(NewTextBox(this, "Answer_String")),
      Answer_Setup(new QPushButton(this)),
      Add_Settings_Label(new QLabel(this)),
      Add_Settings(new QPushButton(this)),
      Footswitches(new QGroupBox(this)),
      FS_SELECT(new QComboBox(Footswitches)),
      PWOnOff(new QCheckBox(this)),
      PWord(NewTextBox(this, "PWord")),
      LoadCfg(new QPushButton(this)),
      SaveCfg(new QPushButton(this)),
      OKButton(new QPushButton(this)),
      Abbruch(new QPushButton(this)),
      Timer1(new QTimer(this)),
      library_(library) {
  setObjectName("SetupWindow");
  Com_Format->setObjectName("Com_Format");
  FS_SELECT->setObjectName("FS_SELECT");
  PWOnOff->setObjectName("PWOnOff");
  OKButton->setObjectName("OKButton");
  Abbruch->setObjectName("Abbruch");
  OKButton->setDefault(true);
  Timer1->setInterval(100);
  auto* tracker = new MoveKeyTracker(this);
  KeyState = [tracker] { return tracker->Keys(); };

  auto* driver = new QHBoxLayout;
  driver->addWidget(DDK_INFO, 1);
  driver->addWidget(DDK_SETUP);
  auto* format = new QHBoxLayout;
  format->addWidget(CommandFormat);
  format->addWidget(Com_Format, 1);

  auto* channels = new QGridLayout;
  for (int i = 0; i < 3; ++i) {
    Ch_Command_Label[i] = new QLabel(this);
    channels->addWidget(Ch_Command_Label[i], 0, i);
  }
  for (int i = 0; i < kChannelRows; ++i) {
    Ch_Command_Cb[i] = new QCheckBox(QString::number(i + 1), this);
    Ch_Command_Cb[i]->setObjectName(QString("Ch_Command_Cb%1").arg(i));
    Ch_Command_All[i] = NewTextBox(this, QString("Ch_Command_All%1").arg(i));
    Ch_Command_Single[i] = NewTextBox(this, QString("Ch_Command_Single%1").arg(i));
    channels->addWidget(Ch_Command_Cb[i], i + 1, 0);
    channels->addWidget(Ch_Command_All[i], i + 1, 1);
    channels->addWidget(Ch_Command_Single[i], i + 1, 2);
  }
  channels->addWidget(OK_STRING1, kChannelRows + 1, 0);
  channels->addWidget(OK_STRING2, kChannelRows + 1, 1, 1, 2);
  channels->addWidget(Answer_Label, kChannelRows + 2, 0);
  channels->addWidget(Answer_String, kChannelRows + 2, 1);
  channels->addWidget(Answer_Setup, kChannelRows + 2, 2);
  channels->addWidget(Add_Settings_Label, kChannelRows + 3, 0, 1, 2);
  channels->addWidget(Add_Settings, kChannelRows + 3, 2);
  channels->setColumnMinimumWidth(1, 160);
  channels->setColumnMinimumWidth(2, 160);
  channels->setRowStretch(kChannelRows + 4, 1);

  auto* footSwitch = new QGridLayout(Footswitches);
  for (int i = 0; i < 4; ++i) {
    FS_LABEL[i] = new QLabel(Footswitches);
    footSwitch->addWidget(FS_LABEL[i], i, 0);
  }
  footSwitch->addWidget(FS_SELECT, 0, 1);
  for (int i = 0; i < 3; ++i) {
    FS_COMMAND[i] = NewTextBox(Footswitches, QString("FS_COMMAND%1").arg(i));
    footSwitch->addWidget(FS_COMMAND[i], i + 1, 1);
  }
  footSwitch->setColumnStretch(1, 1);

  auto* password = new QHBoxLayout;
  password->addWidget(PWOnOff);
  password->addWidget(PWord, 1);

  auto* left = new QVBoxLayout;
  left->addLayout(driver);
  left->addLayout(format);
  left->addWidget(Inputs);
  left->addWidget(Footswitches);
  left->addLayout(password);
  auto* columns = new QHBoxLayout;
  columns->addLayout(left, 3);
  columns->addLayout(channels, 2);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(LoadCfg);
  buttons->addWidget(SaveCfg);
  buttons->addStretch();
  buttons->addWidget(OKButton);
  buttons->addWidget(Abbruch);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(buttons);

  auto blanksOn = [] { return Settings.Blanks != 0; };
  for (int i = 0; i < kChannelRows; ++i) {
    previews_.push_back(new NotationPreview(Ch_Command_All[i], NotationKind::Command, blanksOn));
    previews_.push_back(new NotationPreview(Ch_Command_Single[i], NotationKind::Command, blanksOn));
  }
  previews_.push_back(new NotationPreview(FS_COMMAND[0], NotationKind::Command, blanksOn));
  new NotationPreview(FS_COMMAND[1], NotationKind::Answer, nullptr);
  new NotationPreview(FS_COMMAND[2], NotationKind::Answer, nullptr);
  new NotationPreview(OK_STRING2, NotationKind::Answer, nullptr);
  new NotationPreview(Answer_String, NotationKind::AnswerTemplate, nullptr);

  connect(OKButton, &QPushButton::clicked, this, &SetupWindow::OKButton_Click);
  connect(Abbruch, &QPushButton::clicked, this, &SetupWindow::Abbruch_Click);
  connect(Add_Settings, &QPushButton::clicked, this, &SetupWindow::Add_Settings_Click);
  connect(Answer_Setup, &QPushButton::clicked, this, &SetupWindow::Answer_Setup_Click);
  connect(DDK_SETUP, &QPushButton::clicked, this, &SetupWindow::DDK_SETUP_Click);
  connect(Com_Format, &QComboBox::currentIndexChanged, this, &SetupWindow::Com_Format_Click);
  connect(PWOnOff, &QCheckBox::clicked, this, &SetupWindow::PWOnOff_Click);
  connect(SaveCfg, &QPushButton::clicked, this, &SetupWindow::SaveCfg_Click);
  connect(LoadCfg, &QPushButton::clicked, this, &SetupWindow::LoadCfg_Click);
  connect(Timer1, &QTimer::timeout, this, &SetupWindow::Timer1_Timer);
  Form_Load();
}

void SetupWindow::Form_Load() {
  Loading = true;
  SettingsBackup = Settings;
  SetCaptions();

  catalogue_ = PresetCatalogue(LanguageTexts[521]);
  Com_Format->clear();
  for (const PresetEntry& entry : catalogue_) Com_Format->addItem(FromEngineText(entry.name));
  SetOwnFormatVisible(SelectCurrentFormat());

  Loading = false;
  Inputs->PrepareInputRows();
  Inputs->ShowInputRows();
  ShowCommands();
  BuildFootSwitchList();

  PWOnOff->setChecked(!TrimmedOfSpaces(FromEngineText(Settings.Password)).isEmpty());
  PWord->setText(TrimmedOfSpaces(FromEngineText(Settings.Password)));
  PWOnOff_Click();
  Timer1->start();
}

void SetupWindow::SetCaptions() {
  SetDialogColour(this);
  SetDialogColour(Footswitches);
  setWindowTitle("  " + LanguageText(500));
  DDK_INFO->setText("\n     " + LanguageText(510));
  DDK_SETUP->setText(LanguageText(511));
  CommandFormat->setText("\n     " + LanguageText(520));
  Inputs->SetCaptions();
  for (int i = 0; i < 3; ++i) Ch_Command_Label[i]->setText("  " + LanguageText(540 + i));
  OK_STRING1->setText("  " + LanguageText(559));
  Answer_Label->setText("  " + LanguageText(573));
  Answer_Setup->setText(LanguageText(550));
  Add_Settings_Label->setText("  " + LanguageText(570));
  Add_Settings->setText(LanguageText(511));
  Footswitches->setTitle("  " + LanguageText(560) + "  ");
  for (int i = 0; i < 4; ++i) FS_LABEL[i]->setText("  " + LanguageText(560 + i));
  PWOnOff->setText("Password");
  LoadCfg->setText(LanguageText(201));
  SaveCfg->setText(LanguageText(200));
  OKButton->setText(LanguageText(501));
  Abbruch->setText(LanguageText(502));
}

int SetupWindow::FormatPosition() const {
  const int own = static_cast<int>(catalogue_.size()) - 1;
  if (Settings.CommandFormat == kOwnCommandFormat) return own;
  for (int i = 0; i < own; ++i) {
    if (catalogue_[i].number == Settings.CommandFormat) return i;
  }
  return -1;
}

void SetupWindow::SelectFormatEntry(int position) {
  const bool wasLoading = Loading;
  Loading = true;
  Com_Format->setCurrentIndex(position);
  Loading = wasLoading;
}

bool SetupWindow::SelectCurrentFormat() {
  const int own = static_cast<int>(catalogue_.size()) - 1;
  const int position = FormatPosition();
  SelectFormatEntry(position < 0 ? own : position);
  return position < 0 || position == own;
}

void SetupWindow::SetOwnFormatVisible(bool visible) {
  std::vector<QWidget*> own = {OK_STRING1,   OK_STRING2,   Answer_Label,      Answer_String,
                               Answer_Setup, Add_Settings, Add_Settings_Label};
  own.insert(own.end(), Ch_Command_Label.begin(), Ch_Command_Label.end());
  own.insert(own.end(), Ch_Command_Cb.begin(), Ch_Command_Cb.end());
  own.insert(own.end(), Ch_Command_All.begin(), Ch_Command_All.end());
  own.insert(own.end(), Ch_Command_Single.begin(), Ch_Command_Single.end());
  own.insert(own.end(), FS_LABEL.begin() + 1, FS_LABEL.end());
  own.insert(own.end(), FS_COMMAND.begin(), FS_COMMAND.end());
  for (QWidget* widget : own) widget->setVisible(visible);
}

void SetupWindow::BuildFootSwitchList() {
  FS_SELECT->clear();
  for (const std::string& entry : ListFootSwitches(library_, DeviceLanguage())) {
    FS_SELECT->addItem(FromEngineText(entry));
  }
  if (FS_SELECT->count() == 0) return;
  if (Settings.FsSelect < 0 || Settings.FsSelect >= FS_SELECT->count()) Settings.FsSelect = 0;
  FS_SELECT->setCurrentIndex(Settings.FsSelect);
}

void SetupWindow::ShowCommands() {
  if (Settings.CommandFormat != kOwnCommandFormat) return;
  for (int i = 0; i < kChannelRows; ++i) {
    Ch_Command_Cb[i]->setChecked(Settings.ChCommandOn[i + 1] != 0);
    Ch_Command_All[i]->setText(FromEngineText(Settings.ChCommandAll[i + 1]));
    Ch_Command_Single[i]->setText(FromEngineText(Settings.ChCommandSingle[i + 1]));
  }
  OK_STRING2->setText(FromEngineText(Settings.OkString));
  Answer_String->setText(FromEngineText(Settings.AnswerString));
  for (int i = 0; i < 3; ++i) FS_COMMAND[i]->setText(FromEngineText(Settings.FsCommand[i + 1]));
}

void SetupWindow::StoreCommands() {
  if (Settings.CommandFormat != kOwnCommandFormat) return;
  for (int i = 0; i < kChannelRows; ++i) {
    Settings.ChCommandOn[i + 1] = Ch_Command_Cb[i]->isChecked() ? 1 : 0;
    Settings.ChCommandAll[i + 1] = ToEngineText(Ch_Command_All[i]->text());
    Settings.ChCommandSingle[i + 1] = ToEngineText(Ch_Command_Single[i]->text());
  }
  Settings.OkString = ToEngineText(OK_STRING2->text());
  Settings.AnswerString = ToEngineText(Answer_String->text());
  for (int i = 0; i < 3; ++i) Settings.FsCommand[i + 1] = ToEngineText(FS_COMMAND[i]->text());
}

void SetupWindow::AssignDefaultAddresses() {
  ::AssignDefaultAddresses(Settings, ListDeviceInputs(library_, DeviceLanguage()));
}

void SetupWindow::RefreshPreviews() {
  for (NotationPreview* preview : previews_) preview->Refresh();
}

void SetupWindow::TakeOverWindowFields() {
  // With no foot switch listed there is no choice to take over.
  if (FS_SELECT->currentIndex() >= 0) {
    Settings.FsSelect = static_cast<int16_t>(FS_SELECT->currentIndex());
  }
  StoreCommands();
  Inputs->StoreInputRows();
}

void SetupWindow::OKButton_Click() {
  TakeOverWindowFields();
  if (!PWOnOff->isChecked()) PWord->clear();
  Settings.Password = std::string(TrimSpaces(ToEngineText(PWord->text())));
  Timer1->stop();
  if (!WriteSettings("")) {
    Warn(windowTitle(), QString("The settings could not be written to %1 (read-only folder or "
                                "disk full?). The new settings are in use until the program "
                                "ends.")
                            .arg(kSettingsFileName));
  }
  accept();
}

void SetupWindow::Abbruch_Click() { reject(); }

void SetupWindow::reject() {
  Settings = SettingsBackup;
  Timer1->stop();
  QDialog::reject();
}

void SetupWindow::Add_Settings_Click() {
  Timer1->stop();
  AdditionalSettings dialog(this);
  dialog.exec();
  RefreshPreviews();
  Timer1->start();
}

void SetupWindow::Answer_Setup_Click() {
  Timer1->stop();
  MeaVal_Settings dialog(this);
  dialog.exec();
  Timer1->start();
}

void SetupWindow::DDK_SETUP_Click() {
  Timer1->stop();
  library_.Device_Setup(DeviceLanguage(), kDdkFileName, static_cast<int32_t>(winId()));
  Timer1->start();
  AssignDefaultAddresses();
  Inputs->PrepareInputRows();
  Inputs->ShowInputRows();
  Settings.FsSelect = 0;
  BuildFootSwitchList();
}

void SetupWindow::Com_Format_Click() {
  if (Loading) return;
  const int position = Com_Format->currentIndex();
  if (position < 0 || position >= static_cast<int>(catalogue_.size())) return;
  const int16_t chosen = static_cast<int16_t>(catalogue_[position].number);
  if (chosen == kOwnCommandFormat) {
    Timer1->stop();
    PasswordWindow prompt(this);
    prompt.QuitVisible = false;
    prompt.exec();
    Timer1->start();
    if (prompt.PasswordEntry.toUpper() != kServiceCode) {
      SelectCurrentFormat();
      return;
    }
    SetOwnFormatVisible(true);
  } else {
    SetOwnFormatVisible(false);
  }
  ChooseCommandFormat(Settings, chosen, ListDeviceInputs(library_, DeviceLanguage()));
  Inputs->PrepareInputRows();
  Inputs->ShowInputRows();
  ShowCommands();
  RefreshPreviews();
}

void SetupWindow::Warn(const QString& title, const QString& text) {
  // Like every other window opened from here, a message box stops the move timer meanwhile.
  const bool moving = Timer1->isActive();
  Timer1->stop();
  QMessageBox::warning(this, title, text);
  if (moving) Timer1->start();
}

void SetupWindow::PWOnOff_Click() { PWord->setEnabled(PWOnOff->isChecked()); }

void SetupWindow::Timer1_Timer() {
  const MoveStep step =
      KeyboardMoveStep(KeyState(), frameGeometry().width(), frameGeometry().height());
  if (step.dx != 0 || step.dy != 0) move(pos() + QPoint(step.dx, step.dy));
}

void SetupWindow::SaveCfg_Click() {
  TakeOverWindowFields();
  Timer1->stop();
  bool answered = false;
  const QString typed =
      QInputDialog::getText(this, QString(), LanguageText(200), QLineEdit::Normal, {}, &answered);
  Timer1->start();
  const QString name = TrimmedOfSpaces(typed);
  if (!answered || name.isEmpty()) return;
  const std::string fileName = ToEngineText(name);
  if (!IsPlainConfigurationName(fileName)) {
    Warn(LanguageText(200),
         QString("\"%1\" cannot be used as a configuration name: a name must not "
                 "contain / or \\, start with a dot, contain \"..\" or control "
                 "characters.")
             .arg(name));
    return;
  }
  if (!WriteSettings(fileName + std::string(kConfigurationSuffix))) {
    Warn(LanguageText(200), QString("The configuration %1 could not be saved (read-only folder or "
                                    "disk full?).")
                                .arg(name));
  }
}

void SetupWindow::LoadCfg_Click() {
  Timer1->stop();
  LoadConfig chooser(this);
  chooser.exec();
  Timer1->start();
  if (chooser.ConfigFile.isEmpty()) return;
  if (!ReadSettings(ToEngineText(chooser.ConfigFile))) {
    Warn(LanguageText(201),
         QString("The configuration %1 could not be read completely.").arg(chooser.ConfigFile));
  }
  Loading = true;
  // A format whose preset file is missing here shows the configuration's device name.
  const int position = FormatPosition();
  Com_Format->setPlaceholderText(FromEngineText(Settings.DeviceName));
  SelectFormatEntry(position);
  SetOwnFormatVisible(Settings.CommandFormat == kOwnCommandFormat);
  Inputs->PrepareInputRows();
  Inputs->ShowInputRows();
  ShowCommands();
  BuildFootSwitchList();
  RefreshPreviews();
  Loading = false;
}
