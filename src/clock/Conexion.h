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
bool ConectaReloj(Lector& l, const std::string& ip, const std::string& serial);

// Forgets the clock and disconnects the SDK object when `serial` is the registered clock;
// otherwise does nothing.
void DesconectaReloj(Lector& l, const std::string& serial);

}  // namespace lector::clock
