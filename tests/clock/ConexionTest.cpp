// Connection, identity check and maintenance commands against the recording fake: which SDK calls
// are made, what the lamp shows and what the registry remembers, step by step over one program's
// life; the command each maintenance task sends and its answer.
#include "clock/Conexion.h"
#include "clock/Mantenimiento.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "support/CodePage.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;

class Conexion : public ::testing::Test {
 protected:
  Conexion() {
    p.l.sdk = &sdk;
    p.l.estado.ModoLog = true;
    p.alcance.tabla = {{"127.0.0.2", 0}, {"127.0.0.3", 1}};
  }
  // Every maintenance command's answer, in one text, and the calls after the connection.
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

TEST_F(Conexion, VerifiesOnceKeepsOneClockAndNeverAnswersForAnUncheckedOne) {
  const std::string c2 = " Connect_Net(\"127.0.0.2\",4370) GetSerialNumber(0)";
  const std::string c3 = " Connect_Net(\"127.0.0.3\",4370) GetSerialNumber(0)";
  struct {
    const char *ip, *esperado, *fisico;
    bool conectable, resultado;
    std::string llamadas;
    std::vector<std::string> registro;
    int lamp;
  } pasos[] = {
      {"127.0.0.2", "S1", "S1", true, true, c2, {"S1", ""}, kLampVerde},
      {"127.0.0.2", "S1", "S1", true, true, "", {"S1", ""}, kLampVerde},  // not contacted
      {"127.0.0.3", "B", "B", true, true, c3, {"B", ""}, kLampVerde},     // replaces S1
      {"127.0.0.2", "S1", "S1", true, true, c2, {"S1", ""}, kLampVerde},
      {"127.0.0.9", "X", "X", true, false, "", {"S1", ""}, kLampRojo},  // no echo: registry kept
      // A refused attempt drops the held connection: S1 must not be answered unchecked.
      {"127.0.0.3", "B", "B", false, false, " Connect_Net(\"127.0.0.3\",4370)", {}, kLampRojo},
      {"127.0.0.2", "S1", "S1", true, true, c2, {"S1", ""}, kLampVerde},
      {"127.0.0.2", " ABC1 ", "ABC1", true, true, c2, {" ABC1 ", ""}, kLampVerde},  // trimmed
      // Another device is let go at once, so the next request checks again.
      {"127.0.0.2", "ABC1 ", "  abc1", true, false, c2 + " Disconnect()", {""}, kLampVerde},
      {"127.0.0.2", "ABC1 ", "  abc1", true, false, c2 + " Disconnect()", {""}, kLampVerde},
  };
  for (const auto& x : pasos) {
    SCOPED_TRACE(std::string(x.ip) + " " + x.esperado);
    sdk.serial = x.fisico;
    sdk.conectable = x.conectable;
    EXPECT_EQ(ConectaReloj(p.l, x.ip, x.esperado), x.resultado);
    EXPECT_EQ(sdk.Recientes(), x.llamadas);
    EXPECT_EQ(p.l.estado.ConnectionRegistry, x.registro);
    EXPECT_EQ(p.display.lamp, x.lamp);
  }
  EXPECT_FALSE(sdk.conectado);
  EXPECT_THAT(p.display.logs, ElementsAre("El Serial de este reloj presenta inconsistencias.",
                                          "Serial esperado:ABC1,Serial fisico:abc1",
                                          "El Serial de este reloj presenta inconsistencias.",
                                          "Serial esperado:ABC1,Serial fisico:abc1"));
  // Nine attempts logged with their outcome; the registered shortcut logs nothing.
  EXPECT_THAT(Cp1252AUtf8(LeeArchivo(p.l.ArchivoLog())),
              ::testing::StartsWith("260303 140500: ConectaReloj 127.0.0.2 - S1\r\n"
                                    "260303 140500: ConectaReloj=True\r\n"
                                    "260303 140500: ConectaReloj 127.0.0.3 - B\r\n"));
  EXPECT_EQ(p.alcance.consultas.size(), 9u);
}

TEST_F(Conexion, FailuresAreReportedAndNeverLeaveAnUncheckedClockRegistered) {
  sdk.fallas.emplace("GetSerialNumber", Falla(1002, "Sin respuesta del reloj"));
  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  EXPECT_THAT(p.display.logs,
              ElementsAre("Sin respuesta del reloj (1002)", "Error conectando a 127.0.0.2"));
  EXPECT_THAT(Cp1252AUtf8(LeeArchivo(p.l.ArchivoLog())),
              ::testing::EndsWith("Error en ConectaReloj Sin respuesta del reloj (1002)\r\n"));
  EXPECT_THAT(p.l.estado.ConnectionRegistry, ElementsAre(""));
  EXPECT_EQ(sdk.llamadas.back(), "Disconnect()");

  p.l.sdk = nullptr;  // no SDK object at all
  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  EXPECT_EQ(p.display.logs.back(), "Error conectando a 127.0.0.2");
}

TEST_F(Conexion, DisconnectOnlyTheRegisteredClock) {
  DesconectaReloj(p.l, "S1");  // nothing registered yet
  sdk.serial = "S1";
  ASSERT_TRUE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  sdk.Olvida();
  DesconectaReloj(p.l, "S2");
  EXPECT_THAT(sdk.llamadas, ::testing::IsEmpty());
  DesconectaReloj(p.l, "S1");
  EXPECT_THAT(sdk.llamadas, ElementsAre("Disconnect()"));
  EXPECT_TRUE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  EXPECT_EQ(sdk.llamadas.size(), 3u);
}

TEST_F(Conexion, CommandsAndTheirAnswers) {
  p.alcance.tabla.clear();
  p.reloj.ahora = {2027, 1, 2, 3, 4, 5, 600};
  EXPECT_EQ(Todos(), "False000FalseFalse");  // unreachable: nothing sent
  EXPECT_THAT(sdk.llamadas, ::testing::IsEmpty());

  p.alcance.tabla["127.0.0.2"] = 0;
  sdk.serial = "S1";
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

TEST_F(Conexion, AdministratorRightsRewriteTheUserAsReadWithPrivilege3) {
  sdk.usuarios = {{"0042", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "99", 0, false, ""}};
  sdk.serial = "S1";
  EXPECT_TRUE(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "0042"));
  EXPECT_EQ(sdk.llamadas.back(),
            "SSR_SetUserInfo(1,\"42\",\"ABCDEFGHIJKLMNOPQRST\",\"99\",3,True)");
  EXPECT_THROW(AsignaPrivilegio(p.l, "127.0.0.2", "S1", "4x"), Falla);
}

}  // namespace
}  // namespace lector::test
