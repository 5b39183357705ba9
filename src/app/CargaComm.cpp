#include "app/CargaComm.h"

#include <cmath>
#include <filesystem>
#include <optional>

#include "clock/Caracteres.h"
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

namespace lector::app {
namespace {

using server::Execute;
using server::SendTaskReply;
using server::SyncCall;

// Failures of one call before a task is given up with answer 0.
constexpr int kFallasPorTarea = 3;
// A service that keeps handing out the same task must not hold the reader on one clock.
constexpr int kRepeticionesMaximas = 5;
// Seconds of tasks per clock and visit: a long queue must not keep the other clocks unread;
// what is left waits for the next cycle.
constexpr double kSegundosPorVisita = 60;

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

// Seconds on the program's clock, for the visit's budget (a visit across midnight goes on).
double Segundos(Lector& l) {
  return l.reloj.SegundosDesdeMedianoche();
}
double Transcurridos(Lector& l, double desde) {
  double t = Segundos(l) - desde;
  return t < 0 ? t + 86400 : t;
}

// A fetched task: an id, then a code of two capital letters. Anything else (an error text, an
// empty answer) is not a task, and nothing is run or answered for it.
bool EsTarea(const std::string& tarea) {
  const std::string codigo = Campo(tarea, 2, "|");
  return tarea.find('|') != std::string::npos && !Campo(tarea, 1, "|").empty() &&
         codigo.size() == 2 && codigo[0] >= 'A' && codigo[0] <= 'Z' && codigo[1] >= 'A' &&
         codigo[1] <= 'Z';
}

// Whether "comm.read.reply" reached the service: the call's failure markers are no answer.
bool Entregada(const std::string& respuesta) {
  return respuesta != "error" && respuesta != "0" && !respuesta.empty();
}

// "LM": the clock's records into the month files, then the month file goes up at once.
std::string LeeMarcaciones(Lector& l, DatosReloj& r) {
  const std::string leido =
      clock::LeeReloj(l, r.Numero, AEntero16(r.Etiqueta), r.RelojId, r.IP, r.Conectado, r.Serial);
  l.display.AddLog(LineaLectura(r.Nombre, leido, " desconectado!"));
  Execute(l, "syncdb");
  return Campo(leido, 1, ",");
}

// "BM": read, clear only what was read, and only then the replies and the upload.
std::string VaciaMarcaciones(Lector& l, DatosReloj& r) {
  bool borrado = false;
  const std::string leido = clock::LeeYBorra(l, r.Numero, AEntero16(r.Etiqueta), r.RelojId, r.IP,
                                             r.Conectado, r.Serial, borrado);
  l.display.AddLog(LineaLectura(r.Nombre, leido, " desconectado!"));
  Execute(l, "syncdb");
  return borrado ? "1" : "0";
}

// A name the program gives its month files: "yymm.txt", "yymm <id>.txt", and the marker of a
// reading cut in the middle, "yymm <id>.txt.pendiente".
bool EsArchivoDelMes(const std::string& nombre) {
  if (nombre.size() < 8) return false;
  for (size_t i = 0; i < 4; ++i)
    if (nombre[i] < '0' || nombre[i] > '9') return false;
  const std::string resto = nombre.substr(4);
  auto terminaEn = [&](const std::string& fin) {
    return resto.size() >= fin.size() &&
           resto.compare(resto.size() - fin.size(), fin.size(), fin) == 0;
  };
  if (resto == ".txt") return true;
  return resto[0] == ' ' && (terminaEn(".txt") || terminaEn(".txt.pendiente"));
}

// "BA": the month files go; whatever else someone put in the folder stays, with a line. A folder
// with no month file to delete is a failure, as the service expects.
std::string BorraArchivos(Lector& l) {
  int borrados = 0;
  std::string otros;
  for (const auto& entrada : std::filesystem::directory_iterator(l.Marcaciones())) {
    const std::string nombre = entrada.path().filename().string();
    if (!entrada.is_directory() && EsArchivoDelMes(nombre)) {
      std::filesystem::remove(entrada.path());
      ++borrados;
    } else {
      otros += (otros.empty() ? "" : ", ") + nombre;
    }
  }
  if (!otros.empty())
    l.display.AddLog("Se conserva en Marcaciones lo que no es un archivo de marcaciones: " + otros);
  if (!borrados) throw Falla(kArchivoNoEncontrado, "No se encontró el archivo");
  return "1";
}

// Carries out one task and gives the answer sent back to the service.
std::string Ejecuta(Lector& l, DatosReloj& r, const std::string& codigo, const std::string& sujeto,
                    const std::string& tarea) {
  using namespace clock;
  if (codigo == "CO") return ConectaReloj(l, r.IP, r.Serial) ? "1" : "0";
  if (codigo == "LM") return LeeMarcaciones(l, r);
  // A connection that broke fails the task (see Confirma): an empty list is not the answer.
  if (codigo == "LP") return LeeUsuarios(l, r.IP, r.Serial);
  if (codigo == "LU") return LeeUsuario(l, r.IP, sujeto, r.Serial);
  if (codigo == "BM") return VaciaMarcaciones(l, r);
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
  if (codigo == "BA") return BorraArchivos(l);
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
  const std::string relojid = "relojid=" + server::CodificaValor(r.RelojId);
  const std::string reloj = "Reloj " + r.Nombre + ": ";

  e.OperacionActual = "CargaComm";
  server::ShowProgress(l, 1, 1, 1);
  const double inicio = Segundos(l);
  bool recibida = false;
  int fallas = 0, repeticiones = 0;
  std::string tarea, anterior, codigo, sujeto;
  // A failed task's answer 0, best effort: false when it did not reach the service either.
  auto respondeFalla = [&](const Falla& f) {
    try {
      l.display.AddLog("Error procudido por " + f.descripcion + " (" + std::to_string(f.numero) +
                       ")");
      const bool entregada = Entregada(SendTaskReply(l, r.RelojId, codigo, "0", sujeto));
      l.display.AddLog(kTareaFallida);
      return entregada;
    } catch (...) {
      return false;
    }
  };
  auto AvisaNoEntregada = [&] {
    l.display.AddLog(reloj + "el servidor no recibió la respuesta de la tarea " + codigo +
                     "; se sigue en el próximo ciclo.");
  };
  for (;;) {
    try {
      if (SyncCall(l, "comm.read.has", relojid) != "1") break;
      if (Transcurridos(l, inicio) >= kSegundosPorVisita) {
        l.display.AddLog(reloj + "las tareas pendientes quedan para el próximo ciclo.");
        break;
      }
      tarea = SyncCall(l, "comm.read.one", relojid);
      repeticiones = tarea == anterior ? repeticiones + 1 : 0;
      anterior = tarea;
      if (repeticiones == kRepeticionesMaximas) {
        l.display.AddLog(reloj +
                         "el servidor repite la misma tarea; se sigue con el próximo reloj.");
        break;
      }
      if (!EsTarea(tarea)) {
        l.display.AddLog(reloj + "el servidor no entregó una tarea (\"" +
                         clock::PrimerosCaracteres(tarea, 80) +
                         "\"); se sigue en el próximo ciclo.");
        break;
      }
      l.display.AddLog("Tarea recibida del servidor: " + tarea);
      recibida = true;
      codigo = Campo(tarea, 2, "|");
      sujeto = Campo(tarea, 3, "|");
      EscribeLog(l, "Ejecuta tarea: " + codigo);
      const std::string respuesta = Ejecuta(l, r, codigo, sujeto, tarea);
      // Shown as done only once the service has the answer; one it did not take comes back in a
      // later cycle, and running it again now would repeat it for nothing.
      if (!Entregada(SendTaskReply(l, r.RelojId, codigo, respuesta, sujeto))) {
        AvisaNoEntregada();
        break;
      }
      const bool fallida =
          codigo != "LP" && codigo != "LU" && server::Minusculas(respuesta) == "false";
      l.display.AddLog(fallida ? kTareaFallida : kTareaCorrecta);
    } catch (...) {
      const Falla f = FallaActual();
      if (fallas < kFallasPorTarea) {
        ++fallas;
        continue;
      }
      fallas = 0;
      if (!respondeFalla(f)) {
        AvisaNoEntregada();
        break;
      }
    }
  }
  clock::DesconectaReloj(l, r.Serial);
  return recibida ? kVerdadero : kFalso;
}

}  // namespace lector::app
