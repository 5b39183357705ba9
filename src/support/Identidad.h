#pragma once
// The machine identity the service tells workstations apart by.
#include <filesystem>
#include <string>
#include <vector>

#include "support/Lector.h"

namespace lector {

// A stable signed 32-bit number for this machine as decimal text (with its minus sign when
// negative), from the system's machine id; stored in estado.IdEquipo. Never fails, never "".
std::string SerialDisco(Lector& l);

// The same, from the first of the given files that holds a non-blank text, else the host name.
std::string SerialDisco(Lector& l, const std::vector<std::filesystem::path>& fuentes);

}  // namespace lector
