// Faults from the service and the disk during a cycle: each one shows the user a line, the cycle
// goes on to the next clock (where it may) and to the next cycle, and once the fault is gone the
// next cycle leaves every record in the general month file and in the file the service got.
#include <unistd.h>

#include <gmock/gmock.h>

#include <fstream>
#include <set>

#include "ConCiclo.h"
#include "app/Ciclo.h"
#include "clock/Marcaciones.h"

namespace lector::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::string Entrada(const std::string& numero, const std::string& id, const std::string& nombre,
                    const std::string& etiqueta) {
  return numero + "|SERIAL1|" + id + "|" + nombre + "|" + etiqueta + "|127.0.0." + id +
         "|||||||1|5<br>";
}
const std::string kA = Entrada("1", "2", "A", "2"), kB = Entrada("2", "3", "B", "2");

fs::path General(Lector& l) {
  return clock::GeneralMonthFile(l, l.reloj.Ahora());
}

using Accion = std::function<void(servicesim::ServiceSim&, Lector&)>;
struct Escenario {
  const char* nombre;
  Accion falla;
  const char* visto;  // in the activity list or the clock list, lines ending in "\n"
  bool visitaB;       // the clock listed after the one at fault is visited in the same cycle
  std::function<void(Lector&)> arreglo = nullptr;
};

// The service answers the clock list from the script.
Accion Lista(servicesim::Guion g) {
  return [=](servicesim::ServiceSim& s, Lector&) { s.Programa("lector.relojes", g); };
}
void QuitaGeneral(Lector& l) {
  fs::remove(General(l));
}
const char* const kError = "Error en proceso, retomando acciones en un minuto.";

const Escenario kEscenarios[] = {
    {"PaginaDeErrorEnLaLista", Lista(servicesim::Guion::PaginaError(10)),
     "No se ha encontrado información de los relojes,\nrevise su conexión a internet o ingrese a "
     "\n127.0.0.1 para configurar los relojes.\n-- 03/03/26 02:05 PM\n",
     false},
    {"PaginaDeErrorEnLaColaYEnLaSubida",
     [](servicesim::ServiceSim& s, Lector&) {
       s.Programa("comm.read.has", servicesim::Guion::PaginaError(5));
       s.Programa("subeback", servicesim::Guion::PaginaError(1));
     },
     "Internal Server Error", true},
    {"ListaCortada", Lista({kA + kB.substr(0, 12)}), "Leyendo relojes: 1", false},
    {"CuerpoDe10MB", Lista({kA + kB + std::string(10 << 20, 'x')}), "Leyendo relojes: 2", true},
    {"EtiquetaQueNoEsNumero", Lista({Entrada("1", "2", "A", "dos") + kB}), kError, true},
    {"NumeroQueNoEsNumero", Lista({Entrada("uno", "2", "A", "2") + kB}), kError, true},
    {"IdQueSaleDeLaCarpeta",
     [](servicesim::ServiceSim& s, Lector& l) {
       // With this folder in place the file name would land in the program folder itself.
       fs::create_directory(l.Marcaciones() / (Formatea(l.reloj.Ahora(), "yyMM") + " .."));
       s.Programa("lector.relojes", {Entrada("1", "../../../fuera", "A", "2") + kB, 200, 0, 2});
     },
     "Id de reloj no valido para el archivo de marcaciones", true},
    {"TareaConSujetoDe100000Caracteres",
     [](servicesim::ServiceSim& s, Lector&) { s.EncolaTarea("2", "BP", std::string(100000, '7')); },
     "Tarea recibida del servidor: ", true},
    {"IngresoQueNoContesta",
     [](servicesim::ServiceSim& s, Lector& l) {
       l.limiteHttpMs = 1000;
       l.estado.SesionAbierta = false;
       s.ExpiraSesiones();
       s.Programa("login", {std::nullopt, 200, 4000});
     },
     "No se ha logrado ingresar al servidor,\nVerifica tu usuario y contraseña.\n-- 03/03/26 02:05 "
     "PM\n",
     false},
    // root writes into a read-only folder: there a file takes the folder's place instead.
    {"CarpetaDeSoloLectura",
     [](servicesim::ServiceSim&, Lector& l) {
       if (geteuid() != 0)
         return fs::permissions(l.Marcaciones(), fs::perms::owner_write, fs::perm_options::remove);
       fs::rename(l.Marcaciones(), l.carpeta / "aparte");
       std::ofstream(l.Marcaciones()) << "x";
     },
     "No se puede abrir", false,
     [](Lector& l) {
       if (geteuid() != 0)
         return fs::permissions(l.Marcaciones(), fs::perms::owner_write, fs::perm_options::add);
       fs::remove(l.Marcaciones());
       fs::rename(l.carpeta / "aparte", l.Marcaciones());
     }},
    {"ArchivoDelMesEsUnaCarpeta",
     [](servicesim::ServiceSim&, Lector& l) { fs::create_directory(General(l)); }, "No se puede",
     false, QuitaGeneral},
    {"DiscoLleno",
     [](servicesim::ServiceSim&, Lector& l) { fs::create_symlink("/dev/full", General(l)); },
     "No se puede escribir", false, QuitaGeneral},
};

class Fallas : public ConCiclo, public ::testing::WithParamInterface<Escenario> {};

TEST_P(Fallas, SeVeUnaLineaElCicloSigueYNoSePierdeNingunaMarcacion) {
  const Escenario& c = GetParam();
  Reloj("2", "A", "127.0.0.2");
  Reloj("3", "B", "127.0.0.3");
  for (int i = 1; i <= 5; ++i)
    sdk.registros.push_back({std::to_string(10 + i), 1, 0, 2026, 3, 3, 8, i});
  c.falla(sim, l);
  app::TProcess_Timer(l);
  std::string visto;
  for (const auto& x : display.logs) visto += x + "\n";
  for (const auto& x : display.relojes) visto += x + "\n";
  EXPECT_THAT(visto, HasSubstr(c.visto));
  EXPECT_EQ(Lineas("Conectando con reloj: B").size(), c.visitaB ? 1u : 0u) << visto;
  EXPECT_TRUE(proceso.activado);

  if (c.arreglo) c.arreglo(l);
  sim.OlvidaGuiones();
  display.logs.clear();
  l.estado.UltimaLectura = 0;
  app::TProcess_Timer(l);
  EXPECT_THAT(Lineas("Conectando con reloj: "),
              ElementsAre("Conectando con reloj: A", "Conectando con reloj: B"));
  const std::string general = LeeArchivo(General(l));
  const auto lineas = LineasDe(General(l));
  EXPECT_EQ(lineas.size(), 10u) << general;
  EXPECT_EQ(std::set<std::string>(lineas.begin(), lineas.end()).size(), 10u) << general;
  ASSERT_FALSE(sim.Subidas().empty());
  EXPECT_EQ(sim.Subidas().back().contenido, general);
  for (const auto& t : sim.Tareas("2")) EXPECT_TRUE(t.respondida);
  for (const auto& e : fs::recursive_directory_iterator(carpeta.ruta()))
    EXPECT_EQ(*e.path().lexically_relative(carpeta.ruta()).begin(), "Marcaciones") << e.path();
  EXPECT_FALSE(fs::exists(carpeta.ruta().parent_path() / "fuera.txt"));
}

INSTANTIATE_TEST_SUITE_P(Servicio, Fallas, ::testing::ValuesIn(kEscenarios),
                         [](const auto& i) { return std::string(i.param.nombre); });

}  // namespace
}  // namespace lector::test
