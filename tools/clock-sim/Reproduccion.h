#pragma once
// A capture (clock/zk/Captura.h) played back as a clock: each request is answered with what the
// clock answered the same request in the capture.
//
// Requests are told apart by transport, command and data (not by session id, reply id or
// checksum). A CMD_AUTH request's data is masked in a capture, so any key matches it. When the
// capture holds the same request several times, they are answered in recorded order and the last
// again from then on. An answer goes out as it was recorded, unit by unit (TCP segments as the
// clock cut them, one write each; datagrams whole), byte for byte except for the headers: the
// reply id of the recorded request becomes the new request's (and those of earlier recorded
// requests the ids that replaced them, for late answers), the recorded session id the one the
// request carries, and a checksum that was right, or masked ("**": the packet held a password),
// is computed again (the masked bytes go out as zeros). A request recorded without
// an answer gets none (a silent clock), one whose answer ended with the clock closing the
// connection closes it, and a request the capture does not hold is answered CMD_ACK_ERROR and
// reported.
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "clock-sim/Sesion.h"
#include "clock/zk/Captura.h"

namespace clocksim {

class Reproduccion {
 public:
  explicit Reproduccion(const std::vector<zk::UnidadCaptura>& unidades);
  // Throws std::runtime_error when the file cannot be read or is not a capture.
  static Reproduccion Carga(const std::filesystem::path& archivo);

  bool HayTcp() const { return hayTcp_; }
  bool HayUdp() const { return hayUdp_; }
  size_t Pedidos() const { return pedidos_.size(); }

  struct Salida {
    std::vector<zk::Bytes> unidades;  // each in its own write; TCP units carry their prefixes
    bool cerrar = false;
    bool conocido = true;  // false: not in the capture (answered CMD_ACK_ERROR)
  };
  Salida Responde(const zk::Paquete& pedido, Transporte t);

 private:
  using Clave = std::tuple<bool, uint16_t, zk::Bytes>;  // udp, command, data
  struct Pedido {
    uint16_t sesion = 0, id = 0;
    std::vector<zk::Bytes> respuesta;
    std::vector<std::vector<bool>> ocultos;  // per unit of respuesta: its masked bytes
    bool cierre = false;
  };
  static Clave ClaveDe(bool udp, const zk::Paquete& p);
  void Reestampa(uint8_t* payload, size_t n, const Pedido& grabado, const zk::Paquete& vivo,
                 bool sumaOculta) const;

  std::vector<Pedido> pedidos_;
  std::map<Clave, std::vector<size_t>> porClave_;
  std::map<Clave, size_t> siguiente_;
  std::map<uint16_t, uint16_t> ids_;  // recorded reply id -> the one that replaced it
  bool hayTcp_ = false, hayUdp_ = false;
};

}  // namespace clocksim
