#pragma once
// Seam for the local date and time and for fixed waits, so tests control both.
#include <cstdint>
#include <string>

namespace lector {

struct FechaHora {
  int anio = 2000, mes = 1, dia = 1;      // mes 1-12, dia 1-31
  int hora = 0, minuto = 0, segundo = 0;  // 24-hour clock
  int milisegundo = 0;
  bool operator==(const FechaHora&) const = default;
};

// Formats with the patterns the program uses: yy yyyy MM dd hh mm ss (other characters as is).
std::string Formatea(const FechaHora& f, const std::string& patron);

class SystemClock {
 public:
  virtual ~SystemClock() = default;
  virtual FechaHora Ahora() = 0;
  // Blocks the caller for ms milliseconds (a fixed wait of the program).
  virtual void Dormir(int ms) = 0;
  // Seconds since local midnight, with the milliseconds as a fraction.
  float SegundosDesdeMedianoche();
};

class Parada;

class RelojSistema : public SystemClock {
 public:
  FechaHora Ahora() override;
  void Dormir(int ms) override;

  // When set, a wait ends as soon as the stop is asked.
  const Parada* parada = nullptr;
};

}  // namespace lector
