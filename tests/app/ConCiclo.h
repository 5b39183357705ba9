#pragma once
// A reader of an account without clocks in service-sim, with the recording SDK for the clocks a
// test adds, a table reachability and a recording TProcess.
#include <string>
#include <vector>

#include "kit/RecordingSdk.h"
#include "server/ConServicio.h"
#include "server/Servicio.h"

namespace lector::test {

class ConCiclo : public ConServicio {
 protected:
  ConCiclo() : ConServicio(false) {
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

  TablaAlcance alcance;
  RecordingSdk sdk;
  TemporizadorGrabador proceso;
};

}  // namespace lector::test
