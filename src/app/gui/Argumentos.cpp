// The command line: what it asks for besides starting the program (help, version, the terminal
// set-up for a desktop user or for the system service).
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/gui/Capturar.h"
#include "app/gui/Programa.h"

#ifndef LECTOR_VERSION
#define LECTOR_VERSION "0"
#endif

namespace lector::app {
namespace {

constexpr int kUsoIncorrecto = 64;  // EX_USAGE of sysexits.h
constexpr const char* kCarpetaSistema = "/var/lib/lector";
constexpr const char* kUsuarioSistema = "lector";

void Uso(std::FILE* f) {
  std::fprintf(
      f,
      "Uso: lector [log]\n"
      "     lector --configurar [--sistema]\n"
      "     lector --capturar IP [--puerto N] [--clave K] [--salida ARCHIVO]\n"
      "     lector --help | --version\n"
      "\n"
      "Lee los relojes de asistencia de la cuenta y envía sus marcaciones al servicio.\n"
      "Sin pantalla (o con QT_QPA_PLATFORM=offscreen) trabaja sin ventanas: ingresa con el\n"
      "usuario y la contraseña recordados y escribe cada línea de actividad en la salida.\n"
      "\n"
      "  log                    escribe también el registro de actividad en log.txt\n"
      "  --configurar           pregunta la dirección del servicio, el usuario y la contraseña,\n"
      "                         los comprueba y los guarda en Lector.ini con ingreso automático\n"
      "  --configurar --sistema lo mismo para el servicio del sistema (como root), en\n"
      "                         %s/Lector.ini; después: systemctl enable --now lector\n"
      "  --capturar IP          lee el reloj sin cambiarlo y graba cada paquete con su hora\n"
      "                         en captura-IP-AAAAMMDD-HHMMSS.txt (o --salida); resume lo leído\n"
      "  --help                 muestra esta ayuda\n"
      "  --version              muestra la versión\n"
      "\n"
      "Variables de entorno:\n"
      "  LECTOR_CARPETA         la carpeta del programa, en lugar de la que se elige abajo\n"
      "  QT_QPA_PLATFORM        la plataforma de Qt; \"offscreen\" trabaja sin ventanas\n"
      "\n"
      "Archivos: Lector.ini, log.txt y Marcaciones/ están en la carpeta del programa: la de\n"
      "LECTOR_CARPETA; si no, la del ejecutable cuando se puede escribir en ella; si no,\n"
      "$XDG_DATA_HOME/lector (~/.local/share/lector). El servicio del sistema usa %s.\n"
      "Carpeta del programa ahora: %s\n",
      kCarpetaSistema, kCarpetaSistema, CarpetaPrograma(false).c_str());
}

int Error(const std::string& texto) {
  std::fprintf(stderr, "lector: %s\n", texto.c_str());
  return 1;
}

// The service's folder, owned by its user, and the set-up run as that user: the settings file is
// then the service's own, and root never writes into a folder another user controls.
int ConfigurarSistema() {
  if (geteuid() != 0) return Error("--configurar --sistema se ejecuta como root (sudo)");
  const passwd* pw = getpwnam(kUsuarioSistema);
  if (!pw)
    return Error(std::string("no existe el usuario ") + kUsuarioSistema +
                 " (lo crea la instalación del paquete)");
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;
  if (::mkdir(kCarpetaSistema, 0700) != 0 && errno != EEXIST)
    return Error(std::string("no se pudo crear ") + kCarpetaSistema + ": " + std::strerror(errno));
  struct stat st {};
  if (::lstat(kCarpetaSistema, &st) != 0 || !S_ISDIR(st.st_mode))
    return Error(std::string(kCarpetaSistema) + " no es una carpeta");
  if ((st.st_uid != uid && ::lchown(kCarpetaSistema, uid, gid) != 0) ||
      ::chmod(kCarpetaSistema, 0700) != 0)
    return Error(std::string("no se pudo dar ") + kCarpetaSistema + " al usuario " +
                 kUsuarioSistema + ": " + std::strerror(errno));
  if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
    return Error(std::string("no se pudo pasar al usuario ") + kUsuarioSistema);
  return Configurar(kCarpetaSistema);
}

}  // namespace

std::optional<int> Argumentos(int argc, char** argv) {
  const std::vector<std::string> a(argv + 1, argv + argc);
  for (const std::string& x : a) {
    if (x == "--help") {
      Uso(stdout);
      return 0;
    }
    if (x == "--version") {
      std::printf("lector %s\n", LECTOR_VERSION);
      return 0;
    }
  }
  if (a == std::vector<std::string>{"--configurar"}) return Configurar(CarpetaPrograma());
  if (a == std::vector<std::string>{"--configurar", "--sistema"}) return ConfigurarSistema();
  if (!a.empty() && a[0] == "--capturar") return Capturar({a.begin() + 1, a.end()});
  // Any other word passes to the program, where only the exact "log" means something.
  for (const std::string& x : a)
    if (x.starts_with("--")) {
      std::string todos;
      for (const std::string& y : a) todos += " " + y;
      std::fprintf(stderr, "lector: argumentos no válidos:%s\n\n", todos.c_str());
      Uso(stderr);
      return kUsoIncorrecto;
    }
  return std::nullopt;
}

}  // namespace lector::app
