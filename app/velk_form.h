// The start-up form: sets the program's title, logo and icon, pre-initialises the device
// library and shows the main window until that goes into the tray or unloads.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

class IDeviceLibrary;
class QFrame;
class QLabel;
class VCP_FORM;

class Velk : public QWidget {
  Q_OBJECT

 public:
  // makeMainWindow creates the main window (not yet shown); it is called once, by Form_Load.
  Velk(IDeviceLibrary& device, std::function<VCP_FORM*()> makeMainWindow,
       QWidget* parent = nullptr);

  // Runs the start-up: labels, ProgramTitle, LogoPicture, ProgramIcon, Device_PreInit, then the
  // main window shown with its initialisation, waiting until it has gone into the tray or
  // unloaded; then closes this form. Returns the main window, or nullptr when it has unloaded.
  VCP_FORM* Form_Load();

  QFrame* Frame1;
  QLabel* imgLogo;
  QLabel* lblVersion;
  QLabel* lblProductName;
  QLabel* lblCompany;
  QLabel* lblWarning;
  QLabel* lblPlatform;
  QLabel* lblCompanyProduct;
  QLabel* lblCopyright;
  QLabel* lblLicenseTo;

  void Frame1_Click();

 protected:
  // Form_KeyPress: any key closes the form.
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  IDeviceLibrary& device_;
  std::function<VCP_FORM*()> make_main_window_;
};
