// Maintenance commands against the recording fake: the command each sends and the answer.
#include "clock/Mantenimiento.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "support/Falla.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Mantenimiento : public ::testing::Test {
 protected:
  Mantenimiento() {
    p.l.sdk = &sdk;
    sdk.serial = "S1";
  }
  void Alcanzable(bool si) {
    p.alcance.tabla.clear();
    if (si) p.alcance.tabla["127.0.0.2"] = 0;
    p.l.estado.ConnectionRegistry.clear();
    sdk.Olvida();
  }
  // The calls after the connection.
  std::vector<std::string> Comandos() const {
    std::vector<std::string> r;
    for (const auto& c : sdk.llamadas)
      if (c.rfind("Connect_Net(", 0) != 0 && c.rfind("GetSerialNumber(", 0) != 0) r.push_back(c);
    return r;
  }

  LectorDePrueba p;
  RecordingSdk sdk;
};

TEST_F(Mantenimiento, UnreachableClockGetsNoCommandAndTheNotConnectedAnswers) {
  Alcanzable(false);
  EXPECT_EQ(ComandoBM(p.l, "127.0.0.2", "S1"), "False");
  EXPECT_EQ(ComandoRE(p.l, "127.0.0.2", "S1"), "0");
  EXPECT_EQ(ComandoTT(p.l, "127.0.0.2", "S1"), "0");
  EXPECT_EQ(EstableceHora(p.l, "127.0.0.2", "S1"), "0");
  EXPECT_FALSE(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "42"));
  EXPECT_FALSE(ComandoRA(p.l, "127.0.0.2", "S1"));
  EXPECT_THAT(sdk.llamadas, IsEmpty());
}

TEST_F(Mantenimiento, CommandsAndTheirAnswers) {
  Alcanzable(true);
  EXPECT_EQ(ComandoBM(p.l, "127.0.0.2", "S1"), "True");
  EXPECT_EQ(ComandoRE(p.l, "127.0.0.2", "S1"), "1");
  EXPECT_EQ(ComandoTT(p.l, "127.0.0.2", "S1"), "1");
  p.reloj.ahora = {2027, 1, 2, 3, 4, 5, 600};
  EXPECT_EQ(EstableceHora(p.l, "127.0.0.2", "S1"), "1");
  EXPECT_TRUE(ComandoRA(p.l, "127.0.0.2", "S1"));
  EXPECT_THAT(Comandos(),
              ElementsAre("ClearGLog(1)", "RestartDevice(1)", "Beep(2000)",
                          "SetDeviceTime2(1,2027,1,2,3,4,5)", "ClearAdministrators(1)"));

  // Refusals: reported only where the boolean is the answer.
  for (auto m : {"ClearGLog", "RestartDevice", "Beep", "SetDeviceTime2", "ClearAdministrators"})
    sdk.resultados[m] = false;
  EXPECT_EQ(ComandoBM(p.l, "127.0.0.2", "S1"), "False");
  EXPECT_EQ(ComandoRE(p.l, "127.0.0.2", "S1"), "1");
  EXPECT_EQ(ComandoTT(p.l, "127.0.0.2", "S1"), "1");
  EXPECT_EQ(EstableceHora(p.l, "127.0.0.2", "S1"), "1");
  EXPECT_FALSE(ComandoRA(p.l, "127.0.0.2", "S1"));
}

TEST_F(Mantenimiento, AdministratorRightsRewriteTheUserAsReadWithPrivilege3) {
  sdk.usuarios = {{"0042", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "99", 0, false, ""}};
  Alcanzable(true);
  EXPECT_TRUE(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "0042"));
  EXPECT_THAT(Comandos(), ElementsAre("SSR_GetUserInfo(1,\"0042\")",
                                      "SSR_SetUserInfo(1,\"42\",\"ABCDEFGHIJKLMNOPQRST\",\"99\",3,"
                                      "True)"));
  sdk.Olvida();
  sdk.resultados["SSR_SetUserInfo"] = false;
  EXPECT_FALSE(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "7"));  // unknown: written empty
  EXPECT_THAT(sdk.llamadas,
              ElementsAre("SSR_GetUserInfo(1,\"7\")", "SSR_SetUserInfo(1,\"7\",\"\",\"\",3,True)"));
  EXPECT_THROW(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "4x"), Falla);
}

}  // namespace
}  // namespace lector::test
