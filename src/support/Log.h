#pragma once
// The activity log file log.txt, written only when ModoLog is on.
#include <string>

#include "support/Lector.h"

namespace lector {

// Appends "yyMMdd hhmmss: " + texto and CRLF in Windows-1252; the file is opened and closed per
// line. A file that cannot be written is passed over silently (logging never fails a caller).
void EscribeLog(Lector& l, const std::string& texto);

}  // namespace lector
