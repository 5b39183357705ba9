// What the clock operations tell the service, checked in service-sim: the reading's ping and
// two replies, the users and templates uploaded, and the template download written into the
// clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clock/Conexion.h"
#include "clock/Marcaciones.h"
#include "clock/Usuarios.h"
#include "kit/RecordingSdk.h"
#include "server/ConServicio.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RespuestasServicio : public ConServicio {
 protected:
  RespuestasServicio() {
    l.sdk = &sdk;
    l.alcance = &alcance;
    alcance.tabla["127.0.0.2"] = 0;
    sdk.serial = "S1";
    std::filesystem::create_directory(l.Marcaciones());
  }
  std::vector<std::string> Respuestas() const {
    std::vector<std::string> r;
    for (const auto& x : sim.Respuestas())
      r.push_back(x.relojId + "|" + x.tarea + "|" + x.respuesta + "|" + x.empleadoId);
    return r;
  }
  std::vector<std::string> Plantillas() const {
    std::vector<std::string> r;
    for (const auto& x : sim.Plantillas())
      r.push_back(x.empleadoId + "|" + x.dedo + "|" + x.plantilla);
    return r;
  }

  RecordingSdk sdk;
  TablaAlcance alcance;
  int16_t conectado = 0;
};

TEST_F(RespuestasServicio, ReadingSendsThePingAndTwoReplies) {
  Ingresa();
  for (int i = 0; i < 250; ++i) {
    RecordingSdk::Registro r;
    r.enrolamiento = std::to_string(i);
    sdk.registros.push_back(r);
  }
  EXPECT_EQ(LeeReloj(l, 1, 2, "7", "127.0.0.2", conectado, "S1"), "250,250");
  ASSERT_EQ(sim.Pings().size(), 1u);
  EXPECT_EQ(sim.Pings()[0].serial, "S1");
  EXPECT_THAT(Respuestas(), ElementsAre("7|CO|1|0", "7|LM|250|0"));

  sdk.resultados["ReadGeneralLogData"] = false;
  EXPECT_EQ(LeeReloj(l, 1, 2, "7", "127.0.0.2", conectado, "S1"), "0,0");
  EXPECT_THAT(Respuestas(), ElementsAre("7|CO|1|0", "7|LM|250|0", "7|CO|1|0", "7|LM|0|0"));

  // Not connected: nothing is sent.
  alcance.tabla.clear();
  l.estado.ConnectionRegistry.clear();
  EXPECT_EQ(LeeReloj(l, 1, 2, "7", "127.0.0.2", conectado, "S1"), "0");
  EXPECT_EQ(sim.Respuestas().size(), 4u);
  EXPECT_EQ(sim.Pings().size(), 2u);
}

TEST_F(RespuestasServicio, UploadSendsEachUserAndItsCardFaceAndTemplates) {
  Ingresa();
  sdk.firmware = "Ver 6.60 Oct 29 2012";
  sdk.usuarios = {{"15", "ANA \"LA\" & CIA", "", 2, true, "4000000000"}};
  sdk.caras["15"] = "F+/=" + std::string(20, 'F');
  sdk.plantillasEx[{"15", 3}] = "T3" + std::string(20, '3');
  sdk.plantillasEx[{"15", 7}] = "T7" + std::string(20, '7');
  sdk.plantillasSsr[{"15", 15}] = "no se pide: ya hay plantillas";
  // 99 is unknown: no reply, nothing found, and as the last user it gives the result.
  EXPECT_FALSE(SubeUsuarios(l, "127.0.0.2", "15;99", "S1", "7"));
  EXPECT_THAT(
      Respuestas(),
      ElementsAre(
          R"(7|LU|[{"codigo":"15","nombre":"ANA \"LA\" & CIA","estado":"True","permisos":"2"}]|15)"));
  EXPECT_THAT(Plantillas(),
              ElementsAre("15|20|4000000000", "15|50|F+/=" + std::string(20, 'F'),
                          "15|3|T3" + std::string(20, '3'), "15|7|T7" + std::string(20, '7')));
}

TEST_F(RespuestasServicio, WriteUsersTakesCardFaceAndTemplatesFromTheService) {
  Ingresa();
  const std::string cara = "FA/CE" + std::string(30, 'f');
  const std::string t3 = "TM/P3" + std::string(30, 't');
  sim.AgregaPlantilla({"ana", "7", "50", cara});
  sim.AgregaPlantilla({"ana", "7", "20", "123456"});
  sim.AgregaPlantilla({"ana", "7", "3", t3});
  sdk.resultados["SetUserTmpExStr"] = false;  // falls back to the plain write
  ASSERT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  sdk.Olvida();
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "7;8", "ANA;LUIS", "S1"), 1);
  EXPECT_THAT(
      sdk.llamadas,
      ElementsAre("SetStrCardNumber(\"0\")", "SSR_SetUserInfo(1,\"7\",\"ANA\",\"\",0,True)",
                  "SetStrCardNumber(\"0\")", "SetUserFaceStr(1,\"7\",50,\"" + cara + "\",35)",
                  "SetStrCardNumber(\"123456\")", "SSR_SetUserInfo(1,\"7\",\"ANA\",\"\",0,True)",
                  "SetUserTmpExStr(1,\"7\",3,3,\"" + t3 + "\")",
                  "SSR_SetUserTmpStr(1,\"7\",3,\"" + t3 + "\")",
                  // 8 has nothing stored: "null"
                  "SetStrCardNumber(\"0\")", "SSR_SetUserInfo(1,\"8\",\"LUIS\",\"\",0,True)",
                  "SetStrCardNumber(\"0\")", "RefreshData(1)"));
  auto pedidas = sim.PeticionesA("huellas2.down");
  ASSERT_EQ(pedidas.size(), 2u);
  EXPECT_EQ(pedidas[0].cuerpo, "empleadoid=7");
}

TEST_F(RespuestasServicio, WriteUsersAsksForTheEnrolmentAsWritten) {
  // A sign in the enrolment travels encoded, so the service looks up the same text that the
  // template upload stored ("+" would otherwise arrive as a blank).
  Ingresa();
  const std::string cara = "FA/CE" + std::string(30, 'f');
  sim.AgregaPlantilla({"ana", "+7", "50", cara});
  ASSERT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  sdk.Olvida();
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "+7", "ANA", "S1"), 1);
  EXPECT_EQ(sim.PeticionesA("huellas2.down").back().cuerpo, "empleadoid=%2B7");
  // The stored face came back and was written.
  EXPECT_THAT(sdk.llamadas, ::testing::Contains(::testing::HasSubstr("50,\"" + cara + "\"")));
}

TEST_F(RespuestasServicio, WriteUsersWithoutASessionWritesOnlyTheUsers) {
  // No session: the download answers nothing and the users are written bare.
  ASSERT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  sdk.Olvida();
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "7", "ANA", "S1"), 1);
  EXPECT_EQ(sdk.llamadas.size(), 4u);
  EXPECT_THAT(sim.Peticiones(), IsEmpty());
}

}  // namespace
}  // namespace lector::test
