// The setup window: command format, input table, own command format, foot switch, password,
// named configurations and the device library's own set-up.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <vector>

#include "device_library.h"
#include "keyboard_move.h"
#include "presets.h"

class InputTable;
class NotationPreview;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// Shows the setup window modally over parent. All edits act on the live Settings; OK stores the
// window's fields into Settings and writes the settings file (a failing write is reported in a
// message, Settings keep the edits); cancel, Escape or the window frame restore Settings as
// they were when the window opened, whatever happened in it and its dialogs. Returns true when
// the window was closed with OK.
bool ShowSetupWindow(QWidget* parent, IDeviceLibrary& library);

class SetupWindow : public QDialog {
  Q_OBJECT

 public:
  // Loads the window: takes SettingsBackup, fills every control and starts Timer1.
  explicit SetupWindow(IDeviceLibrary& library, QWidget* parent = nullptr);

  static constexpr int kChannelRows = 7;

  QLabel* DDK_INFO;
  QPushButton* DDK_SETUP;
  QLabel* CommandFormat;
  QComboBox* Com_Format;
  InputTable* Inputs;
  std::array<QLabel*, 3> Ch_Command_Label{};
  std::array<QCheckBox*, kChannelRows> Ch_Command_Cb{};
  std::array<QLineEdit*, kChannelRows> Ch_Command_All{};
  std::array<QLineEdit*, kChannelRows> Ch_Command_Single{};
  QLabel* OK_STRING1;
  QLineEdit* OK_STRING2;
  QLabel* Answer_Label;
  QLineEdit* Answer_String;
  QPushButton* Answer_Setup;
  QLabel* Add_Settings_Label;
  QPushButton* Add_Settings;
  QGroupBox* Footswitches;
  std::array<QLabel*, 4> FS_LABEL{};
  QComboBox* FS_SELECT;
  std::array<QLineEdit*, 3> FS_COMMAND{};
  QCheckBox* PWOnOff;
  QLineEdit* PWord;
  QPushButton* LoadCfg;
  QPushButton* SaveCfg;
  QPushButton* OKButton;
  QPushButton* Abbruch;
  QTimer* Timer1;

  // Set while the window fills its controls: format list changes and scroll bar movements
  // are then ignored.
  bool Loading = false;

  // Where Timer1_Timer reads the held keys; the window's own key tracker unless replaced.
  std::function<MoveKeys()> KeyState;

  // Event handlers, called by the controls' signals (and by tests). OK takes over the window's
  // fields and closes; a settings file that cannot be written is reported first.
  void OKButton_Click();
  void Abbruch_Click();
  // Open the sub-dialogs modally, with Timer1 paused.
  void Add_Settings_Click();
  void Answer_Setup_Click();
  // Opens the device library's own set-up, then reads the inputs and foot switches again and
  // gives the inputs the default addresses of the current format.
  void DDK_SETUP_Click();
  // Applies the chosen format. The own command format asks for the service code first; a
  // wrong code shows the previous format again and changes nothing.
  void Com_Format_Click();
  void PWOnOff_Click();
  // Moves the window by a third of its size per arrow key held with Alt.
  void Timer1_Timer();
  // Saves the window's state as "<name>.con". A name that is no plain file name, and a file
  // that cannot be written, are reported in a message; nothing is written then.
  void SaveCfg_Click();
  // Loads a configuration chosen in LoadConfig on top of Settings and shows it.
  void LoadCfg_Click();

  // Copy the own command format between Settings and the controls (only for the own format).
  void ShowCommands();
  void StoreCommands();
  // Gives the inputs the library reports now the defaults of Settings.CommandFormat.
  void AssignDefaultAddresses();

  // Cancel, Escape and the window frame all undo the window's edits.
  void reject() override;

 private:
  void Form_Load();
  void SetCaptions();
  void BuildFootSwitchList();
  void SetOwnFormatVisible(bool visible);
  // Returns the format list position of Settings.CommandFormat; -1 when its preset file is
  // missing.
  int FormatPosition() const;
  // Selects a format list entry without applying it.
  void SelectFormatEntry(int position);
  // Selects the entry of Settings.CommandFormat, the own format when its preset file is
  // missing; returns whether the own-format entry was selected.
  bool SelectCurrentFormat();
  void RefreshPreviews();
  void TakeOverWindowFields();
  // A warning message box; the move timer is stopped while it is open.
  void Warn(const QString& title, const QString& text);

  IDeviceLibrary& library_;
  std::vector<PresetEntry> catalogue_;
  std::vector<NotationPreview*> previews_;
};
