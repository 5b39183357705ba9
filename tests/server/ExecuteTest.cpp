#include "server/Execute.h"

#include <gtest/gtest.h>

#include <fstream>

#include "ConServicio.h"

namespace lector::test {
namespace {

using server::Execute;

class ExecuteTest : public ConServicio {};

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
  std::filesystem::create_directories(l.Marcaciones());
  std::ofstream(l.Marcaciones() / "2603.txt") << "ABC";
  l.urlBase = Inalcanzable();
  for (bool modoLog : {false, true}) {
    l.estado.ModoLog = modoLog;
    l.estado.SesionAbierta = true;
    display.SetCaption("Cargando");
    Execute(l, "syncdb");
    EXPECT_FALSE(l.estado.SesionAbierta);
    EXPECT_EQ(display.caption, kTituloVentana);
    EXPECT_EQ(std::filesystem::exists(l.ArchivoLog()), modoLog);
  }
  auto log = LineasLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "sendTxt"), 4);
  ASSERT_EQ(log.size(), 1u + 4 * 2 + 2);
  EXPECT_EQ(log[log.size() - 2], "Error en Funcion syncdb");
  EXPECT_EQ(log.back().substr(log.back().size() - 7), " (1900)");
}

TEST_F(ExecuteTest, FallasNueveYDieciseis) {
  Ingresa();
  l.estado.ModoLog = true;
  display.fallas = {kFueraDeRango};  // ends it without repeat or trace
  display.SetCaption("Cargando");
  display.llamadas.clear();
  Execute(l, "Login");
  EXPECT_EQ(display.De("DoEvents").size(), 1u);
  EXPECT_TRUE(l.estado.SesionAbierta);
  EXPECT_EQ(LineasLog().back(), "Execute Login");
  EXPECT_EQ(display.caption, kTituloVentana);
  // Sixteen is repeated after a pause without counting...
  l.estado.SesionAbierta = false;
  reloj.dormidas.clear();
  display.fallas = {kTransitoria, kTransitoria, kTransitoria, kTransitoria, kTransitoria};
  Execute(l, "Login");
  EXPECT_TRUE(l.estado.SesionAbierta);
  EXPECT_EQ(std::count(reloj.dormidas.begin(), reloj.dormidas.end(), 100), 5 + 1);
  // ...fifty times in a row; then it counts as an ordinary failure, and four of those end it.
  display.siempre = kTransitoria;
  display.llamadas.clear();
  reloj.dormidas.clear();
  Execute(l, "Login");
  EXPECT_EQ(static_cast<long>(display.De("DoEvents").size()),
            4 * (server::kRepeticionesTransitoria + 1));
  EXPECT_EQ(std::count(reloj.dormidas.begin(), reloj.dormidas.end(), 100),
            4 * server::kRepeticionesTransitoria);
  auto log = LineasLog();
  EXPECT_EQ(log[log.size() - 2], "Error en Funcion Login");
  EXPECT_EQ(log.back(), "Falla de prueba (16)");
  EXPECT_FALSE(l.estado.SesionAbierta);
}

}  // namespace
}  // namespace lector::test
