// Any bytes as Lector.ini: reading never fails, and a written key reads back exactly while the
// rest of the file reads as before.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/CodePage.h"
#include "support/Ini.h"

using namespace lector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // In memory where there is such a folder: every write is synced to disk.
  static const std::filesystem::path archivo =
      (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                 : std::filesystem::temp_directory_path()) /
      ("fuzz-ini-" + std::to_string(getpid()) + ".ini");
  std::string bytes(reinterpret_cast<const char*>(data), size);
  // The first line of the input is the value to write; the rest is the file.
  size_t corte = bytes.find('\n');
  std::string valor = corte == std::string::npos ? "" : bytes.substr(0, corte);
  std::string contenido = corte == std::string::npos ? bytes : bytes.substr(corte + 1);
  std::ofstream(archivo, std::ios::binary | std::ios::trunc) << contenido;

  std::string url = LeeIni(archivo, "SERVIDOR", "URL", "-");
  LeeIni(archivo, "USER", "USER", "");
  std::string utf8 = Cp1252AUtf8(valor);
  if (GrabaIni(archivo, "USER", "PASS", utf8)) {
    std::string esperado = valor.substr(0, 999);
    for (char& c : esperado)
      if (c == '\r') c = ' ';
    if (Utf8ACp1252(LeeIni(archivo, "USER", "PASS", "")) != esperado) abort();
    if (LeeIni(archivo, "SERVIDOR", "URL", "-") != url) abort();
  }
  std::filesystem::remove(archivo);
  return 0;
}
