// Any answer to the clock list, and any login answer.
#include <cstdlib>
#include <string>

#include "server/Servicio.h"
#include "server/Sesion.h"
#include "support/Falla.h"

using namespace lector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string texto(reinterpret_cast<const char*>(data), size);
  std::vector<DatosReloj> lista;
  try {
    server::LlenaListaRelojes(lista, texto);
  } catch (const Falla& f) {
    if (f.numero != kTipoIncompatible && f.numero != kDesbordamiento) abort();
  }
  if (lista.empty() || lista.size() > texto.size() / 4 + 1) abort();
  server::LoginRechazado(texto, texto);
  if (server::Minusculas(texto).size() != texto.size()) abort();
  if (server::Caracteres(texto) > texto.size()) abort();
  return 0;
}
