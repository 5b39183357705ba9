#pragma once
// Service calls: one generic function call to "main/sync.php" and the messages built on it.
#include <string>
#include <vector>

#include "server/Http.h"
#include "support/Lector.h"

namespace lector::server {

// The messages below percent-encode their values; callers building their own parameter text for
// SyncCall pass each value through CodificaValor (server/Http.h).

// The response; "error" after a failed call; "" when no session is open.
std::string SyncCall(Lector& l, const std::string& funcion, const std::string& params);
// Fills ListaRelojes from "lector.relojes"; true when at least one entry was read.
bool Procesar(Lector& l);
std::string SendTaskReply(Lector& l, const std::string& relojId, const std::string& tarea,
                          const std::string& respuesta, const std::string& empleadoId);
std::string UploadTemplate(Lector& l, const std::string& empleadoId, const std::string& dedo,
                           const std::string& plantilla);
std::string SendClockPing(Lector& l, const std::string& serial);
void ShowProgress(Lector& l, long a, long b, long c);
// Uploads the current all-clocks month file ("syncdb").
void sendTxt(Lector& l);

// Replaces the list by the entries of a "lector.relojes" answer ("<br>"-separated, 14
// "|"-separated fields each; the piece after the last "<br>" stays an empty entry). Fields 1, 13
// and 14 are 16-bit numbers, 0 when empty; an entry with any other text there keeps its texts,
// has those numbers 0 and holds the failure (13 or 6) in NumeroDefecto/Defecto, so that only its
// own visit fails.
void LlenaListaRelojes(std::vector<DatosReloj>& lista, const std::string& respuesta);

}  // namespace lector::server
