// A reading that ends at any moment must never leave a record in the clock's month file that the
// general file lacks (it would be taken as known and never uploaded), nor make the next reading
// write a record to the general file twice. A forked child reads clock-sim (in this process) and
// ends right after its k-th month-file write, for every k, that write whole or cut short.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

#include "clock-sim/Emulador.h"
#include "clock/Marcaciones.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace lector::test {
namespace {

int tEscrituras = 0, tTerminaEn = 0;  // writes so far; the one that ends the child (0: none)
bool tCortada = false;                // that write loses its last bytes, as a crash would

void TrasEscribir(const std::filesystem::path& ruta) {
  if (++tEscrituras != tTerminaEn) return;
  if (tCortada) std::filesystem::resize_file(ruta, std::filesystem::file_size(ruta) - 3);
  _exit(0);
}

std::multiset<std::string> Lineas(const std::filesystem::path& ruta) {
  const auto v = LineasDe(ruta);
  return {v.begin(), v.end()};
}

TEST(CaidaLectura, TerminadaTrasCadaEscrituraNoPierdeRegistros) {
  constexpr int kRegistros = 20000;  // a few batches per file
  const std::string ip = DireccionPropia(29);
  LectorDePrueba p;
  p.alcance.tabla[ip] = 0;
  std::filesystem::create_directory(p.l.Marcaciones());
  clocksim::EstadoReloj e;
  e.serie = "S1";
  const int64_t desde = clocksim::SegundosCiviles({2026, 3, 1, 0, 0, 0});
  for (int i = 0; i < kRegistros; ++i) e.Marca(std::to_string(1 + i % 500), 0, 1, desde + 60LL * i);
  clocksim::Opciones opciones;
  opciones.direccion = ip;
  opciones.puerto = clock::kPuertoReloj;
  clocksim::Emulador emulador(std::move(e), opciones);
  emulador.Inicia();
  const auto reloj = p.l.Marcaciones() / "2603 7.txt", general = p.l.Marcaciones() / "2603.txt";
  clock::TrasEscribirMes = TrasEscribir;
  // A reading from empty files, or one that completes what is there: every record once in the
  // clock file and once in the general file, which is uploaded.
  auto lee = [&](bool deCero) {
    if (deCero) {
      std::filesystem::remove(general);
      std::filesystem::remove(reloj);
    }
    clock::zk::ZkSdk sdk;
    p.l.sdk = &sdk;
    p.l.estado.ConnectionRegistry.clear();
    int16_t conectado = 0;
    std::string r = clock::LeeReloj(p.l, 1, 2, "7", ip, conectado, "S1");
    sdk.Disconnect();
    p.l.sdk = nullptr;
    return r;
  };
  auto completa = [&] {
    tTerminaEn = 0;
    EXPECT_EQ(lee(false).rfind(std::to_string(kRegistros) + ",", 0), 0u);
    auto enReloj = Lineas(reloj), enGeneral = Lineas(general);
    std::set<std::string> unicas(enReloj.begin(), enReloj.end());
    EXPECT_EQ(enReloj.size(), static_cast<size_t>(kRegistros));
    EXPECT_EQ(unicas.size(), enReloj.size());
    EXPECT_EQ(std::set<std::string>(enGeneral.begin(), enGeneral.end()), unicas);
    EXPECT_EQ(enGeneral.size(), enReloj.size());
  };

  tEscrituras = 0;
  lee(true);
  completa();
  const int escrituras = tEscrituras;
  ASSERT_GE(escrituras, 6);
  for (int k = 1; k <= escrituras; ++k) {
    for (bool cortada : {false, true}) {
      pid_t hijo = fork();
      ASSERT_GE(hijo, 0);
      if (hijo == 0) {  // only this thread lives on; it talks to the parent's emulator
        tEscrituras = 0;
        tTerminaEn = k;
        tCortada = cortada;
        try {
          lee(true);
        } catch (...) {
        }
        _exit(3);  // never got to its k-th write
      }
      int estado = 0;
      ASSERT_TRUE(EsperaHasta([&] { return waitpid(hijo, &estado, WNOHANG) == hijo; }));
      ASSERT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << k;
      // The emulator serves the next client once it has seen this one go.
      ASSERT_TRUE(EsperaHasta([&] { return !emulador.ConClienteTcp(); }));
      auto enGeneral = Lineas(general);
      for (const auto& linea : Lineas(reloj))
        ASSERT_TRUE(enGeneral.count(linea)) << "write " << k << ": " << linea;
      completa();
    }
  }
  clock::TrasEscribirMes = nullptr;
}

}  // namespace
}  // namespace lector::test
