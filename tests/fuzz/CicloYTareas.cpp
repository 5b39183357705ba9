// One cycle over any clock-list answer at any time of day, and any task record through the task
// queue, against service-sim: the cycle always ends with its timer on, nothing escapes either.
#include <cstdlib>
#include <string>

#include "ServiceSim.h"
#include "app/Ciclo.h"
#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "app/CargaComm.h"
#include "server/Servicio.h"
#include "server/Sesion.h"

using namespace lector;

// Input: hour, minute, then the clock list answer and the task record split at the first 0x00.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 600) return 0;  // hundreds of clocks would only make runs slow
  static servicesim::ServiceSim& sim = *[] {
    auto* s = new servicesim::ServiceSim;
    s->AgregaCuenta("ana", "clave1");
    s->AgregaReloj("ana", servicesim::NuevoReloj("1", "SERIAL1", "7", "Entrada", "2", "127.0.0.2"));
    s->Inicia();
    return s;
  }();
  test::LectorDePrueba p;
  test::RecordingSdk sdk;
  test::TemporizadorGrabador proceso;
  Lector& l = p.l;
  l.sdk = &sdk;
  l.proceso = &proceso;
  p.alcance.otras = 1;  // every clock answers
  l.urlBase = sim.UrlBase();
  l.estado.Usuario = "ana";
  l.estado.Clave = "clave1";
  l.estado.IdEquipo = "1234";
  // One session for every input: signing in is not what is fuzzed here.
  static const std::string sesion = [&] {
    if (!server::Reingresa(l)) abort();
    return l.estado.IdSesion;
  }();
  p.reloj.ahora.hora = data[0] % 24;
  p.reloj.ahora.minuto = data[1] % 60;
  const std::string resto(reinterpret_cast<const char*>(data + 2), size - 2);
  const size_t corte = resto.find('\0');
  const std::string tarea = corte == std::string::npos ? "" : resto.substr(corte + 1);
  std::filesystem::create_directory(l.Marcaciones());

  l.estado.IdSesion = sesion;
  l.estado.SesionAbierta = true;
  sim.OlvidaGuiones();
  sim.Programa("lector.relojes", {resto.substr(0, corte)});
  app::TProcess_Timer(l);
  if (!proceso.activado || l.estado.CicloEnCurso) abort();

  // The task through the queue of a well-listed clock.
  l.estado.IdSesion = sesion;
  l.estado.SesionAbierta = true;
  server::LlenaListaRelojes(l.estado.ListaRelojes, "1|SERIAL1|7|Entrada|2|127.0.0.2|||||||1|5<br>");
  sim.Programa("comm.read.has", {"1"});
  sim.Programa("comm.read.one", {tarea});
  app::CargaComm(l, 0);  // the queue handles its own failures: one escaping ends the run
  return 0;
}
