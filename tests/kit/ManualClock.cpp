#include "kit/ManualClock.h"

#include <chrono>

namespace lector::test {

void ManualClock::Dormir(int ms) {
  dormidas.push_back(ms);
  Avanza(ms);
}

void ManualClock::Avanza(int ms) {
  using namespace std::chrono;
  sys_days dia = year{ahora.anio} / month{static_cast<unsigned>(ahora.mes)} /
                 day{static_cast<unsigned>(ahora.dia)};
  milliseconds t = dia.time_since_epoch() + hours{ahora.hora} + minutes{ahora.minuto} +
                   seconds{ahora.segundo} + milliseconds{ahora.milisegundo} + milliseconds{ms};
  sys_days nuevoDia = floor<days>(sys_time<milliseconds>{t});
  year_month_day ymd{nuevoDia};
  hh_mm_ss<milliseconds> hms{t - nuevoDia.time_since_epoch()};
  ahora = {int(ymd.year()),
           int(unsigned(ymd.month())),
           int(unsigned(ymd.day())),
           int(hms.hours().count()),
           int(hms.minutes().count()),
           int(hms.seconds().count()),
           int(hms.subseconds().count())};
}

}  // namespace lector::test
