// Any separated text with any separator and field number.
#include <cstdlib>
#include <string>

#include "support/Texto.h"

using namespace lector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  long n = static_cast<int8_t>(data[0]);
  size_t largoSep = data[1] % 5;
  if (size < 2 + largoSep) return 0;
  std::string sep(reinterpret_cast<const char*>(data + 2), largoSep);
  std::string texto(reinterpret_cast<const char*>(data + 2 + largoSep), size - 2 - largoSep);
  std::string campo = Campo(texto, n, sep);
  if (campo.size() > texto.size() || texto.find(campo) == std::string::npos) abort();
  long cuenta = CuentaCampos(texto, sep);
  if (cuenta < 1 || cuenta > static_cast<long>(texto.size()) + 1) abort();
  ListaJson(texto);
  ParJson(sep, texto);
  return 0;
}
