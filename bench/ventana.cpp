// The windows' event loop while a cycle visits a silent clock: one that accepts the connection
// and never answers the record request (the reader waits a minute for it). A 5 ms timer on the
// windows' thread notes the longest gap between its ticks from "Cargar" to the end of the visit.
//
// Reported: pausa_max_ms, the event loop's longest stall. Target: under 100 ms.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ServiceSim.h"
#include "app/gui/Principal.h"
#include "clock-sim/Emulador.h"
#include "clock/zk/ZkSdk.h"
#include "server/Execute.h"

namespace {

class SiempreResponde : public lector::Reachability {
 public:
  int32_t MidePing(const std::string&) override { return 0; }
};

bool Dijo(QListWidget& log, const QString& texto) {
  for (int i = 0; i < log.count(); ++i)
    if (log.item(i)->text().contains(texto)) return true;
  return false;
}

void BM_PausaConRelojMudo(benchmark::State& state) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char nombre[] = "ventana";
  static char* argv[] = {nombre, nullptr};
  static QApplication app(argc, argv);

  servicesim::ServiceSim servicio;
  servicio.AgregaCuenta("ana", "clave1");
  clocksim::EstadoReloj e;
  e.serie = "MUDO";
  e.Marca("1", 0, 1, clocksim::SegundosCiviles({2026, 3, 3, 8, 0, 0}));
  clocksim::Opciones o;
  o.direccion = "127.0.8.1";
  clocksim::Emulador mudo(std::move(e), o);
  mudo.AgregaFalla({clocksim::TipoFalla::kMudo, lector::clock::zk::CMD_DATA_WRRQ});
  mudo.Inicia();
  servicio.AgregaReloj("ana", servicesim::NuevoReloj("1", "MUDO", "1", "Mudo", "1", o.direccion));
  servicio.Inicia();

  std::string plantilla = (std::filesystem::temp_directory_path() / "ventana-XXXXXX").string();
  if (!::mkdtemp(plantilla.data())) return state.SkipWithError("no temporary folder");
  double peor = 0;
  {
    lector::RelojSistema reloj;
    lector::app::Principal p(reloj, plantilla, false);
    lector::Lector& l = p.lector();
    lector::clock::zk::ZkSdk sdk;
    SiempreResponde alcance;
    l.sdk = &sdk;
    l.alcance = &alcance;
    l.urlBase = servicio.UrlBase();
    l.estado.Usuario = "ana";
    l.estado.Clave = "clave1";
    lector::server::Execute(l, "Login");  // before any cycle: nothing else runs yet
    p.SetInterval(3600 * 1000);
    auto* log = p.findChild<QListWidget*>("log");
    for (auto _ : state) {
      QElapsedTimer desde;
      QTimer pulso;
      QObject::connect(&pulso, &QTimer::timeout, [&] {
        peor = std::max(peor, static_cast<double>(desde.nsecsElapsed()) / 1e6);
        desde.restart();
      });
      pulso.start(5);
      desde.start();
      p.findChild<QPushButton*>("CR")->click();
      QElapsedTimer limite;
      limite.start();
      while (!Dijo(*log, "desconectado") && limite.elapsed() < 180000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the 5 ms ticks wake it
      peor = std::max(peor, static_cast<double>(desde.nsecsElapsed()) / 1e6);
    }
    l.parada.Pide();
  }
  std::filesystem::remove_all(plantilla);
  state.counters["pausa_max_ms"] = peor;
}
BENCHMARK(BM_PausaConRelojMudo)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
