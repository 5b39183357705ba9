#pragma once
// The communication key of each clock, from Lector.ini, handed to the SDK before it connects.
#include <string>

#include "support/Lector.h"

namespace lector::clock {

// Sets the clock's key (0 without one) on the SDK object, which every clock shares.
void PreparaClave(Lector& l, const std::string& serial);
// After a failed Connect_Net: when the clock refused the key, says so in the activity list and
// the log, once per cycle and clock.
void AvisaSiClaveRechazada(Lector& l, const std::string& serial);

}  // namespace lector::clock
