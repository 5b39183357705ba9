// The task queue against service-sim: every task code carried out through the recording SDK
// and answered, the closing lines, the failure path and the bounds on a misbehaving service.
#include <gmock/gmock.h>

#include "ConCiclo.h"
#include "server/CargaComm.h"

namespace lector::test {
namespace {

using server::CargaComm;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class ColaDeTareas : public ConCiclo {
 protected:
  ColaDeTareas() {
    Reloj("7", "Entrada", "127.0.0.2");
    sdk.usuarios = {{"1", "Ana", "", 0, true, "555"}, {"2", "Luis", "", 0, true, ""}};
    for (int i = 0; i < 3; ++i) sdk.registros.push_back({"1", 1, 0, 2026, 3, 3, 8, i});
  }
  int16_t Carga() { return CargaComm(l, 0); }
};

// What each code does to a clock and answers: tests/e2e. Here the answers of failing tasks, of an
// unknown code, and the lines that close each task.
TEST_F(ColaDeTareas, EveryTaskIsAnsweredAndClosedWithItsLine) {
  const char* ok = "Tarea realizada correctamente.";
  const char* mal = "Fallo en la realización de la tarea.";
  const struct {
    const char *codigo, *sujeto, *respuesta, *cierre;
  } casos[] = {
      {"CO", "", "1", ok},     {"UP", "2", "False", mal},  // no template for user 2
      {"SA", "1", "True", ok}, {"RA", "", "False", mal},
      {"XX", "", "0", ok},     {"LM", "", "3", ok},  // leaves the month files "BA" deletes
      {"BA", "", "1", ok},
  };
  sdk.resultados["ClearAdministrators"] = false;
  for (const auto& c : casos) sim.EncolaTarea("7", c.codigo, c.sujeto);
  Ingresa();
  Carga();
  std::vector<std::string> cerradas, cierres, lineas;
  for (const auto& c : casos) {
    cerradas.push_back(std::string(c.codigo) + "=" + c.respuesta);
    cierres.push_back(c.cierre);
  }
  EXPECT_THAT(Cerradas("7"), ElementsAreArray(cerradas));
  for (const auto& x : display.logs)
    if (x == ok || x == mal) lineas.push_back(x);
  EXPECT_THAT(lineas, ElementsAreArray(cierres));
  EXPECT_EQ(Lineas("Tarea recibida del servidor: ").front(),
            "Tarea recibida del servidor: " + sim.Tareas("7")[0].id + "|CO|");
  // "BA" left no month file behind; disconnected once the queue was empty.
  EXPECT_TRUE(std::filesystem::is_empty(l.Marcaciones()) && !sdk.conectado);
}

TEST_F(ColaDeTareas, ReadingTaskShowsReadAndNewAndUploadsAtOnce) {
  Ingresa();
  const auto nuevos = sdk.registros;
  sdk.registros.clear();
  for (int i = 0; i < 250; ++i) sdk.registros.push_back({"2", 1, 0, 2026, 3, 3, 9, i % 60, i});
  sim.EncolaTarea("7", "LM");
  Carga();
  sdk.registros.insert(sdk.registros.end(), nuevos.begin(), nuevos.end());
  sim.EncolaTarea("7", "LM");
  Carga();
  EXPECT_THAT(Lineas("Reloj Entrada"), ElementsAre("Reloj Entrada leido: 250, nuevos: 250",
                                                   "Reloj Entrada leido: 253, nuevos: 3"));
  EXPECT_THAT(Cerradas("7"), ElementsAre("LM=250", "LM=253"));
  EXPECT_EQ(sim.Subidas().size(), 2u);

  alcance.tabla.clear();  // unreachable: answer 0, the line ends with "!", the upload still runs
  sim.EncolaTarea("7", "LM");
  Carga();
  EXPECT_EQ(Lineas("Reloj Entrada").back(), "Reloj Entrada desconectado!");
  EXPECT_TRUE(sim.Tareas("7").back().respuesta == "0" && sim.Subidas().size() == 3u);
}

TEST_F(ColaDeTareas, ClearingTheLogOnlyAfterAWholeReading) {
  const struct {
    const char* nombre;
    bool vacio, carga, alcanzable;
    const char* respuesta;
    size_t borrados;
  } casos[] = {
      {"leido", false, true, true, "1", 1},
      {"registro vacio", true, true, true, "1", 1},
      {"no carga", false, false, true, "0", 0},
      {"inalcanzable", false, true, false, "0", 0},
  };
  Ingresa();
  for (const auto& c : casos) {
    SCOPED_TRACE(c.nombre);
    sdk.llamadas.clear();
    if (c.vacio) sdk.registros.clear();
    if (!c.carga) sdk.resultados["ReadGeneralLogData"] = false;
    if (!c.alcanzable) alcance.tabla.clear();
    sim.EncolaTarea("7", "BM");
    Carga();
    EXPECT_EQ(sim.Tareas("7").back().respuesta, c.respuesta);
    EXPECT_EQ(sdk.De("ClearGLog").size(), c.borrados);
  }
}

TEST_F(ColaDeTareas, FourthFailureOfATaskAnswersZeroAndGoesOn) {
  Ingresa();
  sim.EncolaTarea("7", "BA");  // the records folder is empty: nothing to delete fails
  sim.EncolaTarea("7", "TT");
  Carga();
  EXPECT_EQ(Lineas("Tarea recibida").size(), 5u);  // the failing task four times, then "TT"
  EXPECT_THAT(Lineas("Error procudido por "),
              ElementsAre(::testing::EndsWith(" (" + std::to_string(kArchivoNoEncontrado) + ")")));
  EXPECT_THAT(Cerradas("7"), ElementsAre("BA=0", "TT=1"));
}

TEST_F(ColaDeTareas, DrainsALongQueueButNotAServiceThatRepeatsItself) {
  Ingresa();
  for (int i = 0; i < 200; ++i) sim.EncolaTarea("7", "TT");
  Carga();
  EXPECT_EQ(Lineas("Tarea realizada correctamente.").size(), 200u);

  sim.Programa("comm.read.has", {"1", 200, 0, -1});
  sim.Programa("comm.read.one", {"5|TT|", 200, 0, -1});
  display.logs.clear();
  Carga();
  EXPECT_EQ(Lineas("Tarea recibida").size(), 5u);
  EXPECT_THAT(display.logs.back(), ::testing::HasSubstr("repite la misma tarea"));
}

}  // namespace
}  // namespace lector::test
