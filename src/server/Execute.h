#pragma once
// The command dispatcher: the two server actions that are retried as a whole.
#include <string>

#include "support/Lector.h"

namespace lector::server {

// Consecutive repeats of a transient failure (16) before it counts as an ordinary failure.
constexpr int kRepeticionesTransitoria = 50;

// "Login" runs Reingresa, "syncdb" runs sendTxt; any other text only writes the trace line.
// Failures of the action are handled here: 16 is repeated after 100 ms (bounded), 9 ends it,
// others are retried up to four attempts in all, then the session is given up.
void Execute(Lector& l, const std::string& comando);

}  // namespace lector::server
