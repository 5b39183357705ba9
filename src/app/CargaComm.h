#pragma once
// The remote task queue: drains the tasks the service holds for one clock, carries each out
// through the clock operations and answers it.
#include <cstdint>
#include <string>

#include "support/Lector.h"

namespace lector::app {

// Tasks of the clock at `indice` of ListaRelojes (rounded to the nearest entry). True (-1) when
// at least one task was fetched.
int16_t CargaComm(Lector& l, float indice);

// The activity line of a reading that gave `resultado` ("read,new", or "0"): "Reloj " + name +
// " leido: " + read + ", nuevos: " + new, or "Reloj " + name + `sinLectura` when nothing was read.
std::string LineaLectura(const std::string& nombre, const std::string& resultado,
                         const std::string& sinLectura);

}  // namespace lector::app
