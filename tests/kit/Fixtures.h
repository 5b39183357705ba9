#pragma once
// Small helpers shared by the tests: a temporary program folder, a table reachability, a
// recording timer, a deadline poll, and a Lector wired to test doubles.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kit/ManualClock.h"
#include "kit/RecordingDisplay.h"
#include "support/Falla.h"
#include "support/Lector.h"
#include "support/Temporizador.h"

namespace lector::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class CarpetaTemporal {
 public:
  CarpetaTemporal();
  ~CarpetaTemporal();
  CarpetaTemporal(const CarpetaTemporal&) = delete;
  CarpetaTemporal& operator=(const CarpetaTemporal&) = delete;
  const std::filesystem::path& ruta() const { return ruta_; }

 private:
  std::filesystem::path ruta_;
};

// Address -> round-trip time (-1 = no answer); addresses not in the table answer `otras`.
class TablaAlcance : public Reachability {
 public:
  int32_t MidePing(const std::string& direccion) override;
  std::map<std::string, int32_t> tabla;
  int32_t otras = -1;
  std::vector<std::string> consultas;
};

// TProcess: every call as text, "SetInterval(60000)", "SetEnabled(True)".
class TemporizadorGrabador : public Temporizador {
 public:
  void SetInterval(int ms) override {
    llamadas.push_back("SetInterval(" + std::to_string(ms) + ")");
  }
  void SetEnabled(bool activo) override {
    activado = activo;
    llamadas.push_back(std::string("SetEnabled(") + TextoBooleano(activo) + ")");
  }
  std::vector<std::string> llamadas;
  bool activado = false;
};

// Polls cond every `paso` until it is true or the deadline passes; tests never sleep to wait.
bool EsperaHasta(const std::function<bool()>& cond,
                 std::chrono::milliseconds limite = std::chrono::seconds(20),
                 std::chrono::milliseconds paso = std::chrono::milliseconds(5));

// A loopback TCP port nothing listens on (bound, then released).
int PuertoLibre();

// A loopback address of this test process's own ending in `ultimo`: clocks listen on port 4370,
// so tests running at once (ctest -j, other build folders) must not share addresses.
std::string DireccionPropia(int ultimo);

// The number of the failure that `accion` throws; 0 when it throws none.
int NumeroDeFalla(const std::function<void()>& accion);

// Reads a whole file as bytes ("" when missing).
std::string LeeArchivo(const std::filesystem::path& ruta);
// The whole lines of a file, each without its CR LF; a piece without its line end is not a line.
std::vector<std::string> LineasDe(const std::filesystem::path& ruta);

// A Lector over a temporary program folder with a recording display, a manual clock and a
// table reachability; the SDK is left for each test to set.
struct LectorDePrueba {
  CarpetaTemporal carpeta;
  RecordingDisplay display;
  ManualClock reloj;
  TablaAlcance alcance;
  Lector l{display, reloj, carpeta.ruta()};
  LectorDePrueba() { l.alcance = &alcance; }
};

}  // namespace lector::test
