#include "velk_form.h"

#include <QEventLoop>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "device_library.h"
#include "icon_art.h"
#include "program_identity.h"
#include "vcp_form.h"

Velk::Velk(IDeviceLibrary& device, std::function<VCP_FORM*()> makeMainWindow, QWidget* parent)
    : QWidget(parent),
      Frame1(new QFrame(this)),
      imgLogo(new QLabel(Frame1)),
      lblVersion(new QLabel(Frame1)),
      lblProductName(new QLabel(Frame1)),
      lblCompany(new QLabel("Firma", Frame1)),
      lblWarning(new QLabel("Warnung", Frame1)),
      lblPlatform(new QLabel("Plattform", Frame1)),
      lblCompanyProduct(new QLabel("Firmenprodukt", Frame1)),
      lblCopyright(new QLabel("Urheberrecht", Frame1)),
      lblLicenseTo(new QLabel("Lizenziert f\u00fcr", Frame1)),
      device_(device),
      make_main_window_(std::move(makeMainWindow)) {
  setObjectName("Velk");
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::Box);
  imgLogo->setObjectName("imgLogo");
  lblVersion->setObjectName("lblVersion");
  lblProductName->setObjectName("lblProductName");
  imgLogo->setPixmap(QPixmap::fromImage(ProgramLogoImage(240, 64)));
  setWindowIcon(QIcon(QPixmap::fromImage(ProgramIconImage(64))));
  QFont big = lblProductName->font();
  big.setPointSize(big.pointSize() * 2);
  big.setBold(true);
  lblProductName->setFont(big);

  auto* grid = new QGridLayout(Frame1);
  grid->addWidget(imgLogo, 0, 0, 2, 1);
  grid->addWidget(lblCompanyProduct, 0, 1);
  grid->addWidget(lblProductName, 1, 1);
  grid->addWidget(lblPlatform, 2, 1);
  grid->addWidget(lblVersion, 3, 1);
  grid->addWidget(lblLicenseTo, 2, 0);
  grid->addWidget(lblCompany, 4, 1);
  grid->addWidget(lblCopyright, 5, 1);
  grid->addWidget(lblWarning, 6, 0, 1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Frame1);
  Frame1->installEventFilter(this);
  setWindowFlag(Qt::SplashScreen);
}

VCP_FORM* Velk::Form_Load() {
  const ProgramVersion version = BuiltVersion();
  lblVersion->setText(VersionLabelText(version));
  lblProductName->setText("Velk_VCP");
  ProgramTitle = ProgramTitleText(version);
  LogoPicture = imgLogo->pixmap().toImage();
  ProgramIcon = windowIcon();
  device_.Device_PreInit();

  QPointer<VCP_FORM> main = make_main_window_();
  main->show();
  main->Form_Initialize();
  if (main && !main->HasLeftScreen()) {
    QEventLoop wait;
    connect(main, &VCP_FORM::LeftScreen, &wait, &QEventLoop::quit);
    connect(main, &QObject::destroyed, &wait, &QEventLoop::quit);
    wait.exec();
  }
  close();
  return main;
}

void Velk::Frame1_Click() { close(); }

void Velk::keyPressEvent(QKeyEvent*) { close(); }

bool Velk::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Frame1 && event->type() == QEvent::MouseButtonPress) Frame1_Click();
  return QWidget::eventFilter(watched, event);
}
