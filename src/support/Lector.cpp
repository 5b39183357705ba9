#include "support/Lector.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "support/Falla.h"

namespace lector {

Reachability& Lector::Alcance() const {
  if (!alcance) throw Falla(kArgumentoInvalido, "No hay verificación de red configurada");
  return *alcance;
}

clock::ClockSdk& Lector::Sdk() const {
  if (!sdk) throw Falla(kArgumentoInvalido, "No hay SDK de relojes configurado");
  return *sdk;
}

Temporizador& Lector::Proceso() const {
  if (!proceso) throw Falla(kArgumentoInvalido, "No hay temporizador de proceso configurado");
  return *proceso;
}

namespace {

// An installed program lives in a folder shared by every program; its files go elsewhere.
bool CarpetaCompartida(const std::filesystem::path& p) {
  for (const char* c :
       {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"})
    if (p == c) return true;
  return false;
}

// $XDG_DATA_HOME/lector, or ~/.local/share/lector; empty without a home folder.
std::filesystem::path DatosDelUsuario() {
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/')
    return std::filesystem::path(x) / "lector";
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  if (!home || !*home) return {};
  return std::filesystem::path(home) / ".local" / "share" / "lector";
}

}  // namespace

std::filesystem::path CarpetaPrograma(bool crea) {
  if (const char* env = std::getenv("LECTOR_CARPETA"); env && *env) return env;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  auto carpeta = exe.parent_path();
  if (!CarpetaCompartida(carpeta) && ::access(carpeta.c_str(), W_OK) == 0) return carpeta;
  auto datos = DatosDelUsuario();
  if (datos.empty()) return carpeta;
  if (crea) {
    std::filesystem::create_directories(datos.parent_path(), ec);
    ::mkdir(datos.c_str(), 0700);
  }
  return datos;
}

}  // namespace lector
