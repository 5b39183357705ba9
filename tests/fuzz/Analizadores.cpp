// The small parsers over any bytes: the first byte chooses the parser, the rest is its input.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

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
  const std::string plano = Decodifica(Cp1252AUtf8(bytes));
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

// Any bytes as Lector.ini, its first line being a value to write: reading never fails, and the
// written key reads back exactly while the rest of the file reads as before.
void Configuracion(const std::string& bytes) {
  // In memory where there is such a folder: every write is synced to disk.
  static const std::filesystem::path archivo =
      (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                 : std::filesystem::temp_directory_path()) /
      ("fuzz-ini-" + std::to_string(getpid()) + ".ini");
  const size_t corte = bytes.find('\n');
  const std::string valor = corte == std::string::npos ? "" : bytes.substr(0, corte);
  std::ofstream(archivo, std::ios::binary | std::ios::trunc)
      << (corte == std::string::npos ? bytes : bytes.substr(corte + 1));
  const std::string url = LeeIni(archivo, "SERVIDOR", "URL", "-");
  LeeIni(archivo, "USER", "USER", "");
  if (GrabaIni(archivo, "USER", "PASS", Cp1252AUtf8(valor))) {
    std::string esperado = valor.substr(0, 999);
    for (char& c : esperado)
      if (c == '\r') c = ' ';
    if (Utf8ACp1252(LeeIni(archivo, "USER", "PASS", "")) != esperado) abort();
    if (LeeIni(archivo, "SERVIDOR", "URL", "-") != url) abort();
  }
  std::filesystem::remove(archivo);
}

// Any answer to the clock list, and any login answer.
void ListaRelojes(const std::string& texto) {
  std::vector<DatosReloj> lista;
  server::LlenaListaRelojes(lista, texto);
  for (const auto& d : lista)
    if (d.NumeroDefecto && d.NumeroDefecto != kTipoIncompatible &&
        d.NumeroDefecto != kDesbordamiento && d.NumeroDefecto != kArgumentoInvalido)
      abort();
  if (lista.empty() || lista.size() > texto.size() / 4 + 1) abort();
  server::LoginRechazado(texto, texto);
  if (server::Minusculas(texto).size() != texto.size()) abort();
  if (server::Caracteres(texto) > texto.size()) abort();
}

using Analizador = void (*)(const std::string&);
constexpr Analizador kAnalizadores[] = {Campos,      PaginaDeCodigos, Desordenado,
                                        PaqueteIcmp, Configuracion,   ListaRelojes};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  kAnalizadores[data[0] % std::size(kAnalizadores)](
      std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  return 0;
}
