#include "app/gui/Principal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "app/Ciclo.h"
#include "app/gui/Login.h"
#include "support/Identidad.h"
#include "support/Ini.h"
#include "support/Visible.h"

#ifdef LECTOR_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace lector::app {
namespace {

constexpr int kLineasLog = 10000;
constexpr size_t kLargoLinea = 2000;  // bytes of one activity line
constexpr int kEsperaOcultar = 100;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QFont Arial(bool negrita = false) {
  QFont f("Arial", 10);
  f.setStyleHint(QFont::SansSerif);
  f.setBold(negrita);
  return f;
}

template <typename W>
W* Control(W* w, const char* nombre) {
  w->setObjectName(nombre);
  return w;
}

}  // namespace

QIcon Icono() {
  QIcon icono;
  for (int t : {16, 32, 48, 256})
    icono.addFile(QString(":/lector/lector-%1.png").arg(t), QSize(t, t));
  return icono;
}

Lampara::Lampara(QWidget* padre) : QWidget(padre) {
  setObjectName("ledReloj");
  setFixedSize(sizeHint());
}

void Lampara::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
  p.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}

Principal::Principal(SystemClock& reloj, std::filesystem::path carpeta, bool consola)
    : l_(*this, reloj, std::move(carpeta)), consola_(consola) {
  l_.proceso = this;
  hayBandeja = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  setObjectName("Principal");
  setWindowTitle(kTituloVentana);
  setWindowIcon(Icono());
  resize(720, 520);

  auto* labelR = Control(new QLabel("Relojes Sincronizados", this), "LabelR");
  auto* label2 = Control(new QLabel("Detalle de Sincronización", this), "Label2");
  auto* lReloj = Control(new QLabel("Reloj", this), "LReloj");
  labelR->setFont(Arial(true));
  label2->setFont(Arial(true));
  lReloj->setFont(Arial());
  led_ = new Lampara(this);
  relojes_ = Control(new QListWidget(this), "relojes");
  log_ = Control(new QListWidget(this), "log");
  relojes_->setFont(Arial());
  log_->setFont(Arial());
  relojes_->setUniformItemSizes(true);
  log_->setUniformItemSizes(true);
  lid_ = Control(new QLabel(this), "LID");
  lid_->setTextFormat(Qt::PlainText);
  auto* cerrar = Control(new QPushButton("<<", this), "Cerrar");
  auto* cr = Control(new QPushButton("Cargar", this), "CR");
  cerrar->setToolTip("Cerrar sesión");
  cr->setToolTip("Leer los relojes ahora");

  auto* arriba = new QHBoxLayout;
  arriba->addWidget(labelR);
  arriba->addStretch();
  arriba->addWidget(led_);
  arriba->addWidget(lReloj);
  auto* abajo = new QHBoxLayout;
  abajo->addWidget(lid_);
  abajo->addStretch();
  abajo->addWidget(cerrar);
  abajo->addWidget(cr);
  auto* todo = new QVBoxLayout(this);
  todo->addLayout(arriba);
  todo->addWidget(relojes_, 1);
  todo->addWidget(label2);
  todo->addWidget(log_, 2);
  todo->addLayout(abajo);

  ocultar_ = Control(new QTimer(this), "ocultar");
  ocultar_->setSingleShot(true);
  ocultar_->setInterval(kEsperaOcultar);
  connect(ocultar_, &QTimer::timeout, this, &QWidget::hide);
  proceso_ = Control(new QTimer(this), "TProcess");
  proceso_->setInterval(1000);
  connect(proceso_, &QTimer::timeout, this, [this] { TProcess_Timer(l_); });
  connect(cr, &QPushButton::clicked, this, [this] { CR_Click(l_); });
  connect(cerrar, &QPushButton::clicked, this, [this] { Cerrar_Click(); });

  mtray_ = Control(new QMenu("TRAY", this), "MTray");
  const char* items[] = {"Maximizar", "Configuración", "Cerrar Sesión", "Cerrar"};
  for (int i = 1; i <= 4; ++i) {
    QAction* a = mtray_->addAction(items[i - 1]);
    a->setObjectName(QString("MnuTray%1").arg(i));
    connect(a, &QAction::triggered, this, [this, i] { MnuTray_Click(i); });
  }
  bandeja_ = Control(new QSystemTrayIcon(this), "bandeja");
  // A left click opens the menu once the double-click time has passed: an open menu takes the
  // mouse, so the second click of a double click ("Maximizar") would otherwise never arrive.
  auto* menuLuego = new QTimer(this);
  menuLuego->setSingleShot(true);
  menuLuego->setInterval(QApplication::doubleClickInterval());
  connect(menuLuego, &QTimer::timeout, this, [this] { mtray_->popup(QCursor::pos()); });
  connect(bandeja_, &QSystemTrayIcon::activated, this,
          [this, menuLuego](QSystemTrayIcon::ActivationReason r) {
            if (r == QSystemTrayIcon::Trigger) {
              menuLuego->start();
            } else if (r == QSystemTrayIcon::Context) {
              mtray_->popup(QCursor::pos());
            } else if (r == QSystemTrayIcon::DoubleClick) {
              menuLuego->stop();
              MnuTray_Click(1);
            }
          });
}

Principal::~Principal() = default;

void Principal::Eco(const std::string& linea) {
  if (!consola_) return;
  // Texts of the service and the clocks may carry terminal escape sequences.
  std::fprintf(stdout, "%s\n", SinControles(linea).c_str());
  std::fflush(stdout);
}

void Principal::AddLog(const std::string& texto) {
  // A line of the service can be megabytes long; the list keeps a prefix (log.txt the whole).
  std::string linea =
      Formatea(l_.reloj.Ahora(), "dd/MM/yy hh:mm") + " " + Acotada(texto, kLargoLinea);
  log_->insertItem(0, Q(linea));
  if (log_->count() > kLineasLog) log_->clear();
  Eco(linea);
}

void Principal::SetCaption(const std::string& texto) {
  setWindowTitle(Q(texto));
}

std::string Principal::Caption() const {
  return windowTitle().toStdString();
}

void Principal::ClearRelojes() {
  relojes_->clear();
}

void Principal::AddReloj(const std::string& fila) {
  relojes_->addItem(Q(fila));
  Eco("relojes: " + fila);
}

int Principal::CountRelojes() const {
  return relojes_->count();
}

std::string Principal::Reloj(int indice) const {
  QListWidgetItem* item = relojes_->item(indice);
  return item ? item->text().toStdString() : "";
}

void Principal::SetReloj(int indice, const std::string& fila) {
  QListWidgetItem* item = relojes_->item(indice);
  if (!item) return;
  item->setText(Q(fila));
  Eco("relojes: " + fila);
}

void Principal::SetLamp(int32_t color) {
  led_->color = color;
  led_->update();
}

void Principal::SetLID(const std::string& texto) {
  lid_->setText(Q(texto));
}

void Principal::Repaint() {
  if (isVisible()) repaint();
}

void Principal::DoEvents() {
  ++anidado_;
  QCoreApplication::processEvents();
  --anidado_;
}

QWidget* Principal::PadreCaja() {
  return isVisible() ? this : nullptr;
}

void Principal::MensajeCritico(const std::string& texto) {
  if (consola_) {
    Eco("Mensaje: " + texto + " [Aceptar]");
    return;
  }
  QMessageBox caja(QMessageBox::Critical, kTituloAplicacion, Q(texto), QMessageBox::Ok,
                   PadreCaja());
  caja.setTextFormat(Qt::PlainText);  // texts of the service: no links, no markup
  ++anidado_;
  caja.exec();
  --anidado_;
}

bool Principal::PreguntaSiNo(const std::string& texto) {
  if (consola_) {
    Eco("Pregunta: " + texto + " [No]");
    return false;
  }
  ++anidado_;
  QMessageBox caja(QMessageBox::Question, kTituloAplicacion, Q(texto),
                   QMessageBox::Yes | QMessageBox::No, PadreCaja());
  caja.setDefaultButton(QMessageBox::Yes);
  caja.setTextFormat(Qt::PlainText);
  const int r = caja.exec();
  --anidado_;
  return r != QMessageBox::No;
}

void Principal::SetInterval(int ms) {
  proceso_->setInterval(ms);
}

void Principal::SetEnabled(bool activo) {
  if (!activo)
    proceso_->stop();
  else if (!proceso_->isActive())
    proceso_->start();
}

void Principal::Form_Activate() {
  if (!consola_) {
    show();
    bandeja_->setIcon(windowIcon());
    bandeja_->setToolTip(windowTitle());
    bandeja_->show();
  }
  setWindowState(windowState() | Qt::WindowMinimized);
  SetLID("ID: " + SerialDisco(l_));
}

void Principal::OcultaLuego() {
  if (hayBandeja()) {
    ocultar_->start();
  } else if (!avisoSinBandeja_) {
    avisoSinBandeja_ = true;
    AddLog("No hay área de notificación: la ventana no se ocultará al minimizarla.");
  }
}

void Principal::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && isMinimized()) OcultaLuego();
}

void Principal::closeEvent(QCloseEvent* e) {
  if (terminando_) return;
  if (PreguntaSiNo("Desea salir de la aplicación de lectura de relojes?")) {
    Termina();
    return;
  }
  e->ignore();
  OcultaLuego();
}

void Principal::Cerrar_Click() {
  if (!PreguntaSiNo("Esta seguro de cerrar la sesión abierta?")) return;
  l_.estado.SesionAbierta = false;
  GrabaIni(l_.ArchivoIni(), "USER", "AUTO", Codifica("0"));
  if (login) login->MuestraNoModal();
  close();
  if (login) login->HabilitaUsuario();
}

std::string Principal::SitioWeb(const std::string& urlBase) {
  QUrl base(Q(urlBase)), sitio;
  sitio.setScheme(base.scheme());
  sitio.setHost(base.host());
  sitio.setPort(base.port());
  sitio.setPath("/");
  return sitio.toString().toStdString();
}

void Principal::MnuTray_Click(int indice) {
  switch (indice) {
    case 1:
      showNormal();
      raise();
      activateWindow();
      break;
    case 2:
      QDesktopServices::openUrl(QUrl(Q(SitioWeb(l_.urlBase))));
      break;
    case 3:
      Cerrar_Click();
      break;
    case 4:
      close();
      break;
    default:
      break;
  }
}

void Principal::Termina() {
  if (terminando_) return;
  terminando_ = true;
  l_.estado.SesionAbierta = false;
  bandeja_->hide();
  proceso_->stop();
  ocultar_->stop();
  if (login) login->Detiene();
  if (salida) {
    salida();
    return;
  }
  std::fflush(stdout);
  QCoreApplication::exit(0);
  // Inside an operation (a cycle or a login yielding, a box): the program ends here, not when
  // the operation would have returned. Month files lose nothing: their records stay in the clock.
  if (anidado_ > 0) {
#ifdef LECTOR_COVERAGE
    __gcov_dump();  // _Exit skips the handler that writes the line counters
#endif
    std::_Exit(0);
  }
}

}  // namespace lector::app
