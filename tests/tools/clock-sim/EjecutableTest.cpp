// The clock-sim program itself: command line, state file on a signal and at exit.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "ClienteCrudo.h"
#include "clock-sim/Estado.h"
#include "kit/Fixtures.h"

extern char** environ;

namespace clocksim::test {
namespace {

using lector::test::CarpetaTemporal;
using lector::test::EsperaHasta;

constexpr const char* kIp = "127.0.0.25";

// The program running with its standard output and error in pipes.
class Programa {
 public:
  explicit Programa(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(LECTOR_BINARY_DIR) + "/tools/clock-sim/clock-sim");
    int salida[2], error[2];
    EXPECT_EQ(pipe(salida), 0);
    EXPECT_EQ(pipe(error), 0);
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    posix_spawn_file_actions_adddup2(&acciones, salida[1], 1);
    posix_spawn_file_actions_adddup2(&acciones, error[1], 2);
    posix_spawn_file_actions_addclose(&acciones, salida[0]);
    posix_spawn_file_actions_addclose(&acciones, error[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &acciones, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&acciones);
    close(salida[1]);
    close(error[1]);
    salida_ = salida[0];
    error_ = error[0];
  }
  ~Programa() {
    if (pid_ > 0 && estado_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(salida_);
    close(error_);
  }
  // The first line of standard output ("" if none comes).
  std::string PrimeraLinea() {
    std::string linea;
    auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < fin) {
      pollfd p{salida_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(salida_, &c, 1) != 1 || c == '\n') return linea;
      linea += c;
    }
    return linea;
  }
  std::string Error() {
    std::string todo;
    char b[4096];
    ssize_t n;
    while ((n = read(error_, b, sizeof b)) > 0) todo.append(b, static_cast<size_t>(n));
    return todo;
  }
  void Senal(int s) { kill(pid_, s); }
  // Waits for the exit and gives its status (-1 if it does not end).
  int Termina() {
    EsperaHasta([&] {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) estado_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
      return estado_ >= 0;
    });
    return estado_;
  }

 private:
  pid_t pid_ = -1;
  int salida_ = -1, error_ = -1;
  int estado_ = -1;
};

uint16_t PuertoDe(const std::string& linea) {
  // "clock-sim: escuchando en 127.0.0.25:PORT TCP, ..."
  auto dos = linea.find(':', linea.find(kIp));
  return dos == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(linea.substr(dos + 1)));
}

TEST(EjecutableTest, GeneratesServesAndWritesItsStateOnSignals) {
  CarpetaTemporal carpeta;
  auto archivo = carpeta.ruta() / "reloj.json";
  Programa p({"--address",        kIp,
              "--port",           "0",
              "--state",          archivo.string(),
              "--users",          "12",
              "--records",        "300",
              "--seed",           "4",
              "--until",          "2024-06-01 00:00:00",
              "--serial",         "XYZ99",
              "--records-layout", "16",
              "--verbose",        "1"});
  std::string linea = p.PrimeraLinea();
  ASSERT_NE(linea.find("12 usuarios, 300 marcaciones"), std::string::npos) << linea;
  uint16_t puerto = PuertoDe(linea);
  ASSERT_NE(puerto, 0);
  {
    ClienteCrudo c(kIp, puerto);
    ASSERT_TRUE(c.Conecta());
    auto r = c.Pide(zk::CMD_OPTIONS_RRQ, zk::CodificaNombreOpcion("~SerialNumber"));
    EXPECT_EQ(zk::ValorOpcion(r.datos.data(), r.datos.size()), "XYZ99");
    EXPECT_EQ(c.LeeMasivo(zk::kMasivaMarcaciones).size(), 4u + 300 * 16);
    EXPECT_EQ(c.Pide(zk::CMD_CLEAR_ATTLOG).comando, zk::CMD_ACK_OK);
    EXPECT_EQ(c.Pide(zk::CMD_EXIT).comando, zk::CMD_ACK_OK);
  }
  p.Senal(SIGUSR1);
  ASSERT_TRUE(EsperaHasta([&] { return std::filesystem::exists(archivo); }));
  ASSERT_TRUE(EsperaHasta([&] {
    try {
      return EstadoReloj::Carga(archivo).usuarios.size() == 12;
    } catch (const std::exception&) {
      return false;  // not written yet
    }
  }));
  auto e = EstadoReloj::Carga(archivo);
  EXPECT_EQ(e.serie, "XYZ99");
  EXPECT_EQ(e.formatoMarcacion, 16u);
  EXPECT_TRUE(e.marcaciones.empty());

  // A change after the signal reaches the file at exit.
  {
    ClienteCrudo c(kIp, puerto);
    ASSERT_TRUE(c.Conecta());
    EXPECT_EQ(c.Pide(zk::CMD_DELETE_USER, zk::Bytes{1, 0}).comando, zk::CMD_ACK_OK);
  }
  p.Senal(SIGTERM);
  EXPECT_EQ(p.Termina(), 0);
  EXPECT_EQ(EstadoReloj::Carga(archivo).usuarios.size(), 11u);
  std::string log = p.Error();
  EXPECT_NE(log.find("CMD_CLEAR_ATTLOG"), std::string::npos) << log;
  EXPECT_NE(log.find("CMD_DELETE_USER"), std::string::npos);

  // Started again on the same file: the state is the one left.
  Programa q({"--address", kIp, "--port", "0", "--state", archivo.string()});
  EXPECT_NE(q.PrimeraLinea().find("11 usuarios, 0 marcaciones"), std::string::npos);
  q.Senal(SIGINT);
  EXPECT_EQ(q.Termina(), 0);
}

TEST(EjecutableTest, BadCommandLinesAndFilesAreRefusedWithTheReason) {
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
    Programa p(args);
    EXPECT_EQ(p.Termina(), 2) << args.back();
    EXPECT_NE(p.Error().find(motivo), std::string::npos) << args.back();
  }
}

}  // namespace
}  // namespace clocksim::test
