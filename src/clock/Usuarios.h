#pragma once
// Users, cards, fingerprint templates and faces between the clocks and the service.
#include <cstdint>
#include <optional>
#include <string>

#include "support/Lector.h"

namespace lector::clock {

// Each operation throws failure 1001 when the clock's connection breaks in the middle: what it
// would answer then is not what the device holds (see Confirma).

// Every user of the clock as a JSON array ("[]" when the clock will not list its users); ""
// when the clock cannot be connected.
std::string LeeUsuarios(Lector& l, const std::string& ip, const std::string& serial);

// One user as a one-object JSON array with "huellas" "1" when a fingerprint template exists;
// "[]" for a user the clock does not know; "" when the clock cannot be connected.
std::string LeeUsuario(Lector& l, const std::string& ip, const std::string& enrolamiento,
                       const std::string& serial);

// For each enrolment number of the ";"-separated list: sends the user's data as an "LU" reply
// and uploads its card, face and templates. True when a template was found for the last user;
// false when the clock cannot be connected.
bool SubeUsuarios(Lector& l, const std::string& ip, const std::string& lista,
                  const std::string& serial, const std::string& relojId);

// Writes the users of the ";"-separated lists (enrolment numbers, names) into the clock with
// their card, face and templates as the service holds them. 1, or 0 when not connected or when
// the device refused a user, card or template (a refused face does not count: many have none).
int16_t EnviaUsuarios(Lector& l, const std::string& ip, const std::string& lista,
                      const std::string& nombres, const std::string& serial);

// Deletes the users of the ";"-separated list from the clock. Nothing for an empty list (the
// clock is not contacted), 0 when not connected or refused, else 1.
std::optional<int16_t> BorraUsuario(Lector& l, const std::string& ip, const std::string& lista,
                                    const std::string& serial);

}  // namespace lector::clock
