// Connection and identity check against the recording fake: which SDK calls are made, what the
// lamp and the activity list show, and what the registry remembers.
#include "clock/Conexion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "support/CodePage.h"

namespace lector::test {
namespace {

using clock::ConectaReloj;
using clock::DesconectaReloj;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Conexion : public ::testing::Test {
 protected:
  Conexion() {
    p.l.sdk = &sdk;
    p.l.estado.ModoLog = true;
    p.alcance.tabla["127.0.0.2"] = 0;
    p.alcance.tabla["127.0.0.3"] = 1;
  }
  std::vector<int64_t> Lamparas() const {
    std::vector<int64_t> r;
    for (const auto& c : p.display.De("SetLamp")) r.push_back(c.valor);
    return r;
  }
  std::string Log() const { return Cp1252AUtf8(LeeArchivo(p.l.ArchivoLog())); }

  LectorDePrueba p;
  RecordingSdk sdk;
};

TEST_F(Conexion, VerifiedClockIsRegisteredAndAskedForOnlyOnce) {
  sdk.serial = "S1";
  EXPECT_TRUE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  EXPECT_THAT(sdk.llamadas, ElementsAre("Connect_Net(\"127.0.0.2\",4370)", "GetSerialNumber(0)"));
  EXPECT_THAT(Lamparas(), ElementsAre(kLampRojo, kLampVerde));
  EXPECT_THAT(p.l.estado.ConnectionRegistry, ElementsAre("S1", ""));
  EXPECT_EQ(Log(),
            "260303 140500: ConectaReloj 127.0.0.2 - S1\r\n260303 140500: ConectaReloj=True\r\n");
  EXPECT_THAT(p.display.logs, IsEmpty());

  // The same clock again: nothing logged, lamp untouched, clock not contacted.
  sdk.Olvida();
  p.display.llamadas.clear();
  auto log = Log();
  EXPECT_TRUE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  EXPECT_THAT(sdk.llamadas, IsEmpty());
  EXPECT_THAT(p.display.llamadas, IsEmpty());
  EXPECT_EQ(Log(), log);
  EXPECT_THAT(p.alcance.consultas, ElementsAre("127.0.0.2"));
}

TEST_F(Conexion, AnotherClockReplacesTheRegisteredOne) {
  sdk.serial = "A";
  ASSERT_TRUE(ConectaReloj(p.l, "127.0.0.2", "A"));
  sdk.serial = "B";
  ASSERT_TRUE(ConectaReloj(p.l, "127.0.0.3", "B"));
  EXPECT_THAT(p.l.estado.ConnectionRegistry, ElementsAre("B", ""));
  sdk.serial = "A";
  sdk.Olvida();
  EXPECT_TRUE(ConectaReloj(p.l, "127.0.0.2", "A"));
  EXPECT_THAT(sdk.llamadas, ElementsAre("Connect_Net(\"127.0.0.2\",4370)", "GetSerialNumber(0)"));
}

TEST_F(Conexion, SerialsAreTrimmedOfSpacesButCompareCaseSensitively) {
  sdk.serial = "ABC1";
  EXPECT_TRUE(ConectaReloj(p.l, "127.0.0.2", " ABC1 "));
  EXPECT_THAT(p.display.logs, IsEmpty());

  p.l.estado.ConnectionRegistry.clear();
  sdk.Olvida();
  sdk.serial = "  abc1";
  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.2", "ABC1 "));
  EXPECT_THAT(p.display.logs, ElementsAre("El Serial de este reloj presenta inconsistencias.",
                                          "Serial esperado:ABC1,Serial fisico:abc1"));
  EXPECT_EQ(p.display.lamp, kLampVerde);
  // A device that is not the expected one is let go at once, so the next request checks again.
  EXPECT_THAT(sdk.llamadas,
              ElementsAre("Connect_Net(\"127.0.0.2\",4370)", "GetSerialNumber(0)", "Disconnect()"));
  EXPECT_FALSE(sdk.conectado);
  EXPECT_THAT(p.l.estado.ConnectionRegistry, ElementsAre(""));
  EXPECT_THAT(Log(), ::testing::EndsWith("ConectaReloj=False\r\n"));
  sdk.Olvida();
  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.2", "ABC1 "));
  EXPECT_EQ(sdk.De("Connect_Net").size(), 1u);
}

TEST_F(Conexion, UnreachableClockLeavesTheRegistryRefusingOneEmptiesIt) {
  sdk.serial = "A";
  ASSERT_TRUE(ConectaReloj(p.l, "127.0.0.2", "A"));
  sdk.Olvida();
  p.display.llamadas.clear();

  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.9", "B"));  // no echo
  EXPECT_THAT(sdk.llamadas, IsEmpty());
  EXPECT_THAT(Lamparas(), ElementsAre(kLampRojo));
  EXPECT_THAT(p.l.estado.ConnectionRegistry, ElementsAre("A", ""));

  // The refused attempt has dropped A's connection: A must not be answered true unchecked.
  sdk.conectable = false;
  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.3", "B"));
  EXPECT_THAT(sdk.llamadas, ElementsAre("Connect_Net(\"127.0.0.3\",4370)"));
  EXPECT_EQ(p.display.lamp, kLampRojo);
  EXPECT_THAT(p.l.estado.ConnectionRegistry, IsEmpty());
  EXPECT_THAT(p.display.logs, IsEmpty());
  EXPECT_THAT(Log(), ::testing::EndsWith("ConectaReloj 127.0.0.3 - B\r\n"
                                         "260303 140500: ConectaReloj=False\r\n"));
  sdk.conectable = true;
  sdk.Olvida();
  EXPECT_TRUE(ConectaReloj(p.l, "127.0.0.2", "A"));
  EXPECT_THAT(sdk.llamadas, ElementsAre("Connect_Net(\"127.0.0.2\",4370)", "GetSerialNumber(0)"));
}

TEST_F(Conexion, FailuresAreReportedAndNeverLeaveAnUncheckedClockRegistered) {
  sdk.fallas.emplace("GetSerialNumber", Falla(1002, "Sin respuesta del reloj"));
  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  EXPECT_THAT(p.display.logs,
              ElementsAre("Sin respuesta del reloj (1002)", "Error conectando a 127.0.0.2"));
  EXPECT_THAT(Log(),
              ::testing::EndsWith("Error en ConectaReloj Sin respuesta del reloj (1002)\r\n"));
  EXPECT_THAT(p.l.estado.ConnectionRegistry, ElementsAre(""));
  EXPECT_EQ(sdk.llamadas.back(), "Disconnect()");

  // No SDK object at all.
  p.l.sdk = nullptr;
  p.display.logs.clear();
  EXPECT_FALSE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  ASSERT_EQ(p.display.logs.size(), 2u);
  EXPECT_EQ(p.display.logs[1], "Error conectando a 127.0.0.2");
}

TEST_F(Conexion, DisconnectOnlyTheRegisteredClock) {
  DesconectaReloj(p.l, "S1");  // nothing registered yet
  EXPECT_THAT(sdk.llamadas, IsEmpty());
  sdk.serial = "S1";
  ASSERT_TRUE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  sdk.Olvida();
  DesconectaReloj(p.l, "S2");
  EXPECT_THAT(sdk.llamadas, IsEmpty());
  DesconectaReloj(p.l, "S1");
  EXPECT_THAT(sdk.llamadas, ElementsAre("Disconnect()"));
  EXPECT_THAT(p.l.estado.ConnectionRegistry, ElementsAre(""));
  sdk.Olvida();
  EXPECT_TRUE(ConectaReloj(p.l, "127.0.0.2", "S1"));
  EXPECT_EQ(sdk.llamadas.size(), 2u);
}

}  // namespace
}  // namespace lector::test
