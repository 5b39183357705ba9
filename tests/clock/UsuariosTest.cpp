// The user, template and deletion operations against the recording fake, with service-sim as the
// service: the exact SDK call sequences, the documents built from what the clock answers and what
// goes to the service (the reading's ping and replies, users and templates uploaded, the template
// download written into the clock).
#include "clock/Usuarios.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clock/Conexion.h"
#include "clock/Marcaciones.h"
#include "kit/RecordingSdk.h"
#include "server/ConServicio.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;

class Usuarios : public ConServicio {
 protected:
  Usuarios() {
    l.sdk = &sdk;
    l.alcance = &alcance;
    sdk.serial = "S1";
    alcance.tabla["127.0.0.2"] = 0;
    std::filesystem::create_directory(l.Marcaciones());
    Ingresa();
  }
  // Connects and forgets the calls so far, so sequences start at the operation.
  void Conecta(bool alcanzable = true) {
    alcance.tabla = {{"127.0.0.2", alcanzable ? 0 : -1}};
    l.estado.ConnectionRegistry.clear();
    ASSERT_TRUE(!alcanzable || ConectaReloj(l, "127.0.0.2", "S1"));
    sdk.Olvida();
    display.llamadas.clear();
  }
  // What the service received, one text per reply or template.
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

TEST_F(Usuarios, AllUsersAsJson) {
  sdk.usuarios = {{"15", "ANA", "1", 0, true, ""},
                  {"", "SIN CODIGO", "", 0, true, ""},
                  {"16", "LUIS \"EL\"", "", 3, false, ""}};
  Conecta();
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"),
            R"([{"codigo":"15","nombre":"ANA","estado":"True","permisos":"0"},)"
            R"({"codigo":"16","nombre":"LUIS \"EL\"","estado":"False","permisos":"3"}])");
  EXPECT_EQ(sdk.De("SSR_GetAllUserInfo").size(), 4u);
  EXPECT_EQ(display.De("DoEvents").size(), 1u);
  sdk.usuarios.clear();
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"), "[]");
  sdk.resultados["ReadAllUserID"] = false;
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"), "[]");
  Conecta(false);
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"), "");
}

TEST_F(Usuarios, OneUserWithTheFingerprintSearchInItsOrder) {
  const std::string t21(21, 'T');  // the shortest text that counts as a template
  sdk.usuarios = {{"15", "ANA", "", 0, true, ""}};
  sdk.plantillasEx[{"15", 2}] = t21;
  Conecta();
  EXPECT_EQ(LeeUsuario(l, "127.0.0.2", "15", "S1"),
            R"([{"codigo":"15","nombre":"ANA","estado":"True","permisos":"0","huellas":"1"}])");
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"15\")" + PorDedo("GetUserTmpExStr", "15", 0, 2));
  EXPECT_EQ(display.De("DoEvents").size(), 3u);  // a yield after each template read

  // No extended template: finger 15, then the ten fingers, stopping at the first hit.
  sdk.plantillasEx = {{{"15", 0}, std::string(20, 'T')}};  // too short to count
  sdk.plantillasSsr[{"15", 4}] = t21;
  EXPECT_THAT(LeeUsuario(l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":"1"}])"));
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"15\")" + PorDedo("GetUserTmpExStr", "15", 0, 9) +
                                 PorDedo("SSR_GetUserTmpStr", "15", 15, 15) +
                                 PorDedo("SSR_GetUserTmpStr", "15", 0, 4));
  sdk.plantillasSsr.clear();
  EXPECT_THAT(LeeUsuario(l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":""}])"));
  sdk.Olvida();
  EXPECT_EQ(LeeUsuario(l, "127.0.0.2", "99", "S1"), "[]");
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"99\")");
}

TEST_F(Usuarios, DeleteUsersWithTheThreeDeletionsAndBackupNumber12) {
  EXPECT_EQ(BorraUsuario(l, "127.0.0.2", "", "S1"), std::nullopt);
  EXPECT_THAT(alcance.consultas, ::testing::IsEmpty());
  Conecta();
  EXPECT_EQ(BorraUsuario(l, "127.0.0.2", "007;12", "S1"), 1);
  EXPECT_EQ(
      sdk.Recientes(),
      " DeleteEnrollData(1,7,1,12) SSR_DeleteEnrollData(1,\"7\",12)"
      " SSR_DeleteEnrollDataExt(1,\"7\",12) DeleteEnrollData(1,12,1,12)"
      " SSR_DeleteEnrollData(1,\"12\",12) SSR_DeleteEnrollDataExt(1,\"12\",12) RefreshData(1)");
  EXPECT_THAT(display.logs, ElementsAre("Borra datos de 127.0.0.2, persona: 007",
                                        "Borra datos de 127.0.0.2, persona: 12"));
  EXPECT_THROW(BorraUsuario(l, "127.0.0.2", "siete", "S1"), Falla);
  Conecta(false);
  EXPECT_EQ(BorraUsuario(l, "127.0.0.2", "7", "S1"), 0);
}

TEST_F(Usuarios, ReadingSendsThePingAndTwoReplies) {
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

TEST_F(Usuarios, UploadWithFirmware660SendsUserCardFaceAndAllExtendedTemplates) {
  sdk.usuarios = {{"15", "ANA \"LA\" & CIA", "", 2, true, "4000000000"}};
  sdk.caras["15"] = "F+/=" + std::string(20, 'F');
  sdk.plantillasEx[{"15", 3}] = "T3" + std::string(20, '3');
  sdk.plantillasEx[{"15", 7}] = "T7" + std::string(20, '7');
  sdk.plantillasSsr[{"15", 15}] = "no se pide: ya hay plantillas";
  l.display.AddReloj("15 - Entrada");
  Conecta();
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

TEST_F(Usuarios, UploadWithOtherFirmwareUsesOnlyThePlainTemplateReads) {
  sdk.firmware = "Ver 6.4.1";
  sdk.usuarios = {{"15", "ANA", "", 0, true, "12"}, {"16", "LUIS", "", 0, true, "12A"}};
  sdk.plantillasSsr[{"15", 15}] = std::string(21, 'T');
  for (auto fila : {"15 - Entrada", "16 - Entrada", "160 - Salida"}) l.display.AddReloj(fila);
  Conecta();
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

// Enrolments written as integers, names cut to 20 characters, then card, face and templates as
// the service stores them.
TEST_F(Usuarios, WriteUsersTakesCardFaceAndTemplatesFromTheService) {
  const std::string cara = "FA/CE" + std::string(30, 'f'), t3 = "TM/P3" + std::string(30, 't');
  // A sign in the enrolment travels encoded, so the service looks up the same text that the
  // template upload stored ("+" would otherwise arrive as a blank).
  sim.AgregaPlantilla({"ana", "+07", "50", cara});
  sim.AgregaPlantilla({"ana", "+07", "20", "123456"});
  sim.AgregaPlantilla({"ana", "+07", "3", t3});
  sdk.resultados["SetUserTmpExStr"] = false;  // falls back to the plain write
  Conecta();
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "+07;8", "JOSÉ ÁLVAREZ DE LA PEÑA;LUIS", "S1"), 1);
  const std::string jose = "SSR_SetUserInfo(1,\"7\",\"JOSÉ ÁLVAREZ DE LA P\",\"\",0,True)";
  EXPECT_THAT(sdk.llamadas, ElementsAre("SetStrCardNumber(\"0\")", jose, "SetStrCardNumber(\"0\")",
                                        "SetUserFaceStr(1,\"+07\",50,\"" + cara + "\",35)",
                                        "SetStrCardNumber(\"123456\")", jose,
                                        "SetUserTmpExStr(1,\"+07\",3,3,\"" + t3 + "\")",
                                        "SSR_SetUserTmpStr(1,\"+07\",3,\"" + t3 + "\")",
                                        // 8 has nothing stored: "null"
                                        "SetStrCardNumber(\"0\")",
                                        "SSR_SetUserInfo(1,\"8\",\"LUIS\",\"\",0,True)",
                                        "SetStrCardNumber(\"0\")", "RefreshData(1)"));
  EXPECT_EQ(sim.PeticionesA("huellas2.down").at(0).cuerpo, "empleadoid=%2B07");
  EXPECT_THAT(display.logs,
              ElementsAre("Enviando datos a Reloj 127.0.0.2 de JOSÉ ÁLVAREZ DE LA PEÑA",
                          "Enviando datos a Reloj 127.0.0.2 de LUIS"));
  EXPECT_THROW(EnviaUsuarios(l, "127.0.0.2", "X1", "ANA", "S1"), Falla);
  Conecta(false);
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "7", "ANA", "S1"), 0);
  EXPECT_THAT(sdk.llamadas, ::testing::IsEmpty());
}

}  // namespace
}  // namespace lector::test
