#pragma once
// A bare protocol client for byte-level tests of clock-sim: it sends exactly the packets a test
// builds with the codec and hands back every packet the emulator answers, nothing more.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "clock/zk/ZkProtocolo.h"

namespace clocksim::test {

namespace zk = lector::clock::zk;
using namespace std::chrono_literals;

class ClienteCrudo {
 public:
  // Connects (TCP) or opens a socket towards the address (UDP); throws std::runtime_error.
  ClienteCrudo(const std::string& ip, uint16_t puerto, bool udp = false);
  ~ClienteCrudo();
  ClienteCrudo(const ClienteCrudo&) = delete;
  ClienteCrudo& operator=(const ClienteCrudo&) = delete;

  // Sends a request with the session id held and the next reply id.
  void Envia(uint16_t comando, const zk::Bytes& datos = {});
  void EnviaCrudo(const zk::Bytes& bytes);
  // The next packet (a TCP frame or a UDP datagram); nullopt when none arrives in time, the
  // connection ends, or the bytes are not a frame. The checksum is not checked here.
  std::optional<zk::Paquete> Recibe(std::chrono::milliseconds limite = 10s);
  // Sends and waits for one packet; throws when none comes.
  zk::Paquete Pide(uint16_t comando, const zk::Bytes& datos = {});
  // CMD_CONNECT, and CMD_AUTH with the key when the device asks; true when connected.
  bool Conecta(uint32_t clave = 0);
  // A whole bulk read the way our client does it (one chunk at a time); throws on surprises.
  zk::Bytes LeeMasivo(const zk::PeticionMasiva& p, uint32_t trozo = zk::kTrozoTcp);
  // Raw bytes received until the connection ends or `limite` passes.
  std::string RestoCrudo(std::chrono::milliseconds limite = 10s);
  // True when the emulator closes the connection within `limite`.
  bool Cierra(std::chrono::milliseconds limite = 10s);

  uint16_t sesion = 0;
  uint16_t idRespuesta = 0;
  // How long Pide and LeeMasivo wait for each packet.
  std::chrono::milliseconds espera = 10s;
  // Every checksum of the packets received so far was right.
  bool checksumsValidos = true;

 private:
  bool Lee(std::chrono::milliseconds limite);
  int fd_ = -1;
  bool udp_;
  bool primero_ = true;
  zk::Bytes buffer_;
  std::optional<zk::Paquete> pendienteUdp_;
};

}  // namespace clocksim::test
