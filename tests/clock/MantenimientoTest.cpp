// Maintenance commands against the recording fake: the command each sends and the answer, with
// the clock unreachable, agreeing and refusing.
#include "clock/Mantenimiento.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;

class Mantenimiento : public ::testing::Test {
 protected:
  Mantenimiento() {
    p.l.sdk = &sdk;
    sdk.serial = "S1";
    p.reloj.ahora = {2027, 1, 2, 3, 4, 5, 600};
  }
  // Every command's answer, in one text, and the calls after the connection.
  std::string Todos() {
    p.l.estado.ConnectionRegistry.clear();
    sdk.Olvida();
    const char *ip = "127.0.0.2", *s = "S1";
    std::string r;  // a braced list runs the commands in order
    for (const auto& x : std::vector<std::string>{ComandoBM(p.l, ip, s), ComandoRE(p.l, ip, s),
                                                  ComandoTT(p.l, ip, s), EstableceHora(p.l, ip, s),
                                                  TextoBooleano(AsignaPrivilegio(p.l, ip, s, "42")),
                                                  TextoBooleano(ComandoRA(p.l, ip, s))})
      r += x;
    return r;
  }
  LectorDePrueba p;
  RecordingSdk sdk;
};

TEST_F(Mantenimiento, CommandsAndTheirAnswers) {
  EXPECT_EQ(Todos(), "False000FalseFalse");  // unreachable: nothing sent
  EXPECT_THAT(sdk.llamadas, ::testing::IsEmpty());

  p.alcance.tabla["127.0.0.2"] = 0;
  EXPECT_EQ(Todos(), "True111TrueTrue");
  EXPECT_THAT(sdk.llamadas,
              ElementsAre("Connect_Net(\"127.0.0.2\",4370)", "GetSerialNumber(0)", "ClearGLog(1)",
                          "RestartDevice(1)", "Beep(2000)", "SetDeviceTime2(1,2027,1,2,3,4,5)",
                          "SSR_GetUserInfo(1,\"42\")", "SSR_SetUserInfo(1,\"42\",\"\",\"\",3,True)",
                          "ClearAdministrators(1)"));
  // Refusals are reported only where the boolean is the answer.
  for (auto m : {"ClearGLog", "RestartDevice", "Beep", "SetDeviceTime2", "SSR_SetUserInfo",
                 "ClearAdministrators"})
    sdk.resultados[m] = false;
  EXPECT_EQ(Todos(), "False111FalseFalse");
}

TEST_F(Mantenimiento, AdministratorRightsRewriteTheUserAsReadWithPrivilege3) {
  sdk.usuarios = {{"0042", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "99", 0, false, ""}};
  p.alcance.tabla["127.0.0.2"] = 0;
  EXPECT_TRUE(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "0042"));
  EXPECT_EQ(sdk.llamadas.back(),
            "SSR_SetUserInfo(1,\"42\",\"ABCDEFGHIJKLMNOPQRST\",\"99\",3,True)");
  EXPECT_THROW(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "4x"), Falla);
}

}  // namespace
}  // namespace lector::test
