#include "support/Texto.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "kit/Fixtures.h"

namespace lector {
namespace {

using Lista = std::vector<std::string>;

TEST(ParJson, ValoresComunesSalenTalCual) {
  EXPECT_EQ(ParJson("codigo", "15"), "\"codigo\":\"15\"");
  EXPECT_EQ(ParJson("codigo", "15").size(), 13u);
  EXPECT_EQ(ParJson("nombre", "José Pérez / 1,2 {x}"), "\"nombre\":\"José Pérez / 1,2 {x}\"");
  EXPECT_EQ(ParJson("x", ""), "\"x\":\"\"");
}

TEST(ParJson, EscapaComillasBarrasYControlesYQuedaJsonValido) {
  EXPECT_EQ(ParJson("n", "a\"b"), "\"n\":\"a\\\"b\"");
  EXPECT_EQ(ParJson("n", "a\\b"), "\"n\":\"a\\\\b\"");
  EXPECT_EQ(ParJson("n", "\r\n\t\b\f"), "\"n\":\"\\r\\n\\t\\b\\f\"");
  EXPECT_EQ(ParJson("n", std::string("\0\x1f", 2)), "\"n\":\"\\u0000\\u001f\"");
  std::string raro = "x\"\\\n\x01 ñ";
  auto doc = nlohmann::json::parse("{" + ParJson("n", raro) + "}");
  EXPECT_EQ(doc["n"].get<std::string>(), raro);
}

TEST(ListaJson, QuitaElPrimerCaracterYEncierra) {
  EXPECT_EQ(ListaJson(",{\"a\":\"1\"},{\"b\":\"2\"}"), "[{\"a\":\"1\"},{\"b\":\"2\"}]");
  EXPECT_EQ(ListaJson(""), "[]");
  EXPECT_EQ(ListaJson(","), "[]");
  EXPECT_EQ(ListaJson("x{}"), "[{}]");
}

TEST(Campo, CamposConPuntoYComa) {
  EXPECT_EQ(Campo("a;b;c", 1, ";"), "a");
  EXPECT_EQ(Campo("a;b;c", 2, ";"), "b");
  EXPECT_EQ(Campo("a;b;c", 3, ";"), "c");
  EXPECT_EQ(Campo("a;b;c", 5, ";"), "c");
  EXPECT_EQ(Campo("a;b;c", 0, ";"), "c");
  EXPECT_EQ(Campo("a;b;c", -7, ";"), "c");
  EXPECT_EQ(Campo("a;b;c", 2, ""), "b");  // empty separator means ";"
  EXPECT_EQ(Campo("a;;b", 2, ";"), "");
}

TEST(Campo, SinSeparadorOTextoVacio) {
  for (long n : {-1L, 0L, 1L, 2L, 99L}) {
    EXPECT_EQ(Campo("abc", n, ";"), "abc");
    EXPECT_EQ(Campo("", n, ";"), "");
  }
}

TEST(Campo, SeparadorAlFinal) {
  EXPECT_EQ(Campo("a;b;", 1, ";"), "a");
  EXPECT_EQ(Campo("a;b;", 2, ";"), "b");
  EXPECT_EQ(Campo("a;b;", 3, ";"), "a;b;");
  EXPECT_EQ(Campo("a;b;", 9, ";"), "a;b;");
  EXPECT_EQ(Campo("1],[", 1, "],["), "1");
  EXPECT_EQ(Campo("1],[", 2, "],["), "");
  EXPECT_EQ(Campo("1],[", 0, "],["), "");
}

TEST(Campo, SeparadorDeVariosCaracteres) {
  EXPECT_EQ(Campo("1,2],[3,4", 1, "],["), "1,2");
  EXPECT_EQ(Campo("1,2],[3,4", 2, "],["), "3,4");
  EXPECT_EQ(Campo("1,2],[3,4", 3, "],["), "3,4");
  EXPECT_EQ(Campo("x<br>y<br>z", 2, "<br>"), "y");
  EXPECT_EQ(Campo("1|2|3", 3, "|"), "3");
  // Overlapping occurrences: the next search starts one character after the previous one.
  EXPECT_EQ(Campo("xaaay", 1, "aa"), "x");
  EXPECT_EQ(Campo("xaaay", 2, "aa"), "");
  EXPECT_EQ(Campo("xaaay", 3, "aa"), "y");
}

TEST(CuentaCampos, CuentaCadaPosicion) {
  EXPECT_EQ(CuentaCampos("", ";"), 1);
  EXPECT_EQ(CuentaCampos("a;b;c", ";"), 3);
  EXPECT_EQ(CuentaCampos("a;;b", ";"), 3);
  EXPECT_EQ(CuentaCampos("a;;b", ""), 3);
  EXPECT_EQ(CuentaCampos("1,2],[3,4],[5", "],["), 3);
  EXPECT_EQ(CuentaCampos("aaaa", "aa"), 4);  // overlapping occurrences each count
  EXPECT_EQ(CuentaCampos("ab", "abc"), 1);
}

TEST(Listas, EstaEnListaNoMiraElUltimo) {
  EXPECT_FALSE(EstaEnLista({}, ""));
  EXPECT_FALSE(EstaEnLista({"a"}, "a"));
  EXPECT_TRUE(EstaEnLista({"a", ""}, "a"));
  EXPECT_FALSE(EstaEnLista({"a", "b"}, "b"));
  EXPECT_FALSE(EstaEnLista({"a", ""}, "A"));
  EXPECT_TRUE(EstaEnLista({"a", "", "x"}, ""));
}

TEST(Listas, QuitaDeLista) {
  EXPECT_EQ(QuitaDeLista({"a", "b", "a", ""}, "a"), (Lista{"b", ""}));
  EXPECT_EQ(QuitaDeLista({"x", ""}, "x"), (Lista{""}));
  EXPECT_EQ(QuitaDeLista({"x", "y", ""}, "z"), (Lista{"x", "y", ""}));
  EXPECT_EQ(QuitaDeLista({}, "z"), (Lista{""}));
  Lista original{"a", ""};
  QuitaDeLista(original, "a");
  EXPECT_EQ(original, (Lista{"a", ""}));
}

TEST(Listas, EstaEnRecientesBuscaDesdeDiezAntes) {
  test::LectorDePrueba p;
  auto& lineas = p.l.estado.LineasLeidas;
  EXPECT_FALSE(EstaEnRecientes(p.l, "r", 3));  // no list yet
  lineas.assign(31, "");
  for (int i = 1; i < 30; ++i) lineas[i] = "r" + std::to_string(i);
  EXPECT_TRUE(EstaEnRecientes(p.l, "r1", 3));
  EXPECT_TRUE(EstaEnRecientes(p.l, "", 3));  // slot 0 is empty and searched
  EXPECT_FALSE(EstaEnRecientes(p.l, "r14", 25));
  EXPECT_TRUE(EstaEnRecientes(p.l, "r15", 25));
  EXPECT_TRUE(EstaEnRecientes(p.l, "r29", 25));
  EXPECT_FALSE(EstaEnRecientes(p.l, "r29", 40));
  EXPECT_FALSE(EstaEnRecientes(p.l, "r29", std::numeric_limits<long>::max()));
  EXPECT_TRUE(EstaEnRecientes(p.l, "r1", std::numeric_limits<long>::min()));
  lineas.back() = "ultimo";
  EXPECT_FALSE(EstaEnRecientes(p.l, "ultimo", 25));
}

}  // namespace
}  // namespace lector
