#include "clock-sim/Reproduccion.h"

#include <fstream>
#include <stdexcept>

namespace clocksim {

Reproduccion::Reproduccion(const std::vector<zk::UnidadCaptura>& unidades) {
  LectorTramas enviadoTcp;    // our requests may go out in more than one send()
  long actual[2] = {-1, -1};  // the last request on TCP, on UDP: what is received belongs to it
  auto agrega = [&](bool udp, const zk::Bytes& payload) {
    auto p = zk::LeePayload(payload.data(), payload.size(), false);
    if (!p) return;
    Pedido pedido;
    pedido.sesion = p->sesion;
    pedido.id = p->idRespuesta;
    actual[udp] = static_cast<long>(pedidos_.size());
    porClave_[ClaveDe(udp, *p)].push_back(pedidos_.size());
    pedidos_.push_back(std::move(pedido));
  };
  for (const auto& u : unidades) {
    (u.udp ? hayUdp_ : hayTcp_) = true;
    if (u.enviado && u.udp) {
      agrega(true, u.bytes);
    } else if (u.enviado) {
      enviadoTcp.Agrega(u.bytes.data(), u.bytes.size());
      zk::Bytes payload;
      while (enviadoTcp.Siguiente(payload) == LectorTramas::Resultado::kPayload)
        agrega(false, payload);
    } else if (actual[u.udp] >= 0) {
      Pedido& p = pedidos_[static_cast<size_t>(actual[u.udp])];
      if (u.cierre) {
        p.cierre = true;
      } else {
        p.respuesta.push_back(u.bytes);
        p.ocultos.push_back(u.oculto);
      }
    }
  }
}

Reproduccion Reproduccion::Carga(const std::filesystem::path& archivo) {
  std::ifstream f(archivo, std::ios::binary);
  if (!f) throw std::runtime_error("no se puede leer " + archivo.string());
  try {
    return Reproduccion(zk::LeeCaptura(f));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(archivo.string() + ": " + e.what());
  }
}

Reproduccion::Clave Reproduccion::ClaveDe(bool udp, const zk::Paquete& p) {
  // The key is masked in a capture: any key is the recorded one.
  return {udp, p.comando, p.comando == zk::CMD_AUTH ? zk::Bytes{} : p.datos};
}

void Reproduccion::Reestampa(uint8_t* q, size_t n, const Pedido& grabado, const zk::Paquete& vivo,
                             bool sumaOculta) const {
  if (n < zk::kTamCabecera) return;
  const bool valido = sumaOculta || zk::ChecksumValido(q, n);
  const uint16_t id = zk::LeeU16(q + 6);
  if (id == grabado.id) {
    zk::PoneU16(q + 6, vivo.idRespuesta);
  } else if (auto it = ids_.find(id); it != ids_.end()) {
    zk::PoneU16(q + 6, it->second);
  }
  // Data packets of some clocks count in the session field; only the session itself changes.
  if (zk::LeeU16(q + 4) == grabado.sesion) zk::PoneU16(q + 4, vivo.sesion);
  if (!valido) return;  // a clock's wrong checksum stays wrong; a masked one was never known
  zk::PoneU16(q + 2, 0);
  zk::PoneU16(q + 2, zk::Checksum(q, n));
}

Reproduccion::Salida Reproduccion::Responde(const zk::Paquete& pedido, Transporte t) {
  const bool udp = t == Transporte::kUdp;
  Salida s;
  const auto clave = ClaveDe(udp, pedido);
  const auto it = porClave_.find(clave);
  if (it == porClave_.end()) {
    s.conocido = false;
    s.unidades.push_back(
        udp ? zk::ArmaPayload(zk::CMD_ACK_ERROR, pedido.sesion, pedido.idRespuesta, zk::Bytes{})
            : zk::ArmaTramaTcp(zk::CMD_ACK_ERROR, pedido.sesion, pedido.idRespuesta, zk::Bytes{}));
    return s;
  }
  size_t& k = siguiente_[clave];
  const Pedido& grabado = pedidos_[it->second[std::min(k, it->second.size() - 1)]];
  ++k;
  s.unidades = grabado.respuesta;
  s.cerrar = grabado.cierre;
  // Whether the checksum at byte i of a unit (or of the stream) was masked.
  auto oculto = [](const std::vector<bool>& m, size_t i) { return i + 1 < m.size() && m[i]; };
  if (udp) {
    for (size_t k = 0; k < s.unidades.size(); ++k)
      Reestampa(s.unidades[k].data(), s.unidades[k].size(), grabado, pedido,
                oculto(grabado.ocultos[k], 2));
  } else {
    // The TCP units as one stream, each frame's header restamped where it lies, then cut again
    // where the clock cut it.
    zk::Bytes flujo;
    std::vector<bool> mascara;
    for (size_t k = 0; k < s.unidades.size(); ++k) {
      const auto& u = s.unidades[k];
      flujo.insert(flujo.end(), u.begin(), u.end());
      mascara.resize(flujo.size());
      std::copy(grabado.ocultos[k].begin(), grabado.ocultos[k].end(),
                mascara.end() - static_cast<std::ptrdiff_t>(u.size()));
    }
    for (size_t i = 0; i < flujo.size();) {
      uint32_t largo = 0;
      if (zk::ExaminaTramaTcp(flujo.data() + i, flujo.size() - i, largo) !=
          zk::EstadoTrama::kCompleta)
        break;  // garbage or a frame cut short: as recorded
      Reestampa(flujo.data() + i + zk::kTamPrefijoTcp, largo, grabado, pedido,
                oculto(mascara, i + zk::kTamPrefijoTcp + 2));
      i += zk::kTamPrefijoTcp + largo;
    }
    size_t i = 0;
    for (auto& u : s.unidades) {
      std::copy(flujo.begin() + static_cast<std::ptrdiff_t>(i),
                flujo.begin() + static_cast<std::ptrdiff_t>(i + u.size()), u.begin());
      i += u.size();
    }
  }
  ids_[grabado.id] = pedido.idRespuesta;
  return s;
}

}  // namespace clocksim
