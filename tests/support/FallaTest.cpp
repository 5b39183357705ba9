#include "support/Falla.h"

#include <gtest/gtest.h>

#include "kit/ManualClock.h"

namespace lector {
namespace {

TEST(Conversiones, NumerosRedondeanAlParYLoDemasEs13O6) {
  for (auto [t, v] : {std::pair{"007", 7},
                      {" -12 ", -12},
                      {"+5", 5},
                      {"2.5", 2},
                      {"3.5", 4},
                      {"32767", 32767},
                      {"-32768", -32768}})
    EXPECT_EQ(AEntero16(t), v) << t;
  EXPECT_EQ(AEntero32("-2147483648"), INT32_MIN);
  EXPECT_FLOAT_EQ(AReal("1.25"), 1.25f);
  auto numero = [](auto f) {
    try {
      f();
    } catch (const Falla& e) {
      return e.numero;
    }
    return 0;
  };
  for (const char* t : {"", " ", "abc", "1a", "-", ".", "1.2.3", "1 2", "0x10"})
    EXPECT_EQ(numero([&] { AEntero16(t); }), kTipoIncompatible) << t;
  for (const char* t : {"32768", "-32769"})
    EXPECT_EQ(numero([&] { AEntero16(t); }), kDesbordamiento) << t;
  EXPECT_EQ(numero([] { AEntero32("2147483648"); }), kDesbordamiento);
  EXPECT_EQ(numero([] { AReal("1" + std::string(50, '0')); }), kDesbordamiento);
}

TEST(Reloj, FormateaYAvanzaCruzandoElAnio) {
  test::ManualClock reloj({2025, 12, 31, 23, 59, 58, 0});
  EXPECT_EQ(Formatea(reloj.Ahora(), "yyMMdd hhmmss"), "251231 235958");
  reloj.Dormir(2500);
  EXPECT_EQ(Formatea(reloj.Ahora(), "dd/MM/yy hh:mm:ss"), "01/01/26 00:00:00");
  EXPECT_FLOAT_EQ(reloj.SegundosDesdeMedianoche(), 0.5f);
}

}  // namespace
}  // namespace lector
