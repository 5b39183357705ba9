#include "app/Ciclo.h"

#include <langinfo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "app/CargaComm.h"
#include "clock/Conexion.h"
#include "clock/Marcaciones.h"
#include "server/Execute.h"
#include "server/Http.h"
#include "server/Servicio.h"
#include "support/Falla.h"
#include "support/Log.h"

namespace lector::app {
namespace {

constexpr int kIntervaloCiclo = 60000;  // ms between the end of a cycle and the next
constexpr int kFallasPorCiclo = 3;      // repeats of a failed step; the next failure ends it
constexpr int kIntervaloPorDefecto = 10;
// m x 60 must fit 16 bits, as the reading interval in seconds always has.
constexpr int kIntervaloMaximo = 546;

// What a step asks for next.
enum class Sigue { Siguiente, OtraVez, Fin };

struct Ciclo {
  Lector& l;
  bool leerAhora = false;
  size_t relojes = 0;   // clocks in ListaRelojes (its last entry is always empty)
  size_t visita = 0;    // the clock being visited
  bool subido = false;  // the month file went up (or was given to the upload to try)
};

// The pause between cycles. LECTOR_CICLO_MS shortens it for the end-to-end tests and the demo
// only; nothing else sets it.
int IntervaloCiclo() {
  static const int ms = [] {
    const char* texto = std::getenv("LECTOR_CICLO_MS");
    const int v = texto ? std::atoi(texto) : 0;
    return v >= 100 ? v : kIntervaloCiclo;
  }();
  return ms;
}

// "-- dd/MM/yy hh:mm" on the 12-hour clock and the locale's morning or afternoon designator.
std::string Fechado(Lector& l) {
  FechaHora f = l.reloj.Ahora();
  const bool tarde = f.hora >= 12;
  const char* designador = nl_langinfo(tarde ? PM_STR : AM_STR);
  std::string ampm = designador && *designador ? designador : (tarde ? "PM" : "AM");
  f.hora = f.hora % 12 == 0 ? 12 : f.hora % 12;
  return "-- " + Formatea(f, "dd/MM/yy hh:mm ") + ampm;
}

void MuestraRelojes(Lector& l, std::initializer_list<std::string> lineas) {
  l.display.ClearRelojes();
  for (const auto& linea : lineas) l.display.AddReloj(linea);
  l.display.SetCaption(kTituloVentana);
}

// The line of a failure the cycle gives up on; with the log on, its description and number too.
// A month file that cannot be written always names the file and the reason: only someone at the
// machine can free the disk or mend the folder, and the records wait in the clocks meanwhile.
void AvisaFalla(Lector& l, const Falla& f) {
  l.display.AddLog("Error en proceso, retomando acciones en un minuto.");
  const std::string detalle = f.descripcion + " (" + std::to_string(f.numero) + ")";
  if (l.estado.ModoLog || f.numero == kAccesoArchivo) l.display.AddLog(detalle);
  if (l.estado.ModoLog) EscribeLog(l, detalle);
}

Sigue Preparacion(Ciclo& c) {
  c.leerAhora = false;
  c.l.Proceso().SetInterval(IntervaloCiclo());
  return Sigue::Siguiente;
}

Sigue Ingreso(Ciclo& c) {
  Lector& l = c.l;
  if (!l.estado.SesionAbierta) server::Execute(l, "Login");
  if (l.estado.SesionAbierta) return Sigue::Siguiente;
  MuestraRelojes(l, {"No se ha logrado ingresar al servidor,", "Verifica tu usuario y contraseña.",
                     Fechado(l)});
  return Sigue::Fin;
}

Sigue ListaDeRelojes(Ciclo& c) {
  Lector& l = c.l;
  if (server::Procesar(l) || server::Procesar(l)) return Sigue::Siguiente;
  MuestraRelojes(l, {"No se ha encontrado información de los relojes,",
                     "revise su conexión a internet o ingrese a ",
                     server::HostDeUrl(l.urlBase) + " para configurar los relojes.", Fechado(l)});
  return Sigue::Fin;
}

Sigue Decision(Ciclo& c) {
  Lector& l = c.l;
  auto& lista = l.estado.ListaRelojes;
  l.Proceso().SetEnabled(false);
  c.relojes = lista.size() - 1;
  l.display.ClearRelojes();
  for (size_t i = 0; i < c.relojes; ++i) l.display.AddReloj(lista[i].Nombre + " - " + lista[i].IP);
  l.display.AddLog("Leyendo relojes: " + std::to_string(c.relojes));
  if (lista[0].Intervalo == 0) lista[0].Intervalo = kIntervaloPorDefecto;
  const int m = std::clamp<int>(lista[0].Intervalo, -kIntervaloMaximo, kIntervaloMaximo);
  // Single precision, halves to the even neighbour, as the reading times have always been kept.
  const float t = l.reloj.SegundosDesdeMedianoche();
  const auto minuto = static_cast<long>(std::nearbyint(t / 60.0f));
  const bool a = minuto % m == 0;
  const bool b = t - l.estado.UltimaLectura > static_cast<float>(m * 60);
  c.leerAhora = a || b;
  c.visita = 0;
  return Sigue::Siguiente;
}

// One clock; a failure repeats this clock's visit from its start.
Sigue Visita(Ciclo& c) {
  Lector& l = c.l;
  if (c.visita >= c.relojes) return Sigue::Siguiente;
  // Copies: the visit's operations must not depend on the list staying as it is.
  DatosReloj r = l.estado.ListaRelojes.at(c.visita);
  l.display.SetLamp(kLampRojo);
  l.display.AddLog("Conectando con reloj: " + r.Nombre);
  l.display.Repaint();
  // A bad entry fails the same way however often it is tried, and only this clock's visit.
  int16_t etiqueta = 0;
  try {
    if (r.NumeroDefecto) throw Falla(r.NumeroDefecto, r.Defecto);
    if (c.leerAhora) {
      etiqueta = AEntero16(r.Etiqueta);
      clock::CompruebaRelojId(l, r.RelojId);
    }
  } catch (const Falla& f) {
    const std::string texto =
        "Reloj " + r.Nombre + ": " + f.descripcion + "; se omite en este ciclo.";
    l.display.AddLog(texto);
    EscribeLog(l, texto);
    ++c.visita;
    return Sigue::OtraVez;
  }
  if (clock::ConectaReloj(l, r.IP, r.Serial)) {
    if (c.leerAhora) {
      const std::string leido =
          clock::LeeReloj(l, r.Numero, etiqueta, r.RelojId, r.IP, r.Conectado, r.Serial);
      if (c.visita < l.estado.ListaRelojes.size())
        l.estado.ListaRelojes[c.visita].Conectado = r.Conectado;
      l.display.AddLog(LineaLectura(r.Nombre, leido, " desconectado."));
      l.estado.UltimaLectura = l.reloj.SegundosDesdeMedianoche();
    }
    l.display.SetLamp(kLampGris);
    l.display.DoEvents();
    CargaComm(l, static_cast<float>(c.visita));
  } else {
    server::SendTaskReply(l, r.RelojId, "CO", "0", "0");
  }
  ++c.visita;
  return Sigue::OtraVez;
}

Sigue Subida(Ciclo& c) {
  if (c.leerAhora) server::Execute(c.l, "syncdb");
  c.subido = true;
  return Sigue::Siguiente;
}

using Paso = Sigue (*)(Ciclo&);
constexpr Paso kPasos[] = {Preparacion, Ingreso, ListaDeRelojes, Decision, Visita, Subida};
constexpr size_t kNumPasos = sizeof kPasos / sizeof kPasos[0];

// Runs the steps in order. A failed step starts again from its beginning: at once for a
// transient failure (bounded), up to three times for any other; number 9 ends the cycle quietly
// and the fourth counted failure gives the cycle up and forces a new sign-in.
void UnCiclo(Lector& l) {
  Ciclo c{l};
  l.estado.ClavesRechazadas.clear();  // a refused key is told once per cycle
  int errores = 0, transitorias = 0;
  for (size_t paso = 0; paso < kNumPasos;) {
    try {
      switch (kPasos[paso](c)) {
        case Sigue::Siguiente:
          ++paso;
          break;
        case Sigue::OtraVez:
          break;
        case Sigue::Fin:
          paso = kNumPasos;
          break;
      }
      transitorias = 0;
    } catch (...) {
      const Falla f = FallaActual();
      if (f.numero == kTransitoria && transitorias < server::kRepeticionesTransitoria) {
        ++transitorias;
        l.reloj.Dormir(100);
        continue;
      }
      transitorias = 0;
      if (f.numero == kFueraDeRango) break;
      if (++errores <= kFallasPorCiclo) continue;
      AvisaFalla(l, f);
      l.estado.SesionAbierta = false;
      break;
    }
  }
  // Records read but never sent: the next cycle reads and uploads, as after a refused upload.
  if (c.leerAhora && !c.subido) l.estado.UltimaLectura = 0;
  // A visit given up in the middle may leave a connection the device closes meanwhile.
  try {
    clock::SueltaReloj(l);
  } catch (...) {
  }
  l.display.SetCaption(kTituloVentana);
  if (l.proceso) l.proceso->SetEnabled(true);
}

}  // namespace

void TProcess_Timer(Lector& l) {
  Estado& e = l.estado;
  // A tick during a cycle's yields is dropped: the timer fires again after it.
  if (e.CicloEnCurso) return;
  e.CicloEnCurso = true;
  struct Fin {
    Estado& e;
    ~Fin() { e.CicloEnCurso = e.CicloPendiente = false; }
  } fin{e};
  UnCiclo(l);
  // "Cargar" pressed meanwhile: one more cycle, which reads again.
  while (e.CicloPendiente) {
    e.CicloPendiente = false;
    e.UltimaLectura = 0;
    UnCiclo(l);
  }
}

void CR_Click(Lector& l) {
  l.estado.UltimaLectura = 0;
  if (l.estado.CicloEnCurso) {
    l.estado.CicloPendiente = true;
    return;
  }
  TProcess_Timer(l);
}

}  // namespace lector::app
