// The emulated clock's state: its JSON file both ways, bad files, generation.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

using lector::test::CarpetaTemporal;

TEST(EstadoTest, ElArchivoGuardaTodoYSeEscribeAlDetener) {
  CarpetaTemporal carpeta;
  EstadoReloj e;
  Genera(e, {100, 20000, 9, SegundosCiviles({2026, 1, 1, 0, 0, 0})});
  e.opciones["WorkCode"] = "1";
  e.claveComm = 77;
  e.formatoMarcacion = 16;
  e.desfaseHora = -3600;
  e.horaFija = SegundosCiviles({2024, 3, 15, 10, 30, 0});
  e.usuarios[0].nombre = "Ñandú \"entre comillas\" \\ y\ttab";
  Opciones op;
  op.direccion = "127.0.0.24";
  op.puerto = 0;
  op.archivoEstado = carpeta.ruta() / "estado.json";
  {
    Emulador reloj(e, op);
    reloj.Inicia();
  }  // stopped: written
  EXPECT_FALSE(std::filesystem::exists(op.archivoEstado.string() + ".tmp"));
  const auto leido = EstadoReloj::Carga(op.archivoEstado);
  EXPECT_EQ(leido.AJson(), e.AJson());
  auto j = nlohmann::json::parse(lector::test::LeeArchivo(op.archivoEstado));  // plain JSON
  EXPECT_EQ(j["hora_fija"], "2024-03-15 10:30:00");
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

TEST(GeneraTest, MismaSemillaMismoRelojYContenidoCreible) {
  Generacion g{300, 20000, 42, SegundosCiviles({2025, 1, 31, 0, 0, 0})};
  EstadoReloj a, b;
  Genera(a, g);
  Genera(b, g);
  EXPECT_EQ(a.AJson(), b.AJson());
  std::set<std::string> ids;
  int noAscii = 0, tarjetasGrandes = 0;
  for (const auto& u : a.usuarios) {
    EXPECT_TRUE(ids.insert(u.id).second) << "repeated id " << u.id;
    EXPECT_LE(a.TextoDispositivo(u.nombre).size(), 23u);
    noAscii += std::any_of(u.nombre.begin(), u.nombre.end(), [](char c) { return c & 0x80; });
    tarjetasGrandes += u.tarjeta > 65535;
  }
  EXPECT_TRUE(noAscii > 30 && tarjetasGrandes > 30);
  EXPECT_TRUE(a.plantillas.size() > 100u && a.caras.size() > 5u);
  for (size_t i = 1; i < a.marcaciones.size(); ++i)
    ASSERT_LE(a.marcaciones[i - 1].hora, a.marcaciones[i].hora) << "record " << i;
  EXPECT_LT(SegundosCiviles(zk::DecodificaHora(a.marcaciones.back().hora)), *g.hasta);
  for (const auto& m : a.marcaciones) ASSERT_EQ(a.BuscaUid(m.uid)->id, m.usuario);
}

}  // namespace
}  // namespace clocksim::test
