#include "support/Log.h"

#include <fstream>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"

namespace lector {
namespace {

class LogTest : public ::testing::Test {
 protected:
  test::LectorDePrueba p;
  std::filesystem::path archivo = p.l.ArchivoLog();
};

TEST_F(LogTest, ApagadoNoTocaElArchivo) {
  EscribeLog(p.l, "Execute Login");
  EXPECT_FALSE(std::filesystem::exists(archivo));
}

TEST_F(LogTest, UnaLineaPorLlamadaConFechaYHora) {
  p.l.estado.ModoLog = true;
  p.reloj.ahora = {2025, 12, 31, 23, 59, 58, 0};
  EscribeLog(p.l, "Execute Login");
  p.reloj.ahora = {2026, 1, 3, 9, 5, 7, 0};
  EscribeLog(p.l, "");
  EscribeLog(p.l, "Conectando 127.0.0.2");
  EXPECT_EQ(test::LeeArchivo(archivo),
            "251231 235958: Execute Login\r\n"
            "260103 090507: \r\n"
            "260103 090507: Conectando 127.0.0.2\r\n");
}

TEST_F(LogTest, Windows1252YSinFiltrar) {
  p.l.estado.ModoLog = true;
  EscribeLog(p.l, "Año ñ\r\nsigue");
  EXPECT_EQ(test::LeeArchivo(archivo), "260303 140500: A\xF1o \xF1\r\nsigue\r\n");
}

TEST_F(LogTest, AgregaSinTruncar) {
  p.l.estado.ModoLog = true;
  {
    std::ofstream f(archivo, std::ios::binary);
    f << "anterior\r\n";
  }
  EscribeLog(p.l, "x");
  EXPECT_EQ(test::LeeArchivo(archivo), "anterior\r\n260303 140500: x\r\n");
}

TEST_F(LogTest, CarpetaInexistenteNoFalla) {
  p.l.estado.ModoLog = true;
  p.l.carpeta = p.carpeta.ruta() / "no-existe";
  EXPECT_NO_THROW(EscribeLog(p.l, "x"));
  EXPECT_FALSE(std::filesystem::exists(p.l.ArchivoLog()));
}

}  // namespace
}  // namespace lector
