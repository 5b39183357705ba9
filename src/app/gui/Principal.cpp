#include "app/gui/Principal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <sstream>

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
// How long the exit waits for the worker's job to give up, before the process ends regardless.
constexpr int kEsperaFin = 1500;
constexpr QSize kTamanoInicial{720, 520};
constexpr const char* kSeccionVentana = "VENTANA";

std::mutex salidaEstandar;  // lines from both threads, whole

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// The boxes' buttons in Spanish even where Qt's translations are not installed.
void BotonesEnEspanol(QMessageBox& caja) {
  const std::pair<QMessageBox::StandardButton, const char*> textos[] = {
      {QMessageBox::Ok, "Aceptar"}, {QMessageBox::Yes, "Sí"}, {QMessageBox::No, "No"}};
  for (const auto& [boton, texto] : textos)
    if (QAbstractButton* b = caja.button(boton)) b->setText(texto);
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
  SerialDisco(l_);  // once, before the worker can read it
  hayBandeja = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  abreNavegador = [](const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
  };
  setObjectName("Principal");
  setWindowTitle(kTituloVentana);
  caption_ = kTituloVentana;
  setWindowIcon(Icono());
  resize(kTamanoInicial);

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
  // A tick while the worker is busy is dropped; "Cargar" meanwhile waits for its turn, once.
  connect(proceso_, &QTimer::timeout, this, [this] {
    if (trabajo_.Libre()) Trabaja([this] { TProcess_Timer(l_); });
  });
  connect(cr, &QPushButton::clicked, this, [this] { Trabaja([this] { CR_Click(l_); }, "cargar"); });
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

Principal::~Principal() {
  l_.parada.Pide();
  trabajo_.Termina(24 * 3600 * 1000);
}

void Principal::EnVentana(std::function<void()> f) {
  if (QThread::currentThread() == thread())
    f();
  else
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

bool Principal::Caja(std::function<bool()> caja) {
  if (QThread::currentThread() == thread()) {
    ++anidado_;
    const bool r = caja();
    --anidado_;
    return r;
  }
  auto respuesta = std::make_shared<std::promise<bool>>();
  std::future<bool> futuro = respuesta->get_future();
  EnVentana([this, caja, respuesta] {
    ++anidado_;
    respuesta->set_value(caja());
    --anidado_;
  });
  while (futuro.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
    if (l_.parada.Pedida()) return false;
  return futuro.get();
}

void Principal::Eco(const std::string& linea) {
  if (!consola_) return;
  // Texts of the service and the clocks may carry terminal escape sequences.
  std::lock_guard<std::mutex> g(salidaEstandar);
  std::fprintf(stdout, "%s\n", SinControles(linea).c_str());
  std::fflush(stdout);
}

void Principal::AddLog(const std::string& texto) {
  // A line of the service can be megabytes long; the list keeps a prefix (log.txt the whole).
  std::string linea =
      Formatea(l_.reloj.Ahora(), "dd/MM/yy hh:mm") + " " + Acotada(texto, kLargoLinea);
  Eco(linea);
  EnVentana([this, linea = Q(linea)] {
    log_->insertItem(0, linea);
    if (log_->count() > kLineasLog) log_->clear();
  });
}

void Principal::SetCaption(const std::string& texto) {
  {
    std::lock_guard<std::mutex> g(espejo_);
    caption_ = texto;
  }
  EnVentana([this, t = Q(texto)] { setWindowTitle(t); });
}

std::string Principal::Caption() const {
  std::lock_guard<std::mutex> g(espejo_);
  return caption_;
}

void Principal::ClearRelojes() {
  {
    std::lock_guard<std::mutex> g(espejo_);
    filas_.clear();
  }
  EnVentana([this] { relojes_->clear(); });
}

void Principal::AddReloj(const std::string& fila) {
  {
    std::lock_guard<std::mutex> g(espejo_);
    filas_.push_back(fila);
  }
  Eco("relojes: " + fila);
  EnVentana([this, f = Q(fila)] { relojes_->addItem(f); });
}

int Principal::CountRelojes() const {
  std::lock_guard<std::mutex> g(espejo_);
  return static_cast<int>(filas_.size());
}

std::string Principal::Reloj(int indice) const {
  std::lock_guard<std::mutex> g(espejo_);
  return indice >= 0 && static_cast<size_t>(indice) < filas_.size() ? filas_[indice] : "";
}

void Principal::SetReloj(int indice, const std::string& fila) {
  {
    std::lock_guard<std::mutex> g(espejo_);
    if (indice < 0 || static_cast<size_t>(indice) >= filas_.size()) return;
    filas_[indice] = fila;
  }
  Eco("relojes: " + fila);
  EnVentana([this, indice, f = Q(fila)] {
    if (QListWidgetItem* item = relojes_->item(indice)) item->setText(f);
  });
}

void Principal::SetLamp(int32_t color) {
  EnVentana([this, color] {
    led_->color = color;
    led_->update();
  });
}

void Principal::SetLID(const std::string& texto) {
  EnVentana([this, t = Q(texto)] { lid_->setText(t); });
}

void Principal::Repaint() {
  EnVentana([this] { update(); });
}

// The worker never waits for the windows; on their own thread pending events run.
void Principal::DoEvents() {
  if (QThread::currentThread() == thread()) QCoreApplication::processEvents();
}

QWidget* Principal::PadreCaja() {
  return isVisible() ? this : nullptr;
}

void Principal::MensajeCritico(const std::string& texto) {
  if (consola_) {
    Eco("Mensaje: " + texto + " [Aceptar]");
    return;
  }
  Caja([this, texto] {
    QMessageBox caja(QMessageBox::Critical, kTituloAplicacion, Q(texto), QMessageBox::Ok,
                     PadreCaja());
    caja.setTextFormat(Qt::PlainText);  // texts of the service: no links, no markup
    BotonesEnEspanol(caja);
    caja.exec();
    return true;
  });
}

bool Principal::PreguntaSiNo(const std::string& texto) {
  if (consola_) {
    Eco("Pregunta: " + texto + " [No]");
    return false;
  }
  return Caja([this, texto] {
    QMessageBox caja(QMessageBox::Question, kTituloAplicacion, Q(texto),
                     QMessageBox::Yes | QMessageBox::No, PadreCaja());
    caja.setDefaultButton(QMessageBox::Yes);
    caja.setTextFormat(Qt::PlainText);
    BotonesEnEspanol(caja);
    return caja.exec() != QMessageBox::No;
  });
}

void Principal::SetInterval(int ms) {
  EnVentana([this, ms] { proceso_->setInterval(ms); });
}

void Principal::SetEnabled(bool activo) {
  EnVentana([this, activo] {
    if (!activo)
      proceso_->stop();
    else if (!proceso_->isActive() && !terminando_)
      proceso_->start();
  });
}

void Principal::Form_Activate() {
  if (!consola_) {
    MuestraEnPantalla();
    show();
    bandeja_->setIcon(windowIcon());
    bandeja_->setToolTip(windowTitle());
    bandeja_->show();
    setWindowState(windowState() | Qt::WindowMinimized);
  }
  SetLID("ID: " + l_.estado.IdEquipo);
}

void Principal::MuestraEnPantalla() {
  if (!lugar_) {
    std::istringstream t(LeeIni(l_.ArchivoIni(), kSeccionVentana, "LUGAR", ""));
    int x = 0, y = 0, ancho = 0, alto = 0;
    if (t >> x >> y >> ancho >> alto && ancho > 0 && alto > 0) lugar_ = QRect(x, y, ancho, alto);
  }
  QScreen* pantalla = lugar_ ? QGuiApplication::screenAt(lugar_->center()) : nullptr;
  if (!pantalla) pantalla = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!pantalla) return;
  const QRect libre = pantalla->availableGeometry();
  // The frame (title bar, borders) is known once the window has been shown; guess it before.
  QSize marco = frameGeometry().size() - size();
  if (marco.isEmpty() && !isVisible()) marco = QSize(16, 40);
  const QSize tamano = (lugar_ ? lugar_->size() : kTamanoInicial)
                           .boundedTo(libre.size() - marco)
                           .expandedTo(minimumSizeHint());
  QPoint esquina =
      lugar_ ? lugar_->topLeft() : libre.center() - QPoint(tamano.width() / 2, tamano.height() / 2);
  esquina.setX(std::max(libre.left(),
                        std::min(esquina.x(), libre.right() + 1 - tamano.width() - marco.width())));
  esquina.setY(std::max(
      libre.top(), std::min(esquina.y(), libre.bottom() + 1 - tamano.height() - marco.height())));
  resize(tamano);
  move(esquina);
}

void Principal::GuardaLugar() {
  if (consola_ || isMinimized()) return;
  const QRect ahora(pos(), size());
  if (lugar_ == ahora) return;
  lugar_ = ahora;
  GrabaIni(l_.ArchivoIni(), kSeccionVentana, "LUGAR",
           QString("%1 %2 %3 %4")
               .arg(ahora.x())
               .arg(ahora.y())
               .arg(ahora.width())
               .arg(ahora.height())
               .toStdString());
}

void Principal::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) GuardaLugar();
}

void Principal::OcultaLuego() {
  if (consola_) return;  // there is no window to hide
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
  // The credentials stay in memory: while the program stays in the tray, each cycle signs in
  // again with them. The worker turns the session off once its running cycle has ended.
  Trabaja([this] { l_.estado.SesionAbierta = false; });
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
      if (!isVisible()) MuestraEnPantalla();
      showNormal();
      raise();
      activateWindow();
      break;
    case 2: {
      const std::string sitio = SitioWeb(l_.urlBase);
      if (!abreNavegador(sitio))
        Caja([this, sitio] {
          QMessageBox caja(
              QMessageBox::Information, kTituloAplicacion,
              Q("No se pudo abrir un navegador. La dirección del servicio es:\n" + sitio),
              QMessageBox::Ok, PadreCaja());
          caja.setTextFormat(Qt::PlainText);
          caja.setTextInteractionFlags(Qt::TextSelectableByMouse);  // to copy it
          BotonesEnEspanol(caja);
          caja.exec();
          return true;
        });
      break;
    }
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

void Principal::Despierta() {
  if (login && login->isVisible()) {
    login->raise();
    login->activateWindow();
    return;
  }
  MnuTray_Click(1);
}

void Principal::Termina() {
  if (terminando_) return;
  terminando_ = true;
  if (isVisible()) GuardaLugar();
  bandeja_->hide();
  proceso_->stop();
  ocultar_->stop();
  if (login) login->Detiene();
  // Every wait of the running job ends now; the process ends when the job has given up, or
  // regardless after a moment. Month files lose nothing: their records stay in the clock.
  l_.parada.Pide();
  const bool terminado = trabajo_.Termina(kEsperaFin);
  if (terminado) l_.estado.SesionAbierta = false;
  if (salida) {
    salida();
    return;
  }
  std::fflush(stdout);
  QCoreApplication::exit(0);
  // Inside a box (a nested event loop) or with a job that would not stop: the program ends here.
  if (anidado_ > 0 || !terminado) {
#ifdef LECTOR_COVERAGE
    __gcov_dump();  // _Exit skips the handler that writes the line counters
#endif
    std::_Exit(0);
  }
}

}  // namespace lector::app
