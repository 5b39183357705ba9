// The emulated clock's state file as written by hand (short forms, defaults), and what clock-sim
// refuses with the reason: bad state files, bad arguments (status 2). Running the program, the
// files it reads and the state it writes on SIGUSR1 are exercised by tests/e2e.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fstream>

#include "clock-sim/Emulador.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

using lector::test::CarpetaTemporal;
constexpr const char* kIp = "127.0.0.25";

// Runs the program to its end (a minute at most): its exit status, and its standard error.
int Corre(const std::vector<std::string>& args, std::string& error) {
  CarpetaTemporal carpeta;
  std::string orden = "timeout 60 " + std::string(LECTOR_BINARY_DIR) + "/tools/clock-sim/clock-sim";
  for (const auto& a : args) orden += " '" + a + "'";
  const int r = std::system((orden + " >/dev/null 2>" + (carpeta.ruta() / "e").string()).c_str());
  error = lector::test::LeeArchivo(carpeta.ruta() / "e");
  return WEXITSTATUS(r);
}

TEST(EjecutableTest, OrdenesYArchivosMalosSeRechazanConElMotivo) {
  CarpetaTemporal carpeta;
  auto malo = carpeta.ruta() / "malo.json";
  std::ofstream(malo) << R"({"usuarios": [{"id": "1", "privilegio": 7}]})";
  const std::vector<std::pair<std::vector<std::string>, std::string>> casos = {
      {{"--port", "1"}, "--address"},
      {{"--address", kIp, "--layout", "40"}, "--layout"},
      {{"--address", kIp, "--fault", "explode"}, "explode"},
      {{"--address", kIp, "--users", "-3"}, "--users"},
      {{"--address", kIp, "--state", malo.string()}, "privilegio"},
      {{"--address", "no-es-ip", "--port", "0"}, "no-es-ip"},
      {{"--address", kIp, "--bogus"}, "--bogus"},
  };
  for (const auto& [args, motivo] : casos) {
    std::string error;
    EXPECT_EQ(Corre(args, error), 2) << args.back();
    EXPECT_NE(error.find(motivo), std::string::npos) << args.back() << ": " << error;
  }
}

TEST(EstadoTest, ArchivoEscritoAManoConUsuariosPorNumeroYValoresPorOmision) {
  CarpetaTemporal carpeta;
  auto archivo = carpeta.ruta() / "a-mano.json";
  std::ofstream(archivo) << R"({
    "serie": "ABC123",
    "usuarios": [{"id": "7", "nombre": "Ana"}, {"id": "8", "uid": 20}],
    "plantillas": [{"id": "8", "dedo": 9, "datos": "AAECAw=="}],
    "caras": [{"uid": 1, "datos": "BAU="}],
    "marcaciones": [{"id": "8", "hora": "2024-01-02 08:00:00"},
                    {"uid": 1, "hora": "2024-01-02 09:00:00", "estado": 1}]
  })";
  auto e = EstadoReloj::Carga(archivo);
  EXPECT_EQ(e.serie + "|" + e.firmware, "ABC123|Ver 6.60 Oct 29 2012");
  ASSERT_EQ(e.usuarios.size(), 2u);
  EXPECT_TRUE(e.usuarios[0].uid == 1 && e.usuarios[0].habilitado);
  EXPECT_EQ(e.plantillas.at({20, 9}).datos, (zk::Bytes{0, 1, 2, 3}));
  EXPECT_EQ(e.caras.at({1, 50}), (zk::Bytes{4, 5}));
  ASSERT_EQ(e.marcaciones.size(), 2u);
  EXPECT_TRUE(e.marcaciones[0].uid == 20 && e.marcaciones[1].usuario == "7" &&
              e.marcaciones[1].estado == 1);
}

TEST(EstadoTest, ArchivosMalosFallanConElMotivo) {
  CarpetaTemporal carpeta;
  auto archivo = carpeta.ruta() / "malo.json";
  const std::pair<const char*, const char*> casos[] = {
      {"{", "JSON"},
      {"[]", "objeto"},
      {R"({"formato_usuarios": 50})", "formato_usuarios"},
      {R"({"formato_marcaciones": "40"})", "formato_marcaciones"},
      {R"({"usuarios": [{"id": "1", "uid": 1}, {"id": "2", "uid": 1}]})", "uid repetido"},
      {R"({"usuarios": [{"nombre": "x"}]})", "id"},
      {R"({"usuarios": [{"id": "1", "privilegio": 9}]})", "privilegio"},
      {R"({"usuarios": {"id": "1"}})", "usuarios"},
      {R"({"plantillas": [{"id": "nadie", "datos": ""}]})", "nadie"},
      {R"({"plantillas": [{"uid": 1, "datos": "@@@"}]})", "Base64"},
      {R"({"marcaciones": [{"id": "1", "hora": "2024-02-30 08:00:00"}]})", "hora"},
      {R"({"marcaciones": [{"id": "1", "hora": "2024-01-01T08:00:00"}]})", "hora"},
      {R"({"marcaciones": [{"id": "1", "hora": "1999-12-31 23:59:59"}]})", "2000"},
      {R"({"marcaciones": [{"hora": "2024-01-01 08:00:00"}]})", "id"},
      {R"({"marcaciones": [5]})", "marcación"},
      {R"({"clave_comm": -1})", "clave_comm"},
      {R"({"codificacion": "latin9"})", "codificacion"},
  };
  for (const auto& [texto, motivo] : casos) {
    std::ofstream(archivo) << texto;
    try {
      EstadoReloj::Carga(archivo);
      ADD_FAILURE() << "accepted: " << texto;
    } catch (const std::runtime_error& ex) {
      EXPECT_NE(std::string(ex.what()).find(motivo), std::string::npos)
          << texto << " -> " << ex.what();
    }
  }
  EXPECT_THROW(EstadoReloj::Carga(carpeta.ruta() / "no-existe.json"), std::runtime_error);
}

}  // namespace
}  // namespace clocksim::test
