#pragma once
// The program's start: the records folder, the month file, the "log" switch, the login window;
// headless use and the terminal set-up of the settings.
#include <optional>
#include <string>
#include <vector>

#include "support/Lector.h"

namespace lector::app {

// The program: `lector [log]`, or `lector --configurar`. Returns the exit status.
int Main(int argc, char** argv);

// `--help`, `--version`, `--configurar [--sistema]` and a wrong option (usage, status 64): the
// exit status; nothing when the program is to start.
std::optional<int> Argumentos(int argc, char** argv);

// Records folder and current month file (a failure goes to the activity list), and ModoLog
// from the arguments taken as one text (exactly "log").
void PreparaInicio(Lector& l, const std::vector<std::string>& argumentos);

// `lector --configurar`: asks for the service address, the user and the password on the
// terminal, signs in once and, on success, writes Lector.ini with automatic login on.
int Configurar(const std::filesystem::path& carpeta);

}  // namespace lector::app
