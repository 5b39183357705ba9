#include "server/Execute.h"

#include "server/Servicio.h"
#include "server/Sesion.h"
#include "support/Falla.h"
#include "support/Log.h"

namespace lector::server {
namespace {

constexpr int kIntentosExecute = 4;

void Accion(Lector& l, const std::string& comando) {
  if (comando == "Login")
    Reingresa(l);
  else if (comando == "syncdb")
    sendTxt(l);
}

}  // namespace

void Execute(Lector& l, const std::string& comando) {
  int fallas = 0, transitorias = 0;
  EscribeLog(l, "Execute " + comando);
  for (;;) {
    int numero;
    std::string descripcion;
    try {
      Accion(l, comando);
      return;
    } catch (...) {
      Falla f = FallaActual();
      numero = f.numero;
      descripcion = f.descripcion;
    }
    if (numero == kTransitoria && transitorias < kRepeticionesTransitoria) {
      ++transitorias;
      l.reloj.Dormir(100);
      continue;
    }
    transitorias = 0;
    if (numero == kFueraDeRango) break;
    if (++fallas < kIntentosExecute) continue;
    if (l.estado.ModoLog) {
      EscribeLog(l, "Error en Funcion " + comando);
      EscribeLog(l, descripcion + " (" + std::to_string(numero) + ")");
    }
    l.estado.SesionAbierta = false;
    break;
  }
  // An upload given up: the next cycle reads and uploads, as after a refused one.
  if (comando == "syncdb") l.estado.UltimaLectura = 0;
  l.display.SetCaption(kTituloVentana);
}

}  // namespace lector::server
