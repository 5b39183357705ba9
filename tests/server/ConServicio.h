#pragma once
// A reader wired to test doubles and to a service-sim started in-process on a free port, with
// one account ("ana" / "clave1") holding one clock (none when the test adds its own).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceSim.h"
#include "kit/Fixtures.h"
#include "server/Sesion.h"
#include "support/CodePage.h"
#include "support/Falla.h"
#include "support/Lector.h"

namespace lector::test {

// While it lives, the n-th allocation of this thread fails (SinMemoria.cpp replaces operator
// new for this program); tells afterwards whether that allocation came.
struct SinMemoria {
  static thread_local long faltan;  // allocations until the failing one; 0: none fails
  static inline bool disparada = false;
  explicit SinMemoria(long n) { faltan = n; }
  ~SinMemoria() {
    disparada = faltan == 0;
    faltan = 0;
  }
};

class ConServicio : public ::testing::Test {
 protected:
  explicit ConServicio(bool conReloj = true) {
    sim.AgregaCuenta("ana", "clave1");
    if (conReloj)
      sim.AgregaReloj("ana", servicesim::NuevoReloj("1", "S1", "7", "Entrada", "2", "127.0.0.2"));
    sim.Inicia();
    l.urlBase = sim.UrlBase();
    l.estado.IdEquipo = "1234";
    l.estado.Usuario = "ana";
    l.estado.Clave = "clave1";
  }

  // Signs in through the service; the session is open afterwards.
  void Ingresa() { ASSERT_TRUE(server::Reingresa(l)); }

  // An URL where nothing listens.
  static std::string Inalcanzable() {
    return "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  }

  // The activity log file's lines (ModoLog must be on), in UTF-8, without their time stamps.
  std::vector<std::string> LineasLog() const {
    std::vector<std::string> lineas;
    for (const auto& x : LineasDe(l.ArchivoLog())) lineas.push_back(Cp1252AUtf8(x.substr(15)));
    return lineas;
  }

  servicesim::ServiceSim sim;
  CarpetaTemporal carpeta;
  RecordingDisplay display;
  ManualClock reloj;
  Lector l{display, reloj, carpeta.ruta()};
};

}  // namespace lector::test
