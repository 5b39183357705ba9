#include "support/Identidad.h"

#include <unistd.h>

#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"

namespace lector {
namespace {

TEST(Identidad, EstableConSignoYConRespaldos) {
  test::LectorDePrueba p;
  auto archivo = [&](const std::string& nombre, const std::string& contenido) {
    std::ofstream(p.carpeta.ruta() / nombre, std::ios::binary) << contenido;
    return p.carpeta.ruta() / nombre;
  };
  const std::regex entero32("0|-?[1-9][0-9]{0,9}");
  std::string propia = SerialDisco(p.l);
  EXPECT_TRUE(std::regex_match(propia, entero32)) << propia;
  p.l.estado.IdEquipo = "otro";
  EXPECT_EQ(SerialDisco(p.l), propia);
  EXPECT_EQ(p.l.estado.IdEquipo, propia);
  EXPECT_EQ(SerialDisco(p.l, {archivo("uno", "3d1219c7c4c5404aaa1f6d2a48adfda4\n")}),
            SerialDisco(p.l, {archivo("igual", "  3d1219c7c4c5404aaa1f6d2a48adfda4  \r\n")}));
  int negativos = 0;
  for (int i = 0; i < 64; ++i) {
    std::string t = SerialDisco(p.l, {archivo("id", "maquina-" + std::to_string(i))});
    ASSERT_TRUE(std::regex_match(t, entero32) && std::abs(std::stoll(t)) <= 2147483648LL) << t;
    negativos += t[0] == '-';
  }
  EXPECT_TRUE(negativos > 0 && negativos < 64);  // the highest bit set keeps its minus sign
  // Blank or missing sources give way to the next, and at last to the host name.
  EXPECT_EQ(
      SerialDisco(p.l, {p.carpeta.ruta() / "falta", archivo("vacio", "\n"), archivo("b", "abc")}),
      SerialDisco(p.l, {archivo("c", "abc")}));
  char nombre[256] = {};
  ASSERT_EQ(gethostname(nombre, sizeof nombre - 1), 0);
  EXPECT_EQ(SerialDisco(p.l, {p.carpeta.ruta() / "falta", p.carpeta.ruta()}),
            SerialDisco(p.l, {archivo("nombre", nombre)}));
}

}  // namespace
}  // namespace lector
