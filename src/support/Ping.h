#pragma once
// The reachability check: one ICMP echo decides whether an address answers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/Lector.h"
#include "support/Reachability.h"

namespace lector {

// Round-trip time in ms of one echo to the address (a dotted IPv4 address or a host name,
// blanks around allowed), or -1 when it cannot be resolved or does not answer in 1000 ms.
int32_t MidePing(Lector& l, const std::string& direccion);

// 0 with the dotted IPv4 address in ip; otherwise a non-zero code and ip unchanged.
int32_t ResuelveNombre(const std::string& direccion, std::string& ip);

// One echo with the data as payload; true when any reply came back in time (an echo reply or
// an ICMP error about our echo, e.g. destination unreachable from a router), and then
// estado.PingTiempo holds its round-trip time in ms.
bool EnviaPing(Lector& l, const std::string& ip, int32_t tiempoMs, const std::string& datos);

// How an echo is sent: an unprivileged ICMP datagram socket where the system allows it, else a
// raw socket (needs CAP_NET_RAW), else the system's ping utility.
enum class MetodoPing { Automatico, Datagrama, Crudo, Programa };
enum class ResultadoEco { Respuesta, SinRespuesta, NoDisponible };
ResultadoEco EcoIcmp(const std::string& ip, int32_t tiempoMs, const std::string& datos,
                     MetodoPing metodo, int32_t& rttMs);

// Whether a packet read from a raw ICMP socket (IPv4 header first) answers our echo to destino
// (network byte order) with this identifier and sequence: an echo reply from destino, or an ICMP
// error quoting that echo.
bool EsRespuestaAlEco(const uint8_t* paquete, size_t largo, uint32_t destino, uint16_t id,
                      uint16_t secuencia);

// Echoes sent by this process so far.
uint64_t EcosEnviados();

// The program's reachability seam.
class AlcanceIcmp : public Reachability {
 public:
  explicit AlcanceIcmp(Lector& l) : l_(l) {}
  int32_t MidePing(const std::string& direccion) override;

 private:
  Lector& l_;
};

}  // namespace lector
