#include "server/Execute.h"

#include <gtest/gtest.h>

#include <fstream>

#include "ConServicio.h"

namespace lector::test {
namespace {

using server::Execute;

class ExecuteTest : public ConServicio {
 protected:
  void SubidaImposible() {
    std::filesystem::create_directories(l.Marcaciones());
    std::ofstream(l.Marcaciones() / "2603.txt") << "ABC";
    l.urlBase = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  }
  size_t Cuenta(const std::vector<std::string>& lineas, const std::string& prefijo) {
    size_t n = 0;
    for (auto& x : lineas) n += x.rfind(prefijo, 0) == 0;
    return n;
  }
};

TEST_F(ExecuteTest, ComandoDesconocidoSoloDejaLaTraza) {
  l.estado.ModoLog = true;
  Execute(l, "login");
  EXPECT_EQ(LineasLog(), std::vector<std::string>{"Execute login"});
  EXPECT_TRUE(sim.Peticiones().empty());
  EXPECT_TRUE(display.llamadas.empty());
}

// A login refused by the service is an answer, not a failure: no repeat, caption untouched.
TEST_F(ExecuteTest, LoginAciertaOFallaSinTocarElTitulo) {
  for (const std::string clave : {"clave1", "equivocada"}) {
    l.estado.Clave = clave;
    l.estado.SesionAbierta = false;
    display.SetCaption("otro");
    Execute(l, "Login");
    EXPECT_EQ(l.estado.SesionAbierta, clave == "clave1");
    EXPECT_EQ(display.caption, "otro");
  }
  EXPECT_EQ(sim.PeticionesA("login2.php").size(), 2u);
}

TEST_F(ExecuteTest, CuatroFallasAbandonanLaSesion) {
  Ingresa();
  SubidaImposible();
  l.estado.ModoLog = true;
  display.SetCaption("Cargando");
  Execute(l, "syncdb");
  auto log = LineasLog();
  EXPECT_EQ(Cuenta(log, "sendTxt"), 4u);
  EXPECT_EQ(Cuenta(log, "Error enviando archivo: "), 4u);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Error en Funcion syncdb");
  EXPECT_EQ(log.back().substr(log.back().size() - 7), " (1900)");
  EXPECT_FALSE(l.estado.SesionAbierta);
  EXPECT_EQ(display.caption, kTituloVentana);
}

TEST_F(ExecuteTest, SinModoLogNoEscribeNada) {
  Ingresa();
  SubidaImposible();
  Execute(l, "syncdb");
  EXPECT_FALSE(std::filesystem::exists(l.ArchivoLog()));
  EXPECT_FALSE(l.estado.SesionAbierta);
}

TEST_F(ExecuteTest, FallaNueveTerminaSinReintentoNiRastro) {
  Ingresa();
  l.estado.ModoLog = true;
  display.fallas = {kFueraDeRango};
  display.SetCaption("Cargando");
  display.llamadas.clear();
  Execute(l, "Login");
  EXPECT_EQ(display.De("DoEvents").size(), 1u);
  EXPECT_TRUE(l.estado.SesionAbierta);
  EXPECT_EQ(LineasLog().back(), "Execute Login");
  EXPECT_EQ(display.caption, kTituloVentana);
}

TEST_F(ExecuteTest, FallaDieciseisSeRepiteTrasUnaPausaSinContar) {
  l.estado.ModoLog = true;
  display.fallas = {kTransitoria, kTransitoria, kTransitoria, kTransitoria, kTransitoria};
  Execute(l, "Login");
  EXPECT_TRUE(l.estado.SesionAbierta);
  // Five pauses before the repeats, one inside the login itself.
  EXPECT_EQ(std::count(reloj.dormidas.begin(), reloj.dormidas.end(), 100), 5 + 1);
  EXPECT_EQ(sim.PeticionesA("login2.php").size(), 1u);
}

TEST_F(ExecuteTest, FallaDieciseisSinFinTieneLimite) {
  l.estado.ModoLog = true;
  display.siempre = kTransitoria;
  Execute(l, "Login");
  // Fifty repeats in a row, then it counts as an ordinary failure; four of those end it.
  const long intentos = 4 * (server::kRepeticionesTransitoria + 1);
  EXPECT_EQ(static_cast<long>(display.De("DoEvents").size()), intentos);
  EXPECT_EQ(std::count(reloj.dormidas.begin(), reloj.dormidas.end(), 100),
            4 * server::kRepeticionesTransitoria);
  auto log = LineasLog();
  EXPECT_EQ(log[log.size() - 2], "Error en Funcion Login");
  EXPECT_EQ(log.back(), "Falla de prueba (16)");
  EXPECT_FALSE(l.estado.SesionAbierta);
  EXPECT_EQ(display.caption, kTituloVentana);
}

}  // namespace
}  // namespace lector::test
