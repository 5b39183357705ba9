#pragma once
// Deterministic made-up content for a clock: the same counts, seed and end date always give
// the same users, cards, templates, faces and records.
#include <cstdint>
#include <optional>

#include "clock-sim/Estado.h"

namespace clocksim {

struct Generacion {
  int usuarios = 0;
  int marcaciones = 0;
  uint64_t semilla = 1;
  // Records run up to this moment (civil seconds); by default the start of the device's day,
  // so that a day's runs agree and the records look recent.
  std::optional<int64_t> hasta;
};

// Replaces the users, templates, faces and records of `e`. Users get uid 1..N, enrolment
// numbers as a company hands them out (mostly consecutive, some gaps, some long national
// identity numbers), Spanish names (some with accents or ñ), cards, passwords, a super admin,
// fingerprint templates of 1.2 to 1.6 KB on a few fingers and some faces. Records are in time
// order, on working days and hours, by users of the device (or ids 1..50 when it has none).
void Genera(EstadoReloj& e, const Generacion& g);

}  // namespace clocksim
