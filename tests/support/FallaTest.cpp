#include "support/Falla.h"

#include <gtest/gtest.h>

#include "kit/ManualClock.h"
#include "support/SystemClock.h"

namespace lector {
namespace {

int NumeroDe(const std::function<void()>& f) {
  try {
    f();
  } catch (const Falla& e) {
    return e.numero;
  }
  return 0;
}

TEST(Conversiones, AceptanNumerosYRedondeanAlPar) {
  EXPECT_EQ(AEntero16("007"), 7);
  EXPECT_EQ(AEntero16(" -12 "), -12);
  EXPECT_EQ(AEntero16("+5"), 5);
  EXPECT_EQ(AEntero16("2.5"), 2);
  EXPECT_EQ(AEntero16("3.5"), 4);
  EXPECT_EQ(AEntero16("32767"), 32767);
  EXPECT_EQ(AEntero16("-32768"), -32768);
  EXPECT_EQ(AEntero32("2147483647"), 2147483647);
  EXPECT_EQ(AEntero32("-2147483648"), INT32_MIN);
  EXPECT_FLOAT_EQ(AReal("1.25"), 1.25f);
}

TEST(Conversiones, TextoQueNoEsNumeroEs13YFueraDeRangoEs6) {
  for (const char* t : {"", " ", "abc", "1a", "-", ".", "1.2.3", "1 2", "0x10"})
    EXPECT_EQ(NumeroDe([&] { AEntero16(t); }), kTipoIncompatible) << t;
  EXPECT_EQ(NumeroDe([] { AEntero16("32768"); }), kDesbordamiento);
  EXPECT_EQ(NumeroDe([] { AEntero16("-32769"); }), kDesbordamiento);
  EXPECT_EQ(NumeroDe([] { AEntero32("2147483648"); }), kDesbordamiento);
  EXPECT_EQ(NumeroDe([] { AEntero32("99999999999999999999999"); }), kDesbordamiento);
  EXPECT_EQ(NumeroDe([] { AReal("1" + std::string(50, '0')); }), kDesbordamiento);
}

TEST(Reloj, FormateaYAvanzaCruzandoElAnio) {
  test::ManualClock reloj({2025, 12, 31, 23, 59, 58, 0});
  EXPECT_EQ(Formatea(reloj.Ahora(), "yyMMdd hhmmss"), "251231 235958");
  reloj.Dormir(2500);
  EXPECT_EQ(Formatea(reloj.Ahora(), "dd/MM/yy hh:mm:ss"), "01/01/26 00:00:00");
  EXPECT_EQ(reloj.Ahora().milisegundo, 500);
  EXPECT_FLOAT_EQ(reloj.SegundosDesdeMedianoche(), 0.5f);
  EXPECT_EQ(reloj.dormidas, std::vector<int>{2500});
}

}  // namespace
}  // namespace lector
