#include "support/SystemClock.h"

#include "support/Parada.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace lector {

std::string Formatea(const FechaHora& f, const std::string& patron) {
  auto dos = [](int v) {
    std::string s = std::to_string(v % 100);
    return s.size() < 2 ? "0" + s : s;
  };
  std::string out;
  for (size_t i = 0; i < patron.size();) {
    auto sigue = [&](const char* p) {
      return patron.compare(i, std::char_traits<char>::length(p), p) == 0;
    };
    if (sigue("yyyy"))
      out += std::to_string(f.anio), i += 4;
    else if (sigue("yy"))
      out += dos(f.anio), i += 2;
    else if (sigue("MM"))
      out += dos(f.mes), i += 2;
    else if (sigue("dd"))
      out += dos(f.dia), i += 2;
    else if (sigue("hh"))
      out += dos(f.hora), i += 2;
    else if (sigue("mm"))
      out += dos(f.minuto), i += 2;
    else if (sigue("ss"))
      out += dos(f.segundo), i += 2;
    else
      out += patron[i++];
  }
  return out;
}

float SystemClock::SegundosDesdeMedianoche() {
  FechaHora f = Ahora();
  return static_cast<float>(f.hora * 3600 + f.minuto * 60 + f.segundo) +
         static_cast<float>(f.milisegundo) / 1000.0f;
}

FechaHora RelojSistema::Ahora() {
  auto ahora = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(ahora);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(ahora.time_since_epoch()) % 1000;
  return {tm.tm_year + 1900,           tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(ms.count())};
}

void RelojSistema::Dormir(int ms) {
  if (ms <= 0) return;
  if (parada)
    parada->Espera(ms);
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace lector
