// One processing cycle over 20 emulated clocks of 5 000 records each, with service-sim as the
// service, both on loopback. The system clock's fixed waits cost nothing, so the figure is the
// program's own cost (its requests and the emulators' answers included).
//
// Reported: time per cycle and per clock, the reader's peak memory during a cycle (bytes
// allocated by this thread), and how much live memory grew from the first to the last of 50
// second cycles. Targets: a second cycle (every record already known) under 0.5 s; no growth.
#if __has_include("clock-sim/Emulador.h") && __has_include("ServiceSim.h")

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "MemoriaPorHilo.h"
#include "ServiceSim.h"
#include "app/Ciclo.h"
#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock/zk/ZkSdk.h"
#include "server/Sesion.h"
#include "support/Display.h"
#include "support/Lector.h"

namespace {

using medicion::Cuenta;
using medicion::tCuenta;

constexpr int kRelojes = 20;
constexpr int kRegistros = 5000;

Cuenta gLector;

class SiempreResponde : public lector::Reachability {
 public:
  int32_t MidePing(const std::string&) override { return 0; }
};

// The local time of the system, with waits that do not wait.
class SinPausas : public lector::RelojSistema {
 public:
  void Dormir(int) override {}
};

class SinTemporizador : public lector::Temporizador {
 public:
  void SetInterval(int) override {}
  void SetEnabled(bool) override {}
};

// The emulated clocks and the service, built once (their threads count as others').
struct Entorno {
  Entorno() {
    servicio.AgregaCuenta("ana", "clave1");
    for (int i = 0; i < kRelojes; ++i) {
      clocksim::EstadoReloj e;
      e.serie = "S" + std::to_string(i);
      clocksim::Generacion g;
      g.usuarios = 50;
      g.marcaciones = kRegistros;
      g.semilla = 100 + i;
      clocksim::Genera(e, g);
      clocksim::Opciones o;
      o.direccion = "127.0.7." + std::to_string(i + 1);
      relojes.push_back(std::make_unique<clocksim::Emulador>(std::move(e), o));
      relojes.back()->Inicia();
      servicio.AgregaReloj(
          "ana", servicesim::NuevoReloj(std::to_string(i + 1), "S" + std::to_string(i),
                                        std::to_string(i + 1), "Reloj " + std::to_string(i), "1",
                                        o.direccion));
    }
    servicio.FijaMaxPeticiones(16);
    servicio.Inicia();
  }
  servicesim::ServiceSim servicio;
  std::vector<std::unique_ptr<clocksim::Emulador>> relojes;
};

Entorno& ElEntorno() {
  static Entorno* e = [] {
    Cuenta* antes = tCuenta;
    tCuenta = &medicion::gOtrosHilos;
    auto* r = new Entorno;
    tCuenta = antes;
    return r;
  }();
  return *e;
}

struct Lector {
  Lector() {
    if (carpeta.empty()) throw std::runtime_error("no temporary folder");
    std::filesystem::create_directory(l.Marcaciones());
    l.alcance = &alcance;
    l.sdk = &sdk;
    l.proceso = &proceso;
    l.urlBase = ElEntorno().servicio.UrlBase();
    l.estado.Usuario = "ana";
    l.estado.Clave = "clave1";
    l.estado.IdEquipo = "1234";
  }
  ~Lector() {
    sdk.Disconnect();
    std::error_code ec;
    std::filesystem::remove_all(carpeta, ec);
  }
  void Ciclo() {
    l.estado.UltimaLectura = 0;  // every cycle reads, as after "Cargar"
    lector::app::TProcess_Timer(l);
  }
  void BorraArchivos() {
    for (const auto& e : std::filesystem::directory_iterator(l.Marcaciones()))
      std::filesystem::remove(e.path());
  }
  static std::filesystem::path CarpetaNueva() {
    std::string plantilla = (std::filesystem::temp_directory_path() / "ciclo-XXXXXX").string();
    return ::mkdtemp(plantilla.data()) ? std::filesystem::path(plantilla) : "";
  }

  std::filesystem::path carpeta = CarpetaNueva();
  lector::SinVentana display;
  SinPausas reloj;
  SiempreResponde alcance;
  SinTemporizador proceso;
  lector::clock::zk::ZkSdk sdk;
  lector::Lector l{display, reloj, carpeta};
};

void Informa(benchmark::State& state, int64_t base, std::chrono::steady_clock::duration tiempo) {
  state.counters["per_clock_ms"] = std::chrono::duration<double, std::milli>(tiempo).count() /
                                   static_cast<double>(state.iterations() * kRelojes);
  state.counters["peak_MB"] = static_cast<double>(gLector.pico.load() - base) / 1e6;
}

bool Leido(Lector& lector) {
  return std::filesystem::file_size(lector.l.Marcaciones() /
                                    (lector::Formatea(lector.reloj.Ahora(), "yyMM") + ".txt")) > 0;
}

void BM_PrimerCiclo(benchmark::State& state) {
  ElEntorno();
  tCuenta = &gLector;
  Lector lector;
  const int64_t base = gLector.vivo.load();
  gLector.ReiniciaPico();
  std::chrono::steady_clock::duration tiempo{};
  for (auto _ : state) {
    state.PauseTiming();
    lector.BorraArchivos();
    state.ResumeTiming();
    const auto inicio = std::chrono::steady_clock::now();
    lector.Ciclo();
    tiempo += std::chrono::steady_clock::now() - inicio;
  }
  if (!Leido(lector)) state.SkipWithError("nothing was read");
  Informa(state, base, tiempo);
}

void BM_SegundoCiclo(benchmark::State& state) {
  ElEntorno();
  tCuenta = &gLector;
  Lector lector;
  lector.Ciclo();
  lector.Ciclo();
  const int64_t base = gLector.vivo.load();
  gLector.ReiniciaPico();
  const auto inicio = std::chrono::steady_clock::now();
  for (auto _ : state) lector.Ciclo();
  const auto tiempo = std::chrono::steady_clock::now() - inicio;
  if (!Leido(lector)) state.SkipWithError("nothing was read");
  Informa(state, base, tiempo);
  // Live bytes kept after the cycles beyond what the first two left.
  state.counters["growth_KB"] = static_cast<double>(gLector.vivo.load() - base) / 1e3;
}

BENCHMARK(BM_PrimerCiclo)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SegundoCiclo)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

}  // namespace

BENCHMARK_MAIN();

#else
#include <cstdio>
int main() {
  std::puts("ciclo: built without clock-sim or service-sim; nothing to measure");
  return 0;
}
#endif
