#pragma once
// The processing cycle: sign in when needed, fetch the clock list, visit every clock (connect,
// read its records when this cycle reads, carry out its queued tasks), upload the month file.
#include "support/Lector.h"

namespace lector::app {

// One cycle: the handler of TProcess (l.proceso). A call while a cycle runs (an event handled
// during one of its yields) never nests: it runs one more cycle right after the current one.
void TProcess_Timer(Lector& l);

// "Cargar": forget the last reading time so that the next cycle reads, then run one cycle (after
// the running one, if any).
void CR_Click(Lector& l);

}  // namespace lector::app
