#pragma once
// `lector --capturar IP [--puerto N] [--clave K] [--salida ARCHIVO]`: a clock's wire traffic
// into a capture file (clock/CapturaReloj.h), with a summary on standard output.
#include <string>
#include <vector>

namespace lector::app {

// The words after "--capturar"; the exit status.
int Capturar(const std::vector<std::string>& argumentos);

}  // namespace lector::app
