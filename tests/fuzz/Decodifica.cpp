// Any stored text: unscrambling never fails, and what it gives scrambles back to itself.
#include <cstdlib>
#include <string>

#include "support/CodePage.h"
#include "support/Ini.h"

using namespace lector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string texto = Cp1252AUtf8(bytes);
  std::string plano = Decodifica(texto);
  Decodifica(bytes);  // not even valid UTF-8
  DecodificaHex(texto);
  if (!bytes.empty()) ValorHex(texto.substr(0, 2));
  std::string otra = Codifica(plano);
  if (!otra.empty() && (Decodifica(otra) != plano || Utf8ACp1252(otra).size() != 501)) abort();
  return 0;
}
