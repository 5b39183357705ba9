// The clock operations against the recording fake, with service-sim as the service: the SDK calls
// each makes (their order is part of the contract with the devices), what the lamp, the window
// and the connection registry show, the month files a reading writes and finds again, and what
// reaches the service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "clock/Conexion.h"
#include "clock/Mantenimiento.h"
#include "clock/Marcaciones.h"
#include "clock/Usuarios.h"
#include "kit/RecordingSdk.h"
#include "server/ConServicio.h"
#include "support/Ini.h"

namespace lector::test {
namespace {

using namespace clock;
using ::testing::ElementsAre;
using Lineas = std::vector<std::string>;
using namespace std::string_literals;

RecordingSdk::Registro Marca(int n) {
  const int dia = 1 + n / 1440 % 28, hora = n / 60 % 24;
  return {std::to_string(1000 + n % 37), 1 + n % 2, 0, 2026, 3, dia, hora, n % 60, 7, n % 3};
}

class Operaciones : public ConServicio {
 protected:
  Operaciones() {
    l.sdk = &sdk;
    l.alcance = &alcance;
    alcance.tabla = {{"127.0.0.2", 0}, {"127.0.0.3", 1}};
    sdk.serial = "S1";
    std::filesystem::create_directory(l.Marcaciones());
    Ingresa();
    display.logs.clear();
    display.llamadas.clear();
  }
  // Connects (unreachable: fails to) and forgets the calls so far, so sequences start at the
  // operation.
  void Conecta(bool alcanzable = true) {
    alcance.tabla = {{"127.0.0.2", alcanzable ? 0 : -1}};
    l.estado.ConnectionRegistry.clear();
    ASSERT_TRUE(!alcanzable || ConectaReloj(l, "127.0.0.2", "S1"));
    sdk.Olvida();
    display.llamadas.clear();
  }
  std::string Lee(int16_t etiqueta = 2, const std::string& id = "7") {
    return LeeReloj(l, 4, etiqueta, id, "127.0.0.2", conectado, "S1");
  }
  void Registros(int desde, int hasta) {
    for (int i = desde; i < hasta; ++i) sdk.registros.push_back(Marca(i));
  }
  Lineas Reloj() const { return LineasDe(rutaReloj); }
  Lineas General() const { return LineasDe(rutaGeneral); }
  static void Escribe(const std::filesystem::path& r, const std::string& b) {
    std::ofstream(r) << b;
  }
  // What the service received, one text per reply or template.
  Lineas Respuestas() const {
    Lineas r;
    for (const auto& x : sim.Respuestas())
      r.push_back(x.relojId + "|" + x.tarea + "|" + x.respuesta + "|" + x.empleadoId);
    return r;
  }
  Lineas Plantillas() const {
    Lineas r;
    for (const auto& x : sim.Plantillas())
      r.push_back(x.empleadoId + "|" + x.dedo + "|" + x.plantilla);
    return r;
  }

  RecordingSdk sdk;
  TablaAlcance alcance;
  int16_t conectado = 0;
  std::filesystem::path rutaReloj = l.Marcaciones() / "2603 7.txt";
  std::filesystem::path rutaGeneral = l.Marcaciones() / "2603.txt";
};

TEST_F(Operaciones, VerifiesOnceKeepsOneClockAndNeverAnswersForAnUncheckedOne) {
  l.estado.ModoLog = true;
  const std::string c2 = " SetCommPassword(0) Connect_Net(\"127.0.0.2\",4370) GetSerialNumber(0)";
  const std::string c3 = " SetCommPassword(0) Connect_Net(\"127.0.0.3\",4370) GetSerialNumber(0)";
  struct {
    const char *ip, *esperado, *fisico;
    bool conectable, resultado;
    std::string llamadas;
    std::vector<std::string> registro;
    int lamp;
  } pasos[] = {
      {"127.0.0.2", "S1", "S1", true, true, c2, {"S1", ""}, kLampVerde},
      {"127.0.0.2", "S1", "S1", true, true, "", {"S1", ""}, kLampVerde},  // not contacted
      {"127.0.0.3", "B", "B", true, true, c3, {"B", ""}, kLampVerde},     // replaces S1
      {"127.0.0.2", "S1", "S1", true, true, c2, {"S1", ""}, kLampVerde},
      {"127.0.0.9", "X", "X", true, false, "", {"S1", ""}, kLampRojo},  // no echo: registry kept
      // A refused attempt drops the held connection: S1 must not be answered unchecked.
      {"127.0.0.3",
       "B",
       "B",
       false,
       false,
       " SetCommPassword(0) Connect_Net(\"127.0.0.3\",4370)",
       {},
       kLampRojo},
      {"127.0.0.2", "S1", "S1", true, true, c2, {"S1", ""}, kLampVerde},
      {"127.0.0.2", " ABC1 ", "ABC1", true, true, c2, {" ABC1 ", ""}, kLampVerde},  // trimmed
      // Another device is let go at once, so the next request checks again.
      {"127.0.0.2", "ABC1 ", "  abc1", true, false, c2 + " Disconnect()", {""}, kLampVerde},
      {"127.0.0.2", "ABC1 ", "  abc1", true, false, c2 + " Disconnect()", {""}, kLampVerde},
  };
  for (const auto& x : pasos) {
    SCOPED_TRACE(std::string(x.ip) + " " + x.esperado);
    sdk.serial = x.fisico;
    sdk.conectable = x.conectable;
    EXPECT_EQ(ConectaReloj(l, x.ip, x.esperado), x.resultado);
    EXPECT_EQ(sdk.Recientes(), x.llamadas);
    EXPECT_EQ(l.estado.ConnectionRegistry, x.registro);
    EXPECT_EQ(display.lamp, x.lamp);
  }
  EXPECT_FALSE(sdk.conectado);
  EXPECT_THAT(display.logs, ElementsAre("El Serial de este reloj presenta inconsistencias.",
                                        "Serial esperado:ABC1,Serial fisico:abc1",
                                        "El Serial de este reloj presenta inconsistencias.",
                                        "Serial esperado:ABC1,Serial fisico:abc1"));
  // Nine attempts logged with their outcome; the registered shortcut logs nothing.
  const auto log = LineasLog();
  ASSERT_EQ(log.size(), 18u);
  EXPECT_THAT(Lineas(log.begin(), log.begin() + 3),
              ElementsAre("ConectaReloj 127.0.0.2 - S1", "ConectaReloj=True",
                          "ConectaReloj 127.0.0.3 - B"));
  EXPECT_EQ(alcance.consultas.size(), 9u);
}

TEST_F(Operaciones, FailuresAreReportedAndNeverLeaveAnUncheckedClockRegistered) {
  l.estado.ModoLog = true;
  sdk.fallas.emplace("GetSerialNumber", Falla(1002, "Sin respuesta del reloj"));
  EXPECT_FALSE(ConectaReloj(l, "127.0.0.2", "S1"));
  EXPECT_THAT(display.logs,
              ElementsAre("Sin respuesta del reloj (1002)", "Error conectando a 127.0.0.2"));
  EXPECT_THAT(Cp1252AUtf8(LeeArchivo(l.ArchivoLog())),
              ::testing::EndsWith("Error en ConectaReloj Sin respuesta del reloj (1002)\r\n"));
  EXPECT_THAT(l.estado.ConnectionRegistry, ElementsAre(""));
  EXPECT_EQ(sdk.llamadas.back(), "Disconnect()");

  l.sdk = nullptr;  // no SDK object at all
  EXPECT_FALSE(ConectaReloj(l, "127.0.0.2", "S1"));
  EXPECT_EQ(display.logs.back(), "Error conectando a 127.0.0.2");
}

TEST_F(Operaciones, DisconnectOnlyTheRegisteredClock) {
  DesconectaReloj(l, "S1");  // nothing registered yet
  ASSERT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  sdk.Olvida();
  DesconectaReloj(l, "S2");
  EXPECT_THAT(sdk.llamadas, ::testing::IsEmpty());
  DesconectaReloj(l, "S1");
  EXPECT_THAT(sdk.llamadas, ElementsAre("Disconnect()"));
  EXPECT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  EXPECT_EQ(sdk.llamadas.size(), 4u);
}

// Record reading: the month files, the duplicate window, the counters, what the window shows and
// what the service hears.

TEST_F(Operaciones, FirstReadingWritesEveryRecordThenOnlyTheNewOnes) {
  Registros(0, 250);
  display.AddReloj("7 - Entrada");
  EXPECT_EQ(Lee(), "250,250");
  EXPECT_EQ(conectado, kVerdadero);
  EXPECT_EQ(Reloj()[0], "7,S1,2026,3,1,0,0,1000,1,0,0,2");
  EXPECT_EQ(General(), Reloj());
  Lineas captions;
  for (const auto& c : display.De("SetCaption")) captions.push_back(c.texto);
  EXPECT_THAT(captions, ElementsAre("Reloj 7 - Leido: 100, Nuevos: 100",
                                    "Reloj 7 - Leido: 200, Nuevos: 200", kTituloVentana));
  EXPECT_EQ(display.De("DoEvents").size(), 3u);
  EXPECT_THAT(display.relojes, ElementsAre("7 - 127.0.0.2 - Conectado"));
  EXPECT_EQ(l.estado.LineasLeidas, Lineas({"", ""}));
  ASSERT_EQ(sim.Pings().size(), 1u);
  EXPECT_EQ(sim.Pings()[0].serial, "S1");
  EXPECT_THAT(Respuestas(), ElementsAre("7|CO|1|0", "7|LM|250|0"));

  // More in the clock, beyond what a 16-bit counter holds: only those are appended, to both.
  Registros(250, 40000);
  EXPECT_EQ(Lee(), "40000,39750");
  EXPECT_TRUE(l.estado.LineasLeidas.size() == 252u && display.caption == kTituloVentana);
  EXPECT_EQ(display.De("SetCaption").rbegin()[1].texto, "Reloj 7 - Leido: 40000, Nuevos: 39750");
  EXPECT_EQ(Lee(), "40000,0");
  EXPECT_TRUE(General().size() == 40000u && General() == Reloj());
}

TEST_F(Operaciones, WhatEachReadingWritesAndFindsAgain) {
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

TEST_F(Operaciones, LookupStartsTenSlotsBeforeTheRecordsOwnPosition) {
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

TEST_F(Operaciones, ClockFileLinesEndAtAnyLineEndEvenAcrossReadBlocks) {
  l.estado.LineasLeidas.assign(12, "de otra lectura");
  Escribe(rutaReloj, "a\r\nb\nc\rd\r\n\r\n");
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_EQ(l.estado.LineasLeidas, Lineas({"", "a", "b", "c", "d", "", ""}));

  const std::string x(256 * 1024 - 1, 'x'), y(300000, 'y');  // CR LF split; a line over blocks
  Escribe(rutaReloj, x + "\r\n" + y + "\r\n\xD1\r\n");
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_EQ(l.estado.LineasLeidas, Lineas({"", x, y, "Ñ", ""}));
}

TEST_F(Operaciones, NothingReadNothingWritten) {
  sdk.resultados["ReadGeneralLogData"] = false;  // a log that will not load
  EXPECT_EQ(Lee(), "0,0");
  EXPECT_TRUE(conectado == kVerdadero && std::filesystem::is_empty(l.Marcaciones()));
  EXPECT_THAT(Respuestas(), ElementsAre("7|CO|1|0", "7|LM|0|0"));

  display.relojes = {"7 - Entrada", "70 - Salida", "8 - Patio"};  // "70" shares the prefix
  Conecta(false);
  EXPECT_EQ(Lee(), "0");
  EXPECT_TRUE(conectado == kFalso && sdk.llamadas.empty());
  EXPECT_THAT(display.relojes, ElementsAre("7 - 127.0.0.2 - Desconectado",
                                           "7 - 127.0.0.2 - Desconectado", "8 - Patio"));
  EXPECT_TRUE(std::filesystem::is_empty(l.Marcaciones()));
  // Not connected: nothing is sent.
  EXPECT_EQ(sim.Respuestas().size(), 2u);
  EXPECT_EQ(sim.Pings().size(), 1u);

  // An id that would leave the records folder is refused before anything is contacted.
  for (std::string id : {""s, ".."s, "../x"s, "a/b"s, "a\\b"s, "x.."s, "a\nb"s, "a\0b"s}) {
    SCOPED_TRACE(id);
    display.logs.clear();
    EXPECT_EQ(NumeroDeFalla([&] { Lee(2, id); }), kArgumentoInvalido);
    EXPECT_THAT(
        display.logs,
        ElementsAre(::testing::StartsWith("Id de reloj no valido para el archivo de marcaciones")));
  }
  EXPECT_TRUE(sdk.llamadas.empty() && std::filesystem::is_empty(l.Marcaciones()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(l.carpeta), {}), 1);
}

// The clock's time is read at each reading; more than five minutes off is told, once an hour at
// most, and never set on our own.
TEST_F(Operaciones, ClockTimeOffIsToldAtMostOnceAnHour) {
  reloj.ahora = {2026, 3, 3, 14, 0, 0, 0};
  for (const auto [hora, minuto, avanza] :
       {std::array{14, 5, 0}, {15, 0, 0}, {15, 30, 30}, {16, 1, 30}}) {
    sdk.horaReloj = std::tuple{2026, 3, 3, hora, minuto, 0};
    reloj.Avanza(avanza * 60000);
    Lee();
  }
  Lineas avisos;
  for (const auto& x : display.logs)
    if (x.rfind("Reloj 7: ", 0) == 0) avisos.push_back(x);
  EXPECT_THAT(avisos,
              ElementsAre("Reloj 7: la hora del reloj difiere 60 min de la de este equipo",
                          "Reloj 7: la hora del reloj difiere 61 min de la de este equipo"));
  EXPECT_TRUE(sdk.De("SetDeviceTime2").empty());
}

TEST_F(Operaciones, FailureMidwayNeverLeavesALineInTheClockFileThatTheGeneralFileLacks) {
  Registros(0, 30000);
  sdk.lecturaQueFalla = 20000;  // after more than a batch of new lines has gone out
  EXPECT_THROW(Lee(), Falla);
  const auto reloj = Reloj(), general = General();
  EXPECT_GT(reloj.size(), 0u);
  std::set<std::string> enGeneral(general.begin(), general.end());
  for (const auto& linea : reloj) ASSERT_TRUE(enGeneral.count(linea)) << linea;
  // (How the next reading completes both files: CaidaLecturaTest.)
  std::filesystem::remove_all(l.Marcaciones());  // an unwritable folder fails the reading
  EXPECT_EQ(NumeroDeFalla([&] { Lee(); }), kAccesoArchivo);
}

// Users, templates and deletions: the documents built from what the clock answers, what goes
// to the service, the template download written into the clock.

TEST_F(Operaciones, AllUsersAsJson) {
  sdk.usuarios = {{"15", "ANA", "1", 0, true, ""},
                  {"", "SIN CODIGO", "", 0, true, ""},
                  {"16", "LUIS \"EL\"", "", 3, false, ""}};
  Conecta();
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"),
            R"([{"codigo":"15","nombre":"ANA","estado":"True","permisos":"0"},)"
            R"({"codigo":"16","nombre":"LUIS \"EL\"","estado":"False","permisos":"3"}])");
  EXPECT_EQ(sdk.De("SSR_GetAllUserInfo").size(), 4u);
  EXPECT_EQ(display.De("DoEvents").size(), 1u);
  sdk.usuarios.clear();
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"), "[]");
  sdk.resultados["ReadAllUserID"] = false;
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"), "[]");
  Conecta(false);
  EXPECT_EQ(LeeUsuarios(l, "127.0.0.2", "S1"), "");
}

TEST_F(Operaciones, OneUserWithTheFingerprintSearchInItsOrder) {
  const std::string t21(21, 'T');  // the shortest text that counts as a template
  sdk.usuarios = {{"15", "ANA", "", 0, true, ""}};
  sdk.plantillasEx[{"15", 2}] = t21;
  Conecta();
  EXPECT_EQ(LeeUsuario(l, "127.0.0.2", "15", "S1"),
            R"([{"codigo":"15","nombre":"ANA","estado":"True","permisos":"0","huellas":"1"}])");
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"15\")" + PorDedo("GetUserTmpExStr", "15", 0, 2));
  EXPECT_EQ(display.De("DoEvents").size(), 3u);  // a yield after each template read

  // No extended template: finger 15, then the ten fingers, stopping at the first hit.
  sdk.plantillasEx = {{{"15", 0}, std::string(20, 'T')}};  // too short to count
  sdk.plantillasSsr[{"15", 4}] = t21;
  EXPECT_THAT(LeeUsuario(l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":"1"}])"));
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"15\")" + PorDedo("GetUserTmpExStr", "15", 0, 9) +
                                 PorDedo("SSR_GetUserTmpStr", "15", 15, 15) +
                                 PorDedo("SSR_GetUserTmpStr", "15", 0, 4));
  sdk.plantillasSsr.clear();
  EXPECT_THAT(LeeUsuario(l, "127.0.0.2", "15", "S1"), ::testing::EndsWith(R"("huellas":""}])"));
  sdk.Olvida();
  EXPECT_EQ(LeeUsuario(l, "127.0.0.2", "99", "S1"), "[]");
  EXPECT_EQ(sdk.Recientes(), " SSR_GetUserInfo(1,\"99\")");
}

TEST_F(Operaciones, DeleteUsersWithTheThreeDeletionsAndBackupNumber12) {
  EXPECT_EQ(BorraUsuario(l, "127.0.0.2", "", "S1"), std::nullopt);
  EXPECT_THAT(alcance.consultas, ::testing::IsEmpty());
  Conecta();
  EXPECT_EQ(BorraUsuario(l, "127.0.0.2", "007;12", "S1"), 1);
  EXPECT_EQ(
      sdk.Recientes(),
      " DeleteEnrollData(1,7,1,12) SSR_DeleteEnrollData(1,\"7\",12)"
      " SSR_DeleteEnrollDataExt(1,\"7\",12) DeleteEnrollData(1,12,1,12)"
      " SSR_DeleteEnrollData(1,\"12\",12) SSR_DeleteEnrollDataExt(1,\"12\",12) RefreshData(1)");
  EXPECT_THAT(display.logs, ElementsAre("Borra datos de 127.0.0.2, persona: 007",
                                        "Borra datos de 127.0.0.2, persona: 12"));
  EXPECT_THROW(BorraUsuario(l, "127.0.0.2", "siete", "S1"), Falla);
  Conecta(false);
  EXPECT_EQ(BorraUsuario(l, "127.0.0.2", "7", "S1"), 0);
}

TEST_F(Operaciones, UploadWithFirmware660SendsUserCardFaceAndAllExtendedTemplates) {
  sdk.usuarios = {{"15", "ANA \"LA\" & CIA", "", 2, true, "4000000000"}};
  sdk.caras["15"] = "F+/=" + std::string(20, 'F');
  sdk.plantillasEx[{"15", 3}] = "T3" + std::string(20, '3');
  sdk.plantillasEx[{"15", 7}] = "T7" + std::string(20, '7');
  sdk.plantillasSsr[{"15", 15}] = "no se pide: ya hay plantillas";
  display.AddReloj("15 - Entrada");
  Conecta();
  // 99 is unknown: no reply, nothing found, and as the last user it gives the result.
  EXPECT_FALSE(SubeUsuarios(l, "127.0.0.2", "15;99", "S1", "7"));
  auto lee = [&](const std::string& e) {
    return " SSR_GetUserInfo(1,\"" + e + "\") GetStrCardNumber() GetFirmwareVersion(1)" +
           PorDedo("GetUserFaceStr", e, 50, 50) + PorDedo("GetUserTmpExStr", e, 0, 9);
  };
  EXPECT_EQ(sdk.Recientes(), lee("15") + lee("99") + PorDedo("SSR_GetUserTmpStr", "99", 15, 15) +
                                 PorDedo("SSR_GetUserTmpStr", "99", 0, 9));
  EXPECT_THAT(
      Respuestas(),
      ElementsAre(
          R"(7|LU|[{"codigo":"15","nombre":"ANA \"LA\" & CIA","estado":"True","permisos":"2"}]|15)"));
  EXPECT_THAT(Plantillas(),
              ElementsAre("15|20|4000000000", "15|50|F+/=" + std::string(20, 'F'),
                          "15|3|T3" + std::string(20, '3'), "15|7|T7" + std::string(20, '7')));
  EXPECT_EQ(display.caption, "Leyendo del Reloj 127.0.0.2 a ");
  EXPECT_THAT(display.relojes, ElementsAre("15 - Entrada"));
}

TEST_F(Operaciones, UploadWithOtherFirmwareUsesOnlyThePlainTemplateReads) {
  sdk.firmware = "Ver 6.4.1";
  sdk.usuarios = {{"15", "ANA", "", 0, true, "12"}, {"16", "LUIS", "", 0, true, "12A"}};
  sdk.plantillasSsr[{"15", 15}] = std::string(21, 'T');
  for (auto fila : {"15 - Entrada", "16 - Entrada", "160 - Salida"}) display.AddReloj(fila);
  Conecta();
  // A card that is not a number fails the upload.
  EXPECT_EQ(NumeroDeFalla([&] { SubeUsuarios(l, "127.0.0.2", "15;16", "S1", "7"); }),
            kTipoIncompatible);
  sdk.usuarios[1].tarjeta = "";
  sdk.Olvida();
  EXPECT_FALSE(SubeUsuarios(l, "127.0.0.2", "15;16", "S1", "7"));  // the last user has none
  EXPECT_THAT(Plantillas(), ElementsAre("15|20|12", "15|15|" + std::string(21, 'T')));
  EXPECT_THAT(sdk.Recientes(), ::testing::EndsWith(" GetFirmwareVersion(1)" +
                                                   PorDedo("SSR_GetUserTmpStr", "16", 15, 15) +
                                                   PorDedo("SSR_GetUserTmpStr", "16", 0, 9)));
  EXPECT_THAT(display.relojes,
              ElementsAre("15 - Entrada", "16 - Entrada -Sin Huella", "160 - Salida"));
  Conecta(false);
  EXPECT_FALSE(SubeUsuarios(l, "127.0.0.2", "15", "S1", "7"));
  EXPECT_EQ(sdk.Recientes(), "");
}

// Enrolments written as integers, names cut to 20 characters, then card, face and templates as
// the service stores them.
TEST_F(Operaciones, WriteUsersTakesCardFaceAndTemplatesFromTheService) {
  const std::string cara = "FA/CE" + std::string(30, 'f'), t3 = "TM/P3" + std::string(30, 't');
  // A sign in the enrolment travels encoded, so the service looks up the same text that the
  // template upload stored ("+" would otherwise arrive as a blank).
  sim.AgregaPlantilla({"ana", "+07", "50", cara});
  sim.AgregaPlantilla({"ana", "+07", "20", "123456"});
  sim.AgregaPlantilla({"ana", "+07", "3", t3});
  sdk.resultados["SetUserTmpExStr"] = false;  // falls back to the plain write
  Conecta();
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "+07;8", "JOSÉ ÁLVAREZ DE LA PEÑA;LUIS", "S1"), 1);
  const std::string jose = "SSR_SetUserInfo(1,\"7\",\"JOSÉ ÁLVAREZ DE LA P\",\"\",0,True)";
  EXPECT_THAT(sdk.llamadas, ElementsAre("SetStrCardNumber(\"0\")", jose, "SetStrCardNumber(\"0\")",
                                        "SetUserFaceStr(1,\"+07\",50,\"" + cara + "\",35)",
                                        "SetStrCardNumber(\"123456\")", jose,
                                        "SetUserTmpExStr(1,\"+07\",3,3,\"" + t3 + "\")",
                                        "SSR_SetUserTmpStr(1,\"+07\",3,\"" + t3 + "\")",
                                        // 8 has nothing stored: "null"
                                        "SetStrCardNumber(\"0\")",
                                        "SSR_SetUserInfo(1,\"8\",\"LUIS\",\"\",0,True)",
                                        "SetStrCardNumber(\"0\")", "RefreshData(1)"));
  EXPECT_EQ(sim.PeticionesA("huellas2.down").at(0).cuerpo, "empleadoid=%2B07");
  EXPECT_THAT(display.logs,
              ElementsAre("Enviando datos a Reloj 127.0.0.2 de JOSÉ ÁLVAREZ DE LA PEÑA",
                          "Enviando datos a Reloj 127.0.0.2 de LUIS"));
  EXPECT_THROW(EnviaUsuarios(l, "127.0.0.2", "X1", "ANA", "S1"), Falla);
  Conecta(false);
  EXPECT_EQ(EnviaUsuarios(l, "127.0.0.2", "7", "ANA", "S1"), 0);
  EXPECT_THAT(sdk.llamadas, ::testing::IsEmpty());
}

// Text fields that would add fields or split the line keep it at 12 fields, told once a reading.
TEST_F(Operaciones, CamposQueRompenLaLineaQuedanConInterrogacion) {
  sdk.serial = "S,1";
  sdk.registros = {Marca(1), Marca(2), Marca(3)};
  sdk.registros[0].enrolamiento = "1002,1,0,0,99";
  sdk.registros[1].enrolamiento = "10\r\n03";
  ASSERT_EQ(LeeReloj(l, 4, 2, "7", "127.0.0.2", conectado, "S,1"), "3,3");
  for (const auto& linea : General()) EXPECT_EQ(std::count(linea.begin(), linea.end(), ','), 11);
  EXPECT_EQ(General()[0].substr(0, 30), "7,S?1,2026,3,1,0,1,1002?1?0?0?");
  EXPECT_THAT(display.logs, ElementsAre("Reloj 7: 3 registros con comas o caracteres de control; "
                                        "se guardaron con \"?\" en su lugar"));
}

// Each clock's own key goes to the SDK before it connects; a refused key is told once a cycle.
TEST_F(Operaciones, ClaveDeComunicacionPorSerialYRechazoUnaVezPorCiclo) {
  ASSERT_EQ(GuardaClaveComunicacion(l, "S1", "123456"), "");
  EXPECT_NE(GuardaClaveComunicacion(l, "S1]", "1"), "");
  EXPECT_NE(GuardaClaveComunicacion(l, "S2", "1234567"), "");
  EXPECT_EQ(LeeArchivo(l.ArchivoIni()).find("123456"), std::string::npos);  // scrambled
  Conecta();
  l.estado.ConnectionRegistry.clear();
  EXPECT_TRUE(ConectaReloj(l, "127.0.0.2", "S1"));
  EXPECT_EQ(sdk.De("SetCommPassword"), Lineas{"SetCommPassword(123456)"});
  sdk.conectable = false;
  sdk.ultimoError = kClaveRechazada;
  const std::string rechazo = "Reloj S1: clave de comunicación rechazada";
  for (int ciclo = 0; ciclo < 2; ++ciclo) {
    l.estado.ClavesRechazadas.clear();
    l.estado.ConnectionRegistry.clear();
    display.logs.clear();
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(ConectaReloj(l, "127.0.0.2", "S1"));
    EXPECT_EQ(std::count(display.logs.begin(), display.logs.end(), rechazo), 1);
  }
}

}  // namespace
}  // namespace lector::test
