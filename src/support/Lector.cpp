#include "support/Lector.h"

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

std::filesystem::path CarpetaPrograma() {
  if (const char* env = std::getenv("LECTOR_CARPETA"); env && *env) return env;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return exe.parent_path();
  return std::filesystem::current_path(ec);
}

}  // namespace lector
