// The processing cycle and the task queue of a visit against service-sim, through the recording
// SDK; then faults from the service, the disk and a clock, over two clock-sim clocks.
#include <gmock/gmock.h>
#include <sys/resource.h>

#include <csignal>

#include <fstream>
#include <set>

#include "app/CargaComm.h"
#include "app/Ciclo.h"
#include "clock-sim/Emulador.h"
#include "clock/Conexion.h"
#include "clock/Marcaciones.h"
#include "clock/zk/ZkSdk.h"
#include "kit/RecordingSdk.h"
#include "server/ConServicio.h"
#include "server/Execute.h"
#include "server/Servicio.h"
#include "support/CodePage.h"
#include "support/Texto.h"

namespace lector::test {
namespace {

using app::CargaComm;
using app::TProcess_Timer;
using clocksim::TipoFalla;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;
namespace zk = clock::zk;

// Unless a test lists clocks of its own, the account holds Entrada (id 7), whose device holds two
// people and three records.
class Ciclo : public ConServicio {
 protected:
  explicit Ciclo(bool conEntrada = true) : ConServicio(false) {
    l.sdk = &sdk;
    l.alcance = &alcance;
    l.proceso = &proceso;
    fs::create_directory(l.Marcaciones());
    if (!conEntrada) return;
    Reloj("7", "Entrada", "127.0.0.2");
    sdk.usuarios = {{"1", "Ana", "", 0, true, "555"}, {"2", "Luis", "", 0, true, ""}};
    for (int i = 0; i < 3; ++i) sdk.registros.push_back({"1", 1, 0, 2026, 3, 3, 8, i});
  }
  // A clock of the account; reachable clocks answer the echo.
  void Reloj(const std::string& id, const std::string& nombre, const std::string& ip,
             bool alcanzable = true, const std::string& serial = "SERIAL1") {
    sim.AgregaReloj("ana", servicesim::NuevoReloj(id, serial, id, nombre, "2", ip, "1", "5"));
    if (alcanzable) alcance.tabla[ip] = 0;
  }
  void Ingresa() {
    ASSERT_TRUE(server::Reingresa(l));
    ASSERT_TRUE(server::Procesar(l));
  }
  std::vector<std::string> Cerradas(const std::string& relojId) const {
    std::vector<std::string> r;
    for (const auto& t : sim.Tareas(relojId)) r.push_back(t.codigo + "=" + t.respuesta);
    return r;
  }
  std::vector<std::string> Lineas(const std::string& parte) const {
    std::vector<std::string> r;
    for (const auto& x : display.logs)
      if (x.find(parte) != std::string::npos) r.push_back(x);
    return r;
  }

  TablaAlcance alcance;
  RecordingSdk sdk;
  TemporizadorGrabador proceso;
};
using ColaDeTareas = Ciclo;

TEST_F(Ciclo, ShowsEveryClockAndTheLampOfEachVisit) {
  Reloj("3", "B", "127.0.6.3", false);
  Reloj("4", "C", "127.0.6.4");
  TProcess_Timer(l);
  EXPECT_THAT(display.relojes,
              ElementsAre("Entrada - 127.0.0.2", "B - 127.0.6.3", "C - 127.0.6.4"));
  // Red from B's visit until C is connected.
  std::vector<int64_t> lamparas;
  for (const auto& x : display.De("SetLamp"))
    if (lamparas.empty() || lamparas.back() != x.valor) lamparas.push_back(x.valor);
  EXPECT_THAT(lamparas,
              ElementsAre(kLampRojo, kLampVerde, kLampGris, kLampRojo, kLampVerde, kLampGris));
  EXPECT_THAT(proceso.llamadas,
              ElementsAre("SetInterval(60000)", "SetEnabled(False)", "SetEnabled(True)"));
}

TEST_F(Ciclo, ReadsOnAMultipleOfTheIntervalOrWhenItHasBeenLongEnough) {
  const struct {
    int hora, minuto, segundo;
    float desdeUltima;  // seconds before now of the last reading (negative: the day before)
    int intervalo;
    bool lee;
  } casos[] = {
      {10, 9, 31, 60, 10, true},     // 609.52 minutes round to 610
      {10, 4, 0, 60, 10, false},     //
      {10, 4, 0, 601, 10, true},     // more than 10 minutes since the last reading
      {10, 4, 0, 600, 10, false},    //
      {10, 8, 30, 60, 2, true},      // 608.5 rounds to the even 608
      {0, 3, 0, -60, 10, false},     // after midnight the last reading lies ahead
      {0, 10, 0, -60, 10, true},     // but a multiple of the interval still reads
      {10, 10, 0, 60, 0, true},      // interval 0 is 10
      {10, 4, 0, 60, 0, false},      //
      {10, 4, 0, 32761, 600, true},  // an interval above 546 counts as 546
  };
  Ingresa();
  reloj.detenido = true;
  for (const auto& c : casos) {
    SCOPED_TRACE(testing::Message() << c.hora << ":" << c.minuto << ":" << c.segundo);
    sim.Programa("lector.relojes", {"1|SERIAL1|7|Entrada|2|127.0.0.2|||||||1|" +
                                    std::to_string(c.intervalo) + "<br>"});
    reloj.ahora = {2026, 3, 3, c.hora, c.minuto, c.segundo, 0};
    const float t = reloj.SegundosDesdeMedianoche();
    l.estado.UltimaLectura = c.desdeUltima < 0 ? 86400 + c.desdeUltima : t - c.desdeUltima;
    const size_t antes = sdk.De("ReadGeneralLogData").size();
    TProcess_Timer(l);
    EXPECT_EQ(sdk.De("ReadGeneralLogData").size() - antes, c.lee ? 1u : 0u);
  }
}

TEST_F(Ciclo, RepeatsAFailedStepThreeTimesAndGivesUpAtTheFourth) {
  const struct {
    std::deque<int> fallas;
    bool modoLog, termina, sesion;
  } casos[] = {
      {{13, 13, 13}, false, false, true},    {{13, 13, 13, 13}, false, true, false},
      {{13, 13, 13, 13}, true, true, false}, {{kTransitoria, kTransitoria}, false, false, true},
      {{kFueraDeRango}, false, true, true},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(testing::PrintToString(c.fallas));
    if (!l.estado.SesionAbierta) Ingresa();  // the failures are meant for the cycle's own steps
    reloj.dormidas.clear();
    l.estado.ModoLog = c.modoLog;
    l.estado.UltimaLectura = 0;
    display.logs.clear();
    display.fallas = c.fallas;
    const size_t subidas = sim.Subidas().size();
    TProcess_Timer(l);
    EXPECT_EQ(sim.Subidas().size() - subidas, c.termina ? 0u : 1u);
    EXPECT_EQ(l.estado.SesionAbierta, c.sesion);
    const bool aviso = c.termina && c.fallas.front() != kFueraDeRango;
    EXPECT_EQ(Lineas("Error en proceso, retomando acciones en un minuto.").size(), aviso ? 1u : 0u);
    EXPECT_EQ(Lineas("Falla de prueba (13)").size(), c.modoLog ? 1u : 0u);
    EXPECT_TRUE(proceso.activado);
    EXPECT_EQ(display.caption, kTituloVentana);
    // A transient failure is tried again at once after a short pause.
    EXPECT_EQ(std::count(reloj.dormidas.begin(), reloj.dormidas.end(), 100),
              c.fallas.front() == kTransitoria ? 2 : 0);
  }
  EXPECT_THAT(Cp1252AUtf8(LeeArchivo(l.ArchivoLog())), HasSubstr("Falla de prueba (13)\r\n"));
}

TEST_F(Ciclo, CargarDuringACycleRunsOneMoreThatReads) {
  reloj.ahora = {2026, 3, 3, 14, 6, 0, 0};  // not a multiple of the interval
  l.estado.UltimaLectura = reloj.SegundosDesdeMedianoche();
  bool pulsado = false;
  display.alCeder = [&] {
    TProcess_Timer(l);                                          // a timer tick meanwhile is dropped
    if (!pulsado && !Lineas("Conectando con reloj").empty()) {  // after the read decision
      pulsado = true;
      app::CR_Click(l);
    }
  };
  TProcess_Timer(l);
  EXPECT_EQ(Lineas("Leyendo relojes").size(), 2u);
  EXPECT_EQ(sdk.De("ReadGeneralLogData").size(), 1u);  // only the cycle "Cargar" asked for
  EXPECT_FALSE(l.estado.CicloEnCurso);
}

// What each code does and answers: tests/e2e. Here failing tasks, an unknown code, closing lines.
TEST_F(ColaDeTareas, EveryTaskIsAnsweredAndClosedWithItsLineAndTheFourthFailureAnswersZero) {
  const char* ok = "Tarea realizada correctamente.";
  const char* mal = "Fallo en la realización de la tarea.";
  const struct {
    const char *codigo, *sujeto, *respuesta, *cierre;
  } casos[] = {
      {"BA", "", "0", mal},  // no month file to delete yet: fails four times
      {"CO", "", "1", ok},     {"UP", "2", "False", mal},  // no template for user 2
      {"SA", "1", "True", ok}, {"RA", "", "False", mal},
      {"XX", "", "0", ok},     {"LM", "", "3", ok},  // leaves the month files "BA" deletes
      {"BA", "", "1", ok},
  };
  sdk.resultados["ClearAdministrators"] = false;
  std::vector<std::string> cerradas, cierres, lineas;
  for (const auto& c : casos) {
    sim.EncolaTarea("7", c.codigo, c.sujeto);
    cerradas.push_back(std::string(c.codigo) + "=" + c.respuesta);
    cierres.push_back(c.cierre);
  }
  Ingresa();
  CargaComm(l, 0);
  EXPECT_EQ(Cerradas("7"), cerradas);
  for (const auto& x : display.logs)
    if (x == ok || x == mal) lineas.push_back(x);
  EXPECT_EQ(lineas, cierres);
  const auto recibidas = Lineas("Tarea recibida del servidor: ");
  EXPECT_EQ(recibidas.size(), std::size(casos) + 3);
  EXPECT_EQ(recibidas.back(), "Tarea recibida del servidor: " + sim.Tareas("7").back().id + "|BA|");
  EXPECT_THAT(Lineas("Error procudido por "),
              ElementsAre(::testing::EndsWith(" (" + std::to_string(kArchivoNoEncontrado) + ")")));
  // "BA" left no month file behind; disconnected once the queue was empty.
  EXPECT_TRUE(fs::is_empty(l.Marcaciones()) && !sdk.conectado);
}

TEST_F(ColaDeTareas, ReadingTaskShowsReadAndNewAndUploadsAtOnce) {
  Ingresa();
  sim.EncolaTarea("7", "LM");
  CargaComm(l, 0);
  for (int i = 0; i < 250; ++i) sdk.registros.push_back({"2", 1, 0, 2026, 3, 3, 9, i % 60, i});
  sim.EncolaTarea("7", "LM");
  CargaComm(l, 0);
  alcance.tabla.clear();  // unreachable: answer 0, the line ends with "!", the upload still runs
  sim.EncolaTarea("7", "LM");
  CargaComm(l, 0);
  EXPECT_THAT(Lineas("Reloj Entrada"),
              ElementsAre("Reloj Entrada leido: 3, nuevos: 3",
                          "Reloj Entrada leido: 253, nuevos: 250", "Reloj Entrada desconectado!"));
  EXPECT_THAT(Cerradas("7"), ElementsAre("LM=3", "LM=253", "LM=0"));
  EXPECT_EQ(sim.Subidas().size(), 3u);
}

TEST_F(ColaDeTareas, ClearingTheLogOnlyAfterAWholeReading) {
  const auto bm = [&](const char* caso, bool borra) {
    SCOPED_TRACE(caso);
    sdk.llamadas.clear();
    sim.EncolaTarea("7", "BM");
    CargaComm(l, 0);
    EXPECT_EQ(sim.Tareas("7").back().respuesta, borra ? "1" : "0");
    EXPECT_EQ(sdk.De("ClearGLog").size(), borra ? 1u : 0u);
  };
  Ingresa();
  sdk.registros.clear();
  bm("registro vacio", true);
  sdk.resultados["ReadGeneralLogData"] = false;
  bm("no carga", false);
  alcance.tabla.clear();
  bm("inalcanzable", false);
}

// Success goes to the service only for what the device did and only once the service has it.
TEST_F(ColaDeTareas, ABrokenConnectionAnUndeliveredReplyOrAFetchThatIsNoTaskIsNeverDone) {
  Ingresa();
  sdk.caeEn = "Beep";  // the device drops the connection at every beep
  sim.EncolaTarea("7", "TT");
  CargaComm(l, 0);
  sdk.caeEn = "ReadAllUserID";
  sim.EncolaTarea("7", "LP");
  CargaComm(l, 0);
  EXPECT_THAT(Cerradas("7"), ElementsAre("TT=0", "LP=0"));
  EXPECT_EQ(sdk.De("Connect_Net").size(), 8u);  // every try on a new, checked connection

  sdk.caeEn.clear();
  sim.Programa("comm.read.reply", {"error", 200, 0, 1});
  sim.EncolaTarea("7", "TT");
  CargaComm(l, 0);
  EXPECT_EQ(sdk.De("Beep").size(), 5u);  // once, not again in the same visit
  EXPECT_FALSE(sim.Tareas("7").back().respondida);
  EXPECT_THAT(display.logs.back(), HasSubstr("no recibió la respuesta de la tarea TT"));

  sim.Programa("comm.read.one", {"error de base de datos", 200, 0, 1});
  display.logs.clear();
  CargaComm(l, 0);
  EXPECT_TRUE(Lineas("Tarea recibida").empty());
  EXPECT_THAT(display.logs.back(), HasSubstr("no entregó una tarea"));
  CargaComm(l, 0);  // the task itself, handed out again
  EXPECT_TRUE(sim.Tareas("7").back().respondida);
}

// An upload skipped for want of a session is made by the next cycle, which reads again.
TEST_F(Ciclo, AnUploadNotMadeIsMadeByTheNextCycle) {
  Ingresa();
  TProcess_Timer(l);
  l.estado.SesionAbierta = false;
  server::Execute(l, "syncdb");
  EXPECT_EQ(l.estado.UltimaLectura, 0);
}

TEST_F(ColaDeTareas, AMinuteOfTasksPerVisitAndNotAServiceThatRepeatsItself) {
  Ingresa();
  for (int i = 0; i < 200; ++i) sim.EncolaTarea("7", "TT");
  CargaComm(l, 0);
  const size_t hechas = Lineas("Tarea realizada correctamente.").size();
  EXPECT_TRUE(hechas > 5 && hechas < 40) << hechas;
  EXPECT_THAT(display.logs.back(), HasSubstr("las tareas pendientes quedan para el próximo ciclo"));
  CargaComm(l, 0);  // the next visit goes on where this one stopped
  EXPECT_EQ(Lineas("Tarea realizada correctamente.").size(), 2 * hechas);

  sim.Programa("comm.read.has", {"1", 200, 0, -1});
  sim.Programa("comm.read.one", {"5|TT|", 200, 0, -1});
  display.logs.clear();
  CargaComm(l, 0);
  EXPECT_EQ(Lineas("Tarea recibida").size(), 5u);
  EXPECT_THAT(display.logs.back(), HasSubstr("repite la misma tarea"));
}

// Clock n's line in the clock list (2 is A, 3 is B), with the fields a case spoils.
std::string Entrada(int n, const std::string& etiqueta = "2", std::string numero = "",
                    std::string id = "") {
  const std::string propio = std::to_string(n);
  return (numero.empty() ? propio : numero) + "|S" + propio + "|" + (id.empty() ? propio : id) +
         "|" + (n == 2 ? "A" : "B") + "|" + etiqueta + "|" + DireccionPropia(n) + "|||||||1|5<br>";
}

fs::path General(Lector& l) {
  return clock::GeneralMonthFile(l, l.reloj.Ahora());
}

using Accion = std::function<void(servicesim::ServiceSim&, Lector&, clocksim::Emulador&)>;
struct Escenario {
  const char* nombre;
  Accion falla;
  const char* visto;  // in the activity list, the clock list or the answers ("2 CO=0\n")
  bool visitaB;       // the clock listed after the one at fault is read in the same cycle
};

Accion Lista(servicesim::Guion g) {
  return [=](auto& s, auto&, auto&) { s.Programa("lector.relojes", g); };
}
Accion EnA(clocksim::Falla f) {
  return [=](auto&, auto&, clocksim::Emulador& a) { a.AgregaFalla(f); };
}
// The disk faults go: whatever stands where the records folder or the month file should be.
void Arregla(Lector& l) {
  rlimit r{};
  getrlimit(RLIMIT_FSIZE, &r);
  r.rlim_cur = r.rlim_max;
  setrlimit(RLIMIT_FSIZE, &r);
  if (!fs::is_directory(l.Marcaciones())) {
    fs::remove(l.Marcaciones());
    fs::create_directory(l.Marcaciones());
  }
  if (!fs::is_regular_file(General(l))) fs::remove(General(l));
}
const char* const kOmitido = "; se omite en este ciclo.";

const Escenario kEscenarios[] = {
    {"PaginaDeErrorEnLaLista", Lista(servicesim::Guion::PaginaError(10)),
     "No se ha encontrado información de los relojes,\nrevise su conexión a internet o ingrese a "
     "\n127.0.0.1 para configurar los relojes.\n-- 03/03/26 02:05 PM\n",
     false},
    {"PaginaDeErrorEnLaColaYEnLaSubida",
     [](auto& s, auto&, auto&) {
       s.Programa("comm.read.has", servicesim::Guion::PaginaError(5));
       s.Programa("subeback", servicesim::Guion::PaginaError(1));
     },
     "Internal Server Error", true},
    {"ListaCortada", Lista({Entrada(2) + Entrada(3).substr(0, 12)}), "Leyendo relojes: 1", false},
    {"CuerpoDe10MB", Lista({Entrada(2) + Entrada(3) + std::string(10 << 20, 'x')}),
     "Leyendo relojes: 2", true},
    {"EtiquetaQueNoEsNumero", Lista({Entrada(2, "dos") + Entrada(3)}), kOmitido, true},
    {"NumeroQueNoEsNumero", Lista({Entrada(2, "2", "uno") + Entrada(3)}), kOmitido, true},
    {"IdQueSaleDeLaCarpeta",
     [](auto& s, Lector& l, auto&) {
       // With this folder in place the file name would land in the program folder itself.
       fs::create_directory(l.Marcaciones() / (Formatea(l.reloj.Ahora(), "yyMM") + " .."));
       s.Programa("lector.relojes",
                  {Entrada(2, "2", "", "../../../fuera") + Entrada(3), 200, 0, 2});
     },
     "Id de reloj no valido para el archivo de marcaciones", true},
    {"TareaConSujetoDe100000Caracteres",
     [](auto& s, auto&, auto&) { s.EncolaTarea("2", "BP", std::string(100000, '7')); },
     "Tarea recibida del servidor: ", true},
    {"IngresoQueNoContesta",
     [](auto& s, Lector& l, auto&) {
       l.limiteHttpMs = 1000;
       l.estado.SesionAbierta = false;
       s.ExpiraSesiones();
       s.Programa("login", {std::nullopt, 200, 4000});
     },
     "No se ha logrado ingresar al servidor,\nVerifica tu usuario y contraseña.\n-- 03/03/26 02:05 "
     "PM\n",
     false},
    // A file where the records folder should be (root writes even into a read-only folder).
    {"CarpetaQueNoSePuedeEscribir",
     [](auto&, Lector& l, auto&) {
       fs::remove(l.Marcaciones());
       std::ofstream(l.Marcaciones()) << "x";
     },
     "No se puede abrir", false},
    {"ArchivoDelMesEsUnaCarpeta", [](auto&, Lector& l, auto&) { fs::create_directory(General(l)); },
     "No se puede", false},
    // A full disk: no file of the process grows past one byte until Arregla.
    {"DiscoLleno",
     [](auto&, Lector&, auto&) {
       std::signal(SIGXFSZ, SIG_IGN);
       rlimit r{};
       getrlimit(RLIMIT_FSIZE, &r);
       r.rlim_cur = 1;
       setrlimit(RLIMIT_FSIZE, &r);
     },
     "No se puede escribir", false},
    // A link where the month file goes is not followed.
    {"EnlaceEnElMes", [](auto&, Lector& l, auto&) { fs::create_symlink("/dev/full", General(l)); },
     "No se puede abrir", false},
    // A connection made whose reading fails, and a clock that cannot be connected.
    {"RelojCortaAMitad", EnA({TipoFalla::kCorta, 0, 6000}), "Reloj A desconectado.", true},
    {"RelojBasura", EnA({TipoFalla::kBasura, zk::CMD_DATA_WRRQ, 64}), "Reloj A desconectado.",
     true},
    {"RelojRechaza", EnA({TipoFalla::kRechaza, zk::CMD_DATA_WRRQ}), "Reloj A desconectado.", true},
    {"RelojLento", EnA({TipoFalla::kRetrasa, 0, 2500}), "2 CO=0", true},
    {"RelojMudo", EnA({TipoFalla::kMudo, 0}), "2 CO=0", true},
};

class Fallas : public Ciclo, public ::testing::WithParamInterface<Escenario> {
 protected:
  // A and B with 400 records each, every one different.
  Fallas() : Ciclo(false) {
    for (int n : {2, 3}) {
      clocksim::EstadoReloj e;
      e.serie = "S" + std::to_string(n);
      for (int i = 0; i < 400; ++i)
        e.Marca(std::to_string(10 + i % 40), 0, 1,
                clocksim::SegundosCiviles({2026, 3, 3, 8, 0, 0}) + 60LL * i + n);
      Reloj(std::to_string(n), n == 2 ? "A" : "B", DireccionPropia(n), true, e.serie);
      clocksim::Opciones o;
      o.direccion = DireccionPropia(n);
      relojes.push_back(std::make_unique<clocksim::Emulador>(std::move(e), o));
      relojes.back()->Inicia();
    }
    l.sdk = &zkSdk;
  }
  zk::ZkSdk zkSdk{std::chrono::milliseconds(1000)};
  std::vector<std::unique_ptr<clocksim::Emulador>> relojes;
};

TEST_P(Fallas, SeVeUnaLineaElCicloSigueYNoSePierdeNingunaMarcacion) {
  const Escenario& c = GetParam();
  c.falla(sim, l, *relojes[0]);
  TProcess_Timer(l);
  std::string visto;
  for (const auto& x : display.logs) visto += x + "\n";
  for (const auto& x : display.relojes) visto += x + "\n";
  for (const auto& x : sim.Respuestas())
    visto += x.relojId + " " + x.tarea + "=" + x.respuesta + "\n";
  EXPECT_THAT(visto, HasSubstr(c.visto));
  const std::vector<std::string> b{"Conectando con reloj: B", "Reloj B leido: 400, nuevos: 400"};
  EXPECT_EQ(Lineas(" B"), c.visitaB ? b : std::vector<std::string>{}) << visto;
  EXPECT_TRUE(proceso.activado);

  Arregla(l);
  relojes[0]->QuitaFallas();
  // A's emulator lets go of the faulted connection, unless the reader still holds it.
  ASSERT_TRUE(EsperaHasta([&] {
    return !relojes[0]->ConClienteTcp() || EstaEnLista(l.estado.ConnectionRegistry, "S2");
  }));
  sim.OlvidaGuiones();
  display.logs.clear();
  l.estado.UltimaLectura = 0;
  TProcess_Timer(l);
  EXPECT_THAT(Lineas("Conectando con reloj: "),
              ElementsAre("Conectando con reloj: A", "Conectando con reloj: B"));
  const auto lineas = LineasDe(General(l));
  EXPECT_EQ(lineas.size(), 800u);
  EXPECT_EQ(std::set<std::string>(lineas.begin(), lineas.end()).size(), 800u);
  ASSERT_FALSE(sim.Subidas().empty());
  EXPECT_EQ(sim.Subidas().back().contenido, LeeArchivo(General(l)));
  for (const auto& t : sim.Tareas("2")) EXPECT_TRUE(t.respondida);
  for (const auto& e : fs::recursive_directory_iterator(carpeta.ruta()))
    EXPECT_EQ(*e.path().lexically_relative(carpeta.ruta()).begin(), "Marcaciones") << e.path();
  EXPECT_FALSE(fs::exists(carpeta.ruta().parent_path() / "fuera.txt"));
}

// "BM" on a clock where someone punches as soon as it is enabled again: every punch is either in
// the month file or still in the clock, and the clock is left enabled.
TEST_F(Fallas, ClearingTheLogNeverErasesAPunchNotRead) {
  relojes[0]->AgregaFalla({TipoFalla::kMarca, zk::CMD_ENABLEDEVICE, 0, 1});
  ASSERT_TRUE(server::Reingresa(l) && server::Procesar(l));
  sim.EncolaTarea("2", "BM");
  CargaComm(l, 0);
  const auto estado = relojes[0]->Copia();
  EXPECT_EQ(LineasDe(General(l)).size() + estado.marcaciones.size(), 401u);
  EXPECT_TRUE(estado.habilitado);
  EXPECT_EQ(sim.Tareas("2").back().respuesta, "1");
  // A clock locked by a reader that went away unlocks itself at the time limit.
  ASSERT_TRUE(clock::ConectaReloj(l, DireccionPropia(2), "S2"));
  ASSERT_TRUE(zkSdk.DisableDeviceWithTimeOut(1, 1) && !relojes[0]->Copia().habilitado);
  EXPECT_TRUE(EsperaHasta([&] { return relojes[0]->Copia().habilitado; }));
}

INSTANTIATE_TEST_SUITE_P(Servicio, Fallas, ::testing::ValuesIn(kEscenarios),
                         [](const auto& i) { return std::string(i.param.nombre); });

}  // namespace
}  // namespace lector::test
