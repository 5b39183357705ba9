// The processing cycle against service-sim with the recording SDK: the visits, the read decision,
// the failure handling and what the window shows.
#include <gmock/gmock.h>

#include "ConCiclo.h"
#include "app/Ciclo.h"
#include "support/CodePage.h"

namespace lector::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class Ciclo : public ConCiclo {
 protected:
  void Corre() { app::TProcess_Timer(l); }
};

// Real clocks over the real protocol in a cycle, the readings and the uploads: RelojesConFallasTest
// and tests/e2e. Here what only the window shows.
TEST_F(Ciclo, ShowsEveryClockAndTheLampOfEachVisit) {
  Reloj("2", "A", "127.0.6.2");
  Reloj("3", "B", "127.0.6.3", false);
  Reloj("4", "C", "127.0.6.4");
  Corre();
  EXPECT_THAT(display.relojes, ElementsAre("A - 127.0.6.2", "B - 127.0.6.3", "C - 127.0.6.4"));
  // Red from B's visit until C is connected.
  std::vector<int64_t> lamparas;
  for (const auto& x : display.De("SetLamp"))
    if (lamparas.empty() || lamparas.back() != x.valor) lamparas.push_back(x.valor);
  EXPECT_THAT(lamparas,
              ElementsAre(kLampRojo, kLampVerde, kLampGris, kLampRojo, kLampVerde, kLampGris));
  EXPECT_THAT(proceso.llamadas,
              ElementsAre("SetInterval(60000)", "SetEnabled(False)", "SetEnabled(True)"));
  EXPECT_EQ(display.caption, kTituloVentana);
}

TEST_F(Ciclo, ReadsOnAMultipleOfTheIntervalOrWhenItHasBeenLongEnough) {
  const struct {
    int hora, minuto, segundo;
    float desdeUltima;  // seconds before now of the last reading (negative: the day before)
    int intervalo;
    bool lee;
  } casos[] = {
      {10, 9, 31, 60, 10, true},     // 609.52 minutes round to 610
      {10, 4, 0, 60, 10, false},     //
      {10, 4, 0, 601, 10, true},     // more than 10 minutes since the last reading
      {10, 4, 0, 600, 10, false},    //
      {10, 8, 30, 60, 2, true},      // 608.5 rounds to the even 608
      {0, 3, 0, -60, 10, false},     // after midnight the last reading lies ahead
      {0, 10, 0, -60, 10, true},     // but a multiple of the interval still reads
      {10, 10, 0, 60, 0, true},      // interval 0 is 10
      {10, 4, 0, 60, 0, false},      //
      {10, 4, 0, 32761, 600, true},  // an interval above 546 counts as 546
  };
  Reloj("7", "Entrada", "127.0.0.2");
  sdk.registros.push_back({"1"});
  Ingresa();
  reloj.detenido = true;
  for (const auto& c : casos) {
    SCOPED_TRACE(testing::Message() << c.hora << ":" << c.minuto << ":" << c.segundo);
    sim.Programa("lector.relojes", {"1|SERIAL1|7|Entrada|2|127.0.0.2|||||||1|" +
                                    std::to_string(c.intervalo) + "<br>"});
    reloj.ahora = {2026, 3, 3, c.hora, c.minuto, c.segundo, 0};
    const float t = reloj.SegundosDesdeMedianoche();
    l.estado.UltimaLectura = c.desdeUltima < 0 ? 86400 + c.desdeUltima : t - c.desdeUltima;
    const size_t antes = sdk.De("ReadGeneralLogData").size();
    Corre();
    EXPECT_EQ(sdk.De("ReadGeneralLogData").size() - antes, c.lee ? 1u : 0u);
  }
}

TEST_F(Ciclo, RepeatsAFailedStepThreeTimesAndGivesUpAtTheFourth) {
  const struct {
    std::deque<int> fallas;
    bool modoLog, termina, sesion;
  } casos[] = {
      {{13, 13, 13}, false, false, true},    {{13, 13, 13, 13}, false, true, false},
      {{13, 13, 13, 13}, true, true, false}, {{16, 16}, false, false, true},
      {{kFueraDeRango}, false, true, true},
  };
  Reloj("7", "Entrada", "127.0.0.2");
  sdk.registros.push_back({"1"});
  for (const auto& c : casos) {
    SCOPED_TRACE(testing::PrintToString(c.fallas));
    if (!l.estado.SesionAbierta) Ingresa();  // the failures are meant for the cycle's own steps
    reloj.dormidas.clear();
    l.estado.ModoLog = c.modoLog;
    l.estado.UltimaLectura = 0;
    display.logs.clear();
    display.fallas = c.fallas;
    const size_t subidas = sim.Subidas().size();
    Corre();
    EXPECT_EQ(sim.Subidas().size() - subidas, c.termina ? 0u : 1u);
    EXPECT_EQ(l.estado.SesionAbierta, c.sesion);
    const bool aviso = c.termina && c.fallas.front() != kFueraDeRango;
    EXPECT_EQ(Lineas("Error en proceso, retomando acciones en un minuto.").size(), aviso ? 1u : 0u);
    EXPECT_EQ(Lineas("Falla de prueba (13)").size(), c.modoLog ? 1u : 0u);
    EXPECT_TRUE(proceso.activado);
    EXPECT_EQ(display.caption, kTituloVentana);
    if (c.fallas.front() == kTransitoria) {
      EXPECT_EQ(std::count(reloj.dormidas.begin(), reloj.dormidas.end(), 100), 2);
    }
  }
  EXPECT_THAT(Cp1252AUtf8(LeeArchivo(l.ArchivoLog())), HasSubstr("Falla de prueba (13)\r\n"));
}

TEST_F(Ciclo, CargarDuringACycleRunsOneMoreThatReads) {
  Reloj("7", "Entrada", "127.0.0.2");
  sdk.registros.push_back({"1"});
  reloj.ahora = {2026, 3, 3, 14, 6, 0, 0};  // not a multiple of the interval
  l.estado.UltimaLectura = reloj.SegundosDesdeMedianoche();
  bool pulsado = false;
  display.alCeder = [&] {
    Corre();                                                    // a timer tick meanwhile is dropped
    if (!pulsado && !Lineas("Conectando con reloj").empty()) {  // after the read decision
      pulsado = true;
      app::CR_Click(l);
    }
  };
  Corre();
  EXPECT_EQ(Lineas("Leyendo relojes").size(), 2u);
  EXPECT_EQ(sdk.De("ReadGeneralLogData").size(), 1u);  // only the cycle "Cargar" asked for
  EXPECT_FALSE(l.estado.CicloEnCurso);
}

}  // namespace
}  // namespace lector::test
