#include "app/gui/Programa.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/gui/Instancia.h"
#include "app/gui/Login.h"
#include "app/gui/Principal.h"
#include "clock/zk/ZkSdk.h"
#include "support/Archivos.h"
#include "support/Ini.h"
#include "support/Ping.h"
#include "support/SystemClock.h"

namespace lector::app {
namespace {

int senales[2] = {-1, -1};
Parada* paradaSenal = nullptr;

void AlRecibirSenal(int) {
  // The worker's waits end at once, even before the event loop hears of the signal.
  if (paradaSenal) paradaSenal->Pide();
  char c = 1;
  ssize_t r = ::write(senales[1], &c, 1);
  (void)r;
}

// SIGTERM and SIGINT reach the event loop through a socket pair; there they end the program as
// the exit question answered Yes does.
void InstalaSenales(Principal& p) {
  paradaSenal = &p.lector().parada;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, senales) != 0) return;
  auto* aviso = new QSocketNotifier(senales[0], QSocketNotifier::Read, &p);
  QObject::connect(aviso, &QSocketNotifier::activated, &p, [&p] {
    char b[16];
    while (::read(senales[0], b, sizeof b) > 0) {
    }
    p.Termina();
  });
  struct sigaction sa {};
  sa.sa_handler = AlRecibirSenal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

// Qt's own texts (a text box's context menu) in Spanish, when the translations are installed.
void TraduceQt(QApplication& app) {
  auto* qt = new QTranslator(&app);
  if (qt->load(QLocale(QLocale::Spanish), "qtbase", "_",
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(qt);
}

bool Vacia(const char* variable) {
  const char* v = std::getenv(variable);
  return !v || !*v;
}

}  // namespace

void PreparaInicio(Lector& l, const std::vector<std::string>& argumentos) {
  ProtegeCarpeta(l);
  std::error_code ec;
  std::filesystem::create_directory(l.Marcaciones(), ec);
  auto mes = l.Marcaciones() / (Formatea(l.reloj.Ahora(), "yyMM") + ".txt");
  int fd = AbreSinEnlace(mes, O_WRONLY | O_APPEND | O_CREAT);
  if (fd < 0)
    l.display.AddLog("No se pudo crear el archivo de marcaciones " + mes.string() + ": " +
                     std::strerror(errno));
  else
    ::close(fd);
  std::string linea;
  for (const auto& a : argumentos) linea += (linea.empty() ? "" : " ") + a;
  l.estado.ModoLog = linea == "log";
}

int Main(int argc, char** argv) {
  if (auto fin = Argumentos(argc, argv)) return *fin;
  // Without a display Qt would abort: a server runs the program on the offscreen platform.
  if (Vacia("QT_QPA_PLATFORM") && Vacia("DISPLAY") && Vacia("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName("lector");
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(Icono());
  TraduceQt(app);
  const QString plataforma = QGuiApplication::platformName();
  const bool consola = plataforma == "offscreen" || plataforma == "minimal";

  const std::filesystem::path carpeta = CarpetaPrograma();
  Instancia instancia(carpeta);
  if (!instancia.Toma()) {
    std::fprintf(stderr, "lector: ya hay un lector en ejecución en %s (pid %lld).\n",
                 carpeta.c_str(), instancia.OtroPid());
    // On a desktop the copy already running comes to the front instead.
    if (!consola && instancia.Despierta()) return 0;
    return 1;
  }

  RelojSistema reloj;
  Principal principal(reloj, carpeta, consola);
  Lector& l = principal.lector();
  reloj.parada = &l.parada;
  clock::zk::ZkSdk sdk;
  sdk.FijaParada(&l.parada);
  AlcanceIcmp alcance(l);
  l.sdk = &sdk;
  l.alcance = &alcance;
  l.urlBase = LeeUrlBase(l);
  login::Login login(principal);
  InstalaSenales(principal);
  instancia.alDespertar = [&principal] { principal.Despierta(); };

  PreparaInicio(l, std::vector<std::string>(argv + 1, argv + argc));
  login.MuestraModal();
  if (consola && !login.IngresoAutomatico()) {
    std::fprintf(stderr,
                 "lector: %s no tiene usuario y contraseña recordados con ingreso automático; "
                 "configúrelos con: lector --configurar\n",
                 l.ArchivoIni().c_str());
    return 2;
  }
  return app.exec();
}

}  // namespace lector::app
