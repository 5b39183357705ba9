#pragma once
// The program's context: state, paths, the service's base URL and the platform seams.
// Every operation takes it first.
#include <filesystem>
#include <string>

#include "support/Display.h"
#include "support/Estado.h"
#include "support/Parada.h"
#include "support/Reachability.h"
#include "support/SystemClock.h"
#include "support/Temporizador.h"

namespace lector {

namespace clock {
class ClockSdk;
}

// Used when Lector.ini has no section "SERVIDOR", key "URL": the local demo service.
constexpr const char* kUrlBasePorDefecto = "http://127.0.0.1:8080/";

struct Lector {
  Lector(Display& d, SystemClock& r, std::filesystem::path carpetaPrograma)
      : display(d), reloj(r), carpeta(std::move(carpetaPrograma)) {}

  Estado estado;
  Display& display;
  SystemClock& reloj;
  Reachability* alcance = nullptr;  // set by the program (ICMP) or a test (a table)
  clock::ClockSdk* sdk = nullptr;   // the single SDK object shared by every clock operation
  Temporizador* proceso = nullptr;  // TProcess, the timer that starts each cycle
  std::filesystem::path carpeta;    // program folder
  std::string urlBase = kUrlBasePorDefecto;  // ends with "/"
  // How long a service request waits to resolve and connect, and how long it may go without a
  // byte moving. Five minutes in the program; tests that make the service stall shorten it.
  long limiteHttpMs = 300000;
  // Asked when the program is to end: service requests and the program's waits give up on it.
  Parada parada;

  std::filesystem::path Marcaciones() const { return carpeta / "Marcaciones"; }
  std::filesystem::path ArchivoIni() const { return carpeta / "Lector.ini"; }
  std::filesystem::path ArchivoLog() const { return carpeta / "log.txt"; }

  // The seams that are optional at construction; throw a failure when missing.
  Reachability& Alcance() const;
  clock::ClockSdk& Sdk() const;
  Temporizador& Proceso() const;
};

// The program folder: LECTOR_CARPETA when set, else the folder of the running executable when it
// can be written and is not one every program shares (/usr/bin and the like), else the user's
// data folder, $XDG_DATA_HOME/lector (~/.local/share/lector), created (owner only) when `crea`.
std::filesystem::path CarpetaPrograma(bool crea = true);

}  // namespace lector
