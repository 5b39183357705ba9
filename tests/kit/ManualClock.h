#pragma once
// A settable clock whose sleeps advance it at once (unless stopped, so that a cycle decides at the
// time the test set), so fixed waits cost tests nothing.
#include <chrono>
#include <vector>

#include "support/SystemClock.h"

namespace lector::test {

class ManualClock : public SystemClock {
 public:
  explicit ManualClock(FechaHora inicio = {2026, 3, 3, 14, 5, 0, 0}) : ahora(inicio) {}
  FechaHora Ahora() override { return ahora; }
  void Dormir(int ms) override {
    dormidas.push_back(ms);
    if (!detenido) Avanza(ms);
  }
  void Avanza(int ms) {
    using namespace std::chrono;
    const auto t = sys_days{year{ahora.anio} / ahora.mes / ahora.dia} + hours{ahora.hora} +
                   minutes{ahora.minuto} + seconds{ahora.segundo} +
                   milliseconds{ahora.milisegundo + ms};
    const auto dia = floor<days>(t);
    const year_month_day f{dia};
    const hh_mm_ss h{t - dia};
    ahora = {int(f.year()),
             int(unsigned(f.month())),
             int(unsigned(f.day())),
             int(h.hours().count()),
             int(h.minutes().count()),
             int(h.seconds().count()),
             int(h.subseconds().count())};
  }

  FechaHora ahora;
  std::vector<int> dormidas;  // every fixed wait asked for, in ms
  bool detenido = false;
};

}  // namespace lector::test
