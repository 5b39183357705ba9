// LeeReloj against the clock emulator on loopback: the first reading of a month (every record
// new, written to both month files) and a second one (every record already known), beside the
// floor: the same transfer by a bare protocol read that writes nothing.
//
// Reported per run: records per second and the reader's peak memory (bytes allocated by this
// thread, the emulator's thread not counted; the peak includes LineasLeidas, which the reading
// keeps). Targets: the second reading within 2x of the floor at 100 000 records; cost linear in
// the number of records, also when every record differs from the file's (a clock cleared and
// filled again, or one answering other records each time): that reading under a second at
// 300 000 records.
#if __has_include("clock-sim/Emulador.h")

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "MemoriaPorHilo.h"
#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock/Conexion.h"
#include "clock/Marcaciones.h"
#include "clock/zk/ZkSdk.h"
#include "support/Display.h"
#include "support/Lector.h"

namespace {

using medicion::Cuenta;
using medicion::tCuenta;

Cuenta gLector;  // this thread while the reader works
// The emulator's thread, and this thread while building a clock.
Cuenta& gOtros = medicion::gOtrosHilos;

using lector::SinVentana;

class SiempreResponde : public lector::Reachability {
 public:
  int32_t MidePing(const std::string&) override { return 0; }
};

// One emulated clock per record count on a loopback address of its own (the reading always
// uses port 4370), built once and kept.
clocksim::Emulador& RelojCon(int registros, unsigned semilla = 17) {
  static std::map<std::pair<int, unsigned>, std::unique_ptr<clocksim::Emulador>> relojes;
  auto& r = relojes[{registros, semilla}];
  if (!r) {
    Cuenta* antes = tCuenta;
    tCuenta = &gOtros;
    clocksim::EstadoReloj e;
    e.serie = "S1";
    clocksim::Generacion g;
    g.usuarios = 200;
    g.marcaciones = registros;
    g.semilla = semilla;
    // Another seed's records end years earlier, so that none equals one of the first clock.
    if (semilla != 17) g.hasta = e.Hora() / 86400 * 86400 - 20LL * 365 * 86400;
    clocksim::Genera(e, g);
    clocksim::Opciones o;
    o.direccion = "127.0.6." + std::to_string(relojes.size() + 1);
    o.puerto = lector::clock::kPuertoReloj;
    r = std::make_unique<clocksim::Emulador>(std::move(e), o);
    r->Inicia();
    tCuenta = antes;
  }
  return *r;
}

// A reader over a temporary program folder, connected to the clock by its first reading.
struct Lector {
  explicit Lector(clocksim::Emulador& reloj) : ip(reloj.Direccion()) {
    if (carpeta.empty()) throw std::runtime_error("no temporary folder");
    std::filesystem::create_directory(l.Marcaciones());
    l.alcance = &alcance;
    l.sdk = &sdk;
  }
  ~Lector() {
    sdk.Disconnect();
    std::error_code ec;
    std::filesystem::remove_all(carpeta, ec);
  }
  std::string Lee() { return Lee(ip); }
  std::string Lee(const std::string& direccion) {
    int16_t conectado = 0;
    return lector::clock::LeeReloj(l, 1, 2, "7", direccion, conectado, "S1");
  }
  void BorraArchivos() {
    for (const auto& e : std::filesystem::directory_iterator(l.Marcaciones()))
      std::filesystem::remove(e.path());
  }

  static std::filesystem::path CarpetaNueva() {
    std::string plantilla = (std::filesystem::temp_directory_path() / "lee_reloj-XXXXXX").string();
    return ::mkdtemp(plantilla.data()) ? std::filesystem::path(plantilla) : "";
  }

  std::string ip;
  std::filesystem::path carpeta = CarpetaNueva();
  SinVentana display;
  lector::RelojSistema reloj;
  SiempreResponde alcance;
  lector::clock::zk::ZkSdk sdk;
  lector::Lector l{display, reloj, carpeta};
};

void Informa(benchmark::State& state, int registros, int64_t base) {
  state.counters["records_per_s"] = benchmark::Counter(
      static_cast<double>(registros), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["peak_MB"] = static_cast<double>(gLector.pico.load() - base) / 1e6;
}

void BM_Piso(benchmark::State& state) {
  const int registros = static_cast<int>(state.range(0));
  clocksim::Emulador& reloj = RelojCon(registros);
  tCuenta = &gLector;
  lector::clock::zk::ZkSdk sdk;
  if (!sdk.Connect_Net(reloj.Direccion(), reloj.Puerto())) {
    state.SkipWithError("no connection to the emulator");
    return;
  }
  const int64_t base = gLector.vivo.load();
  gLector.ReiniciaPico();
  for (auto _ : state) {
    if (!sdk.ReadGeneralLogData(0)) {
      state.SkipWithError("ReadGeneralLogData failed");
      break;
    }
    std::string id;
    int32_t v, io, an, me, di, ho, mi, se, wc;
    int leidos = 0;
    while (sdk.SSR_GetGeneralLogData(0, id, v, io, an, me, di, ho, mi, se, wc)) ++leidos;
    benchmark::DoNotOptimize(id);
    if (leidos != registros) {
      state.SkipWithError("wrong record count");
      break;
    }
  }
  sdk.Disconnect();
  Informa(state, registros, base);
}

void BM_PrimeraLectura(benchmark::State& state) {
  const int registros = static_cast<int>(state.range(0));
  clocksim::Emulador& reloj = RelojCon(registros);
  tCuenta = &gLector;
  Lector lector(reloj);
  const int64_t base = gLector.vivo.load();
  gLector.ReiniciaPico();
  const std::string esperado = std::to_string(registros) + "," + std::to_string(registros);
  for (auto _ : state) {
    state.PauseTiming();
    lector.BorraArchivos();
    state.ResumeTiming();
    if (lector.Lee() != esperado) {
      state.SkipWithError("unexpected reading result");
      break;
    }
  }
  Informa(state, registros, base);
}

void BM_SegundaLectura(benchmark::State& state) {
  const int registros = static_cast<int>(state.range(0));
  clocksim::Emulador& reloj = RelojCon(registros);
  tCuenta = &gLector;
  Lector lector(reloj);
  if (lector.Lee() != std::to_string(registros) + "," + std::to_string(registros)) {
    state.SkipWithError("unexpected first reading");
    return;
  }
  const int64_t base = gLector.vivo.load();
  gLector.ReiniciaPico();
  const std::string esperado = std::to_string(registros) + ",0";
  for (auto _ : state) {
    if (lector.Lee() != esperado) {
      state.SkipWithError("unexpected reading result");
      break;
    }
  }
  Informa(state, registros, base);
}

// A second reading whose records all differ from those of the file: the month file holds the
// records of one clock, the reading meets another with as many records under the same serial.
void BM_LecturaCambiada(benchmark::State& state) {
  const int registros = static_cast<int>(state.range(0));
  clocksim::Emulador& otro = RelojCon(registros, 23);
  Lector lector(RelojCon(registros));
  const std::string esperado = std::to_string(registros) + "," + std::to_string(registros);
  for (auto _ : state) {
    state.PauseTiming();
    lector.BorraArchivos();
    const std::string primera = lector.Lee();
    lector::clock::DesconectaReloj(lector.l, "S1");  // the other clock answers to the same serial
    state.ResumeTiming();
    const std::string segunda = lector.Lee(otro.Direccion());
    if (primera != esperado || segunda != esperado) {
      state.SkipWithError(("unexpected reading results " + primera + " " + segunda).c_str());
      break;
    }
  }
  Informa(state, registros, gLector.vivo.load());
}

#define CASOS Arg(10000)->Arg(100000)->Arg(300000)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_Piso)->CASOS;
BENCHMARK(BM_PrimeraLectura)->CASOS;
BENCHMARK(BM_SegundaLectura)->CASOS;
BENCHMARK(BM_LecturaCambiada)
    ->Arg(300000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

#else
// Without the clock emulator there is nothing to read from.
#include <cstdio>
int main() {
  std::puts("lee_reloj: built without clock-sim; nothing to measure");
  return 0;
}
#endif
