// Record reading against the recording fake: the month files, the duplicate window, the
// counters and what the window shows.
#include "clock/Marcaciones.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"

namespace lector::test {
namespace {

using ::testing::ElementsAre;
using Lineas = std::vector<std::string>;
using namespace std::string_literals;

RecordingSdk::Registro Marca(int n) {
  const int dia = 1 + n / 1440 % 28, hora = n / 60 % 24;
  return {std::to_string(1000 + n % 37), 1 + n % 2, 0, 2026, 3, dia, hora, n % 60, 7, n % 3};
}

class Lectura : public ::testing::Test {
 protected:
  Lectura() {
    p.l.sdk = &sdk;
    p.alcance.tabla["127.0.0.2"] = 0;
    sdk.serial = "S1";
    std::filesystem::create_directory(p.l.Marcaciones());
  }
  std::string Lee(int16_t etiqueta = 2, const std::string& id = "7") {
    return clock::LeeReloj(p.l, 4, etiqueta, id, "127.0.0.2", conectado, "S1");
  }
  Lineas Reloj() const { return LineasDe(rutaReloj); }
  Lineas General() const { return LineasDe(rutaGeneral); }
  void Registros(int desde, int hasta) {
    for (int i = desde; i < hasta; ++i) sdk.registros.push_back(Marca(i));
  }
  void Escribe(const std::filesystem::path& r, const std::string& b) { std::ofstream(r) << b; }

  LectorDePrueba p;
  RecordingSdk sdk;
  int16_t conectado = 0;
  std::filesystem::path rutaReloj = p.l.Marcaciones() / "2603 7.txt";
  std::filesystem::path rutaGeneral = p.l.Marcaciones() / "2603.txt";
};

TEST_F(Lectura, FirstReadingWritesEveryRecordThenOnlyTheNewOnes) {
  Registros(0, 250);
  p.display.AddReloj("7 - Entrada");
  EXPECT_EQ(Lee(), "250,250");
  EXPECT_EQ(conectado, kVerdadero);
  EXPECT_EQ(Reloj()[0], "7,S1,2026,3,1,0,0,1000,1,0,0,2");
  EXPECT_EQ(General(), Reloj());
  Lineas captions;
  for (const auto& c : p.display.De("SetCaption")) captions.push_back(c.texto);
  EXPECT_THAT(captions, ElementsAre("Reloj 7 - Leido: 100, Nuevos: 100",
                                    "Reloj 7 - Leido: 200, Nuevos: 200", kTituloVentana));
  EXPECT_EQ(p.display.De("DoEvents").size(), 3u);
  EXPECT_THAT(p.display.relojes, ElementsAre("7 - 127.0.0.2 - Conectado"));
  EXPECT_EQ(p.l.estado.LineasLeidas, Lineas({"", ""}));

  // More in the clock, beyond what a 16-bit counter holds: only those are appended, to both.
  Registros(250, 40000);
  EXPECT_EQ(Lee(), "40000,39750");
  EXPECT_TRUE(p.l.estado.LineasLeidas.size() == 252u && p.display.caption == kTituloVentana);
  EXPECT_EQ(p.display.De("SetCaption").rbegin()[1].texto, "Reloj 7 - Leido: 40000, Nuevos: 39750");
  EXPECT_EQ(Lee(), "40000,0");
  EXPECT_TRUE(General().size() == 40000u && General() == Reloj());
}

TEST_F(Lectura, WhatEachReadingWritesAndFindsAgain) {
  RecordingSdk::Registro ene{"Ñ12", 15, 5, 2025, 12, 31, 23, 59, 59, -3}, raro = Marca(0);
  raro.enrolamiento = "\xD0\xAF\xE6\x97\xA5\xFF";  // Cyrillic, CJK, a byte that is not UTF-8
  const std::string m0 = "7,S1,2026,3,1,0,0,1000,1,0,0,-1\r\n",
                    m1 = "7,S1,2026,3,1,0,1,1001,2,0,1,-1\r\n", largo(5000, 'x');
  struct {
    const char* que;
    std::string reloj, general;
    std::vector<RecordingSdk::Registro> registros;
    std::string primera, segunda, escrito;  // the general file afterwards ("": any)
  } casos[] = {
      // clang-format off
      // Text the clock gives is kept as is (Windows-1252 in the file) and read back through it.
      {"8 bits", "", "", {ene}, "1,1", "1,0", "7,S1,2025,12,31,23,59,\xD1" "12,15,5,-3,-1\r\n"},
      // The file keeps "?" where the code page has no character: still found next time.
      {"sin pagina", "", "", {raro, Marca(1)}, "2,2", "2,0", ""},
      {"iguales", "", "", {Marca(1), Marca(1)}, "2,2", "2,0", ""},
      // A piece of a line cut by a crash is dropped, and its record written whole again.
      {"cortada", m0 + "7,S1,2026,3,1", m0 + "7,S1,20", {Marca(0), Marca(1)}, "2,1", "2,0", m0 + m1},
      // A long text without any line end is not such a piece: it is kept and ended.
      {"sin fin", "", largo, {Marca(1)}, "1,1", "1,0", largo + "\r\n" + m1},
  };  // clang-format on
  for (const auto& c : casos) {
    SCOPED_TRACE(c.que);
    Escribe(rutaReloj, c.reloj);
    Escribe(rutaGeneral, c.general);
    sdk.registros = c.registros;
    EXPECT_EQ(Lee(-1), c.primera);
    EXPECT_EQ(Lee(-1), c.segunda);
    EXPECT_EQ(Reloj().size(), c.registros.size());
    if (!c.escrito.empty())
      EXPECT_EQ(LeeArchivo(rutaGeneral), c.escrito);
    else
      EXPECT_EQ(General().size(), c.registros.size());
  }
}

TEST_F(Lectura, LookupStartsTenSlotsBeforeTheRecordsOwnPosition) {
  // The file holds X in slot 1; the clock now holds other records with X again at position p.
  auto conXEn = [&](int posicion) {
    Escribe(rutaReloj, "");
    sdk.registros = {Marca(5000)};
    Lee();
    sdk.registros.clear();
    Registros(6000, 6000 + posicion);
    sdk.registros.push_back(Marca(5000));
    return Lee();
  };
  EXPECT_EQ(conXEn(11), "12,11");  // searched from slot 1: found
  EXPECT_EQ(conXEn(12), "13,13");  // searched from slot 2: written again
}

TEST_F(Lectura, ClockFileLinesEndAtAnyLineEndEvenAcrossReadBlocks) {
  p.l.estado.LineasLeidas.assign(12, "de otra lectura");
  Escribe(rutaReloj, "a\r\nb\nc\rd\r\n\r\n");
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_EQ(p.l.estado.LineasLeidas, Lineas({"", "a", "b", "c", "d", "", ""}));

  const std::string x(256 * 1024 - 1, 'x'), y(300000, 'y');  // CR LF split; a line over blocks
  Escribe(rutaReloj, x + "\r\n" + y + "\r\n\xD1\r\n");
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_EQ(p.l.estado.LineasLeidas, Lineas({"", x, y, "Ñ", ""}));
}

TEST_F(Lectura, NothingReadNothingWritten) {
  sdk.resultados["ReadGeneralLogData"] = false;  // a log that will not load
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_TRUE(conectado == kVerdadero && std::filesystem::is_empty(p.l.Marcaciones()));

  p.display.relojes = {"7 - Entrada", "70 - Salida", "8 - Patio"};  // "70" shares the prefix
  p.alcance.tabla.clear();
  p.l.estado.ConnectionRegistry.clear();
  sdk.Olvida();
  EXPECT_EQ(Lee(), "0");
  EXPECT_TRUE(conectado == kFalso && sdk.llamadas.empty());
  EXPECT_THAT(p.display.relojes, ElementsAre("7 - 127.0.0.2 - Desconectado",
                                             "7 - 127.0.0.2 - Desconectado", "8 - Patio"));
  EXPECT_TRUE(std::filesystem::is_empty(p.l.Marcaciones()));

  // An id that would leave the records folder is refused before anything is contacted.
  for (std::string id : {""s, ".."s, "../x"s, "a/b"s, "a\\b"s, "x.."s, "a\nb"s, "a\0b"s}) {
    SCOPED_TRACE(id);
    p.display.logs.clear();
    EXPECT_EQ(NumeroDeFalla([&] { Lee(2, id); }), kArgumentoInvalido);
    EXPECT_THAT(
        p.display.logs,
        ElementsAre(::testing::StartsWith("Id de reloj no valido para el archivo de marcaciones")));
  }
  EXPECT_TRUE(sdk.llamadas.empty() && std::filesystem::is_empty(p.l.Marcaciones()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.l.carpeta), {}), 1);
}

TEST_F(Lectura, FailureMidwayNeverLeavesALineInTheClockFileThatTheGeneralFileLacks) {
  Registros(0, 30000);
  sdk.lecturaQueFalla = 20000;  // after more than a batch of new lines has gone out
  EXPECT_THROW(Lee(), Falla);
  auto reloj = Reloj(), general = General();
  EXPECT_GT(reloj.size(), 0u);
  std::set<std::string> enGeneral(general.begin(), general.end());
  for (const auto& linea : reloj) ASSERT_TRUE(enGeneral.count(linea)) << linea;

  sdk.lecturaQueFalla = 0;  // the next reading completes both files
  EXPECT_EQ(Lee(), "30000," + std::to_string(30000 - reloj.size()));
  EXPECT_EQ(Reloj().size(), 30000u);
  general = General();
  EXPECT_EQ(std::set<std::string>(general.begin(), general.end()).size(), 30000u);

  std::filesystem::remove_all(p.l.Marcaciones());  // an unwritable folder fails the reading
  EXPECT_EQ(NumeroDeFalla([&] { Lee(); }), kAccesoArchivo);
}

}  // namespace
}  // namespace lector::test
