// The clock-sim program itself: command line, state file on a signal and at exit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>

#include "clock-sim/Estado.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

using lector::test::CarpetaTemporal;
using lector::test::EsperaHasta;

constexpr const char* kIp = "127.0.0.25";

// The program running; its standard error goes to a file. The shell gives its pid first.
class Programa {
 public:
  Programa(const std::vector<std::string>& args, const std::filesystem::path& error) {
    std::string orden =
        "echo $$; exec " + std::string(LECTOR_BINARY_DIR) + "/tools/clock-sim/clock-sim";
    for (const auto& a : args) orden += " '" + a + "'";
    salida_ = popen((orden + " 2>'" + error.string() + "'").c_str(), "r");
    pid_ = std::stoi(Linea());
  }
  ~Programa() {
    if (salida_) kill(pid_, SIGKILL);
    Termina();
  }
  std::string Linea() {
    char b[512] = {};
    return fgets(b, sizeof b, salida_) ? b : "";
  }
  void Senal(int s) { kill(pid_, s); }
  // Waits for the exit and gives its status.
  int Termina() {
    if (salida_) estado_ = WEXITSTATUS(pclose(salida_));
    salida_ = nullptr;
    return estado_;
  }

 private:
  FILE* salida_ = nullptr;
  pid_t pid_ = -1;
  int estado_ = -1;
};

int PuertoDe(const std::string& linea) {
  auto dos = linea.find(':', linea.find(kIp));
  return dos == std::string::npos ? 0 : std::stoi(linea.substr(dos + 1));
}

TEST(EjecutableTest, GeneraAtiendeYEscribeSuEstadoConSenales) {
  CarpetaTemporal carpeta;
  auto archivo = carpeta.ruta() / "reloj.json";
  const std::vector<std::string> args = {
      "--address",        kIp,
      "--port",           "0",
      "--state",          archivo.string(),
      "--users",          "12",
      "--records",        "300",
      "--seed",           "4",
      "--until",          "2024-06-01 00:00:00",
      "--serial",         "XYZ99",
      "--records-layout", "16",
      "--verbose",        "1"};  // clang-format keeps pairs apart otherwise
  Programa p(args, carpeta.ruta() / "error.txt");
  std::string linea = p.Linea();
  ASSERT_NE(linea.find("12 usuarios, 300 marcaciones"), std::string::npos) << linea;
  const int puerto = PuertoDe(linea);
  lector::clock::zk::ZkSdk sdk;
  ASSERT_TRUE(sdk.Connect_Net(kIp, puerto));
  std::string serie;
  EXPECT_TRUE(sdk.GetSerialNumber(0, serie));
  EXPECT_EQ(serie, "XYZ99");
  ASSERT_TRUE(sdk.ReadGeneralLogData(0));
  EXPECT_EQ(sdk.TamMarcacion(), 16u);
  EXPECT_EQ(sdk.CuentaMarcaciones(), 300u);
  EXPECT_TRUE(sdk.ClearGLog(0));
  sdk.Disconnect();
  p.Senal(SIGUSR1);
  ASSERT_TRUE(EsperaHasta([&] {
    try {
      return EstadoReloj::Carga(archivo).marcaciones.empty();
    } catch (const std::exception&) {
      return false;  // not written yet
    }
  }));
  auto e = EstadoReloj::Carga(archivo);
  EXPECT_EQ(e.serie, "XYZ99");
  EXPECT_EQ(e.formatoMarcacion, 16u);
  // A change after the signal reaches the file at exit.
  ASSERT_TRUE(sdk.Connect_Net(kIp, puerto));
  EXPECT_TRUE(sdk.SSR_DeleteEnrollData(0, e.usuarios[0].id, 12));
  sdk.Disconnect();
  p.Senal(SIGTERM);
  EXPECT_EQ(p.Termina(), 0);
  EXPECT_EQ(EstadoReloj::Carga(archivo).usuarios.size(), 11u);
  EXPECT_NE(lector::test::LeeArchivo(carpeta.ruta() / "error.txt").find("CMD_CLEAR_ATTLOG"),
            std::string::npos);
  // Started again on the same file: the state is the one left.
  Programa q({"--address", kIp, "--port", "0", "--state", archivo.string()}, "/dev/null");
  EXPECT_NE(q.Linea().find("11 usuarios, 0 marcaciones"), std::string::npos);
  q.Senal(SIGINT);
  EXPECT_EQ(q.Termina(), 0);
}

TEST(EjecutableTest, OrdenesYArchivosMalosSeRechazanConElMotivo) {
  CarpetaTemporal carpeta;
  auto malo = carpeta.ruta() / "malo.json";
  std::ofstream(malo) << R"({"usuarios": [{"id": "1", "privilegio": 7}]})";
  const std::vector<std::pair<std::vector<std::string>, std::string>> casos = {
      {{"--port", "1"}, "--address"},
      {{"--address", kIp, "--layout", "40"}, "--layout"},
      {{"--address", kIp, "--fault", "explode"}, "explode"},
      {{"--address", kIp, "--users", "-3"}, "--users"},
      {{"--address", kIp, "--state", malo.string()}, "privilegio"},
      {{"--address", "no-es-ip", "--port", "0"}, "no-es-ip"},
      {{"--address", kIp, "--bogus"}, "--bogus"},
  };
  for (const auto& [args, motivo] : casos) {
    Programa p(args, carpeta.ruta() / "error.txt");
    EXPECT_EQ(p.Termina(), 2) << args.back();
    EXPECT_NE(lector::test::LeeArchivo(carpeta.ruta() / "error.txt").find(motivo),
              std::string::npos)
        << args.back();
  }
}

}  // namespace
}  // namespace clocksim::test
