#pragma once
// Lines for the activity list about one clock: why it could not be served, and a clock whose
// time is off.
#include <string>

#include "support/Lector.h"

namespace lector::clock {

// "Reloj X: <why>" in the activity list and the log, when the SDK can tell why `ip` failed.
void AvisaMotivo(Lector& l, const std::string& relojId, const std::string& ip);

// With the log on, the last bytes exchanged with the clock (a few KB in hex) go to log.txt after
// a failed connection or reading: the evidence a field failure leaves behind.
void AnotaIntercambio(Lector& l, const std::string& ip);

// Reads the clock's time (one request) and, when it differs from this machine's by more than five
// minutes, says so, once an hour at most per clock. The clock's time is left alone: setting it is
// the service's task ("EH").
void RevisaHoraReloj(Lector& l, const std::string& relojId);

}  // namespace lector::clock
