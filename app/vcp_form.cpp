#include "vcp_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QThread>

#include "icon_art.h"
#include "info_window.h"
#include "language_file.h"
#include "monitor_list.h"
#include "next_run.h"
#include "password_window.h"
#include "port_events.h"
#include "port_folder.h"
#include "process_priority.h"
#include "program_identity.h"
#include "settings_changes.h"
#include "settings_record.h"
#include "setup_window.h"
#include "several_vcps.h"
#include "tray_icon.h"
#include "ui_text.h"

namespace {

constexpr int kWidth = 480;
constexpr int kHeightWithLists = 395;
constexpr int kHeightWithoutLists = 233;  // 3500 twips

void FillList(QListWidget* list, const MonitorList& lines) {
  list->clear();
  for (const std::string& line : lines.lines()) list->addItem(FromEngineText(line));
}

}  // namespace

// Marks a user-started sequence: a close request that arrives meanwhile waits for its end.
class VCP_FORM::Sequence {
 public:
  explicit Sequence(VCP_FORM& form) : form_(form) { ++form_.sequence_depth_; }
  ~Sequence() {
    if (--form_.sequence_depth_ == 0 && form_.close_pending_) form_.CloseWhenIdle();
  }

 private:
  VCP_FORM& form_;
};

VCP_FORM::VCP_FORM(VcpServices services, QWidget* parent)
    : QWidget(parent),
      Image1(new QLabel(this)),
      Image2(new QLabel(this)),
      Language1(new QLabel(this)),
      Language(new QComboBox(this)),
      COMPort1(new QLabel(this)),
      COMPort2(new QComboBox(this)),
      Label8(new QLabel(this)),
      Label9(new QLabel(this)),
      PortFolderLabel(new QLabel(this)),
      SetupButton(new QPushButton(this)),
      Infobutton(new QPushButton(this)),
      Tray(new QPushButton("In Traybar", this)),
      Quit(new QPushButton(this)),
      Label2(new QLabel(this)),
      Label3(new QLabel(this)),
      List1(new QListWidget(this)),
      List2(new QListWidget(this)),
      device_(services.device),
      tray_(services.tray),
      recorder_(services.recorder),
      session_(*this, services.device, services.ports, std::move(services.probe), services.keys),
      events_(services.events) {
  setObjectName("VCP_FORM");
  setAttribute(Qt::WA_DeleteOnClose);
  const std::pair<QWidget*, const char*> names[] = {{Image1, "Image1"},
                                                    {Image2, "Image2"},
                                                    {Language1, "Language1"},
                                                    {Language, "Language"},
                                                    {COMPort1, "COMPort1"},
                                                    {COMPort2, "COMPort2"},
                                                    {Label8, "Label8"},
                                                    {Label9, "Label9"},
                                                    {PortFolderLabel, "PortFolderLabel"},
                                                    {SetupButton, "SetupButton"},
                                                    {Infobutton, "Infobutton"},
                                                    {Tray, "Tray"},
                                                    {Quit, "Quit"},
                                                    {Label2, "Label2"},
                                                    {Label3, "Label3"},
                                                    {List1, "List1"},
                                                    {List2, "List2"}};
  for (const auto& [widget, name] : names) widget->setObjectName(name);

  Image1->setGeometry(10, 8, 260, 60);
  Image2->setGeometry(kWidth - 66, 8, 56, 56);
  Language1->setGeometry(10, 78, 170, 24);
  Language->setGeometry(190, 78, 150, 24);
  COMPort1->setGeometry(10, 106, 170, 24);
  COMPort2->setGeometry(190, 106, 150, 24);
  Label8->setGeometry(10, 134, 170, 24);
  Label9->setGeometry(190, 134, kWidth - 200, 24);
  PortFolderLabel->setGeometry(10, 160, kWidth - 20, 24);
  PortFolderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const int buttonWidth = (kWidth - 20 - 3 * 8) / 4;
  QPushButton* const buttons[] = {SetupButton, Infobutton, Tray, Quit};
  for (int i = 0; i < 4; ++i) {
    buttons[i]->setGeometry(10 + i * (buttonWidth + 8), 192, buttonWidth, 30);
  }
  const int listWidth = (kWidth - 30) / 2;
  Label2->setGeometry(10, 232, listWidth, 20);
  Label3->setGeometry(20 + listWidth, 232, listWidth, 20);
  List1->setGeometry(10, 254, listWidth, kHeightWithLists - 264);
  List2->setGeometry(20 + listWidth, 254, listWidth, kHeightWithLists - 264);
  setFixedSize(kWidth, kHeightWithLists);
  SetDialogColour(this);

  Timer1.setInterval(10);
  Timer2.setInterval(250);
  Timer2.setSingleShot(true);
  Timer3.setInterval(250);
  Timer3.setSingleShot(true);
  connect(&Timer1, &QTimer::timeout, this, &VCP_FORM::Timer1_Timer);
  if (events_ && events_->descriptor() >= 0) {
    events_notifier_ = new QSocketNotifier(events_->descriptor(), QSocketNotifier::Read, this);
    connect(events_notifier_, &QSocketNotifier::activated, this, &VCP_FORM::PortEvents_Ready);
  }
  connect(&Timer2, &QTimer::timeout, this, &VCP_FORM::Timer2_Timer);
  connect(&Timer3, &QTimer::timeout, this, &VCP_FORM::Timer3_Timer);
  connect(COMPort2, &QComboBox::activated, this, &VCP_FORM::COMPort2_Click);
  connect(Language, &QComboBox::activated, this, &VCP_FORM::Language_Click);
  connect(SetupButton, &QPushButton::clicked, this, &VCP_FORM::SetupButton_Click);
  connect(Quit, &QPushButton::clicked, this, &VCP_FORM::Quit_Click);
  connect(Tray, &QPushButton::clicked, this, &VCP_FORM::Tray_Click);
  connect(Infobutton, &QPushButton::clicked, this, &VCP_FORM::Infobutton_Click);
  tray_.SetLeftClickHandler([this] { Tray_LeftClick(); });
}

VCP_FORM::~VCP_FORM() {
  tray_.SetLeftClickHandler(nullptr);
  tray_.Remove();
}

bool VCP_FORM::Form_Initialize() {
  if (initialised_) return false;
  initialised_ = true;
  Sequence sequence(*this);
  setWindowIcon(ProgramIcon);
  setWindowTitle(" " + ProgramTitle);
  Image1->setPixmap(QPixmap::fromImage(
      LogoPicture.scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  Image2->setPixmap(ProgramIcon.pixmap(Image2->size()));
  Image2->setVisible(ProgramTitle.contains("Velk"));
  PortFolderLabel->setText("Ports: " + QDir(QString::fromStdString(PortFolder())).absolutePath());
  RaiseProcessPriority();
  const bool serving = session_.Start();
  if (serving && recorder_) recorder_->ApplyTo(session_.bridge(), Settings);
  if (serving) Timer1.start();
  ArmPortEvents();
  return serving;
}

void VCP_FORM::Timer1_Timer() {
  session_.Tick();
  ArmPortEvents();
}

void VCP_FORM::PortEvents_Ready() {
  // Also while a dialog is open and nothing is served: clients are followed, so what one
  // client left is never answered to the next.
  events_->FollowClients();
  session_.ServeInput();
  ArmPortEvents();
}

void VCP_FORM::ArmPortEvents() {
  if (events_) {
    events_->Arm(session_.bridge().CurrentPort(), session_.TimerEnabled(),
                 session_.bridge().AnswersEveryPort());
  }
}

void VCP_FORM::Timer2_Timer() {
  Timer2.stop();
  if (sequence_depth_ > 0) {
    close_pending_ = true;
    return;
  }
  close();
}

void VCP_FORM::Timer3_Timer() {
  Timer3.stop();
  Minimise();
}

void VCP_FORM::COMPort2_Click(int index) {
  if (session_.Busy() != 0 || sequence_depth_ > 0) return;
  Sequence sequence(*this);
  session_.COMPort2_Click(index);
}

void VCP_FORM::SetupButton_Click() {
  if (sequence_depth_ > 0) return;
  Sequence sequence(*this);
  const SettingsRecord before = Settings;
  session_.SetupButton_Click();
  if (!session_.ShutDown() && recorder_) {
    recorder_->ApplyTo(session_.bridge(), Settings);
    const std::string what = SettingsChangeText(before, Settings);
    if (!what.empty()) recorder_->Audit("setup window", 0, "settings: " + what);
  }
}

void VCP_FORM::Quit_Click() {
  if (sequence_depth_ > 0) {
    close_pending_ = true;
    return;
  }
  Sequence sequence(*this);
  session_.Shutdown();
  Timer1.stop();
  MarkLeftScreen();
}

void VCP_FORM::Tray_Click() { Minimise(); }

void VCP_FORM::Minimise() {
  // Not showMinimized(): that shows the window again after Form_Resize has hidden it.
  setWindowState((windowState() & ~Qt::WindowActive) | Qt::WindowMinimized);
}

void VCP_FORM::Language_Click(int index) {
  if (session_.Busy() != 0 || index < 0 || index > 2) return;
  Settings.LanguageNo = static_cast<int16_t>(index + 1);
  LoadLanguage(Settings.LanguageNo);
  SetCaptions(false);
}

void VCP_FORM::Infobutton_Click() {
  if (sequence_depth_ > 0) return;
  Sequence sequence(*this);
  ShowInfoWindow();
}

void VCP_FORM::Tray_LeftClick() {
  if (!isMinimized()) return;
  showNormal();
  raise();
  activateWindow();
  const QRect screenArea = screen()->geometry();
  move(screenArea.left() + (screenArea.width() - width()) / 2,
       screenArea.top() + (screenArea.height() - height()) / 2);
  RestoreBehindPassword();
}

void VCP_FORM::RestoreBehindPassword() {
  if (Settings.Password.empty() || restoring_) return;
  restoring_ = true;
  PasswordWindow prompt(this);
  prompt.QuitVisible = true;
  {
    Sequence sequence(*this);
    prompt.exec();
  }
  restoring_ = false;
  if (prompt.QuitChosen) {
    Quit_Click();
  } else if (ToEngineText(prompt.PasswordEntry) != Settings.Password) {
    Timer3.start();
  }
}

void VCP_FORM::closeEvent(QCloseEvent* event) {
  if (sequence_depth_ > 0) {
    close_pending_ = true;
    event->ignore();
    return;
  }
  const bool serving = Timer1.isActive();
  // The ports outlive this run (a hand-over, or the service manager's store across a restart):
  // served here, not from the event loop, so that nothing else (a timer, a dialog) runs
  // meanwhile.
  if (serving && PortsOutliveRun()) FinishForNextRun(session_, events_);
  session_.Shutdown();
  Timer1.stop();
  Timer2.stop();
  Timer3.stop();
  MarkLeftScreen();
  event->accept();
}

void VCP_FORM::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  const auto* change = static_cast<QWindowStateChangeEvent*>(event);
  if (isMinimized()) {
    if (tray_.Available()) {
      hide();
      AddTrayIcon();
    }
    MarkLeftScreen();
  } else if ((change->oldState() & Qt::WindowMinimized) && !tray_.Available()) {
    // Without a tray the window comes back from the task bar: the password still guards it.
    QTimer::singleShot(0, this, [this] { RestoreBehindPassword(); });
  }
}

void VCP_FORM::MarkLeftScreen() {
  if (left_screen_) return;
  left_screen_ = true;
  emit LeftScreen();
}

void VCP_FORM::CloseWhenIdle() {
  close_pending_ = false;
  QTimer::singleShot(0, this, [this] { close(); });
}

void VCP_FORM::ShowMessage(int textNumber, const std::string& title) {
  const QString caption = title.empty() ? ProgramTitle : FromEngineText(title);
  QMessageBox box(QMessageBox::Warning, caption, LanguageText(textNumber), QMessageBox::Ok, this);
  box.exec();
}

void VCP_FORM::ShowPlainMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, "Velk_VCP", FromEngineText(text), QMessageBox::Ok, this);
  box.exec();
}

int32_t VCP_FORM::WindowHandle() { return static_cast<int32_t>(winId()); }

void VCP_FORM::ShowLogLists(bool visible) {
  for (QWidget* widget : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label3),
                          static_cast<QWidget*>(List1), static_cast<QWidget*>(List2)}) {
    widget->setVisible(visible);
  }
  setFixedSize(kWidth, visible ? kHeightWithLists : kHeightWithoutLists);
}

void VCP_FORM::ApplyLanguageTexts() {
  SetCaptions(true);
  Language->clear();
  Language->addItems({"  English", "  Deutsch", "  Fran\u00e7ais"});
  Language->setCurrentIndex(Settings.LanguageNo - 1);
  List1->clear();
  List2->clear();
}

void VCP_FORM::SetCaptions(bool withInfobutton) {
  SetupButton->setText(LanguageText(511));
  Quit->setText(LanguageText(103));
  if (withInfobutton) Infobutton->setText(LanguageText(400));
  Language1->setText(LanguageText(100));
  COMPort1->setText(LanguageText(101));
  Label8->setText(LanguageText(102));
  Label2->setText(LanguageText(104));
  Label3->setText(LanguageText(105));
  SetDeviceLabel("  " + Settings.DeviceName);
}

void VCP_FORM::SetDeviceLabel(const std::string& text) { Label9->setText(FromEngineText(text)); }

void VCP_FORM::UpdateMonitorLists(const MonitorList& commands, const MonitorList& answers) {
  FillList(List1, commands);
  FillList(List2, answers);
}

void VCP_FORM::SetQuitAndPortSelectorEnabled(bool enabled) {
  Quit->setEnabled(enabled);
  COMPort2->setEnabled(enabled);
}

void VCP_FORM::SetPortSelectorEnabled(bool enabled) { COMPort2->setEnabled(enabled); }

void VCP_FORM::SetPortSelectorItems(const std::vector<std::string>& items) {
  COMPort2->clear();
  for (const std::string& item : items) COMPort2->addItem(FromEngineText(item));
}

void VCP_FORM::SelectPortSelectorEntry(int index) { COMPort2->setCurrentIndex(index); }

void VCP_FORM::SetPortSelectorText(const std::string& text) {
  COMPort2->setCurrentIndex(COMPort2->findText(FromEngineText(text)));
}

void VCP_FORM::SetPortIcon(int slot) {
  if (slot != shown_port_icon_) {
    QPixmap picture;
    if (!picture.load(QString("%1.ico").arg(slot))) {
      picture = QPixmap::fromImage(PortBadge(slot, 64));
    }
    setWindowIcon(QIcon(picture));
    shown_port_icon_ = slot;
  } else if (tray_.Shown()) {
    return;  // the same icon again, as on every tick while a hot key is held
  }
  tray_.Remove();
  AddTrayIcon();
}

void VCP_FORM::RefreshTrayIcon() {
  tray_.Remove();
  AddTrayIcon();
}

void VCP_FORM::RemoveTrayIcon() { tray_.Remove(); }

void VCP_FORM::MinimiseToTray() { Minimise(); }

void VCP_FORM::AddTrayIcon() {
  if (tray_.Available()) tray_.Add(windowIcon(), windowTitle());
}

void VCP_FORM::ShowInfoWindow() {
  InfoWindow window(this);
  window.exec();
}

void VCP_FORM::ShowSetupWindow() { ::ShowSetupWindow(this, device_); }

void VCP_FORM::ShowSeveralPortsDialog() {
  SeveralVCPs dialog(session_.ComPortExists(), this);
  dialog.exec();
}

void VCP_FORM::RequestClose() {
  Timer1.stop();
  ArmPortEvents();
  Timer2.start();
}

void VCP_FORM::WaitAndProcessEvents(int ms) {
  QThread::msleep(static_cast<unsigned long>(ms));
  QCoreApplication::processEvents();
}
