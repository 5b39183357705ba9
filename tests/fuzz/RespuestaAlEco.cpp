// Any packet a raw ICMP socket could hand us.
#include <cstring>
#include <vector>

#include "support/Ping.h"

using namespace lector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint32_t destino;
  uint16_t id, secuencia;
  std::memcpy(&destino, data, 4);
  std::memcpy(&id, data + 4, 2);
  std::memcpy(&secuencia, data + 6, 2);
  // A copy of exactly the packet's size, so that any read past it is caught.
  std::vector<uint8_t> paquete(data + 8, data + size);
  EsRespuestaAlEco(paquete.data(), paquete.size(), destino, id, secuencia);
  return 0;
}
