// User, template and face operations against the recording fake: the exact SDK call sequences
// and the documents built from what the clock answers.
#include "clock/Usuarios.h"

#include "clock/Conexion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "support/Falla.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::string kT21(21, 'T');  // the shortest text that counts as a template

class Usuarios : public ::testing::Test {
 protected:
  Usuarios() {
    p.l.sdk = &sdk;
    p.alcance.tabla["127.0.0.2"] = 0;
    sdk.serial = "S1";
  }
  // Connects and forgets the calls of the connection, so sequences start at the operation.
  void Conecta() {
    ASSERT_TRUE(ConectaReloj(p.l, "127.0.0.2", "S1"));
    sdk.Olvida();
  }

  LectorDePrueba p;
  RecordingSdk sdk;
};

TEST_F(Usuarios, AllUsersAsJson) {
  sdk.usuarios = {{"15", "ANA", "1", 0, true, ""},
                  {"", "SIN CODIGO", "", 0, true, ""},
                  {"16", "LUIS \"EL\"", "", 3, false, ""}};
  Conecta();
  EXPECT_EQ(LeeUsuarios(p.l, "127.0.0.2", "S1"),
            R"([{"codigo":"15","nombre":"ANA","estado":"True","permisos":"0"},)"
            R"({"codigo":"16","nombre":"LUIS \"EL\"","estado":"False","permisos":"3"}])");
  EXPECT_THAT(sdk.llamadas,
              ElementsAre("ReadAllUserID(1)", "SSR_GetAllUserInfo(1)", "SSR_GetAllUserInfo(1)",
                          "SSR_GetAllUserInfo(1)", "SSR_GetAllUserInfo(1)"));
  EXPECT_EQ(p.display.De("DoEvents").size(), 1u);

  sdk.usuarios.clear();
  EXPECT_EQ(LeeUsuarios(p.l, "127.0.0.2", "S1"), "[]");
  sdk.resultados["ReadAllUserID"] = false;
  EXPECT_EQ(LeeUsuarios(p.l, "127.0.0.2", "S1"), "[]");
  p.alcance.tabla.clear();
  p.l.estado.ConnectionRegistry.clear();
  EXPECT_EQ(LeeUsuarios(p.l, "127.0.0.2", "S1"), "");
}

TEST_F(Usuarios, OneUserWithTheFingerprintSearchInItsOrder) {
  sdk.usuarios = {{"15", "ANA", "", 0, true, ""}};
  sdk.plantillasEx[{"15", 2}] = kT21;
  Conecta();
  EXPECT_EQ(LeeUsuario(p.l, "127.0.0.2", "15", "S1"),
            R"([{"codigo":"15","nombre":"ANA","estado":"True","permisos":"0","huellas":"1"}])");
  EXPECT_THAT(sdk.llamadas,
              ElementsAre("SSR_GetUserInfo(1,\"15\")", "GetUserTmpExStr(1,\"15\",0)",
                          "GetUserTmpExStr(1,\"15\",1)", "GetUserTmpExStr(1,\"15\",2)"));
  EXPECT_EQ(p.display.De("DoEvents").size(), 3u);

  // No extended template: finger 15, then the ten fingers, stopping at the first hit.
  sdk.plantillasEx.clear();
  sdk.plantillasEx[{"15", 0}] = std::string(20, 'T');  // too short to count
  sdk.plantillasSsr[{"15", 4}] = kT21;
  sdk.Olvida();
  EXPECT_THAT(LeeUsuario(p.l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":"1"}])"));
  std::vector<std::string> esperadas = {"SSR_GetUserInfo(1,\"15\")"};
  for (int d = 0; d <= 9; ++d)
    esperadas.push_back("GetUserTmpExStr(1,\"15\"," + std::to_string(d) + ")");
  esperadas.push_back("SSR_GetUserTmpStr(1,\"15\",15)");
  for (int d = 0; d <= 4; ++d)
    esperadas.push_back("SSR_GetUserTmpStr(1,\"15\"," + std::to_string(d) + ")");
  EXPECT_THAT(sdk.llamadas, ElementsAreArray(esperadas));

  sdk.plantillasSsr.clear();
  EXPECT_THAT(LeeUsuario(p.l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":""}])"));

  sdk.Olvida();
  EXPECT_EQ(LeeUsuario(p.l, "127.0.0.2", "99", "S1"), "[]");
  EXPECT_THAT(sdk.llamadas, ElementsAre("SSR_GetUserInfo(1,\"99\")"));
}

TEST_F(Usuarios, UploadWithFirmware660ReadsFaceAndAllTenExtendedTemplates) {
  sdk.firmware = "Ver 6.60 Oct 29 2012";
  sdk.usuarios = {{"15", "ANA", "", 0, true, "0"}};
  sdk.caras["15"] = std::string(21, 'F');
  sdk.plantillasEx[{"15", 3}] = kT21;
  sdk.plantillasEx[{"15", 7}] = kT21;
  p.display.AddReloj("15 - Entrada");
  Conecta();
  EXPECT_TRUE(SubeUsuarios(p.l, "127.0.0.2", "15", "S1", "7"));
  std::vector<std::string> esperadas = {"SSR_GetUserInfo(1,\"15\")", "GetStrCardNumber()",
                                        "GetFirmwareVersion(1)", "GetUserFaceStr(1,\"15\",50)"};
  for (int d = 0; d <= 9; ++d)
    esperadas.push_back("GetUserTmpExStr(1,\"15\"," + std::to_string(d) + ")");
  EXPECT_THAT(sdk.llamadas, ElementsAreArray(esperadas));
  EXPECT_EQ(p.display.caption, "Leyendo del Reloj 127.0.0.2 a ANA");
  EXPECT_THAT(p.display.relojes, ElementsAre("15 - Entrada"));
  EXPECT_THAT(p.display.De("DoEvents"), IsEmpty());
}

TEST_F(Usuarios, UploadWithOtherFirmwareUsesOnlyThePlainTemplateReads) {
  sdk.firmware = "Ver 6.4.1";
  sdk.usuarios = {{"15", "ANA", "", 0, true, ""}, {"16", "LUIS", "", 0, true, ""}};
  sdk.plantillasSsr[{"15", 15}] = kT21;
  p.display.AddReloj("15 - Entrada");
  p.display.AddReloj("16 - Entrada");
  p.display.AddReloj("160 - Salida");
  Conecta();
  EXPECT_FALSE(SubeUsuarios(p.l, "127.0.0.2", "15;16", "S1", "7"));  // the last user has none
  std::vector<std::string> esperadas = {
      "SSR_GetUserInfo(1,\"15\")", "GetStrCardNumber()",
      "GetFirmwareVersion(1)",     "SSR_GetUserTmpStr(1,\"15\",15)",
      "SSR_GetUserInfo(1,\"16\")", "GetStrCardNumber()",
      "GetFirmwareVersion(1)",     "SSR_GetUserTmpStr(1,\"16\",15)"};
  for (int d = 0; d <= 9; ++d)
    esperadas.push_back("SSR_GetUserTmpStr(1,\"16\"," + std::to_string(d) + ")");
  EXPECT_THAT(sdk.llamadas, ElementsAreArray(esperadas));
  EXPECT_THAT(p.display.relojes,
              ElementsAre("15 - Entrada", "16 - Entrada -Sin Huella", "160 - Salida"));
}

TEST_F(Usuarios, UploadOfAUserWhoseCardIsNotANumberFails) {
  sdk.usuarios = {{"15", "ANA", "", 0, true, "12A"}};
  Conecta();
  try {
    SubeUsuarios(p.l, "127.0.0.2", "15", "S1", "7");
    FAIL();
  } catch (const Falla& f) {
    EXPECT_EQ(f.numero, kTipoIncompatible);
  }
  p.alcance.tabla.clear();
  p.l.estado.ConnectionRegistry.clear();
  EXPECT_FALSE(SubeUsuarios(p.l, "127.0.0.2", "15", "S1", "7"));
}

TEST_F(Usuarios, WriteUsersWithIntegerEnrolmentAndTwentyCharacterNames) {
  Conecta();
  EXPECT_EQ(EnviaUsuarios(p.l, "127.0.0.2", "007;8", "JOSÉ ÁLVAREZ DE LA PEÑA;ANA", "S1"), 1);
  EXPECT_THAT(sdk.llamadas,
              ElementsAre("SetStrCardNumber(\"0\")",
                          "SSR_SetUserInfo(1,\"7\",\"JOSÉ ÁLVAREZ DE LA P\",\"\",0,True)",
                          "SetStrCardNumber(\"0\")", "SetStrCardNumber(\"0\")",
                          "SSR_SetUserInfo(1,\"8\",\"ANA\",\"\",0,True)", "SetStrCardNumber(\"0\")",
                          "RefreshData(1)"));
  EXPECT_THAT(p.display.logs,
              ElementsAre("Enviando datos a Reloj 127.0.0.2 de JOSÉ ÁLVAREZ DE LA PEÑA",
                          "Enviando datos a Reloj 127.0.0.2 de ANA"));
  sdk.Olvida();
  EXPECT_THROW(EnviaUsuarios(p.l, "127.0.0.2", "X1", "ANA", "S1"), Falla);

  p.alcance.tabla.clear();
  p.l.estado.ConnectionRegistry.clear();
  sdk.Olvida();
  EXPECT_EQ(EnviaUsuarios(p.l, "127.0.0.2", "7", "ANA", "S1"), 0);
  EXPECT_THAT(sdk.llamadas, IsEmpty());
}

TEST_F(Usuarios, DeleteUsersWithTheThreeDeletionsAndBackupNumber12) {
  EXPECT_EQ(BorraUsuario(p.l, "127.0.0.2", "", "S1"), std::nullopt);
  EXPECT_THAT(sdk.llamadas, IsEmpty());
  EXPECT_THAT(p.alcance.consultas, IsEmpty());

  Conecta();
  EXPECT_EQ(BorraUsuario(p.l, "127.0.0.2", "007;12", "S1"), 1);
  EXPECT_THAT(sdk.llamadas,
              ElementsAre("DeleteEnrollData(1,7,1,12)", "SSR_DeleteEnrollData(1,\"7\",12)",
                          "SSR_DeleteEnrollDataExt(1,\"7\",12)", "DeleteEnrollData(1,12,1,12)",
                          "SSR_DeleteEnrollData(1,\"12\",12)",
                          "SSR_DeleteEnrollDataExt(1,\"12\",12)", "RefreshData(1)"));
  EXPECT_THAT(p.display.logs, ElementsAre("Borra datos de 127.0.0.2, persona: 007",
                                          "Borra datos de 127.0.0.2, persona: 12"));
  EXPECT_THROW(BorraUsuario(p.l, "127.0.0.2", "siete", "S1"), Falla);

  p.alcance.tabla.clear();
  p.l.estado.ConnectionRegistry.clear();
  EXPECT_EQ(BorraUsuario(p.l, "127.0.0.2", "7", "S1"), 0);
}

}  // namespace
}  // namespace lector::test
