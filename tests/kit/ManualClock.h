#pragma once
// A settable clock whose sleeps advance it at once, so fixed waits cost tests nothing.
#include <vector>

#include "support/SystemClock.h"

namespace lector::test {

class ManualClock : public SystemClock {
 public:
  explicit ManualClock(FechaHora inicio = {2026, 3, 3, 14, 5, 0, 0}) : ahora(inicio) {}
  FechaHora Ahora() override { return ahora; }
  void Dormir(int ms) override;
  void Avanza(int ms);

  FechaHora ahora;
  std::vector<int> dormidas;  // every fixed wait asked for, in ms
};

}  // namespace lector::test
