#pragma once
// A reader signed in to a service-sim on loopback, with the recording SDK for its clocks, a
// recording TProcess and a display whose yields can run a handler or raise failures.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ServiceSim.h"
#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "server/Servicio.h"
#include "server/Sesion.h"
#include "support/Falla.h"

namespace lector::test {

class DisplayDeCiclo : public RecordingDisplay {
 public:
  void DoEvents() override {
    RecordingDisplay::DoEvents();
    if (alCeder) alCeder();
    if (!fallas.empty()) {
      const int n = fallas.front();
      fallas.pop_front();
      if (n) throw Falla(n, "Falla de prueba");
    }
  }
  std::function<void()> alCeder;  // runs at every yield, as a window event would
  std::deque<int> fallas;         // numbers raised by the next yields (0 = none)
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

// A manual clock whose fixed waits can be kept from moving it, so a cycle decides at the time
// the test set.
class RelojDeCiclo : public ManualClock {
 public:
  void Dormir(int ms) override {
    if (detenido)
      dormidas.push_back(ms);
    else
      ManualClock::Dormir(ms);
  }
  bool detenido = false;
};

class ConCiclo : public ::testing::Test {
 protected:
  ConCiclo() {
    sim.AgregaCuenta("ana", "clave1");
    sim.Inicia();
    l.urlBase = sim.UrlBase();
    l.estado.IdEquipo = "1234";
    l.estado.Usuario = "ana";
    l.estado.Clave = "clave1";
    l.sdk = &sdk;
    l.alcance = &alcance;
    l.proceso = &proceso;
    std::filesystem::create_directory(l.Marcaciones());
  }
  // A clock of the account; reachable clocks answer the echo.
  void Reloj(const std::string& id, const std::string& nombre, const std::string& ip,
             bool alcanzable = true, const std::string& intervalo = "5",
             const std::string& serial = "SERIAL1") {
    sim.AgregaReloj("ana", servicesim::NuevoReloj(id, serial, id, nombre, "2", ip, "1", intervalo));
    if (alcanzable) alcance.tabla[ip] = 0;
  }
  void Ingresa() {
    ASSERT_TRUE(server::Reingresa(l));
    ASSERT_TRUE(server::Procesar(l));
  }
  // The answers that closed the clock's queued tasks, "code=answer" in queue order.
  std::vector<std::string> Cerradas(const std::string& relojId) const {
    std::vector<std::string> r;
    for (const auto& t : sim.Tareas(relojId)) r.push_back(t.codigo + "=" + t.respuesta);
    return r;
  }
  // The activity lines that contain the text.
  std::vector<std::string> Lineas(const std::string& parte) const {
    std::vector<std::string> r;
    for (const auto& x : display.logs)
      if (x.find(parte) != std::string::npos) r.push_back(x);
    return r;
  }

  servicesim::ServiceSim sim;
  CarpetaTemporal carpeta;
  DisplayDeCiclo display;
  RelojDeCiclo reloj;
  TablaAlcance alcance;
  RecordingSdk sdk;
  TemporizadorGrabador proceso;
  Lector l{display, reloj, carpeta.ruta()};
};

}  // namespace lector::test
