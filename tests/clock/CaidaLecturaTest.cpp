// A reading killed at any moment must never leave a record in the clock's month file that the
// general month file lacks: that record would be taken as known forever and never uploaded.
// A child process (a fork of this one) reads a large clock served by clock-sim in this process,
// over the real protocol, and is killed at a random point; the parent checks the files, and a
// last, complete reading must bring every record of the clock into both files.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include "clock-sim/Emulador.h"
#include "clock/Marcaciones.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace lector::test {
namespace {

std::vector<std::string> Lineas(const std::string& bytes) {
  std::vector<std::string> r;
  size_t i = 0;
  while (i < bytes.size()) {
    size_t p = bytes.find("\r\n", i);
    r.push_back(bytes.substr(i, p == std::string::npos ? std::string::npos : p - i));
    if (p == std::string::npos) break;
    i = p + 2;
  }
  return r;
}

TEST(CaidaLectura, KilledReadingsNeverLoseARecord) {
  constexpr int kRegistros = 40000;
  constexpr int kMuertes = 24;  // readings killed in all
  const std::string ip = "127.0.5.20";
  LectorDePrueba p;
  p.alcance.tabla[ip] = 0;
  std::filesystem::create_directory(p.l.Marcaciones());

  // One record a minute from March 1st, by 500 people: every line differs.
  clocksim::EstadoReloj e;
  e.serie = "S1";
  std::set<std::string> todas;
  const int64_t desde = clocksim::SegundosCiviles({2026, 3, 1, 0, 0, 0});
  for (int i = 0; i < kRegistros; ++i) {
    const std::string id = std::to_string(1 + i % 500);
    e.Marca(id, 0, 1, desde + 60LL * i);
    auto f = clocksim::FechaDeSegundos(desde + 60LL * i);
    todas.insert("7,S1," + std::to_string(f.anio) + "," + std::to_string(f.mes) + "," +
                 std::to_string(f.dia) + "," + std::to_string(f.hora) + "," +
                 std::to_string(f.minuto) + "," + id + ",1,0,0,2");
  }
  uintmax_t tamanoFinal = 0;  // of the clock file once complete
  for (const auto& linea : todas) tamanoFinal += linea.size() + 2;
  clocksim::Opciones opciones;
  opciones.direccion = ip;
  opciones.puerto = clock::kPuertoReloj;
  clocksim::Emulador emulador(std::move(e), opciones);
  emulador.Inicia();

  const auto rutaReloj = p.l.Marcaciones() / "2603 7.txt";
  const auto rutaGeneral = p.l.Marcaciones() / "2603.txt";

  // Every record of the clock must be in the general file, and once in the clock file.
  auto compruebaCompleta = [&] {
    clock::zk::ZkSdk sdk;
    p.l.sdk = &sdk;
    p.l.estado.ConnectionRegistry.clear();
    int16_t conectado = 0;
    std::string r = clock::LeeReloj(p.l, 1, 2, "7", ip, conectado, "S1");
    sdk.Disconnect();
    p.l.sdk = nullptr;
    EXPECT_THAT(r, ::testing::StartsWith(std::to_string(kRegistros) + ","));
    auto general = Lineas(LeeArchivo(rutaGeneral));
    std::set<std::string> enGeneral(general.begin(), general.end());
    auto reloj = Lineas(LeeArchivo(rutaReloj));
    std::multiset<std::string> enReloj(reloj.begin(), reloj.end());
    for (const auto& linea : todas) {
      ASSERT_TRUE(enGeneral.count(linea)) << linea;
      ASSERT_EQ(enReloj.count(linea), 1u) << linea;
    }
    EXPECT_EQ(reloj.size(), static_cast<size_t>(kRegistros));
    // Pieces of cut lines were dropped; only duplicates may remain in the general file.
    for (const auto& linea : general) ASSERT_TRUE(todas.count(linea)) << linea;
  };

  std::mt19937 azar(std::random_device{}());
  int muertas = 0;
  for (int ronda = 0; muertas < kMuertes && ronda < 4 * kMuertes; ++ronda) {
    std::filesystem::remove(rutaReloj);
    std::filesystem::remove(rutaGeneral);
    for (;;) {
      // Killed right after one of the files has grown past a random size (between the two
      // files' writes), or after a random time (anywhere, the transfer included).
      const int modo = azar() % 3;
      const auto ruta = modo == 0 ? rutaGeneral : rutaReloj;
      std::error_code ec;
      uintmax_t antes = std::filesystem::file_size(ruta, ec);
      if (ec) antes = 0;
      uintmax_t hecho = std::filesystem::file_size(rutaReloj, ec);
      if (ec) hecho = 0;
      if (hecho >= tamanoFinal) break;  // complete: this round has nothing left to cut
      const uintmax_t falta = tamanoFinal - hecho;
      const uintmax_t meta = antes + 1 + azar() % falta;
      const auto plazo =
          std::chrono::steady_clock::now() + std::chrono::microseconds(azar() % 100000);

      pid_t hijo = fork();
      ASSERT_GE(hijo, 0);
      if (hijo == 0) {
        // Only this thread lives on in the child; it talks to the emulator of the parent.
        int16_t conectado = 0;
        try {
          clock::zk::ZkSdk sdk;
          p.l.sdk = &sdk;
          p.l.estado.ConnectionRegistry.clear();
          std::string r = clock::LeeReloj(p.l, 1, 2, "7", ip, conectado, "S1");
          _exit(r.rfind(std::to_string(kRegistros) + ",", 0) == 0 ? 0 : 3);
        } catch (...) {
          _exit(2);
        }
      }
      int estado = 0;
      bool termino = false;
      EsperaHasta(
          [&] {
            if (waitpid(hijo, &estado, WNOHANG) == hijo) return termino = true;
            if (modo == 2) return std::chrono::steady_clock::now() >= plazo;
            std::error_code e;
            auto t = std::filesystem::file_size(ruta, e);
            return !e && t >= meta;
          },
          std::chrono::seconds(60));
      if (!termino) {
        ASSERT_EQ(kill(hijo, SIGKILL), 0);
        ++muertas;
        waitpid(hijo, &estado, 0);
      }
      ASSERT_FALSE(WIFEXITED(estado) && WEXITSTATUS(estado) != 0) << WEXITSTATUS(estado);
      // The emulator serves the next client once it has seen this one go.
      ASSERT_TRUE(EsperaHasta([&] { return !emulador.ConClienteTcp(); }));

      auto general = Lineas(LeeArchivo(rutaGeneral));
      std::set<std::string> enGeneral(general.begin(), general.end());
      // A kill can cut a write short; the piece after the last line end is not a record line.
      std::string reloj = LeeArchivo(rutaReloj);
      reloj.resize(reloj.rfind("\r\n") == std::string::npos ? 0 : reloj.rfind("\r\n") + 2);
      for (const auto& linea : Lineas(reloj))
        ASSERT_TRUE(enGeneral.count(linea)) << "round " << ronda << ": " << linea;
    }
    compruebaCompleta();
  }
  EXPECT_GE(muertas, kMuertes);
}

}  // namespace
}  // namespace lector::test
