#pragma once
// Reading a clock's attendance records into the month files of the Marcaciones folder.
#include <cstdint>
#include <filesystem>
#include <string>

#include "support/Lector.h"

namespace lector::clock {

// Marcaciones/<yymm>.txt: the new lines of every clock; the file uploaded to the service.
std::filesystem::path GeneralMonthFile(const Lector& l, const FechaHora& fecha);
// Marcaciones/<yymm> <relojId>.txt: every line of this clock read during the month.
std::filesystem::path ClockMonthFile(const Lector& l, const FechaHora& fecha,
                                     const std::string& relojId);
// Whether a clock id from the service can name a file that stays inside Marcaciones.
bool RelojIdValido(const std::string& relojId);
// A clock id that is not valid: its line in the activity list and the log, and failure 5.
void CompruebaRelojId(Lector& l, const std::string& relojId);

// Tests only: when set, called right after each write to a month file, with the file's path.
extern void (*TrasEscribirMes)(const std::filesystem::path& ruta);

// What a reading did, for callers that need more than its text.
struct Lectura {
  bool callada = false;   // in: no service call (ping, replies); the caller sends them later
  bool cargadas = false;  // out: the clock handed over its whole log, records or none
  long long leidos = 0, nuevos = 0;  // out
};

// Reads every record of the clock and appends the ones not in its month file to both month
// files, which are on disk when it returns. Returns "read,new" (e.g. "250,3"), "0,0" when the
// clock would not load its records, or "0" when it could not be connected; `conectado` receives
// the connection result. Throws a failure for a clock id that cannot name a file and for a month
// file that cannot be written.
std::string LeeReloj(Lector& l, int16_t numero, int16_t etiqueta, const std::string& relojId,
                     const std::string& ip, int16_t& conectado, const std::string& serial,
                     Lectura* lectura = nullptr);

// The two replies a reading sends the service: "CO" answered 1, "LM" answered the records read.
void EnviaRespuestasDeLectura(Lector& l, const std::string& relojId, long long leidos);

}  // namespace lector::clock
