// A reading killed at any moment must never leave a record in the clock's month file that the
// general month file lacks: that record would be taken as known forever and never uploaded.
// A child process runs a large reading and is killed at a random point; the parent checks the
// files, and a last, complete reading must bring every record of the clock into both files.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include "clock/Marcaciones.h"
#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"

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
  LectorDePrueba p;
  RecordingSdk sdk;
  p.l.sdk = &sdk;
  p.alcance.tabla["127.0.0.2"] = 0;
  sdk.serial = "S1";
  sdk.registraLecturas = false;
  for (int i = 0; i < kRegistros; ++i) {
    RecordingSdk::Registro r;
    r.enrolamiento = std::to_string(i);
    r.dia = 1 + i % 28;
    r.hora = i % 24;
    r.minuto = i % 60;
    sdk.registros.push_back(r);
  }
  std::filesystem::create_directory(p.l.Marcaciones());
  auto lineaDe = [](const RecordingSdk::Registro& reg) {
    return "7,S1,2026,3," + std::to_string(reg.dia) + "," + std::to_string(reg.hora) + "," +
           std::to_string(reg.minuto) + "," + reg.enrolamiento + ",1,0,0,2";
  };
  uintmax_t tamanoFinal = 0;  // of the clock file once complete
  for (const auto& reg : sdk.registros) tamanoFinal += lineaDe(reg).size() + 2;
  const auto rutaReloj = p.l.Marcaciones() / "2603 7.txt";
  const auto rutaGeneral = p.l.Marcaciones() / "2603.txt";

  // Every record of the clock must be in the general file, and once in the clock file.
  auto compruebaCompleta = [&] {
    int16_t conectado = 0;
    std::string r = clock::LeeReloj(p.l, 1, 2, "7", "127.0.0.2", conectado, "S1");
    EXPECT_THAT(r, ::testing::StartsWith(std::to_string(kRegistros) + ","));
    auto general = Lineas(LeeArchivo(rutaGeneral));
    std::set<std::string> enGeneral(general.begin(), general.end());
    auto reloj = Lineas(LeeArchivo(rutaReloj));
    std::multiset<std::string> enReloj(reloj.begin(), reloj.end());
    for (const auto& reg : sdk.registros) {
      const std::string linea = lineaDe(reg);
      ASSERT_TRUE(enGeneral.count(linea)) << linea;
      ASSERT_EQ(enReloj.count(linea), 1u) << linea;
    }
    EXPECT_EQ(reloj.size(), static_cast<size_t>(kRegistros));
    // Pieces of cut lines were dropped; only duplicates may remain in the general file.
    std::set<std::string> todas;
    for (const auto& reg : sdk.registros) todas.insert(lineaDe(reg));
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
          std::chrono::steady_clock::now() + std::chrono::microseconds(azar() % 150000);

      pid_t hijo = fork();
      ASSERT_GE(hijo, 0);
      if (hijo == 0) {
        int16_t conectado = 0;
        try {
          clock::LeeReloj(p.l, 1, 2, "7", "127.0.0.2", conectado, "S1");
        } catch (...) {
          _exit(2);
        }
        _exit(0);
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
      ASSERT_FALSE(WIFEXITED(estado) && WEXITSTATUS(estado) != 0);

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
