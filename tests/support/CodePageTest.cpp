#include "support/CodePage.h"

#include <gtest/gtest.h>

namespace lector {
namespace {

// The code points Windows-1252 gives to 0x80-0x9F (undefined codes keep their C1 control).
const char32_t kEsperado[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

std::string Utf8De(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

TEST(CodePage, CadaUnoDeLos256CodigosVaYVuelve) {
  for (int b = 0; b < 256; ++b) {
    char32_t punto = b >= 0x80 && b < 0xA0 ? kEsperado[b - 0x80] : static_cast<char32_t>(b);
    std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Cp1252AUtf8(byte), Utf8De(punto)) << b;
    EXPECT_EQ(Utf8ACp1252(Utf8De(punto)), byte) << b;
  }
  std::string todos;
  for (int b = 0; b < 256; ++b) todos += static_cast<char>(b);
  EXPECT_EQ(Utf8ACp1252(Cp1252AUtf8(todos)), todos);
}

TEST(CodePage, TextoEspanolYSignos) {
  EXPECT_EQ(Utf8ACp1252("Ingresar Automáticamente: ñÑ ü €"),
            "Ingresar Autom\xE1ticamente: \xF1\xD1 \xFC \x80");
  EXPECT_EQ(Cp1252AUtf8("Mu\xF1oz \x93x\x94"), "Muñoz “x”");
}

TEST(CodePage, LoQueNoTieneFormaEsInterrogacion) {
  // Characters without a Windows-1252 code, and C1 controls the code page uses otherwise.
  EXPECT_EQ(Utf8ACp1252("a\u4E2Db"), "a?b");
  EXPECT_EQ(Utf8ACp1252("\U0001F600"), "?");
  EXPECT_EQ(Utf8ACp1252("\u0080\u0099"), "??");
  EXPECT_EQ(Utf8ACp1252("\u0100"), "?");
  // Bytes that are not UTF-8: stray continuation, truncated, overlong, surrogate.
  EXPECT_EQ(Utf8ACp1252("x\x80y"), "x?y");
  EXPECT_EQ(Utf8ACp1252("x\xC3"), "x?");
  EXPECT_EQ(Utf8ACp1252("\xC0\xAF"), "??");
  EXPECT_EQ(Utf8ACp1252("\xED\xA0\x80"), "???");
  EXPECT_EQ(Utf8ACp1252("\xF4\x90\x80\x80"), "????");
  EXPECT_EQ(Utf8ACp1252(std::string("\0a", 2)), std::string("\0a", 2));
}

}  // namespace
}  // namespace lector
