// The clock operations over the real protocol: ZkSdk against clock-sim on loopback, with the
// service played by service-sim. Each test has a loopback address of its own, so test programs
// running side by side never meet on 4370.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clock-sim/Emulador.h"
#include "clock/Conexion.h"
#include "clock/Mantenimiento.h"
#include "clock/Marcaciones.h"
#include "clock/Usuarios.h"
#include "clock/zk/ZkSdk.h"
#include "server/ConServicio.h"
#include "support/Ping.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;

std::vector<std::string> Lineas(const std::string& bytes) {
  std::vector<std::string> r;
  for (size_t i = 0, p; (p = bytes.find("\r\n", i)) != std::string::npos; i = p + 2)
    r.push_back(bytes.substr(i, p - i));
  return r;
}

class ContraClockSim : public ConServicio {
 protected:
  void Arranca(const std::string& ip, clocksim::EstadoReloj estado = {}) {
    ip_ = ip;
    estado.serie = "S1";
    clocksim::Opciones opciones;
    opciones.direccion = ip;
    opciones.puerto = kPuertoReloj;
    emulador = std::make_unique<clocksim::Emulador>(std::move(estado), opciones);
    emulador->Inicia();
    l.sdk = &sdk;
    l.alcance = &alcance;
    alcance.tabla[ip] = 0;
    std::filesystem::create_directory(l.Marcaciones());
  }
  ~ContraClockSim() override {
    sdk.Disconnect();
    if (emulador) emulador->Detiene();
  }
  std::string Lee() { return LeeReloj(l, 1, 2, "7", ip_, conectado, "S1"); }
  // A record of user `id` at the given minute of 2026-03-02 08:00.
  static void Marca(clocksim::EstadoReloj& e, const std::string& id, int minuto) {
    e.Marca(id, 0, 1, clocksim::SegundosCiviles({2026, 3, 2, 8 + minuto / 60, minuto % 60, 30}));
  }
  std::vector<std::string> Respuestas() const {
    std::vector<std::string> r;
    for (const auto& x : sim.Respuestas()) r.push_back(x.tarea + "|" + x.respuesta);
    return r;
  }

  std::unique_ptr<clocksim::Emulador> emulador;
  zk::ZkSdk sdk;
  TablaAlcance alcance;
  std::string ip_;
  int16_t conectado = 0;
  std::filesystem::path rutaReloj = l.Marcaciones() / "2603 7.txt";
  std::filesystem::path rutaGeneral = l.Marcaciones() / "2603.txt";
};

TEST_F(ContraClockSim, ReadsEveryRecordOnceAndThenOnlyTheNewOnes) {
  clocksim::EstadoReloj e;
  for (int i = 0; i < 250; ++i) Marca(e, std::to_string(100 + i % 20), i);
  Arranca("127.0.5.1", std::move(e));
  AlcanceIcmp icmp(l);  // a real echo to the emulator's address
  l.alcance = &icmp;
  Ingresa();
  display.AddReloj("7 - Entrada");

  EXPECT_EQ(Lee(), "250,250");
  auto general = Lineas(LeeArchivo(rutaGeneral));
  ASSERT_EQ(general.size(), 250u);
  EXPECT_EQ(Lineas(LeeArchivo(rutaReloj)), general);
  EXPECT_EQ(general[0], "7,S1,2026,3,2,8,0,100,1,0,0,2");
  EXPECT_EQ(general[249], "7,S1,2026,3,2,12,9,109,1,0,0,2");
  EXPECT_THAT(display.relojes, ElementsAre("7 - " + ip_ + " - Conectado"));

  emulador->Con([](clocksim::EstadoReloj& s) {
    for (int i = 250; i < 253; ++i) Marca(s, "300", i);
  });
  EXPECT_EQ(Lee(), "253,3");
  EXPECT_EQ(Lineas(LeeArchivo(rutaGeneral)).size(), 253u);
  EXPECT_EQ(Lineas(LeeArchivo(rutaReloj)).size(), 253u);
  EXPECT_THAT(Respuestas(), ElementsAre("CO|1", "LM|250", "CO|1", "LM|253"));
  EXPECT_EQ(sim.Pings().size(), 2u);
}

TEST_F(ContraClockSim, AnotherDevicesSerialIsRefusedAndLetGo) {
  Arranca("127.0.5.3");
  emulador->Con([](clocksim::EstadoReloj& s) { s.serie = "OTRO"; });
  EXPECT_EQ(Lee(), "0");
  EXPECT_EQ(conectado, kFalso);
  EXPECT_THAT(display.logs, ElementsAre("El Serial de este reloj presenta inconsistencias.",
                                        "Serial esperado:S1,Serial fisico:OTRO"));
  EXPECT_EQ(display.lamp, kLampVerde);
  EXPECT_TRUE(EsperaHasta([&] { return !emulador->ConClienteTcp(); }));
  EXPECT_TRUE(std::filesystem::is_empty(l.Marcaciones()));

  // The next request checks again (and connects again).
  const int antes = emulador->Conexiones();
  EXPECT_FALSE(ConectaReloj(l, ip_, "S1"));
  EXPECT_EQ(emulador->Conexiones(), antes + 1);
}

TEST_F(ContraClockSim, UnreachableClockIsNeverContacted) {
  Arranca("127.0.5.4");
  alcance.tabla.clear();
  display.AddReloj("7 - Entrada");
  EXPECT_EQ(Lee(), "0");
  EXPECT_EQ(display.lamp, kLampRojo);
  EXPECT_THAT(display.relojes, ElementsAre("7 - " + ip_ + " - Desconectado"));
  EXPECT_EQ(emulador->Conexiones(), 0);
}

TEST_F(ContraClockSim, UsersWrittenFromTheServiceReadBackTheSame) {
  Arranca("127.0.5.5");
  Ingresa();
  const std::string t3 = "TUxTUzIxAAAFtLkECAUHCc7Q/+" + std::string(400, 'A') + "==";
  const std::string t6 = "TVxTUzIxAAAEvr4ECAUHCc7Q+/" + std::string(299, 'B') + "Q==";
  const std::string cara = "RkFDRQ/+" + std::string(200, 'C');
  sim.AgregaPlantilla({"ana", "101", "3", t3});
  sim.AgregaPlantilla({"ana", "101", "6", t6});
  sim.AgregaPlantilla({"ana", "101", "50", cara});
  sim.AgregaPlantilla({"ana", "101", "20", "4000000001"});

  ASSERT_EQ(EnviaUsuarios(l, ip_, "101;0102", "MARÍA JOSÉ PEÑA;LUIS", "S1"), 1);
  EXPECT_EQ(LeeUsuarios(l, ip_, "S1"),
            R"([{"codigo":"101","nombre":"MARÍA JOSÉ PEÑA","estado":"True","permisos":"0"},)"
            R"({"codigo":"102","nombre":"LUIS","estado":"True","permisos":"0"}])");
  EXPECT_EQ(LeeUsuario(l, ip_, "101", "S1"),
            R"([{"codigo":"101","nombre":"MARÍA JOSÉ PEÑA","estado":"True","permisos":"0",)"
            R"("huellas":"1"}])");
  EXPECT_EQ(LeeUsuario(l, ip_, "102", "S1"),
            R"([{"codigo":"102","nombre":"LUIS","estado":"True","permisos":"0","huellas":""}])");
  EXPECT_EQ(emulador->Copia().BuscaId("101")->tarjeta, 4000000001u);

  // Uploaded again, the templates, face and card come back to the service unchanged.
  auto antes = sim.Plantillas();
  EXPECT_TRUE(SubeUsuarios(l, ip_, "101", "S1", "7"));
  auto despues = sim.Plantillas();
  ASSERT_EQ(despues.size(), antes.size());
  for (size_t i = 0; i < antes.size(); ++i) {
    SCOPED_TRACE(antes[i].dedo);
    EXPECT_EQ(despues[i].plantilla, antes[i].plantilla);
  }
  ASSERT_EQ(sim.Respuestas().size(), 1u);
  EXPECT_EQ(sim.Respuestas()[0].tarea, "LU");

  // Deleted: the user, its templates and its face are gone.
  ASSERT_EQ(BorraUsuario(l, ip_, "101", "S1"), 1);
  EXPECT_EQ(LeeUsuarios(l, ip_, "S1"),
            R"([{"codigo":"102","nombre":"LUIS","estado":"True","permisos":"0"}])");
  auto estado = emulador->Copia();
  EXPECT_TRUE(estado.plantillas.empty());
  EXPECT_TRUE(estado.caras.empty());

  // Administrator rights.
  EXPECT_TRUE(AsignaPrivilegio(l, ip_, "S1", "0102"));
  EXPECT_EQ(emulador->Copia().BuscaId("102")->privilegio, 3);
}

}  // namespace
}  // namespace lector::test
