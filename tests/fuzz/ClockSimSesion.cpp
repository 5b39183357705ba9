// Any bytes into clock-sim's request handling: as a raw TCP stream, or as a series of requests
// with right checksums on an open session (so that every command is reached). The emulated
// device must not crash, must answer every request it takes, and its answers must be frames.
#include <cstdlib>

#include "clock-sim/Estado.h"
#include "clock-sim/Genera.h"
#include "clock-sim/Sesion.h"

using namespace clocksim;

namespace {

void Exige(bool condicion) {
  if (!condicion) abort();
}

const EstadoReloj& Base() {
  static const EstadoReloj base = [] {
    EstadoReloj e;
    Genera(e, {6, 120, 3, SegundosCiviles({2024, 5, 1, 0, 0, 0})});
    e.horaFija = SegundosCiviles({2024, 5, 2, 12, 0, 0});
    return e;
  }();
  return base;
}

void Atiende(EstadoReloj& e, Sesion& s, const zk::Paquete& p) {
  Respuesta r = s.Atiende(e, p);
  Exige(!r.paquetes.empty());
  for (const auto& q : Enmarca(r, s.IdPara(p), p.idRespuesta, s.transporte())) {
    if (s.transporte() == Transporte::kTcp) {
      uint32_t largo = 0;
      Exige(zk::ExaminaTramaTcp(q.bytes.data(), q.bytes.size(), largo) ==
            zk::EstadoTrama::kCompleta);
      Exige(zk::ChecksumValido(q.bytes.data() + zk::kTamPrefijoTcp, largo));
    } else {
      Exige(zk::ChecksumValido(q.bytes.data(), q.bytes.size()));
      Exige(q.bytes.size() <= zk::kTamCabecera + zk::kMaxDatosUdp || q.codigo != zk::CMD_DATA);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t n) {
  if (n < 1) return 0;
  const uint8_t modo = datos[0];
  ++datos;
  --n;
  EstadoReloj e = Base();
  e.formatoUsuario = modo & 1 ? 28 : 72;
  e.formatoMarcacion = (modo >> 1) % 3 == 0 ? 40 : (modo >> 1) % 3 == 1 ? 16 : 8;
  e.codificacion = modo & 8 ? Codificacion::kUtf8 : Codificacion::kCp1252;
  e.claveComm = modo & 16 ? 1234 : 0;
  Sesion s(modo & 32 ? Transporte::kUdp : Transporte::kTcp, 0x4A21);

  if (modo & 64) {
    // A raw stream, cut where the input says, checksums unchecked to reach the commands.
    LectorTramas tramas;
    size_t i = 0;
    while (i < n) {
      size_t trozo = std::min<size_t>(n - i, 1 + datos[i] % 64);
      tramas.Agrega(datos + i, trozo);
      i += trozo;
      zk::Bytes payload;
      LectorTramas::Resultado r;
      while ((r = tramas.Siguiente(payload)) == LectorTramas::Resultado::kPayload) {
        auto p = zk::LeePayload(payload.data(), payload.size(), false);
        Exige(p.has_value());
        Atiende(e, s, *p);
      }
      if (r == LectorTramas::Resultado::kInvalido) return 0;
    }
    return 0;
  }
  // Requests: command u16, data length u8, data; on an open session.
  zk::Paquete conecta;
  conecta.comando = zk::CMD_CONNECT;
  Atiende(e, s, conecta);
  if (e.claveComm) {
    zk::Paquete auth;
    auth.comando = zk::CMD_AUTH;
    auto clave = zk::ClaveComm(1234, s.Id());
    auth.datos.assign(clave.begin(), clave.end());
    Atiende(e, s, auth);
  }
  size_t i = 0;
  uint16_t id = 1;
  while (i + 3 <= n) {
    zk::Paquete p;
    p.comando = zk::LeeU16(datos + i);
    size_t largo = std::min<size_t>(datos[i + 2], n - i - 3);
    p.datos.assign(datos + i + 3, datos + i + 3 + largo);
    p.sesion = s.Id();
    p.idRespuesta = id++;
    i += 3 + largo;
    Atiende(e, s, p);
  }
  return 0;
}
