#pragma once
// A small clock with something of everything, shared by the emulator's tests.
#include "clock-sim/Estado.h"

namespace clocksim::test {

inline zk::Bytes Relleno(size_t n, uint8_t semilla) {
  zk::Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(semilla + i * 31 + (i >> 7));
  return b;
}

inline EstadoReloj EstadoDePrueba() {
  EstadoReloj e;
  e.serie = "OIN7030067011200148";
  e.firmware = "Ver 6.60 Apr 28 2015";
  e.horaFija = SegundosCiviles({2024, 3, 15, 10, 30, 0});
  // A 23-character name, a non-ASCII one, a card above 65 535, an administrator.
  e.usuarios.push_back({1, "1", "Administrador", "4321", 3, true, 0, 1});
  e.usuarios.push_back({2, "1001", "María José Núñez Peña", "", 0, true, 4000000001u, 1});
  e.usuarios.push_back({3, "123456789", "Abcdefghijklmnopqrstuvw", "", 0, false, 70000, 1});
  e.plantillas[{2, 0}] = Plantilla{1, Relleno(1500, 3)};
  e.plantillas[{2, 9}] = Plantilla{1, Relleno(1500, 9)};
  e.caras[{2, 50}] = Relleno(2100, 50);
  e.Marca("1001", 0, 1, SegundosCiviles({2024, 3, 14, 8, 0, 5}));
  e.Marca("123456789", 1, 15, SegundosCiviles({2024, 3, 14, 17, 59, 59}));
  e.Marca("1", 0, 2, SegundosCiviles({2024, 3, 15, 7, 1, 0}));
  return e;
}

}  // namespace clocksim::test
