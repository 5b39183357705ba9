// Record reading against the recording fake: the month files, the duplicate window, the
// counters and what the window shows.
#include "clock/Marcaciones.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "kit/Fixtures.h"
#include "kit/RecordingSdk.h"
#include "support/Falla.h"

namespace lector::test {
namespace {

using clock::LeeReloj;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> Lineas(const std::string& bytes) {
  std::vector<std::string> r;
  size_t i = 0;
  while (i < bytes.size()) {
    size_t p = bytes.find("\r\n", i);
    if (p == std::string::npos) {
      r.push_back(bytes.substr(i));
      break;
    }
    r.push_back(bytes.substr(i, p - i));
    i = p + 2;
  }
  return r;
}

RecordingSdk::Registro Marca(int n) {
  RecordingSdk::Registro r;
  r.enrolamiento = std::to_string(1000 + n % 37);
  r.dia = 1 + n / 1440 % 28;
  r.hora = n / 60 % 24;
  r.minuto = n % 60;
  r.segundo = 7;
  r.modoVerificacion = 1 + n % 2;
  r.codigoTrabajo = n % 3;
  return r;
}

class Lectura : public ::testing::Test {
 protected:
  Lectura() {
    p.l.sdk = &sdk;
    p.alcance.tabla["127.0.0.2"] = 0;
    sdk.serial = "S1";
    sdk.registraLecturas = false;
    std::filesystem::create_directory(p.l.Marcaciones());
  }
  std::string Lee(int16_t etiqueta = 2) {
    return LeeReloj(p.l, 4, etiqueta, "7", "127.0.0.2", conectado, "S1");
  }
  std::vector<std::string> Reloj() const { return Lineas(LeeArchivo(rutaReloj)); }
  std::vector<std::string> General() const { return Lineas(LeeArchivo(rutaGeneral)); }
  void Registros(int desde, int hasta) {
    for (int i = desde; i < hasta; ++i) sdk.registros.push_back(Marca(i));
  }

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
  ASSERT_EQ(Reloj().size(), 250u);
  EXPECT_EQ(General(), Reloj());
  EXPECT_EQ(Reloj()[0], "7,S1,2026,3,1,0,0,1000,1,0,0,2");
  EXPECT_EQ(LeeArchivo(rutaReloj).substr(0, 32), "7,S1,2026,3,1,0,0,1000,1,0,0,2\r\n");
  std::vector<std::string> captions;
  for (const auto& c : p.display.De("SetCaption")) captions.push_back(c.texto);
  EXPECT_THAT(captions, ElementsAre("Reloj 7 - Leido: 100, Nuevos: 100",
                                    "Reloj 7 - Leido: 200, Nuevos: 200", kTituloVentana));
  EXPECT_EQ(p.display.De("DoEvents").size(), 3u);
  EXPECT_THAT(p.display.relojes, ElementsAre("7 - 127.0.0.2 - Conectado"));
  EXPECT_EQ(p.l.estado.LineasLeidas, std::vector<std::string>({"", ""}));

  // Three more in the clock: only those are appended, to both files.
  Registros(250, 253);
  EXPECT_EQ(Lee(), "253,3");
  EXPECT_EQ(Reloj().size(), 253u);
  EXPECT_EQ(General(), Reloj());
  EXPECT_EQ(p.l.estado.LineasLeidas.size(), 252u);
  EXPECT_EQ(Lee(), "253,0");
  EXPECT_EQ(General().size(), 253u);
}

TEST_F(Lectura, LineFieldsAndEightBitText) {
  RecordingSdk::Registro r;
  r.enrolamiento = "Ñ12";  // text the clock gives, kept as is (Windows-1252 in the file)
  r.anio = 2025;
  r.mes = 12;
  r.dia = 31;
  r.hora = 23;
  r.minuto = 59;
  r.segundo = 59;
  r.modoVerificacion = 15;
  r.modoEntradaSalida = 5;
  r.codigoTrabajo = -3;
  sdk.registros = {r};
  EXPECT_EQ(Lee(-1), "1,1");
  EXPECT_EQ(LeeArchivo(rutaGeneral),
            "7,S1,2025,12,31,23,59,\xD1"
            "12,15,5,-3,-1\r\n");
  EXPECT_EQ(Lee(-1), "1,0");  // read back through the code page, it is known
}

TEST_F(Lectura, TextTheCodePageCannotHoldIsKnownOnTheNextReading) {
  // The file keeps "?" for such characters: the record must still be found there next time,
  // not written again on every reading.
  RecordingSdk::Registro r = Marca(0);
  r.enrolamiento = "\xD0\xAF\xE6\x97\xA5\xFF";  // Cyrillic, CJK, a byte that is not UTF-8
  sdk.registros = {r, Marca(1)};
  EXPECT_EQ(Lee(), "2,2");
  EXPECT_EQ(Lee(), "2,0");
  EXPECT_EQ(General().size(), 2u);
  EXPECT_EQ(Reloj().size(), 2u);
}

TEST_F(Lectura, LookupStartsTenSlotsBeforeTheRecordsOwnPosition) {
  // The file holds X in slot 1; the clock now holds other records with X again at position p.
  auto conXEn = [&](int posicion) {
    sdk.registros.clear();
    std::ofstream(rutaReloj, std::ios::binary) << "";
    std::ofstream(rutaGeneral, std::ios::binary) << "";
    sdk.registros.push_back(Marca(5000));
    Lee();
    sdk.registros.clear();
    for (int i = 0; i < posicion; ++i) sdk.registros.push_back(Marca(6000 + i));
    sdk.registros.push_back(Marca(5000));
    return Lee();
  };
  EXPECT_EQ(conXEn(11), "12,11");  // searched from slot 1: found
  EXPECT_EQ(conXEn(12), "13,13");  // searched from slot 2: written again
  EXPECT_EQ(Reloj().size(), 14u);
}

TEST_F(Lectura, ClockFileLinesEndAtAnyLineEndEvenAcrossReadBlocks) {
  p.l.estado.LineasLeidas.assign(12, "de otra lectura");
  std::ofstream(rutaReloj, std::ios::binary) << "a\r\nb\nc\rd\r\n\r\n";
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_EQ(p.l.estado.LineasLeidas, std::vector<std::string>({"", "a", "b", "c", "d", "", ""}));

  const std::string x(256 * 1024 - 1, 'x'), y(300000, 'y');  // CR LF split; a line over blocks
  std::ofstream(rutaReloj, std::ios::binary) << x << "\r\n" << y << "\r\n\xD1\r\n";
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_EQ(p.l.estado.LineasLeidas, std::vector<std::string>({"", x, y, "Ñ", ""}));
}

TEST_F(Lectura, IdenticalRecordsOfOneReadingAreBothWrittenOnce) {
  sdk.registros = {Marca(1), Marca(1)};
  EXPECT_EQ(Lee(), "2,2");
  EXPECT_EQ(Lee(), "2,0");
  EXPECT_EQ(Reloj().size(), 2u);
}

TEST_F(Lectura, MoreRecordsThanA16BitCounterHolds) {
  Registros(0, 40000);
  EXPECT_EQ(Lee(), "40000,40000");
  EXPECT_EQ(General().size(), 40000u);
  EXPECT_EQ(p.display.De("SetCaption")[399].texto, "Reloj 7 - Leido: 40000, Nuevos: 40000");
  EXPECT_EQ(Lee(), "40000,0");
}

TEST_F(Lectura, UnreachableClockTouchesNoFileAndShowsDisconnected) {
  p.display.AddReloj("7 - Entrada");
  p.display.AddReloj("70 - Salida");  // shares the prefix: rewritten as well
  p.display.AddReloj("8 - Patio");
  p.alcance.tabla.clear();
  conectado = kVerdadero;
  EXPECT_EQ(Lee(), "0");
  EXPECT_EQ(conectado, kFalso);
  EXPECT_THAT(sdk.llamadas, IsEmpty());
  EXPECT_THAT(p.display.relojes, ElementsAre("7 - 127.0.0.2 - Desconectado",
                                             "7 - 127.0.0.2 - Desconectado", "8 - Patio"));
  EXPECT_TRUE(std::filesystem::is_empty(p.l.Marcaciones()));
  EXPECT_EQ(p.display.lamp, kLampRojo);
}

TEST_F(Lectura, LogThatWillNotLoadGivesZeroZeroAndTouchesNoFile) {
  sdk.resultados["ReadGeneralLogData"] = false;
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_EQ(conectado, kVerdadero);
  EXPECT_TRUE(std::filesystem::is_empty(p.l.Marcaciones()));
  EXPECT_EQ(p.display.caption, kTituloVentana);
}

TEST_F(Lectura, ClockIdThatWouldLeaveTheRecordsFolderIsRefused) {
  for (std::string id : std::vector<std::string>{"", "..", "../x", "a/b", "a\\b", "x..", "a\nb",
                                                 std::string("a\0b", 3)}) {
    SCOPED_TRACE(id);
    p.display.logs.clear();
    try {
      LeeReloj(p.l, 1, 2, id, "127.0.0.2", conectado, "S1");
      ADD_FAILURE() << "accepted";
    } catch (const Falla& f) {
      EXPECT_EQ(f.numero, kArgumentoInvalido);
    }
    ASSERT_EQ(p.display.logs.size(), 1u);
    EXPECT_THAT(p.display.logs[0],
                ::testing::StartsWith("Id de reloj no valido para el archivo de marcaciones"));
  }
  EXPECT_THAT(sdk.llamadas, IsEmpty());
  EXPECT_TRUE(std::filesystem::is_empty(p.l.Marcaciones()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.l.carpeta),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(Lectura, PieceOfALineCutByACrashIsDropped) {
  std::ofstream(rutaGeneral, std::ios::binary) << "7,S1,2026,3,1,0,0,1000,1,0,0,2\r\n7,S1,20";
  std::ofstream(rutaReloj, std::ios::binary) << "7,S1,2026,3,1,0,0,1000,1,0,0,2\r\n7,S1,2026,3,1";
  sdk.registros = {Marca(0), Marca(1)};
  EXPECT_EQ(Lee(), "2,1");
  EXPECT_THAT(General(),
              ElementsAre("7,S1,2026,3,1,0,0,1000,1,0,0,2", "7,S1,2026,3,1,0,1,1001,2,0,1,2"));
  EXPECT_EQ(Reloj(), General());

  // A long text without any line end is not such a piece: it is kept and ended.
  const std::string largo(5000, 'x');
  std::ofstream(rutaGeneral, std::ios::binary) << largo;
  sdk.registros = {Marca(2)};
  EXPECT_EQ(Lee(), "1,1");
  EXPECT_THAT(General(), ElementsAre(largo, "7,S1,2026,3,1,0,2,1002,1,0,2,2"));
}

TEST_F(Lectura, FailureMidwayNeverLeavesALineInTheClockFileThatTheGeneralFileLacks) {
  Registros(0, 30000);
  // The SDK fails after more than a batch of new lines has gone out.
  struct Fallando : RecordingSdk {
    long tope = 20000;
    bool SSR_GetGeneralLogData(int32_t m, std::string& e, int32_t& v, int32_t& io, int32_t& a,
                               int32_t& me, int32_t& d, int32_t& h, int32_t& mi, int32_t& s,
                               int32_t& w) override {
      if (lecturasRegistro == tope) throw Falla(1003, "Conexion perdida");
      return RecordingSdk::SSR_GetGeneralLogData(m, e, v, io, a, me, d, h, mi, s, w);
    }
  } fallando;
  fallando.serial = "S1";
  fallando.registros = sdk.registros;
  fallando.registraLecturas = false;
  p.l.sdk = &fallando;
  EXPECT_THROW(Lee(), Falla);
  auto reloj = Reloj();
  auto general = General();
  EXPECT_GT(reloj.size(), 0u);
  std::set<std::string> enGeneral(general.begin(), general.end());
  for (const auto& linea : reloj) ASSERT_TRUE(enGeneral.count(linea)) << linea;

  // The next reading completes both files.
  fallando.tope = -1;
  EXPECT_EQ(Lee(), "30000," + std::to_string(30000 - reloj.size()));
  EXPECT_EQ(Reloj().size(), 30000u);
  general = General();
  enGeneral = std::set<std::string>(general.begin(), general.end());
  EXPECT_EQ(enGeneral.size(), 30000u);
}

TEST_F(Lectura, UnwritableFolderIsAFailureOfTheReading) {
  std::filesystem::remove(p.l.Marcaciones());
  sdk.registros = {Marca(1)};
  try {
    Lee();
    FAIL() << "no failure";
  } catch (const Falla& f) {
    EXPECT_EQ(f.numero, kAccesoArchivo);
  }
}

}  // namespace
}  // namespace lector::test
