#include "server/CargaComm.h"

#include <cmath>
#include <filesystem>
#include <optional>

#include "clock/Conexion.h"
#include "clock/Mantenimiento.h"
#include "clock/Marcaciones.h"
#include "clock/Usuarios.h"
#include "server/Execute.h"
#include "server/Http.h"
#include "server/Servicio.h"
#include "server/Sesion.h"
#include "support/Falla.h"
#include "support/Log.h"
#include "support/Ping.h"
#include "support/Texto.h"

namespace lector::server {
namespace {

// Failures of one call before a task is given up with answer 0.
constexpr int kFallasPorTarea = 3;
// A service that keeps handing out the same task, or an endless queue, must not hold the reader
// on one clock: the other clocks would never be read.
constexpr int kRepeticionesMaximas = 5;
constexpr int kTareasPorVisita = 1000;

const char* const kTareaCorrecta = "Tarea realizada correctamente.";
const char* const kTareaFallida = "Fallo en la realización de la tarea.";

// The number a text starts with (0 when it does not start with one): "253,3" gives 253.
long long NumeroInicial(const std::string& texto) {
  long long n = 0;
  for (char c : texto) {
    if (c < '0' || c > '9' || n > 1'000'000'000'000LL) break;
    n = n * 10 + (c - '0');
  }
  return n;
}

// "LM": the clock's records into the month files, then the month file goes up at once.
// `cargadas` tells whether the clock handed over its log (held records or not).
std::string LeeMarcaciones(Lector& l, DatosReloj& r, bool& cargadas) {
  const std::string leido = clock::LeeReloj(l, r.Numero, AEntero16(r.Etiqueta), r.RelojId, r.IP,
                                            r.Conectado, r.Serial, &cargadas);
  l.display.AddLog(LineaLectura(r.Nombre, leido, " desconectado!"));
  Execute(l, "syncdb");
  return Campo(leido, 1, ",");
}

// Carries out one task and gives the answer sent back to the service.
std::string Ejecuta(Lector& l, DatosReloj& r, const std::string& codigo, const std::string& sujeto,
                    const std::string& tarea) {
  using namespace clock;
  if (codigo == "CO") return ConectaReloj(l, r.IP, r.Serial) ? "1" : "0";
  if (codigo == "LM") {
    bool cargadas = false;
    return LeeMarcaciones(l, r, cargadas);
  }
  if (codigo == "LP") return LeeUsuarios(l, r.IP, r.Serial);
  if (codigo == "LU") return LeeUsuario(l, r.IP, sujeto, r.Serial);
  if (codigo == "BM") {
    // Clearing the log loses every record punched since the last reading: the clock is read
    // into the month files first, and cleared only when that reading got its whole log.
    bool cargadas = false;
    LeeMarcaciones(l, r, cargadas);
    if (!cargadas) return "0";
    return ComandoBM(l, r.IP, r.Serial) == "True" ? "1" : "0";
  }
  if (codigo == "RE") return ComandoRE(l, r.IP, r.Serial);
  if (codigo == "TT") return ComandoTT(l, r.IP, r.Serial);
  if (codigo == "EH") return EstableceHora(l, r.IP, r.Serial);
  if (codigo == "DP")
    return std::to_string(EnviaUsuarios(l, r.IP, sujeto, Campo(tarea, 4, "|"), r.Serial));
  if (codigo == "UP") return TextoBooleano(SubeUsuarios(l, r.IP, sujeto, r.Serial, r.RelojId));
  if (codigo == "BP") {
    const std::optional<int16_t> b = BorraUsuario(l, r.IP, sujeto, r.Serial);
    return b ? std::to_string(*b) : "";
  }
  if (codigo == "SA") return TextoBooleano(AsignaPrivilegio(l, r.IP, r.Serial, sujeto));
  if (codigo == "RA") return TextoBooleano(ComandoRA(l, r.IP, r.Serial));
  if (codigo == "PI") return std::to_string(MidePing(l, r.IP));
  if (codigo == "BA") {
    // Every month file goes; a folder with nothing to delete is a failure, as the service
    // expects.
    int borrados = 0;
    for (const auto& entrada : std::filesystem::directory_iterator(l.Marcaciones())) {
      if (entrada.is_directory()) continue;
      std::filesystem::remove(entrada.path());
      ++borrados;
    }
    if (!borrados) throw Falla(kArchivoNoEncontrado, "No se encontró el archivo");
    return "1";
  }
  return "0";
}

}  // namespace

std::string LineaLectura(const std::string& nombre, const std::string& resultado,
                         const std::string& sinLectura) {
  if (NumeroInicial(resultado) == 0) return "Reloj " + nombre + sinLectura;
  return "Reloj " + nombre + " leido: " + Campo(resultado, 1, ",") +
         ", nuevos: " + Campo(resultado, 2, ",");
}

int16_t CargaComm(Lector& l, float indice) {
  Estado& e = l.estado;
  const float redondo = std::nearbyint(indice);
  if (!(redondo >= 0 && redondo < static_cast<float>(e.ListaRelojes.size())))
    throw Falla(kFueraDeRango, "Subíndice fuera del intervalo");
  // A copy: the tasks must not depend on the list staying as it is while they run.
  DatosReloj r = e.ListaRelojes[static_cast<size_t>(redondo)];
  const std::string relojid = "relojid=" + CodificaValor(r.RelojId);

  e.OperacionActual = "CargaComm";
  ShowProgress(l, 1, 1, 1);
  bool recibida = false;
  int fallas = 0, repeticiones = 0, tareas = 0;
  std::string tarea, anterior, codigo, sujeto;
  for (;;) {
    try {
      if (SyncCall(l, "comm.read.has", relojid) != "1") break;
      if (tareas == kTareasPorVisita) {
        l.display.AddLog("Reloj " + r.Nombre + ": " + std::to_string(kTareasPorVisita) +
                         " tareas en esta visita; las demás quedan para el próximo ciclo.");
        break;
      }
      tarea = SyncCall(l, "comm.read.one", relojid);
      ++tareas;
      repeticiones = tarea == anterior ? repeticiones + 1 : 0;
      anterior = tarea;
      if (repeticiones == kRepeticionesMaximas) {
        l.display.AddLog("Reloj " + r.Nombre +
                         ": el servidor repite la misma tarea; se sigue con el próximo reloj.");
        break;
      }
      l.display.AddLog("Tarea recibida del servidor: " + tarea);
      recibida = true;
      codigo = Campo(tarea, 2, "|");
      sujeto = Campo(tarea, 3, "|");
      EscribeLog(l, "Ejecuta tarea: " + codigo);
      const std::string respuesta = Ejecuta(l, r, codigo, sujeto, tarea);
      SendTaskReply(l, r.RelojId, codigo, respuesta, sujeto);
      const bool fallida = codigo != "LP" && codigo != "LU" && Minusculas(respuesta) == "false";
      l.display.AddLog(fallida ? kTareaFallida : kTareaCorrecta);
    } catch (...) {
      const Falla f = FallaActual();
      if (fallas < kFallasPorTarea) {
        ++fallas;
        continue;
      }
      try {
        l.display.AddLog("Error procudido por " + f.descripcion + " (" + std::to_string(f.numero) +
                         ")");
        SendTaskReply(l, r.RelojId, codigo, "0", sujeto);
        l.display.AddLog(kTareaFallida);
      } catch (...) {
        // The reply is best effort; the task comes back at the next "comm.read.has".
      }
      fallas = 0;
    }
  }
  clock::DesconectaReloj(l, r.Serial);
  return recibida ? kVerdadero : kFalso;
}

}  // namespace lector::server
