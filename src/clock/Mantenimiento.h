#pragma once
// Small maintenance commands, each on a verified connection.
#include <cstdint>
#include <string>

#include "support/Lector.h"

namespace lector::clock {

// Clears the attendance log: "True" or "False" (also when not connected). Records not yet in the
// month files are lost with it: the task "BM" reads and clears under one lock (LeeYBorra).
std::string ComandoBM(Lector& l, const std::string& ip, const std::string& serial);
// The task "BM": the clock's records into the month files, then its log cleared, all under one
// lock of the device (time-limited, so a crash or a lost link never leaves it locked). Before
// clearing, the log is read again: it is cleared only when that reading finds exactly the records
// just written and none new (some clocks take punches while locked); otherwise it is read once
// more, and at last left as it is. The reading's replies go to the service after the clear.
// Returns the reading's text as LeeReloj's (read and new over all readings); `borrado` tells
// whether the log was cleared.
std::string LeeYBorra(Lector& l, int16_t numero, int16_t etiqueta, const std::string& relojId,
                      const std::string& ip, int16_t& conectado, const std::string& serial,
                      bool& borrado);
// Restarts the clock: "1", or "0" when not connected or refused. The connection goes with the
// device, so the clock is forgotten: the next operation connects and checks it again.
std::string ComandoRE(Lector& l, const std::string& ip, const std::string& serial);
// Beeps: "1", or "0" when not connected or refused.
std::string ComandoTT(Lector& l, const std::string& ip, const std::string& serial);
// Sets the clock's time to this computer's local time: "1", or "0" when not connected or refused.
std::string EstableceHora(Lector& l, const std::string& ip, const std::string& serial);
// Rewrites the user with privilege 3 (administrator); false when not connected or refused.
bool AsignaPrivilegio(Lector& l, const std::string& ip, const std::string& serial,
                      const std::string& enrolamiento);
// Clears the clock's administrators; false when not connected or refused.
// Each throws failure 1001 when the connection breaks in the middle (see Confirma).
bool ComandoRA(Lector& l, const std::string& ip, const std::string& serial);

}  // namespace lector::clock
