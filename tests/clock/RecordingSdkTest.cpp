// The recording fake is what exact-sequence tests rest on: its text form and its script must be
// dependable.
#include "kit/RecordingSdk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace lector::test {
namespace {

using ::testing::ElementsAre;

TEST(RecordingSdk, RecordsCallsAsTextAndAnswersFromItsScript) {
  RecordingSdk sdk;
  sdk.serial = "ABC";
  sdk.usuarios = {{"7", "ANA", "", 0, true, "123"}};
  sdk.plantillasEx[{"7", 3}] = "T3";

  std::string serial, nombre, clave, tarjeta, plantilla;
  int32_t priv = 0, largo = 0, bandera = 0;
  bool hab = false;
  EXPECT_TRUE(sdk.Connect_Net("127.0.0.2", 4370));
  EXPECT_TRUE(sdk.GetSerialNumber(0, serial));
  EXPECT_EQ(serial, "ABC");
  EXPECT_TRUE(sdk.SSR_GetUserInfo(1, "7", nombre, clave, priv, hab));
  EXPECT_TRUE(sdk.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "123");
  EXPECT_TRUE(sdk.GetUserTmpExStr(1, "7", 3, bandera, plantilla, largo));
  EXPECT_EQ(plantilla, "T3");
  EXPECT_FALSE(sdk.GetUserTmpExStr(1, "7", 4, bandera, plantilla, largo));
  EXPECT_EQ(plantilla, "");
  sdk.SSR_SetUserInfo(1, "7", "ANA", "", 0, true);
  sdk.SSR_DeleteEnrollData(1, "7", 12);

  EXPECT_THAT(sdk.llamadas, ElementsAre("Connect_Net(\"127.0.0.2\",4370)", "GetSerialNumber(0)",
                                        "SSR_GetUserInfo(1,\"7\")", "GetStrCardNumber()",
                                        "GetUserTmpExStr(1,\"7\",3)", "GetUserTmpExStr(1,\"7\",4)",
                                        "SSR_SetUserInfo(1,\"7\",\"ANA\",\"\",0,True)",
                                        "SSR_DeleteEnrollData(1,\"7\",12)"));
  EXPECT_THAT(sdk.De("GetUserTmpExStr"),
              ElementsAre("GetUserTmpExStr(1,\"7\",3)", "GetUserTmpExStr(1,\"7\",4)"));
}

TEST(RecordingSdk, ForcedResultsFailuresAndRecordIteration) {
  RecordingSdk sdk;
  sdk.registros = {{"1"}, {"2"}};
  sdk.resultados["SetUserTmpExStr"] = false;
  sdk.fallas.emplace("Beep", Falla(kFallaReloj, "sin respuesta"));
  ASSERT_TRUE(sdk.Connect_Net("127.0.0.2", 4370));
  EXPECT_FALSE(sdk.SetUserTmpExStr(1, "7", 0, 3, "x"));
  EXPECT_THROW(sdk.Beep(2000), Falla);
  EXPECT_EQ(sdk.llamadas.back(), "Beep(2000)");

  std::string e;
  int32_t v, io, a, m, d, h, mi, s, wc;
  EXPECT_FALSE(sdk.SSR_GetGeneralLogData(0, e, v, io, a, m, d, h, mi, s, wc));  // not loaded
  ASSERT_TRUE(sdk.ReadGeneralLogData(0));
  EXPECT_TRUE(sdk.SSR_GetGeneralLogData(0, e, v, io, a, m, d, h, mi, s, wc));
  EXPECT_EQ(e, "1");
  EXPECT_TRUE(sdk.SSR_GetGeneralLogData(0, e, v, io, a, m, d, h, mi, s, wc));
  EXPECT_EQ(e, "2");
  EXPECT_FALSE(sdk.SSR_GetGeneralLogData(0, e, v, io, a, m, d, h, mi, s, wc));

  sdk.Disconnect();
  EXPECT_FALSE(sdk.RefreshData(1));  // a dropped connection answers false
}

}  // namespace
}  // namespace lector::test
