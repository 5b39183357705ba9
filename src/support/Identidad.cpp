#include "support/Identidad.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>

namespace lector {
namespace {

// The first line of a file without blanks around it; "" when missing or unreadable.
std::string PrimeraLinea(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::string linea;
  if (!f || !std::getline(f, linea)) return "";
  if (linea.size() > 4096) linea.resize(4096);
  auto blanco = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!linea.empty() && blanco(linea.back())) linea.pop_back();
  size_t a = 0;
  while (a < linea.size() && blanco(linea[a])) ++a;
  return linea.substr(a);
}

// FNV-1a: stable across builds and platforms, and it spreads the machine id over all 32 bits.
int32_t Huella(const std::string& texto) {
  uint32_t h = 2166136261u;
  for (unsigned char c : texto) {
    h ^= c;
    h *= 16777619u;
  }
  return static_cast<int32_t>(h);
}

}  // namespace

std::string SerialDisco(Lector& l, const std::vector<std::filesystem::path>& fuentes) {
  std::string id;
  try {
    for (const auto& f : fuentes) {
      id = PrimeraLinea(f);
      if (!id.empty()) break;
    }
    if (id.empty()) {
      char nombre[256] = {};
      if (gethostname(nombre, sizeof nombre - 1) == 0) id = nombre;
    }
  } catch (...) {
    id.clear();
  }
  // With nothing to go by, every such machine shares the identity of the empty text.
  l.estado.IdEquipo = std::to_string(Huella(id));
  return l.estado.IdEquipo;
}

std::string SerialDisco(Lector& l) {
  return SerialDisco(l, {"/etc/machine-id", "/var/lib/dbus/machine-id"});
}

}  // namespace lector
