#pragma once
// A clock's wire traffic recorded for study or for a test (format: clock/zk/Captura.h). The
// reading connects as a visit does and asks only what a visit reads, never changing the clock:
// serial, firmware, records (with the counts of free sizes), time, users, the first user's
// fingerprint templates and face. What ZkSdk sends for them besides is the visit's own: the
// session's "SDKBuild=1" announcement, the keypad lock (DISABLEDEVICE/ENABLEDEVICE) around each
// bulk read and the release of the clock's buffer (FREE_DATA).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>

namespace lector::clock {

struct OpcionesCaptura {
  std::string ip;
  int32_t puerto = 4370;
  int32_t clave = 0;  // comm key; the file never holds it
  std::filesystem::path archivo;
  std::chrono::milliseconds espera{5000};  // each answer's time-out
};

// The file name when none is given: captura-IP-AAAAMMDD-HHMMSS.txt (local time).
std::string NombreCaptura(const std::string& ip);

// Reads the clock into the capture file and writes a summary in Spanish to `resumen` (what was
// read, counts, anything odd, failed steps, the file). Exit status: 0 when the clock answered,
// 1 when it could not be connected, 2 when the file cannot be written (the reason goes to
// `errores`).
int CapturaReloj(const OpcionesCaptura& o, std::ostream& resumen, std::ostream& errores);

}  // namespace lector::clock
