// Any bytes through the clock protocol's parsers, as a TCP stream, a datagram, records, users,
// bulk-read structures and Base64: no crash, and what parses builds back to the same bytes.
#include <cstdlib>
#include <string>
#include <vector>

#include "clock/zk/ZkProtocolo.h"

using namespace lector::clock::zk;

namespace {

void Exige(bool condicion) {
  if (!condicion) abort();
}

// Takes frames off a stream as the client does: a complete frame, more bytes needed, or junk.
void ComoFlujoTcp(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    uint32_t largo = 0;
    const auto estado = ExaminaTramaTcp(p + i, n - i, largo);
    if (estado != EstadoTrama::kCompleta) return;
    Exige(largo >= kTamCabecera && kTamPrefijoTcp + largo <= n - i);
    if (auto q = LeePayload(p + i + kTamPrefijoTcp, largo)) {
      const Bytes otra = ArmaTramaTcp(q->comando, q->sesion, q->idRespuesta, q->datos);
      Exige(otra == Bytes(p + i, p + i + kTamPrefijoTcp + largo));
    }
    i += kTamPrefijoTcp + largo;
  }
}

void ComoDatagrama(const uint8_t* p, size_t n) {
  auto q = LeePayload(p, n);
  if (!q) {
    LeePayload(p, n, false);
    return;
  }
  Exige(ArmaPayload(q->comando, q->sesion, q->idRespuesta, q->datos) == Bytes(p, p + n));
  const Bytes& d = q->datos;
  ValorOpcion(d.data(), d.size());
  TextoHastaNul(d.data(), d.size());
  DecodificaNombreOpcion(d.data(), d.size());
  DecodificaCapacidades(d.data(), d.size());
  DecodificaAnuncioMasivo(d.data(), d.size());
  DecodificaPreparacion(d.data(), d.size());
  DecodificaPeticionMasiva(d.data(), d.size());
  DecodificaEscrituraPlantilla(d.data(), d.size());
  DecodificaEscrituraCara(d.data(), d.size());
  uint32_t a, b;
  DecodificaPeticionTrozo(d.data(), d.size(), a, b);
  uint16_t uid;
  uint8_t indice;
  DecodificaUidIndice(d.data(), d.size(), uid, indice);
  VerificaClaveComm(d.data(), d.size(), 1234, q->sesion);
}

void ComoConjunto(const uint8_t* p, size_t n) {
  auto cuerpo = LeeConjunto(p, n);
  if (!cuerpo) return;
  Exige(cuerpo->inicio + cuerpo->largo <= n);
  const uint8_t* r = p + cuerpo->inicio;
  for (size_t tam : {8, 16, 40, 49}) {
    Marcacion m;
    for (size_t i = 0; i + tam <= cuerpo->largo; i += tam) {
      Exige(DecodificaMarcacion(r + i, tam, m));
      Exige(m.usuario.size() <= 24);
      const FechaHora f = DecodificaHora(m.hora);
      if (f.anio <= 2099) Exige(CodificaHora(f) == m.hora);
    }
  }
  for (size_t tam : {kUsuario28, kUsuario72}) {
    UsuarioZk u;
    for (size_t i = 0; i + tam <= cuerpo->largo; i += tam) {
      Exige(DecodificaUsuario(r + i, tam, u));
      Bytes otra;
      // Anything that reads back within its fields writes the same fields again.
      if (CodificaUsuario(u, tam, otra)) {
        UsuarioZk v;
        Exige(DecodificaUsuario(otra.data(), tam, v));
        Exige(v.uid == u.uid && v.nombre == u.nombre && v.clave == u.clave &&
              v.tarjeta == u.tarjeta && v.usuario == u.usuario);
      }
    }
  }
  std::vector<EntradaPlantilla> plantillas;
  DecodificaPlantillas(r, cuerpo->largo, plantillas);
  TamRegistroMarcacion(cuerpo->largo, n ? p[0] : 0);
  Exige(TamMarcacionValido(LayoutDeMarcaciones(r, cuerpo->largo, n ? p[0] : 0, {40, 49, 16, 8})) ||
        LayoutDeMarcaciones(r, cuerpo->largo, 0, {40, 49, 16, 8}) == 0);
  TamRegistroUsuario(cuerpo->largo, n ? p[0] : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ComoFlujoTcp(data, size);
  ComoDatagrama(data, size);
  ComoConjunto(data, size);
  const std::string texto(reinterpret_cast<const char*>(data), size);
  if (auto b = DeBase64(texto)) Exige(DeBase64(Base64(b->data(), b->size())) == b);
  Exige(DeBase64(Base64(data, size)) == Bytes(data, data + size));
  ChecksumBuffer(data, size);
  return 0;
}
