#pragma once
// Small maintenance commands, each on a verified connection.
#include <string>

#include "support/Lector.h"

namespace lector::clock {

// Clears the attendance log: "True" or "False" (also when not connected).
std::string ComandoBM(Lector& l, const std::string& ip, const std::string& serial);
// Restarts the clock: "1", or "0" when not connected.
std::string ComandoRE(Lector& l, const std::string& ip, const std::string& serial);
// Beeps: "1", or "0" when not connected.
std::string ComandoTT(Lector& l, const std::string& ip, const std::string& serial);
// Sets the clock's time to this computer's local time: "1", or "0" when not connected.
std::string EstableceHora(Lector& l, const std::string& ip, const std::string& serial);
// Rewrites the user with privilege 3 (administrator); false when not connected.
bool AsignaPrivilegio(Lector& l, const std::string& ip, const std::string& serial,
                      const std::string& enrolamiento);
// Clears the clock's administrators; false when not connected.
bool ComandoRA(Lector& l, const std::string& ip, const std::string& serial);

}  // namespace lector::clock
