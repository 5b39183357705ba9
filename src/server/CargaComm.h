#pragma once
// The remote task queue: drains the tasks the service holds for one clock, carries each out
// through the clock operations and answers it.
#include <cstdint>

#include "support/Lector.h"

namespace lector::server {

// Tasks of the clock at `indice` of ListaRelojes (rounded to the nearest entry). True (-1) when
// at least one task was fetched.
int16_t CargaComm(Lector& l, float indice);

}  // namespace lector::server
