#include "support/Identidad.h"

#include <unistd.h>

#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"

namespace lector {
namespace {

class Identidad : public ::testing::Test {
 protected:
  test::LectorDePrueba p;
  std::filesystem::path Archivo(const std::string& nombre, const std::string& contenido) {
    auto ruta = p.carpeta.ruta() / nombre;
    std::ofstream(ruta, std::ios::binary) << contenido;
    return ruta;
  }
  static bool EsEntero32(const std::string& t) {
    if (!std::regex_match(t, std::regex("0|-?[1-9][0-9]{0,9}"))) return false;
    long long v = std::stoll(t);
    return v >= INT32_MIN && v <= INT32_MAX;
  }
};

TEST_F(Identidad, DeEsteEquipoEstableYGuardada) {
  std::string a = SerialDisco(p.l);
  EXPECT_TRUE(EsEntero32(a)) << a;
  p.l.estado.IdEquipo = "otro";
  EXPECT_EQ(SerialDisco(p.l), a);
  EXPECT_EQ(p.l.estado.IdEquipo, a);
}

TEST_F(Identidad, MismoIdMismoNumeroYConSigno) {
  auto uno = Archivo("uno", "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
  auto igual = Archivo("igual", "  3d1219c7c4c5404aaa1f6d2a48adfda4  \r\n");
  EXPECT_EQ(SerialDisco(p.l, {uno}), SerialDisco(p.l, {igual}));
  bool negativo = false, positivo = false;
  for (int i = 0; i < 64; ++i) {
    std::string t = SerialDisco(p.l, {Archivo("id", "maquina-" + std::to_string(i))});
    ASSERT_TRUE(EsEntero32(t)) << t;
    (t[0] == '-' ? negativo : positivo) = true;
  }
  EXPECT_TRUE(negativo);  // a number with its highest bit set keeps its minus sign
  EXPECT_TRUE(positivo);
}

TEST_F(Identidad, SinArchivosUsaElSiguienteYLuegoElNombreDelEquipo) {
  auto vacio = Archivo("vacio", "\n");
  auto segundo = Archivo("segundo", "abc");
  EXPECT_EQ(SerialDisco(p.l, {p.carpeta.ruta() / "falta", vacio, segundo}),
            SerialDisco(p.l, {segundo}));
  char nombre[256] = {};
  ASSERT_EQ(gethostname(nombre, sizeof nombre - 1), 0);
  EXPECT_EQ(SerialDisco(p.l, {p.carpeta.ruta() / "falta", p.carpeta.ruta()}),
            SerialDisco(p.l, {Archivo("nombre", nombre)}));
}

}  // namespace
}  // namespace lector
