#include "support/Texto.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/Fixtures.h"

namespace lector {
namespace {

using Lista = std::vector<std::string>;

TEST(Json, ParesEscapadosYListas) {
  EXPECT_EQ(ParJson("nombre", "José / 1,2 {x}"), "\"nombre\":\"José / 1,2 {x}\"");
  EXPECT_EQ(ParJson("n", std::string("a\"b\\\r\n\t\b\f\0\x1f", 11)),
            "\"n\":\"a\\\"b\\\\\\r\\n\\t\\b\\f\\u0000\\u001f\"");
  const std::string raro = "x\"\\\n\x01 ñ";
  EXPECT_EQ(nlohmann::json::parse("{" + ParJson("n", raro) + "}")["n"], raro);
  EXPECT_EQ(ListaJson(",{\"a\":\"1\"},{\"b\":\"2\"}"), "[{\"a\":\"1\"},{\"b\":\"2\"}]");
  EXPECT_EQ(ListaJson(""), "[]");
  EXPECT_EQ(ListaJson(","), "[]");
}

TEST(Campo, CamposYCuentas) {
  const struct {
    const char *texto, *sep;
    long n;
    const char* campo;
  } casos[] = {
      {"a;b;c", ";", 1, "a"}, {"a;b;c", ";", 3, "c"},         {"a;b;c", ";", 5, "c"},
      {"a;b;c", ";", 0, "c"}, {"a;b;c", ";", -7, "c"},        {"a;b;c", "", 2, "b"},
      {"a;;b", ";", 2, ""},   {"abc", ";", 2, "abc"},         {"", ";", 1, ""},
      {"a;b;", ";", 2, "b"},  {"a;b;", ";", 3, "a;b;"},       {"1],[", "],[", 2, ""},
      {"1],[", "],[", 0, ""}, {"1,2],[3,4", "],[", 2, "3,4"}, {"xaaay", "aa", 1, "x"},
      {"xaaay", "aa", 2, ""}, {"xaaay", "aa", 3, "y"},  // overlaps: the next search starts
  };                                                    // one character further
  for (const auto& c : casos) EXPECT_EQ(Campo(c.texto, c.n, c.sep), c.campo) << c.texto << c.n;
  for (auto [texto, sep, n] : {std::tuple{"", ";", 1L},
                               {"a;;b", "", 3L},
                               {"1,2],[3,4],[5", "],[", 3L},
                               {"aaaa", "aa", 4L},
                               {"ab", "abc", 1L}})
    EXPECT_EQ(CuentaCampos(texto, sep), n) << texto;
}

TEST(Listas, ElUltimoNuncaSeMira) {
  EXPECT_FALSE(EstaEnLista({}, ""));
  EXPECT_FALSE(EstaEnLista({"a"}, "a"));
  EXPECT_TRUE(EstaEnLista({"a", ""}, "a"));
  EXPECT_FALSE(EstaEnLista({"a", ""}, "A"));
  EXPECT_EQ(QuitaDeLista({"a", "b", "a", ""}, "a"), (Lista{"b", ""}));
  EXPECT_EQ(QuitaDeLista({"x", "y", ""}, "z"), (Lista{"x", "y", ""}));
  EXPECT_EQ(QuitaDeLista({}, "z"), (Lista{""}));
  test::LectorDePrueba p;
  auto& lineas = p.l.estado.LineasLeidas;
  EXPECT_FALSE(EstaEnRecientes(p.l, "r", 3));  // no list yet
  lineas.assign(31, "");
  for (int i = 1; i < 30; ++i) lineas[i] = "r" + std::to_string(i);
  lineas.back() = "ultimo";
  for (auto [r, pos, esta] : {std::tuple{"r1", 3L, true},
                              {"", 3L, true},
                              {"r14", 25L, false},
                              {"r15", 25L, true},
                              {"r29", 25L, true},
                              {"r29", 40L, false},
                              {"ultimo", 25L, false},
                              {"r1", std::numeric_limits<long>::min(), true},
                              {"r29", std::numeric_limits<long>::max(), false}})
    EXPECT_EQ(EstaEnRecientes(p.l, r, pos), esta) << r << " " << pos;
}

}  // namespace
}  // namespace lector
