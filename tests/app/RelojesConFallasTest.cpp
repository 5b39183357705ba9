// A clock that misbehaves during a cycle: the user sees it in the activity list, the cycle still
// visits the next clock, the next cycle reads the clock once it behaves, and no record is lost or
// written twice. Real ZkSdk against two clock-sim clocks, service-sim in-process.
#include <gmock/gmock.h>

#include <set>

#include "ConCiclo.h"
#include "app/Ciclo.h"
#include "clock-sim/Emulador.h"
#include "clock/Marcaciones.h"
#include "clock/zk/ZkSdk.h"

namespace lector::test {
namespace {

using clocksim::TipoFalla;
using ::testing::Contains;
namespace zk = clock::zk;

struct Caso {
  const char* nombre;
  clocksim::Falla falla;
  bool conecta;  // the connection is made and the reading fails
};

class RelojesConFallas : public ConCiclo, public ::testing::WithParamInterface<Caso> {};

TEST_P(RelojesConFallas, ElCicloSigueYNadaSePierde) {
  std::vector<std::unique_ptr<clocksim::Emulador>> relojes;
  for (int n : {2, 3}) {
    const std::string ip = DireccionPropia(n), id = std::to_string(n);
    clocksim::EstadoReloj e;
    e.serie = "S" + id;
    for (int i = 0; i < 400; ++i)
      e.Marca(std::to_string(10 + i % 40), 0, 1,
              clocksim::SegundosCiviles({2026, 3, 3, 8, 0, 0}) + 60LL * i + n);
    Reloj(id, "Reloj" + id, ip, true, "5", e.serie);
    clocksim::Opciones o;
    o.direccion = ip;
    relojes.push_back(std::make_unique<clocksim::Emulador>(std::move(e), o));
    relojes.back()->Inicia();
  }
  zk::ZkSdk sdkReal(std::chrono::milliseconds(1000));
  l.sdk = &sdkReal;
  relojes[0]->AgregaFalla(GetParam().falla);

  app::TProcess_Timer(l);
  EXPECT_THAT(display.logs, Contains("Reloj Reloj3 leido: 400, nuevos: 400"));
  EXPECT_THAT(display.logs, ::testing::Not(Contains(::testing::HasSubstr("Reloj2 leido: 400"))));
  EXPECT_TRUE(proceso.activado);  // the next cycle is due

  std::vector<std::string> co;  // the service hears of a clock that could not be connected
  for (const auto& x : sim.Respuestas()) co.push_back(x.relojId + x.tarea + x.respuesta);
  if (GetParam().conecta)
    EXPECT_THAT(display.logs, Contains("Reloj Reloj2 desconectado."));
  else
    EXPECT_THAT(co, Contains("2CO0"));
  // The clock behaves again: the next cycle (a multiple of the interval later) reads all of it.
  relojes[0]->QuitaFallas();
  ASSERT_TRUE(EsperaHasta([&] { return !relojes[0]->ConClienteTcp(); }));
  reloj.Avanza(5 * 60 * 1000);
  app::TProcess_Timer(l);
  const auto general = clock::GeneralMonthFile(l, reloj.Ahora());
  const auto lineas = LineasDe(general);
  EXPECT_EQ(lineas.size(), 800u);
  EXPECT_EQ(std::set<std::string>(lineas.begin(), lineas.end()).size(), 800u);
  ASSERT_FALSE(sim.Subidas().empty());
  EXPECT_EQ(sim.Subidas().back().contenido, LeeArchivo(general));
  for (auto& r : relojes) r->Detiene();
}

INSTANTIATE_TEST_SUITE_P(
    Fallas, RelojesConFallas,
    ::testing::Values(Caso{"CortaAMitad", {TipoFalla::kCorta, 0, 6000}, true},
                      Caso{"Basura", {TipoFalla::kBasura, zk::CMD_DATA_WRRQ, 64}, true},
                      Caso{"Lento", {TipoFalla::kRetrasa, 0, 2500}, false},
                      Caso{"Rechaza", {TipoFalla::kRechaza, zk::CMD_DATA_WRRQ}, true},
                      Caso{"Mudo", {TipoFalla::kMudo, 0}, false}),
    [](const auto& i) { return std::string(i.param.nombre); });

}  // namespace
}  // namespace lector::test
