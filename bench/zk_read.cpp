// Reading a clock's attendance log: ZkSdk::ReadGeneralLogData plus iterating every record with
// SSR_GetGeneralLogData, from the clock emulator on loopback (in-process, on its own thread).
//
// Reported per run: wall time, records per second, the data set's size, and the peak memory of
// each side. Memory is counted by replacing the global allocator: every live byte belongs to
// the thread that allocated it, so the client (this thread) and the emulator (its thread) are
// told apart. client_peak_x is the client's peak over the data set's size (target: below 4);
// the emulator's side is its thread's peak (buffers and its encoded data set) plus the
// contents it was built with (sim_state_MB).
// Target: 100 000 records read and decoded in under 0.5 s.
#if __has_include("clock-sim/Emulador.h")

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "MemoriaPorHilo.h"
#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock/zk/ZkSdk.h"

namespace {

using medicion::Cuenta;
using medicion::tCuenta;

Cuenta gCliente;                         // this thread while the client works
Cuenta& gReloj = medicion::gOtrosHilos;  // every other thread: the emulator's
Cuenta gPreparacion;                     // this thread while building the clock's contents

int64_t VmHWMKiB() {
  std::ifstream f("/proc/self/status");
  std::string linea;
  while (std::getline(f, linea))
    if (linea.rfind("VmHWM:", 0) == 0) return std::stoll(linea.substr(6));
  return 0;
}

// One emulated clock per record count, built once and kept for every run.
struct Reloj {
  std::unique_ptr<clocksim::Emulador> emulador;
  size_t bytesConjunto = 0;
  int64_t registros = 0;  // as generated: past a few million, fewer than asked for
};

Reloj& RelojCon(int registros) {
  static std::map<int, Reloj> relojes;
  auto& r = relojes[registros];
  if (!r.emulador) {
    tCuenta = &gPreparacion;
    clocksim::EstadoReloj e;
    clocksim::Generacion g;
    g.usuarios = 200;
    g.marcaciones = registros;
    g.semilla = 17;
    clocksim::Genera(e, g);
    r.registros = static_cast<int64_t>(e.marcaciones.size());
    r.bytesConjunto = 4 + e.marcaciones.size() * e.formatoMarcacion;
    clocksim::Opciones o;
    o.direccion = "127.0.0." + std::to_string(40 + relojes.size());
    o.puerto = 0;
    r.emulador = std::make_unique<clocksim::Emulador>(std::move(e), o);
    r.emulador->Inicia();
    tCuenta = &gCliente;
  }
  return r;
}

void BM_LeeMarcaciones(benchmark::State& state) {
  const int registros = static_cast<int>(state.range(0));
  Reloj& reloj = RelojCon(registros);
  tCuenta = &gCliente;
  lector::clock::zk::ZkSdk sdk;
  if (!sdk.Connect_Net(reloj.emulador->Direccion(), reloj.emulador->Puerto())) {
    state.SkipWithError("no connection to the emulator");
    return;
  }
  gCliente.ReiniciaPico();
  gReloj.ReiniciaPico();
  const int64_t baseCliente = gCliente.vivo.load();
  int64_t leidos = 0;
  for (auto _ : state) {
    if (!sdk.ReadGeneralLogData(0)) {
      state.SkipWithError("ReadGeneralLogData failed");
      break;
    }
    std::string id;
    int32_t v, io, an, me, di, ho, mi, se, wc;
    leidos = 0;
    while (sdk.SSR_GetGeneralLogData(0, id, v, io, an, me, di, ho, mi, se, wc)) ++leidos;
    benchmark::DoNotOptimize(id);
    if (leidos != reloj.registros) {
      state.SkipWithError("wrong record count");
      break;
    }
  }
  // What the client still holds once the reading is over (connection still open).
  const double retenido = static_cast<double>(gCliente.vivo.load() - baseCliente);
  sdk.Disconnect();
  const double datos = static_cast<double>(reloj.bytesConjunto);
  const double picoCliente = static_cast<double>(gCliente.pico.load() - baseCliente);
  const double picoReloj = static_cast<double>(gReloj.pico.load());
  state.counters["records_per_s"] = benchmark::Counter(
      static_cast<double>(registros), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["data_set_MB"] = datos / 1e6;
  state.counters["client_peak_MB"] = picoCliente / 1e6;
  state.counters["client_peak_x"] = picoCliente / datos;
  state.counters["client_held_after_MB"] = retenido / 1e6;
  state.counters["sim_peak_MB"] = picoReloj / 1e6;
  state.counters["sim_state_MB"] = static_cast<double>(gPreparacion.vivo.load()) / 1e6;
  state.counters["process_VmHWM_MB"] = static_cast<double>(VmHWMKiB()) / 1024.0;
}
BENCHMARK(BM_LeeMarcaciones)
    ->Arg(100000)
    ->Arg(300000)
    ->Arg(838860)  // 32 MiB of 40-byte records: the largest data set ZkSdk accepts
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

#else
// Without the clock emulator there is nothing to read from.
#include <cstdio>
int main() {
  std::puts("zk_read: built without clock-sim; nothing to measure");
  return 0;
}
#endif
