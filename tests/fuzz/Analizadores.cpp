// The small parsers over any bytes: the first byte chooses the parser, the rest is its input.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ServiceSim.h"
#include "server/Servicio.h"
#include "server/Sesion.h"
#include "support/CodePage.h"
#include "support/Falla.h"
#include "support/Ini.h"
#include "support/Ping.h"
#include "support/Texto.h"

using namespace lector;

namespace {

// Any separated text with any separator and field number.
void Campos(const std::string& b) {
  if (b.size() < 2u + static_cast<uint8_t>(b[1]) % 5) return;
  const std::string sep = b.substr(2, static_cast<uint8_t>(b[1]) % 5),
                    texto = b.substr(2 + sep.size());
  const std::string campo = Campo(texto, static_cast<int8_t>(b[0]), sep);
  if (campo.size() > texto.size() || texto.find(campo) == std::string::npos) abort();
  const long cuenta = CuentaCampos(texto, sep);
  if (cuenta < 1 || cuenta > static_cast<long>(texto.size()) + 1) abort();
  ListaJson(texto);
  ParJson(sep, texto);
}

// Windows-1252 text always survives a round trip through UTF-8.
void PaginaDeCodigos(const std::string& bytes) {
  if (Utf8ACp1252(Cp1252AUtf8(bytes)) != bytes) abort();
  const std::string cp = Utf8ACp1252(bytes);
  if (cp.size() > bytes.size() || Utf8ACp1252(Cp1252AUtf8(cp)) != cp) abort();
}

// Any stored text: unscrambling never fails, and what it gives scrambles back to itself.
void Desordenado(const std::string& bytes) {
  const std::string texto = Cp1252AUtf8(bytes);
  const std::string plano = Decodifica(texto);
  Decodifica(bytes);  // not even valid UTF-8
  const std::string otra = Codifica(plano);
  if (!otra.empty() && (Decodifica(otra) != plano || Utf8ACp1252(otra).size() != 501)) abort();
}

// Any packet a raw ICMP socket could hand us, after the address, id and sequence it must answer.
void PaqueteIcmp(const std::string& b) {
  if (b.size() < 8) return;
  uint32_t destino;
  uint16_t id, secuencia;
  std::memcpy(&destino, b.data(), 4);
  std::memcpy(&id, b.data() + 4, 2);
  std::memcpy(&secuencia, b.data() + 6, 2);
  // A copy of exactly the packet's size, so that any read past it is caught.
  const std::vector<uint8_t> paquete(b.begin() + 8, b.end());
  EsRespuestaAlEco(paquete.data(), paquete.size(), destino, id, secuencia);
}

// Any form body, query or multipart body arriving at service-sim.
void PeticionServicio(const std::string& b) {
  if (b.empty() || b.size() < 1u + static_cast<uint8_t>(b[0]) % 12) return;
  const std::string frontera = b.substr(1, static_cast<uint8_t>(b[0]) % 12);
  const std::string cuerpo = b.substr(1 + frontera.size());
  for (const auto& [clave, valor] : servicesim::LeeFormulario(cuerpo))
    if (clave.size() + valor.size() > cuerpo.size()) abort();
  if (auto parte = servicesim::LeeMultipart(cuerpo, frontera))
    if (parte->contenido.size() > cuerpo.size() ||
        cuerpo.find(parte->contenido) == std::string::npos)
      abort();
}

// Any answer to the clock list, and any login answer.
void ListaRelojes(const std::string& texto) {
  std::vector<DatosReloj> lista;
  server::LlenaListaRelojes(lista, texto);
  for (const auto& d : lista)
    if (d.NumeroDefecto && d.NumeroDefecto != kTipoIncompatible &&
        d.NumeroDefecto != kDesbordamiento)
      abort();
  if (lista.empty() || lista.size() > texto.size() / 4 + 1) abort();
  server::LoginRechazado(texto, texto);
  if (server::Minusculas(texto).size() != texto.size()) abort();
  if (server::Caracteres(texto) > texto.size()) abort();
}

using Analizador = void (*)(const std::string&);
constexpr Analizador kAnalizadores[] = {Campos,      PaginaDeCodigos,  Desordenado,
                                        PaqueteIcmp, PeticionServicio, ListaRelojes};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  kAnalizadores[data[0] % std::size(kAnalizadores)](
      std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  return 0;
}
