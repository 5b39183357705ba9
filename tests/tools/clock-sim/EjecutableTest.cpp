// The clock-sim program's refusals: bad arguments and state files end it with status 2 and the
// reason. Running it, its state file and signals are exercised by tests/e2e.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>

#include "clock-sim/Estado.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

using lector::test::CarpetaTemporal;

constexpr const char* kIp = "127.0.0.25";

// Runs the program to its end (a minute at most): its exit status, and its standard error.
int Corre(const std::vector<std::string>& args, std::string& error) {
  CarpetaTemporal carpeta;
  std::string orden = "timeout 60 " + std::string(LECTOR_BINARY_DIR) + "/tools/clock-sim/clock-sim";
  for (const auto& a : args) orden += " '" + a + "'";
  const int r = std::system((orden + " >/dev/null 2>" + (carpeta.ruta() / "e").string()).c_str());
  error = lector::test::LeeArchivo(carpeta.ruta() / "e");
  return WEXITSTATUS(r);
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
    std::string error;
    EXPECT_EQ(Corre(args, error), 2) << args.back();
    EXPECT_NE(error.find(motivo), std::string::npos) << args.back() << ": " << error;
  }
}

}  // namespace
}  // namespace clocksim::test
