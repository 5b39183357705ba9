// The program on a machine without a display: `lector --configurar` against service-sim with
// answers piped in, then `lector` signing in by itself, printing the cycle's lines and ending on
// SIGTERM. Every program is a real process on loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "kit/Fixtures.h"

extern char** environ;

namespace lector::test {
namespace {

// A program with its standard input and output in pipes, killed if the test leaves it running.
class Proceso {
 public:
  Proceso(const std::string& programa, std::vector<std::string> args,
          const std::vector<std::string>& entorno) {
    args.insert(args.begin(), std::string(LECTOR_BINARY_DIR) + "/" + programa);
    int entrada[2], salida[2];
    EXPECT_EQ(pipe(entrada), 0);
    EXPECT_EQ(pipe(salida), 0);
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    posix_spawn_file_actions_adddup2(&acciones, entrada[0], 0);
    posix_spawn_file_actions_adddup2(&acciones, salida[1], 1);
    posix_spawn_file_actions_addopen(&acciones, 2, "/dev/null", O_WRONLY, 0);
    for (int fd : {entrada[1], salida[0]}) posix_spawn_file_actions_addclose(&acciones, fd);
    // The environment less any display, plus the given variables.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      if (v.rfind("DISPLAY=", 0) && v.rfind("WAYLAND_DISPLAY=", 0) && v.rfind("QT_QPA_", 0))
        env.push_back(v);
    }
    env.insert(env.end(), entorno.begin(), entorno.end());
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &acciones, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&acciones);
    close(entrada[0]);
    close(salida[1]);
    entrada_ = entrada[1];
    salida_ = salida[0];
  }
  ~Proceso() {
    if (estado_ == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(entrada_);
    close(salida_);
  }
  void Escribe(const std::string& texto) {
    EXPECT_EQ(write(entrada_, texto.data(), texto.size()), static_cast<ssize_t>(texto.size()));
  }
  // Reads standard output until a line holds the text (or 90 s pass); true when one did.
  bool EsperaLinea(const std::string& texto) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < fin) {
      size_t p;
      while ((p = pendiente_.find('\n')) != std::string::npos) {
        std::string linea = pendiente_.substr(0, p);
        pendiente_.erase(0, p + 1);
        salida += linea + "\n";
        if (linea.find(texto) != std::string::npos) return true;
      }
      pollfd pf{salida_, POLLIN, 0};
      char b[4096];
      ssize_t n = poll(&pf, 1, 100) > 0 ? read(salida_, b, sizeof b) : 0;
      if (n < 0 || (n == 0 && pf.revents & POLLHUP)) return false;
      pendiente_.append(b, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    return false;
  }
  // The exit status once the program ended (-1 if it does not end in 30 s).
  int Fin() {
    EsperaHasta([&] { return waitpid(pid_, &estado_, WNOHANG) == pid_; }, std::chrono::seconds(30));
    return WIFEXITED(estado_) ? WEXITSTATUS(estado_) : -1;
  }
  void Senal(int s) { kill(pid_, s); }
  std::string salida;  // the lines read so far

 private:
  pid_t pid_ = -1;
  int entrada_ = -1, salida_ = -1, estado_ = -1;
  std::string pendiente_;
};

TEST(SinPantalla, ConfiguraIngresaSoloYTerminaConSigterm) {
  CarpetaTemporal carpeta;
  // A clock address of this run's own, so parallel runs do not meet on port 4370.
  const std::string ip = "127.0." + std::to_string(100 + getpid() % 100) + "." +
                         std::to_string(2 + getpid() / 100 % 250);
  const std::string datos = (carpeta.ruta() / "servicio.json").string();
  std::ofstream(datos) << R"({"cuentas":[{"usuario":"ana","clave":"clave1","relojes":[{"numero":"1",
    "serial":"E2E0001","relojid":"7","nombre":"Entrada","etiqueta":"1","ip":")"
                       << ip << R"(","conectado":"1","intervalo":"5","tareas":[]}]}]})";
  const std::string puerto = std::to_string(PuertoLibre());
  Proceso servicio("tools/service-sim/service-sim", {"--port", puerto, "--data", datos}, {});
  ASSERT_TRUE(servicio.EsperaLinea("escuchando"));
  Proceso reloj("tools/clock-sim/clock-sim",
                {"--address", ip, "--serial", "E2E0001", "--users", "5", "--records", "20"}, {});
  ASSERT_TRUE(reloj.EsperaLinea("escuchando"));

  const std::vector<std::string> entorno{"LECTOR_CARPETA=" + carpeta.ruta().string()};
  const auto ini = carpeta.ruta() / "Lector.ini";
  for (const auto& [clave, estado] : {std::pair{"otra", 1}, std::pair{"clave1", 0}}) {
    Proceso configura("src/lector", {"--configurar"}, entorno);
    configura.Escribe("http://127.0.0.1:" + puerto + "\nana\n" + clave + "\n");
    EXPECT_EQ(configura.Fin(), estado) << clave;
    EXPECT_EQ(std::filesystem::exists(ini), estado == 0) << clave;
  }

  Proceso lector("src/lector", {}, entorno);
  for (const char* linea : {"No hay área de notificación", "Leyendo relojes: 1",
                            "Conectando con reloj: Entrada", "Reloj Entrada leido: 20, nuevos: 20"})
    ASSERT_TRUE(lector.EsperaLinea(linea)) << linea << " en\n" << lector.salida;
  lector.Senal(SIGTERM);
  EXPECT_EQ(lector.Fin(), 0);
}

}  // namespace
}  // namespace lector::test
