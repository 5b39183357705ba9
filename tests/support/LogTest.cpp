#include "support/Log.h"

#include <fstream>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"

namespace lector {
namespace {

TEST(Log, SoloConModoLogUnaLineaPorLlamadaAgregadaEnWindows1252) {
  test::LectorDePrueba p;
  const auto archivo = p.l.ArchivoLog();
  EscribeLog(p.l, "x");
  EXPECT_FALSE(std::filesystem::exists(archivo));
  p.l.estado.ModoLog = true;
  std::ofstream(archivo, std::ios::binary) << "anterior\r\n";
  p.reloj.ahora = {2025, 12, 31, 23, 59, 58, 0};
  EscribeLog(p.l, "Execute Login");
  p.reloj.ahora = {2026, 1, 3, 9, 5, 7, 0};
  EscribeLog(p.l, "");
  EscribeLog(p.l, "Año ñ\r\nsigue");
  EXPECT_EQ(test::LeeArchivo(archivo),
            "anterior\r\n251231 235958: Execute Login\r\n260103 090507: \r\n"
            "260103 090507: A\xF1o \xF1\r\nsigue\r\n");
  p.l.carpeta = p.carpeta.ruta() / "no-existe";
  EXPECT_NO_THROW(EscribeLog(p.l, "x"));
}

}  // namespace
}  // namespace lector
