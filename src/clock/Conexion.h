#pragma once
// The verified connection to a clock: every clock operation starts here. The single SDK object
// holds one connection at a time; ConnectionRegistry remembers whose it is, so asking again for
// the same clock costs nothing.
#include <string>

#include "support/Lector.h"

namespace lector::clock {

// True when the SDK object is connected to the clock at `ip` and that clock reports `serial`
// (both trimmed of spaces, compared exactly). Shows red on the lamp while connecting and green
// once the network connection is up. A clock whose serial does not match is disconnected again.
// The registered clock is answered at once only while its connection is alive; a broken one is
// connected and checked again.
bool ConectaReloj(Lector& l, const std::string& ip, const std::string& serial);

// Forgets the clock and disconnects the SDK object when `serial` is the registered clock;
// otherwise does nothing.
void DesconectaReloj(Lector& l, const std::string& serial);

// What the SDK answered to a call for the registered clock `serial`: a refusal on a live
// connection is the answer false; a connection that broke is no answer at all, so the clock is
// forgotten and failure 1001 goes to the caller's handler (which tries the task again on a new
// connection, or gives it up with answer 0). Never a success the device did not confirm.
bool Confirma(Lector& l, const std::string& serial, bool respuesta);

// Drops whatever connection the SDK object holds (a cycle that ended in the middle of a visit
// must not leave the next one a connection the device may have closed meanwhile).
void SueltaReloj(Lector& l);

}  // namespace lector::clock
