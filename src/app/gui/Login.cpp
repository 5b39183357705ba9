#include "app/gui/Login.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/gui/Principal.h"
#include "server/Execute.h"
#include "support/Identidad.h"
#include "support/Ini.h"
#include "support/Visible.h"

namespace lector::login {
namespace {

QLabel* Etiqueta(const char* texto, const char* nombre, QWidget* padre) {
  auto* e = new QLabel(texto, padre);
  e->setObjectName(nombre);
  return e;
}

QPushButton* Boton(const char* texto, const char* nombre, const char* cara, QWidget* padre) {
  auto* b = new QPushButton(texto, padre);
  b->setObjectName(nombre);
  b->setStyleSheet(QString("QPushButton { background-color: %1; border: 1px solid #707070;"
                           " border-radius: 3px; padding: 6px 18px; }"
                           " QPushButton:focus { border: 2px solid #303030; }"
                           " QPushButton:disabled { color: #606060; }")
                       .arg(cara));
  return b;
}

}  // namespace

Login::Login(app::Principal& principal) : p_(principal) {
  p_.login = this;
  setObjectName("Login");
  setWindowTitle("Vantiro");
  setWindowIcon(app::Icono());
  setAutoFillBackground(true);
  QPalette blanco = palette();
  blanco.setColor(QPalette::Window, Qt::white);
  setPalette(blanco);

  auto* imagen = Etiqueta("", "Image", this);
  imagen->setPixmap(app::Icono().pixmap(64, 64));
  auto* label1 = Etiqueta("Ingresa tus datos:", "Label1", this);
  QFont grande = label1->font();
  grande.setPointSizeF(grande.pointSizeF() * 1.3);
  grande.setBold(true);
  label1->setFont(grande);

  TUser_ = new QLineEdit(this);
  TUser_->setObjectName("TUser");
  TPass_ = new QLineEdit(this);
  TPass_->setObjectName("TPass");
  TPass_->setEchoMode(QLineEdit::Password);
  TPass_->setStyleSheet("lineedit-password-character: 42;");
  CRec_ = new QCheckBox(this);
  CRec_->setObjectName("CRec");
  CAuto_ = new QCheckBox(this);
  CAuto_->setObjectName("CAuto");
  cmdOK_ = Boton("Ingresar", "cmdOK", "rgb(0, 192, 0)", this);
  cmdCancel_ = Boton("Salir", "cmdCancel", "rgb(255, 128, 128)", this);
  cmdOK_->setDefault(true);
  // Enter with the focus on "Salir" still signs in: only a click or Space ends the program.
  cmdCancel_->setAutoDefault(false);

  auto* datos = new QGridLayout;
  const std::pair<const char*, QWidget*> filas[] = {{"Usuario:", TUser_},
                                                    {"Contraseña:", TPass_},
                                                    {"Recordar usuario:", CRec_},
                                                    {"Ingresar Automáticamente:", CAuto_}};
  for (int i = 0; i < 4; ++i) {
    auto* e = Etiqueta(filas[i].first, QString("lblLabels(%1)").arg(i).toUtf8(), this);
    e->setBuddy(filas[i].second);
    datos->addWidget(e, i, 0);
    datos->addWidget(filas[i].second, i, 1);
  }
  datos->setColumnMinimumWidth(1, 200);
  auto* cabecera = new QHBoxLayout;
  cabecera->addWidget(imagen);
  cabecera->addWidget(label1, 1);
  auto* botones = new QHBoxLayout;
  botones->addStretch();
  botones->addWidget(cmdOK_);
  botones->addWidget(cmdCancel_);
  aviso_ = Etiqueta("", "Aviso", this);
  aviso_->setTextFormat(Qt::PlainText);  // it quotes the service's address and failures
  aviso_->setWordWrap(true);
  aviso_->setStyleSheet("color: #b00000;");
  aviso_->hide();
  auto* todo = new QVBoxLayout(this);
  todo->addLayout(cabecera);
  todo->addLayout(datos);
  todo->addWidget(aviso_);
  todo->addSpacing(8);
  todo->addLayout(botones);
  todo->setSizeConstraint(QLayout::SetFixedSize);
  setTabOrder(TUser_, TPass_);
  setTabOrder(TPass_, cmdOK_);
  setTabOrder(cmdOK_, cmdCancel_);
  setTabOrder(cmdCancel_, CRec_);
  setTabOrder(CRec_, CAuto_);

  TimerIni_ = new QTimer(this);
  TimerIni_->setObjectName("TimerIni");
  TimerIni_->setInterval(kReintento);
  espera_ = new QTimer(this);
  espera_->setSingleShot(true);
  espera_->setInterval(kEsperaAutomatico);
  connect(TimerIni_, &QTimer::timeout, this, [this] { TimerIni_Timer(); });
  connect(espera_, &QTimer::timeout, this, [this] { cmdOK_Click(); });
  connect(cmdOK_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  connect(cmdCancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  connect(CRec_, &QCheckBox::clicked, this, [this] { CRec_Click(); });
}

Login::~Login() {
  if (p_.login == this) p_.login = nullptr;
  Detiene();
}

void Login::MuestraModal() {
  if (p_.consola()) return Apertura();
  setWindowModality(Qt::ApplicationModal);
  show();
}

void Login::MuestraNoModal() {
  if (!isVisible()) setWindowModality(Qt::NonModal);
  show();
}

bool Login::IngresoAutomatico() const {
  return espera_->isActive();
}

void Login::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) Apertura();
}

// Each showing starts from the controls' initial state, as a window loaded afresh. The boxes
// show what Lector.ini remembers; the credentials in use stay as they are until a login.
void Login::Apertura() {
  for (QWidget* w : std::initializer_list<QWidget*>{TUser_, TPass_, CRec_, CAuto_})
    w->setEnabled(false);
  TUser_->clear();
  TPass_->clear();
  cmdOK_->setEnabled(true);
  setCursor(Qt::ArrowCursor);
  Detiene();
  ingresado_ = false;

  Estado e;
  CargaConfig(p_.lector().ArchivoIni(), e);
  Avisa("");
  CRec_->setChecked(e.Recordar);
  CAuto_->setChecked(e.AutoIngreso);
  if (CRec_->isChecked()) TUser_->setText(QString::fromStdString(e.Usuario));
  if (CRec_->isChecked() && CAuto_->isChecked()) TPass_->setText(QString::fromStdString(e.Clave));
  if (CAuto_->isChecked() && !TUser_->text().isEmpty() && !TPass_->text().isEmpty()) {
    espera_->start();
    return;
  }
  for (QWidget* w : std::initializer_list<QWidget*>{TUser_, TPass_, CRec_, CAuto_})
    w->setEnabled(true);
  if (CRec_->isChecked()) TPass_->setFocus();
}

// The service call runs on the worker; the window stays alive and answers meanwhile.
void Login::cmdOK_Click() {
  Detiene();  // a retry due meanwhile would sign in twice
  cmdOK_->setEnabled(false);
  setCursor(Qt::WaitCursor);
  const bool recordar = CRec_->isChecked(), automatico = CAuto_->isChecked();
  const std::string usuario = TUser_->text().toStdString(), clave = TPass_->text().toStdString();
  Lector& l = p_.lector();
  QPointer<Login> ventana(this);  // looked at on the windows' thread only
  p_.Trabaja([ventana, &l, recordar, automatico, usuario, clave] {
    Estado& e = l.estado;
    e.Recordar = recordar;
    e.AutoIngreso = automatico;
    e.Usuario = usuario;
    e.Clave = clave;
    server::Execute(l, "Login");
    const bool abierta = e.SesionAbierta;
    const std::vector<std::string> sinGuardar =
        abierta ? GuardaConfig(l) : std::vector<std::string>{};
    QMetaObject::invokeMethod(
        qApp,
        [ventana, abierta, falla = e.FallaConexion, sinGuardar] {
          if (ventana) ventana->Ingreso(abierta, falla, sinGuardar);
        },
        Qt::QueuedConnection);
  });
}

void Login::Ingreso(bool abierta, const std::string& falla,
                    const std::vector<std::string>& sinGuardar) {
  setCursor(Qt::ArrowCursor);
  if (abierta) {
    ingresado_ = true;
    Detiene();
    if (!sinGuardar.empty()) {
      std::string claves;
      for (const auto& c : sinGuardar) claves += (claves.empty() ? "" : ", ") + c;
      p_.MensajeCritico("No se pudo guardar en Lector.ini (" + claves +
                        "): el texto tiene caracteres que el archivo no admite. "
                        "El ingreso sigue abierto.");
    }
    close();
    p_.Form_Activate();
    p_.SetEnabled(true);
    return;
  }
  TUser_->setEnabled(true);
  TPass_->setEnabled(true);
  cmdOK_->setEnabled(true);
  cmdOK_->setDefault(true);
  // The user types the password again: it is where the keys go, and Enter tries once more.
  TPass_->setFocus(Qt::OtherFocusReason);
  TPass_->selectAll();
  Avisa(falla);
  if (CAuto_->isChecked()) TimerIni_->start();
}

void Login::Avisa(const std::string& falla) {
  const std::string& url = p_.lector().urlBase;
  std::string texto = EsHttps(url) ? "" : AvisoSinCifrar(url);
  if (!falla.empty())
    texto += std::string(texto.empty() ? "" : "\n") + "No se pudo conectar con el servicio en " +
             SinControles(url) + ": " + falla;
  aviso_->setText(QString::fromStdString(texto));
  aviso_->setVisible(!texto.empty());
}

void Login::cmdCancel_Click() {
  p_.Termina();
}

void Login::reject() {
  cmdCancel_Click();
}

void Login::closeEvent(QCloseEvent* e) {
  Detiene();
  if (!ingresado_) {
    p_.Termina();
    return;
  }
  e->accept();
}

void Login::CRec_Click() {
  if (!CRec_->isChecked()) CAuto_->setChecked(false);
}

void Login::TimerIni_Timer() {
  TimerIni_->stop();
  cmdOK_Click();
}

void Login::HabilitaUsuario() {
  TUser_->setEnabled(true);
  TPass_->setEnabled(true);
}

void Login::Detiene() {
  espera_->stop();
  TimerIni_->stop();
}

}  // namespace lector::login
