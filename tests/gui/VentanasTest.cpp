// The login window and the main window as real widgets on the offscreen platform, signing in to
// service-sim in-process; the questions are answered from the test.
#include <gmock/gmock.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <deque>

#include "ServiceSim.h"
#include "app/Ciclo.h"
#include "app/gui/Instancia.h"
#include "app/gui/Login.h"
#include "app/gui/Principal.h"
#include "app/gui/Programa.h"
#include "clock-sim/Emulador.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"
#include "support/Ini.h"

// fontconfig keeps a pattern of its own for the life of the process; the leak is not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace lector::test {
namespace {

using app::Principal;
using login::Login;
using ::testing::AllOf;
using ::testing::HasSubstr;
using QMB = QMessageBox;

QApplication& Aplicacion() {
  static int argc = 1;
  static char nombre[] = "test_gui";
  static char* argv[] = {nombre, nullptr};
  static auto* app = new QApplication(argc, argv);
  return *app;
}

// Answers the next message boxes, in order, as each one opens.
void Responde(std::deque<QMB::StandardButton> botones) {
  auto* t = new QTimer(&Aplicacion());
  QObject::connect(t, &QTimer::timeout, t, [t, botones]() mutable {
    auto* caja = qobject_cast<QMB*>(QApplication::activeModalWidget());
    if (!caja || caja->property("respondida").toBool()) return;
    caja->setProperty("respondida", true);
    caja->button(botones.front())->click();
    botones.pop_front();
    if (botones.empty()) t->deleteLater();
  });
  t->start(5);
}

class Ventanas : public ::testing::Test {
 protected:
  Ventanas() {
    sim.AgregaCuenta("ana", "clave1");
    sim.Inicia();
    l.urlBase = sim.UrlBase();
    p.hayBandeja = [this] { return bandeja; };
    p.salida = [this] { bandejaAlSalir.push_back(Bandeja()->isVisible()); };
  }
  // The settings a previous run left for "ana".
  void Recuerda(bool rec, bool aut) {
    l.estado.Recordar = rec;
    l.estado.AutoIngreso = aut;
    l.estado.Usuario = "ana";
    l.estado.Clave = "clave1";
    GuardaConfig(l);
    l.estado = {};
  }
  template <typename W = QWidget>
  W* De(QObject& ventana, const char* nombre) {
    W* w = ventana.findChild<W*>(nombre);
    EXPECT_NE(w, nullptr) << nombre;
    return w;
  }
  QSystemTrayIcon* Bandeja() { return p.findChild<QSystemTrayIcon*>("bandeja"); }
  std::vector<std::string> Log() {
    std::vector<std::string> lineas;
    auto* log = De<QListWidget>(p, "log");
    for (int i = 0; i < log->count(); ++i) lineas.push_back(log->item(i)->text().toStdString());
    return lineas;
  }
  // Runs the event loop until the worker has nothing to do and cond holds.
  bool Espera(const std::function<bool()>& cond) {
    return QTest::qWaitFor([&] { return p.Libre() && cond(); }, 20000);
  }
  // Signs in by hand; no cycle comes while the test runs.
  void Ingresa() {
    login.MuestraModal();
    De<QLineEdit>(login, "TUser")->setText("ana");
    De<QLineEdit>(login, "TPass")->setText("clave1");
    login.cmdOK_Click();
    ASSERT_TRUE(Espera([&] { return !login.isVisible(); }));
    ASSERT_TRUE(l.estado.SesionAbierta);
    p.SetInterval(3600 * 1000);
  }

  QApplication& app = Aplicacion();
  CarpetaTemporal carpeta;
  ManualClock reloj;
  servicesim::ServiceSim sim;
  Principal p{reloj, carpeta.ruta(), false};
  Lector& l = p.lector();
  Login login{p};
  bool bandeja = true;
  std::vector<bool> bandejaAlSalir;  // whether the tray icon still showed when the program ended
};

TEST_F(Ventanas, AperturaSegunLoRecordadoYRecordarConAutomatico) {
  const struct {
    const char* caso;
    bool ini, rec, aut;         // Lector.ini as a previous run left it
    const char *tuser, *tpass;  // what the boxes show
    bool entradas, foco;        // inputs enabled, focus in TPass
    bool automatico;            // the automatic login is waiting
  } casos[] = {
      {"primera vez", false, false, false, "", "", true, false, false},
      {"usuario recordado", true, true, false, "ana", "", true, true, false},
      {"auto sin recordar", true, false, true, "", "", true, false, false},
      {"ambos", true, true, true, "ana", "clave1", false, false, true},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.caso);
    std::filesystem::remove(l.ArchivoIni());
    if (c.ini) Recuerda(c.rec, c.aut);
    login.MuestraModal();
    EXPECT_EQ(De<QLineEdit>(login, "TUser")->text().toStdString(), c.tuser);
    EXPECT_EQ(De<QLineEdit>(login, "TPass")->text().toStdString(), c.tpass);
    EXPECT_EQ(De<QCheckBox>(login, "CRec")->isChecked(), c.rec);
    EXPECT_EQ(De<QCheckBox>(login, "CAuto")->isChecked(), c.aut);
    for (const char* n : {"TUser", "TPass", "CRec", "CAuto"})
      EXPECT_EQ(De(login, n)->isEnabled(), c.entradas) << n;
    EXPECT_EQ(login.focusWidget() == De(login, "TPass"), c.foco);
    EXPECT_EQ(login.IngresoAutomatico(), c.automatico);
    login.Detiene();
    login.hide();
  }
  std::filesystem::remove(l.ArchivoIni());
  login.MuestraModal();
  auto* rec = De<QCheckBox>(login, "CRec");
  auto* aut = De<QCheckBox>(login, "CAuto");
  aut->click();
  EXPECT_TRUE(aut->isChecked() && !rec->isChecked());  // checking CAuto alone leaves CRec
  rec->click();
  rec->click();
  EXPECT_FALSE(rec->isChecked() || aut->isChecked());
}

// A failed automatic login says what failed, leaves the keys in the password box and retries in
// 30 s; Enter signs in, and then no timer of the login window is left running.
TEST_F(Ventanas, IngresoFallidoVuelveALaClaveYElManualApagaElReintento) {
  Recuerda(true, true);
  l.urlBase = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";  // nobody answers
  login.MuestraModal();
  QTimer* reintento = De<QTimer>(login, "TimerIni");
  ASSERT_TRUE(QTest::qWaitFor([&] { return reintento->isActive(); }, 20000));
  EXPECT_EQ(reintento->interval(), 30000);
  EXPECT_EQ(login.cursor().shape(), Qt::ArrowCursor);
  EXPECT_TRUE(De(login, "cmdOK")->isEnabled() && De(login, "TPass")->isEnabled() &&
              !De(login, "CAuto")->isEnabled());
  EXPECT_THAT(De<QLabel>(login, "Aviso")->text().toStdString(),
              AllOf(HasSubstr("No se pudo conectar con el servicio en " + l.urlBase),
                    HasSubstr("rechazó la conexión")));
  EXPECT_EQ(login.focusWidget(), De(login, "TPass"));
  EXPECT_EQ(De<QLineEdit>(login, "TPass")->selectedText(), "clave1");
  EXPECT_TRUE(De<QPushButton>(login, "cmdOK")->isDefault());

  l.urlBase = sim.UrlBase();
  QTest::keyClick(De(login, "TPass"), Qt::Key_Return);
  ASSERT_TRUE(Espera([&] { return !login.isVisible(); }));
  EXPECT_TRUE(l.estado.SesionAbierta && De<QTimer>(p, "TProcess")->isActive() &&
              !reintento->isActive());
}

TEST_F(Ventanas, SalirTerminaSinTocarLaConfiguracion) {
  Recuerda(true, false);
  const std::string antes = LeeArchivo(l.ArchivoIni());
  const std::pair<const char*, std::function<void(Login&)>> salidas[] = {
      {"Salir", [&](Login& v) { QTest::mouseClick(De(v, "cmdCancel"), Qt::LeftButton); }},
      {"Esc", [](Login& v) { QTest::keyClick(&v, Qt::Key_Escape); }},
      {"cierre", [](Login& v) { v.close(); }},
  };
  for (const auto& [como, sal] : salidas) {
    SCOPED_TRACE(como);
    Principal otra{reloj, carpeta.ruta(), false};
    Login ventana{otra};
    int terminado = 0;
    otra.salida = [&] { ++terminado; };
    ventana.MuestraModal();
    De<QLineEdit>(ventana, "TPass")->setText("otra");
    sal(ventana);
    EXPECT_EQ(terminado, 1);
  }
  EXPECT_EQ(LeeArchivo(l.ArchivoIni()), antes);
}

TEST_F(Ventanas, LineasDelLogArribaYLaNumero10001Vacia) {
  for (const char* x : {"primera", "segunda"}) p.AddLog(x);
  EXPECT_EQ(Log(), (std::vector<std::string>{"03/03/26 14:05 segunda", "03/03/26 14:05 primera"}));
  for (int i = 3; i <= 10000; ++i) p.AddLog("x");
  EXPECT_EQ(Log().size(), 10000u);
  p.AddLog("10001");
  EXPECT_TRUE(Log().empty());
}

// Closing the session but not the program leaves it in the tray, and each cycle signs in again
// with the credentials typed, even those Lector.ini does not keep.
TEST_F(Ventanas, CerrarSesionSiYLuegoNoALaSalida) {
  Recuerda(true, false);
  Ingresa();
  Responde({QMB::No});
  p.MnuTray_Click(3);  // "Cerrar Sesión", answered No: nothing changes
  EXPECT_TRUE(Espera([&] { return l.estado.SesionAbierta && !login.isVisible(); }));

  Responde({QMB::Yes, QMB::No});
  p.MnuTray_Click(3);
  EXPECT_EQ(Decodifica(LeeIni(l.ArchivoIni(), "USER", "AUTO", "")), "0");
  EXPECT_TRUE(Espera([&] { return !l.estado.SesionAbierta && login.isVisible(); }));
  EXPECT_TRUE(De(login, "TUser")->isEnabled() && De(login, "TPass")->isEnabled());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !p.isVisible(); }, 20000));
  EXPECT_TRUE(De<QTimer>(p, "TProcess")->isActive() && Bandeja()->isVisible());
  p.Trabaja([this] { app::TProcess_Timer(l); });
  EXPECT_TRUE(Espera([&] { return l.estado.SesionAbierta; }));
}

TEST_F(Ventanas, SinBandejaLaVentanaQuedaALaVistaYLaSalidaQuitaPrimeroElIcono) {
  bandeja = false;
  Ingresa();
  EXPECT_TRUE(Bandeja()->isVisible());
  EXPECT_EQ(Bandeja()->toolTip().toStdString(), kTituloVentana);
  EXPECT_EQ(De<QLabel>(p, "LID")->text().toStdString(), "ID: " + l.estado.IdEquipo);
  p.showMinimized();
  Responde({QMB::No});
  p.close();
  EXPECT_TRUE(p.isVisible() && !De<QTimer>(p, "ocultar")->isActive());
  EXPECT_THAT(Log(), ::testing::ElementsAre(::testing::HasSubstr("No hay área")));
  Responde({QMB::Yes});
  p.MnuTray_Click(4);  // "Cerrar"
  EXPECT_EQ(bandejaAlSalir, std::vector<bool>{false});
  EXPECT_FALSE(l.estado.SesionAbierta || De<QTimer>(p, "TProcess")->isActive());
}

// Only the exact single argument "log" turns the log file on.
TEST(Inicio, SoloElArgumentoExactoLogEnciendeElRegistro) {
  using Args = std::vector<std::string>;
  for (const auto& [args, modo] : std::vector<std::pair<Args, bool>>{
           {{"log"}, true}, {{"LOG"}, false}, {{"log", "x"}, false}, {{}, false}}) {
    LectorDePrueba t;
    app::PreparaInicio(t.l, args);
    EXPECT_EQ(t.l.estado.ModoLog, modo) << args.size();
  }
}

// The service's texts: plain in boxes and labels, bounded in the list; a plain http:// address is
// warned about in the login window. Every box speaks Spanish, and "Configuración" with no browser
// shows the address.
TEST_F(Ventanas, TextosDelServicioSinFormatoAcotadosEnEspanolYAvisoSinHttps) {
  std::vector<std::string> cajas;  // each box's format, text and buttons
  auto* t = new QTimer(&app);
  QObject::connect(t, &QTimer::timeout, t, [&cajas] {
    auto* caja = qobject_cast<QMB*>(QApplication::activeModalWidget());
    if (!caja) return;
    std::string visto =
        (caja->textFormat() == Qt::PlainText ? "plano " : "") + caja->text().toStdString() + " |";
    for (QAbstractButton* b : caja->buttons()) visto += " " + b->text().toStdString();
    cajas.push_back(visto);
    caja->buttons().back()->click();
  });
  t->start(5);
  p.MensajeCritico("<a href='http://127.0.0.1/'>Ingrese aquí</a>");
  p.PreguntaSiNo("¿Sí?");
  p.abreNavegador = [](const std::string&) { return false; };
  p.MnuTray_Click(2);
  delete t;
  EXPECT_THAT(cajas, ::testing::ElementsAre(
                         "plano <a href='http://127.0.0.1/'>Ingrese aquí</a> | Aceptar",
                         AllOf(HasSubstr("plano ¿Sí? |"), HasSubstr(" Sí"), HasSubstr(" No")),
                         "plano No se pudo abrir un navegador. La dirección del servicio es:\n" +
                             Principal::SitioWeb(l.urlBase) + " | Aceptar"));
  p.AddLog(std::string(1 << 20, 'x'));
  EXPECT_LT(Log().at(0).size(), 2100u);
  login.MuestraModal();
  auto* aviso = De<QLabel>(login, "Aviso");
  EXPECT_EQ(aviso->textFormat(), Qt::PlainText);
  EXPECT_NE(aviso->text().toStdString().find("no usa https://"), std::string::npos);
}

// The window fits the screen's free area whatever Lector.ini says, and comes back where the user
// left it, in this run and the next.
TEST_F(Ventanas, LaVentanaCabeEnLaPantallaYVuelveDondeEstaba) {
  GrabaIni(l.ArchivoIni(), "VENTANA", "LUGAR", "3000 3000 5000 5000");
  p.MnuTray_Click(1);
  EXPECT_TRUE(p.screen()->availableGeometry().contains(p.frameGeometry()));
  p.move(10, 20);
  p.resize(500, 400);
  p.hide();
  p.MnuTray_Click(1);
  EXPECT_EQ(QRect(p.pos(), p.size()), QRect(10, 20, 500, 400));
  Principal otra{reloj, carpeta.ruta(), false};
  otra.MnuTray_Click(1);
  EXPECT_EQ(QRect(otra.pos(), otra.size()), QRect(10, 20, 500, 400));
}

// One copy per folder: a second one learns the first's pid and can bring its window up.
TEST_F(Ventanas, UnaCopiaPorCarpetaYLaSegundaDespiertaALaPrimera) {
  app::Instancia primera(carpeta.ruta()), segunda(carpeta.ruta());
  int despertada = 0;
  primera.alDespertar = [&] { ++despertada; };
  ASSERT_TRUE(primera.Toma());
  EXPECT_FALSE(segunda.Toma());
  EXPECT_EQ(segunda.OtroPid(), QCoreApplication::applicationPid());
  EXPECT_TRUE(segunda.Despierta());
  EXPECT_TRUE(QTest::qWaitFor([&] { return despertada == 1; }, 20000));
}

// A clock that never answers the record request holds the worker, never the windows; the exit
// gives the visit up at once instead of waiting for the clock.
TEST_F(Ventanas, UnRelojMudoNoDetieneLasVentanasNiLaSalida) {
  clocksim::EstadoReloj e;
  e.serie = "MUDO";
  e.Marca("1", 0, 1, clocksim::SegundosCiviles({2026, 3, 3, 8, 0, 0}));
  clocksim::Opciones o;
  o.direccion = DireccionPropia(7);
  clocksim::Emulador mudo(std::move(e), o);
  mudo.AgregaFalla({clocksim::TipoFalla::kMudo, clock::zk::CMD_DATA_WRRQ});
  mudo.Inicia();
  sim.AgregaReloj("ana", servicesim::NuevoReloj("7", "MUDO", "7", "Mudo", "7", o.direccion));
  clock::zk::ZkSdk sdk;
  sdk.FijaParada(&l.parada);
  TablaAlcance alcance;
  alcance.otras = 1;
  l.sdk = &sdk;
  l.alcance = &alcance;
  Ingresa();
  QTest::mouseClick(De(p, "CR"), Qt::LeftButton);  // "Cargar"
  // The event loop runs these polls while the worker waits for the clock.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        for (const auto& ev : mudo.Historial())
          if (ev.comando == clock::zk::CMD_DATA_WRRQ) return true;
        return false;
      },
      20000));
  EXPECT_FALSE(p.Libre());
  bool libreAlSalir = false;
  p.salida = [&] { libreAlSalir = p.Libre(); };
  p.Termina();
  EXPECT_TRUE(libreAlSalir);
}

}  // namespace
}  // namespace lector::test
