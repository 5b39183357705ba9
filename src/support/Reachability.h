#pragma once
// Seam for the reachability check: one ICMP echo decides whether a clock's address answers.
#include <cstdint>
#include <string>

namespace lector {

class Reachability {
 public:
  virtual ~Reachability() = default;
  // Round-trip time in ms when the address answers (0 counts), -1 when it cannot be resolved
  // or does not answer within 1000 ms.
  virtual int32_t MidePing(const std::string& direccion) = 0;
};

}  // namespace lector
