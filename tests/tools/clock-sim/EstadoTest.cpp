// The emulated clock's state: its JSON file both ways, bad files, generation.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "Comun.h"
#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

using lector::test::CarpetaTemporal;

void Escribe(const std::filesystem::path& p, const std::string& texto) {
  std::ofstream(p, std::ios::binary) << texto;
}

void EsperaIguales(const EstadoReloj& a, const EstadoReloj& b) {
  EXPECT_EQ(a.serie, b.serie);
  EXPECT_EQ(a.firmware, b.firmware);
  EXPECT_EQ(a.plataforma, b.plataforma);
  EXPECT_EQ(a.opciones, b.opciones);
  EXPECT_EQ(a.claveComm, b.claveComm);
  EXPECT_EQ(a.formatoUsuario, b.formatoUsuario);
  EXPECT_EQ(a.formatoMarcacion, b.formatoMarcacion);
  EXPECT_EQ(a.desfaseHora, b.desfaseHora);
  EXPECT_EQ(a.horaFija, b.horaFija);
  EXPECT_EQ(a.usuarios, b.usuarios);
  EXPECT_EQ(a.plantillas, b.plantillas);
  EXPECT_EQ(a.caras, b.caras);
  ASSERT_EQ(a.marcaciones.size(), b.marcaciones.size());
  for (size_t i = 0; i < a.marcaciones.size(); ++i) {
    const auto &x = a.marcaciones[i], &y = b.marcaciones[i];
    EXPECT_TRUE(x.uid == y.uid && x.usuario == y.usuario && x.hora == y.hora &&
                x.verificacion == y.verificacion && x.estado == y.estado &&
                x.codigoTrabajo == y.codigoTrabajo)
        << "record " << i;
  }
}

TEST(EstadoTest, FileRoundTripKeepsEverything) {
  CarpetaTemporal carpeta;
  auto archivo = carpeta.ruta() / "reloj.json";
  EstadoReloj e = EstadoDePrueba();
  e.opciones["WorkCode"] = "1";
  e.claveComm = 77;
  e.formatoMarcacion = 16;
  e.desfaseHora = -3600;
  e.marcaciones.back().codigoTrabajo = 9;
  e.usuarios[0].nombre = "Ñandú \"entre comillas\" \\ y\ttab";
  e.Graba(archivo);
  EXPECT_FALSE(std::filesystem::exists(archivo.string() + ".tmp"));
  auto leido = EstadoReloj::Carga(archivo);
  EsperaIguales(e, leido);
  // The file is plain JSON anyone can read.
  auto j = nlohmann::json::parse(lector::test::LeeArchivo(archivo));
  EXPECT_EQ(j["usuarios"][1]["nombre"], "María José Núñez Peña");
  EXPECT_EQ(j["marcaciones"][1]["hora"], "2024-03-14 17:59:59");
  EXPECT_EQ(j["hora_fija"], "2024-03-15 10:30:00");
}

TEST(EstadoTest, HandWrittenFileMayNameUsersByEnrolmentNumberAndLeaveOutDefaults) {
  CarpetaTemporal carpeta;
  auto archivo = carpeta.ruta() / "a-mano.json";
  Escribe(archivo, R"({
    "serie": "ABC123",
    "usuarios": [{"id": "7", "nombre": "Ana"}, {"id": "8", "uid": 20}],
    "plantillas": [{"id": "8", "dedo": 9, "datos": "AAECAw=="}],
    "caras": [{"uid": 1, "datos": "BAU="}],
    "marcaciones": [{"id": "8", "hora": "2024-01-02 08:00:00"},
                    {"uid": 1, "hora": "2024-01-02 09:00:00", "estado": 1}]
  })");
  auto e = EstadoReloj::Carga(archivo);
  EXPECT_EQ(e.serie, "ABC123");
  EXPECT_EQ(e.firmware, "Ver 6.60 Oct 29 2012");
  ASSERT_EQ(e.usuarios.size(), 2u);
  EXPECT_EQ(e.usuarios[0].uid, 1);
  EXPECT_EQ(e.usuarios[1].uid, 20);
  EXPECT_TRUE(e.usuarios[0].habilitado);
  EXPECT_EQ(e.plantillas.at({20, 9}).datos, (zk::Bytes{0, 1, 2, 3}));
  EXPECT_EQ(e.caras.at({1, 50}), (zk::Bytes{4, 5}));
  ASSERT_EQ(e.marcaciones.size(), 2u);
  EXPECT_EQ(e.marcaciones[0].uid, 20);
  EXPECT_EQ(e.marcaciones[1].usuario, "7");
  EXPECT_EQ(e.marcaciones[1].estado, 1);
  EXPECT_EQ(e.marcaciones[0].verificacion, 1);
}

TEST(EstadoTest, BadFilesFailWithTheReason) {
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
      {R"({"marcaciones": [{"id": "1", "hora": "1999-12-31 23:59:59"}]})", "2000"},
      {R"({"marcaciones": [{"hora": "2024-01-01 08:00:00"}]})", "id"},
      {R"({"marcaciones": [5]})", "marcación"},
      {R"({"clave_comm": -1})", "clave_comm"},
      {R"({"codificacion": "latin9"})", "codificacion"},
  };
  for (const auto& [texto, motivo] : casos) {
    Escribe(archivo, texto);
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

TEST(EstadoTest, EmulatorWritesItsStateOnRequestAndWhenStopped) {
  CarpetaTemporal carpeta;
  Opciones op;
  op.direccion = "127.0.0.24";
  op.puerto = 0;
  op.archivoEstado = carpeta.ruta() / "estado.json";
  {
    Emulador reloj(EstadoDePrueba(), op);
    reloj.Inicia();
    reloj.GrabaEstado();
    EXPECT_EQ(EstadoReloj::Carga(op.archivoEstado).usuarios.size(), 3u);
    reloj.Con([](EstadoReloj& e) { e.BorraUsuario(3); });
  }  // destroyed: stopped and written
  auto e = EstadoReloj::Carga(op.archivoEstado);
  EXPECT_EQ(e.usuarios.size(), 2u);
  EXPECT_EQ(e.plantillas.size(), 2u);
}

TEST(GeneraTest, SameSeedSameClockAndPlausibleContent) {
  Generacion g{300, 20000, 42, SegundosCiviles({2025, 1, 31, 0, 0, 0})};
  EstadoReloj a, b, c;
  Genera(a, g);
  Genera(b, g);
  g.semilla = 43;
  Genera(c, g);
  EsperaIguales(a, b);
  EXPECT_NE(a.usuarios, c.usuarios);

  ASSERT_EQ(a.usuarios.size(), 300u);
  ASSERT_EQ(a.marcaciones.size(), 20000u);
  std::set<std::string> ids;
  int noAscii = 0, tarjetasGrandes = 0, largos = 0, admins = 0;
  for (size_t i = 0; i < a.usuarios.size(); ++i) {
    const auto& u = a.usuarios[i];
    EXPECT_EQ(u.uid, i + 1);
    EXPECT_TRUE(ids.insert(u.id).second) << "repeated id " << u.id;
    EXPECT_LE(u.id.size(), 9u);
    EXPECT_LE(a.TextoDispositivo(u.nombre).size(), 23u);
    noAscii += std::any_of(u.nombre.begin(), u.nombre.end(),
                           [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; });
    tarjetasGrandes += u.tarjeta > 65535;
    largos += u.id.size() == 8;
    admins += u.privilegio > 0;
  }
  EXPECT_GT(noAscii, 30);
  EXPECT_GT(tarjetasGrandes, 30);
  EXPECT_GT(largos, 5);
  EXPECT_GE(admins, 1);
  EXPECT_GT(a.plantillas.size(), 100u);
  EXPECT_GT(a.caras.size(), 5u);
  for (const auto& [clave, p] : a.plantillas) {
    ASSERT_TRUE(a.BuscaUid(clave.first));
    EXPECT_GE(p.datos.size(), 1200u);
    EXPECT_LE(clave.second, 9);
  }
  for (size_t i = 1; i < a.marcaciones.size(); ++i) {
    ASSERT_LE(a.marcaciones[i - 1].hora, a.marcaciones[i].hora) << "record " << i;
  }
  auto ultima = zk::DecodificaHora(a.marcaciones.back().hora);
  EXPECT_LT(SegundosCiviles(ultima), *g.hasta);
  for (const auto& m : a.marcaciones) {
    const Usuario* u = a.BuscaUid(m.uid);
    ASSERT_TRUE(u);
    ASSERT_EQ(u->id, m.usuario);
  }
}

TEST(GeneraTest, ThreeHundredThousandRecordsEncodeOnceIntoTheDataSet) {
  EstadoReloj e;
  Genera(e, {500, 300000, 1, SegundosCiviles({2026, 1, 1, 0, 0, 0})});
  ASSERT_EQ(e.marcaciones.size(), 300000u);
  auto conjunto = e.ConjuntoMarcaciones();
  EXPECT_EQ(conjunto->size(), 4u + 300000 * 40);
  EXPECT_EQ(zk::LeeU32(conjunto->data()), 300000u * 40);
  EXPECT_EQ(e.ConjuntoMarcaciones().get(), conjunto.get());  // kept, not encoded again
  e.formatoMarcacion = 8;
  EXPECT_EQ(e.ConjuntoMarcaciones()->size(), 4u + 300000 * 8);
  // No records at all without users: made-up ids.
  EstadoReloj sinUsuarios;
  Genera(sinUsuarios, {0, 10, 1, std::nullopt});
  EXPECT_EQ(sinUsuarios.marcaciones.size(), 10u);
  EXPECT_FALSE(sinUsuarios.marcaciones[0].usuario.empty());
}

TEST(EstadoTest, LargeStateFileRoundTrip) {
  CarpetaTemporal carpeta;
  EstadoReloj e;
  Genera(e, {100, 50000, 9, SegundosCiviles({2026, 1, 1, 0, 0, 0})});
  e.Graba(carpeta.ruta() / "grande.json");
  EsperaIguales(e, EstadoReloj::Carga(carpeta.ruta() / "grande.json"));
}

TEST(FechaTest, CivilSecondsAndTexts) {
  for (zk::FechaHora f :
       {zk::FechaHora{2000, 1, 1, 0, 0, 0}, zk::FechaHora{2024, 2, 29, 23, 59, 59},
        zk::FechaHora{2099, 12, 31, 12, 0, 1}}) {
    EXPECT_EQ(FechaDeSegundos(SegundosCiviles(f)), f);
    EXPECT_EQ(LeeFecha(TextoFecha(f)), f);
  }
  EXPECT_EQ(SegundosCiviles({2000, 1, 2, 0, 0, 0}), 86400);
  EXPECT_EQ(FechaDeSegundos(-1), (zk::FechaHora{1999, 12, 31, 23, 59, 59}));
  for (const char* malo : {"", "2024-1-01 00:00:00", "2024-13-01 00:00:00", "2023-02-29 00:00:00",
                           "2024-01-01 24:00:00", "2024-01-01T00:00:00", "abcd-ef-gh ij:kl:mn"}) {
    EXPECT_FALSE(LeeFecha(malo)) << malo;
  }
}

}  // namespace
}  // namespace clocksim::test
