// What the clock operations tell the service, checked in service-sim, with the SDK calls they
// make: the reading's ping and two replies, the users and templates uploaded, and the template
// download written into the clock.
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

class RespuestasServicio : public ConServicio {
 protected:
  RespuestasServicio() {
    l.sdk = &sdk;
    l.alcance = &alcance;
    alcance.tabla["127.0.0.2"] = 0;
    sdk.serial = "S1";
    std::filesystem::create_directory(l.Marcaciones());
    Ingresa();
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
  sdk.registros.resize(250);
  EXPECT_EQ(LeeReloj(l, 1, 2, "7", "127.0.0.2", conectado, "S1"), "250,250");
  ASSERT_EQ(sim.Pings().size(), 1u);
  EXPECT_EQ(sim.Pings()[0].serial, "S1");
  EXPECT_THAT(Respuestas(), ElementsAre("7|CO|1|0", "7|LM|250|0"));
  sdk.resultados["ReadGeneralLogData"] = false;
  EXPECT_EQ(LeeReloj(l, 1, 2, "7", "127.0.0.2", conectado, "S1"), "0,0");
  EXPECT_THAT(Respuestas(), ElementsAre("7|CO|1|0", "7|LM|250|0", "7|CO|1|0", "7|LM|0|0"));
  alcance.tabla.clear();  // not connected: nothing is sent
  l.estado.ConnectionRegistry.clear();
  EXPECT_EQ(LeeReloj(l, 1, 2, "7", "127.0.0.2", conectado, "S1"), "0");
  EXPECT_EQ(sim.Respuestas().size(), 4u);
  EXPECT_EQ(sim.Pings().size(), 2u);
}

TEST_F(RespuestasServicio, UploadWithFirmware660SendsUserCardFaceAndAllExtendedTemplates) {
  sdk.usuarios = {{"15", "ANA \"LA\" & CIA", "", 2, true, "4000000000"}};
  sdk.caras["15"] = "F+/=" + std::string(20, 'F');
  sdk.plantillasEx[{"15", 3}] = "T3" + std::string(20, '3');
  sdk.plantillasEx[{"15", 7}] = "T7" + std::string(20, '7');
  sdk.plantillasSsr[{"15", 15}] = "no se pide: ya hay plantillas";
  l.display.AddReloj("15 - Entrada");
  ASSERT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  sdk.Olvida();
  // 99 is unknown: no reply, nothing found, and as the last user it gives the result.
  EXPECT_FALSE(SubeUsuarios(l, "127.0.0.2", "15;99", "S1", "7"));
  auto lee = [&](const std::string& e) {
    return " SSR_GetUserInfo(1,\"" + e + "\") GetStrCardNumber() GetFirmwareVersion(1)" +
           PorDedo("GetUserFaceStr", e, 50, 50) + PorDedo("GetUserTmpExStr", e, 0, 9);
  };
  EXPECT_EQ(sdk.Recientes(), lee("15") + lee("99") + PorDedo("SSR_GetUserTmpStr", "99", 15, 15) +
                                 PorDedo("SSR_GetUserTmpStr", "99", 0, 9));
  EXPECT_THAT(
      Respuestas(),
      ElementsAre(
          R"(7|LU|[{"codigo":"15","nombre":"ANA \"LA\" & CIA","estado":"True","permisos":"2"}]|15)"));
  EXPECT_THAT(Plantillas(),
              ElementsAre("15|20|4000000000", "15|50|F+/=" + std::string(20, 'F'),
                          "15|3|T3" + std::string(20, '3'), "15|7|T7" + std::string(20, '7')));
  EXPECT_EQ(display.caption, "Leyendo del Reloj 127.0.0.2 a ");
  EXPECT_THAT(display.relojes, ElementsAre("15 - Entrada"));
}

TEST_F(RespuestasServicio, UploadWithOtherFirmwareUsesOnlyThePlainTemplateReads) {
  sdk.firmware = "Ver 6.4.1";
  sdk.usuarios = {{"15", "ANA", "", 0, true, "12"}, {"16", "LUIS", "", 0, true, "12A"}};
  sdk.plantillasSsr[{"15", 15}] = std::string(21, 'T');
  for (auto fila : {"15 - Entrada", "16 - Entrada", "160 - Salida"}) l.display.AddReloj(fila);
  ASSERT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  sdk.Olvida();
  // A card that is not a number fails the upload.
  EXPECT_EQ(NumeroDeFalla([&] { SubeUsuarios(l, "127.0.0.2", "15;16", "S1", "7"); }),
            kTipoIncompatible);
  sdk.usuarios[1].tarjeta = "";
  sdk.Olvida();
  EXPECT_FALSE(SubeUsuarios(l, "127.0.0.2", "15;16", "S1", "7"));  // the last user has none
  EXPECT_THAT(Plantillas(), ElementsAre("15|20|12", "15|15|" + std::string(21, 'T')));
  EXPECT_THAT(sdk.Recientes(), ::testing::EndsWith(" GetFirmwareVersion(1)" +
                                                   PorDedo("SSR_GetUserTmpStr", "16", 15, 15) +
                                                   PorDedo("SSR_GetUserTmpStr", "16", 0, 9)));
  EXPECT_THAT(display.relojes,
              ElementsAre("15 - Entrada", "16 - Entrada -Sin Huella", "160 - Salida"));
  alcance.tabla.clear();
  l.estado.ConnectionRegistry.clear();
  EXPECT_FALSE(SubeUsuarios(l, "127.0.0.2", "15", "S1", "7"));
  EXPECT_EQ(sdk.Recientes(), "");
}

TEST_F(RespuestasServicio, WriteUsersTakesCardFaceAndTemplatesFromTheService) {
  const std::string cara = "FA/CE" + std::string(30, 'f'), t3 = "TM/P3" + std::string(30, 't');
  // A sign in the enrolment travels encoded, so the service looks up the same text that the
  // template upload stored ("+" would otherwise arrive as a blank).
  sim.AgregaPlantilla({"ana", "+7", "50", cara});
  sim.AgregaPlantilla({"ana", "+7", "20", "123456"});
  sim.AgregaPlantilla({"ana", "+7", "3", t3});
  sdk.resultados["SetUserTmpExStr"] = false;  // falls back to the plain write
  ASSERT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  sdk.Olvida();
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "+7;8", "ANA;LUIS", "S1"), 1);
  EXPECT_THAT(
      sdk.llamadas,
      ElementsAre("SetStrCardNumber(\"0\")", "SSR_SetUserInfo(1,\"7\",\"ANA\",\"\",0,True)",
                  "SetStrCardNumber(\"0\")", "SetUserFaceStr(1,\"+7\",50,\"" + cara + "\",35)",
                  "SetStrCardNumber(\"123456\")", "SSR_SetUserInfo(1,\"7\",\"ANA\",\"\",0,True)",
                  "SetUserTmpExStr(1,\"+7\",3,3,\"" + t3 + "\")",
                  "SSR_SetUserTmpStr(1,\"+7\",3,\"" + t3 + "\")",
                  // 8 has nothing stored: "null"
                  "SetStrCardNumber(\"0\")", "SSR_SetUserInfo(1,\"8\",\"LUIS\",\"\",0,True)",
                  "SetStrCardNumber(\"0\")", "RefreshData(1)"));
  auto pedidas = sim.PeticionesA("huellas2.down");
  ASSERT_EQ(pedidas.size(), 2u);
  EXPECT_EQ(pedidas[0].cuerpo, "empleadoid=%2B7");
}

}  // namespace
}  // namespace lector::test
