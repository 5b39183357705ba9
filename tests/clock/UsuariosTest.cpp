// User, template and deletion operations against the recording fake: the exact SDK call
// sequences and the documents built from what the clock answers (what goes to the service is in
// RespuestasServicioTest).
#include "clock/Usuarios.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clock/Conexion.h"
#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;

class Usuarios : public ::testing::Test {
 protected:
  Usuarios() {
    p.l.sdk = &sdk;
    p.alcance.tabla["127.0.0.2"] = 0;
    sdk.serial = "S1";
  }
  // Connects and forgets the connection's calls, so sequences start at the operation.
  void Conecta(bool alcanzable = true) {
    p.alcance.tabla = {{"127.0.0.2", alcanzable ? 0 : -1}};
    p.l.estado.ConnectionRegistry.clear();
    ASSERT_TRUE(!alcanzable || ConectaReloj(p.l, "127.0.0.2", "S1"));
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
  EXPECT_EQ(sdk.De("SSR_GetAllUserInfo").size(), 4u);
  EXPECT_EQ(p.display.De("DoEvents").size(), 1u);
  sdk.usuarios.clear();
  EXPECT_EQ(LeeUsuarios(p.l, "127.0.0.2", "S1"), "[]");
  sdk.resultados["ReadAllUserID"] = false;
  EXPECT_EQ(LeeUsuarios(p.l, "127.0.0.2", "S1"), "[]");
  Conecta(false);
  EXPECT_EQ(LeeUsuarios(p.l, "127.0.0.2", "S1"), "");
}

TEST_F(Usuarios, OneUserWithTheFingerprintSearchInItsOrder) {
  const std::string t21(21, 'T');  // the shortest text that counts as a template
  sdk.usuarios = {{"15", "ANA", "", 0, true, ""}};
  sdk.plantillasEx[{"15", 2}] = t21;
  Conecta();
  EXPECT_EQ(LeeUsuario(p.l, "127.0.0.2", "15", "S1"),
            R"([{"codigo":"15","nombre":"ANA","estado":"True","permisos":"0","huellas":"1"}])");
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"15\")" + PorDedo("GetUserTmpExStr", "15", 0, 2));
  EXPECT_EQ(p.display.De("DoEvents").size(), 3u);  // a yield after each template read

  // No extended template: finger 15, then the ten fingers, stopping at the first hit.
  sdk.plantillasEx = {{{"15", 0}, std::string(20, 'T')}};  // too short to count
  sdk.plantillasSsr[{"15", 4}] = t21;
  EXPECT_THAT(LeeUsuario(p.l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":"1"}])"));
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"15\")" + PorDedo("GetUserTmpExStr", "15", 0, 9) +
                                 PorDedo("SSR_GetUserTmpStr", "15", 15, 15) +
                                 PorDedo("SSR_GetUserTmpStr", "15", 0, 4));
  sdk.plantillasSsr.clear();
  EXPECT_THAT(LeeUsuario(p.l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":""}])"));
  sdk.Olvida();
  EXPECT_EQ(LeeUsuario(p.l, "127.0.0.2", "99", "S1"), "[]");
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"99\")");
}

TEST_F(Usuarios, WriteUsersWithIntegerEnrolmentAndTwentyCharacterNames) {
  Conecta();  // no service session: the template download answers nothing
  EXPECT_EQ(EnviaUsuarios(p.l, "127.0.0.2", "007;8", "JOSÉ ÁLVAREZ DE LA PEÑA;ANA", "S1"), 1);
  EXPECT_EQ(sdk.Recientes(),
            " SetStrCardNumber(\"0\") SSR_SetUserInfo(1,\"7\",\"JOSÉ ÁLVAREZ DE LA P\",\"\",0,True)"
            " SetStrCardNumber(\"0\") SetStrCardNumber(\"0\")"
            " SSR_SetUserInfo(1,\"8\",\"ANA\",\"\",0,True) SetStrCardNumber(\"0\") RefreshData(1)");
  EXPECT_THAT(p.display.logs,
              ElementsAre("Enviando datos a Reloj 127.0.0.2 de JOSÉ ÁLVAREZ DE LA PEÑA",
                          "Enviando datos a Reloj 127.0.0.2 de ANA"));
  EXPECT_THROW(EnviaUsuarios(p.l, "127.0.0.2", "X1", "ANA", "S1"), Falla);
  Conecta(false);
  EXPECT_EQ(EnviaUsuarios(p.l, "127.0.0.2", "7", "ANA", "S1"), 0);
  EXPECT_THAT(sdk.llamadas, ::testing::IsEmpty());
}

TEST_F(Usuarios, DeleteUsersWithTheThreeDeletionsAndBackupNumber12) {
  EXPECT_EQ(BorraUsuario(p.l, "127.0.0.2", "", "S1"), std::nullopt);
  EXPECT_THAT(p.alcance.consultas, ::testing::IsEmpty());
  Conecta();
  EXPECT_EQ(BorraUsuario(p.l, "127.0.0.2", "007;12", "S1"), 1);
  EXPECT_EQ(
      sdk.Recientes(),
      " DeleteEnrollData(1,7,1,12) SSR_DeleteEnrollData(1,\"7\",12)"
      " SSR_DeleteEnrollDataExt(1,\"7\",12) DeleteEnrollData(1,12,1,12)"
      " SSR_DeleteEnrollData(1,\"12\",12) SSR_DeleteEnrollDataExt(1,\"12\",12) RefreshData(1)");
  EXPECT_THAT(p.display.logs, ElementsAre("Borra datos de 127.0.0.2, persona: 007",
                                          "Borra datos de 127.0.0.2, persona: 12"));
  EXPECT_THROW(BorraUsuario(p.l, "127.0.0.2", "siete", "S1"), Falla);
  Conecta(false);
  EXPECT_EQ(BorraUsuario(p.l, "127.0.0.2", "7", "S1"), 0);
}

}  // namespace
}  // namespace lector::test
