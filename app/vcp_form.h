// The main window: drives the program's run (VcpSession) from its events and timers and shows
// what the run asks for. It lives in the tray while the program serves.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>

#include "main_view.h"
#include "value_recorder.h"
#include "vcp_session.h"

class ITrayIcon;
class PortEvents;
class QComboBox;
class QSocketNotifier;
class QLabel;
class QListWidget;
class QPushButton;

// What the main window works with; every reference must outlive the window.
struct VcpServices {
  IDeviceLibrary& device;
  std::array<IVirtualPort*, 4> ports;
  VcpSession::PortProbe probe;
  IKeyState& keys;
  ITrayIcon& tray;
  // What the serving waits for (the ports' descriptors); null: served by the poll timer only.
  PortEvents* events = nullptr;
  // The value history and MQTT publisher the session announces its values to; it must outlive
  // the window. Null: values go to nobody.
  ValueRecorder* recorder = nullptr;
};

// The window deletes itself when it is unloaded (closed). The program ends then.
class VCP_FORM : public QWidget, public IMainView {
  Q_OBJECT

 public:
  explicit VCP_FORM(VcpServices services, QWidget* parent = nullptr);
  ~VCP_FORM() override;

  // The start-up of the program with this window shown: caption and icons, then the session's
  // start-up. Returns true when the program serves; false when start-up ended early (the window
  // then unloads itself 250 ms later). Runs once.
  bool Form_Initialize();

  // True once the window has gone into the tray (or, without a tray, to the task bar) or has
  // started to unload: what the start-up form waits for.
  bool HasLeftScreen() const { return left_screen_; }
  VcpSession& session() { return session_; }

  QTimer Timer1;  // poll timer, 10 ms
  QTimer Timer2;  // close timer, 250 ms, one-shot
  QTimer Timer3;  // re-minimise timer after a wrong password, 250 ms, one-shot

  QLabel* Image1;
  QLabel* Image2;
  QLabel* Language1;
  QComboBox* Language;
  QLabel* COMPort1;
  QComboBox* COMPort2;
  QLabel* Label8;
  QLabel* Label9;
  QLabel* PortFolderLabel;
  QPushButton* SetupButton;
  QPushButton* Infobutton;
  QPushButton* Tray;
  QPushButton* Quit;
  QLabel* Label2;
  QLabel* Label3;
  QListWidget* List1;
  QListWidget* List2;

  void COMPort2_Click(int index);
  void SetupButton_Click();
  void Quit_Click();
  void Tray_Click();
  void Language_Click(int index);
  void Infobutton_Click();
  // A left-button press on the tray icon: restores the window, behind the password prompt
  // when a password is set.
  void Tray_LeftClick();
  void Timer1_Timer();
  void Timer2_Timer();
  void Timer3_Timer();

  // IMainView
  void ShowMessage(int textNumber, const std::string& title) override;
  void ShowPlainMessage(const std::string& text) override;
  int32_t WindowHandle() override;
  void ShowLogLists(bool visible) override;
  void ApplyLanguageTexts() override;
  void SetDeviceLabel(const std::string& text) override;
  void UpdateMonitorLists(const MonitorList& commands, const MonitorList& answers) override;
  void SetQuitAndPortSelectorEnabled(bool enabled) override;
  void SetPortSelectorEnabled(bool enabled) override;
  void SetPortSelectorItems(const std::vector<std::string>& items) override;
  void SelectPortSelectorEntry(int index) override;
  void SetPortSelectorText(const std::string& text) override;
  void SetPortIcon(int slot) override;
  void RefreshTrayIcon() override;
  void RemoveTrayIcon() override;
  void MinimiseToTray() override;
  void ShowInfoWindow() override;
  void ShowSetupWindow() override;
  void ShowSeveralPortsDialog() override;
  void RequestClose() override;
  void WaitAndProcessEvents(int ms) override;

 signals:
  // The window went into the tray or the task bar, or is unloading.
  void LeftScreen();

 protected:
  // Form_QueryUnload: any close request runs the shutdown sequence (once) and unloads.
  void closeEvent(QCloseEvent* event) override;
  // Form_Resize: minimising puts the window into the tray.
  void changeEvent(QEvent* event) override;

 private:
  class Sequence;
  void SetCaptions(bool withInfobutton);
  void Minimise();
  void AddTrayIcon();
  void RestoreBehindPassword();
  void MarkLeftScreen();
  void CloseWhenIdle();
  // A port's client wrote, came or went: served at once, between the poll timer's ticks.
  void PortEvents_Ready();
  void ArmPortEvents();

  IDeviceLibrary& device_;
  ITrayIcon& tray_;
  ValueRecorder* recorder_;
  VcpSession session_;
  PortEvents* events_;
  QSocketNotifier* events_notifier_ = nullptr;
  int sequence_depth_ = 0;
  bool close_pending_ = false;
  bool left_screen_ = false;
  bool initialised_ = false;
  bool restoring_ = false;
  int shown_port_icon_ = 0;
};
