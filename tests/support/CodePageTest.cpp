#include "support/CodePage.h"

#include <gtest/gtest.h>

namespace lector {
namespace {

TEST(CodePage, CadaCodigoVaYVuelve) {
  std::string todos;
  for (int b = 0; b < 256; ++b) todos += static_cast<char>(b);
  EXPECT_EQ(Utf8ACp1252(Cp1252AUtf8(todos)), todos);
  // 0x80-0x9F: the code page's own letters and signs; undefined codes keep their C1 control.
  EXPECT_EQ(Cp1252AUtf8("\x80\x81\x8A\x9F\xE1\xF1\xFF"), "€\u0081ŠŸáñÿ");
  EXPECT_EQ(Utf8ACp1252("Ingresar Automáticamente: ñÑ ü €"),
            "Ingresar Autom\xE1ticamente: \xF1\xD1 \xFC \x80");
}

TEST(CodePage, LoQueNoTieneFormaEsInterrogacion) {
  const std::pair<std::string, std::string> casos[] = {
      {"a\u4E2Db", "a?b"},
      {"\U0001F600", "?"},
      {"\u0080\u0099", "??"},
      {"\u0100", "?"},
      // Bytes that are not UTF-8: stray continuation, truncated, overlong, surrogate.
      {"x\x80y", "x?y"},
      {"x\xC3", "x?"},
      {"\xC0\xAF", "??"},
      {"\xED\xA0\x80", "???"},
      {"\xF4\x90\x80\x80", "????"},
      {std::string("\0a", 2), std::string("\0a", 2)}};
  for (const auto& [utf8, cp] : casos) EXPECT_EQ(Utf8ACp1252(utf8), cp) << utf8;
}

}  // namespace
}  // namespace lector
