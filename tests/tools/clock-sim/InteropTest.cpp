// clock-sim read by an independent client: the npm package node-zklib (installed by scripts/setup
// into tests/tools/clock-sim/interop). If it can read users and records, the emulator is not merely
// consistent with our own client.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kIp = "127.0.0.23";

std::string BuscaNode() {
  for (const char* nombre : {"node", "nodejs"})
    if (system(("command -v " + std::string(nombre) + " >/dev/null 2>&1").c_str()) == 0)
      return nombre;
  return {};
}

std::string Comillas(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

// Runs the node script against the emulator and parses the JSON line it prints.
nlohmann::json LeeConNode(const std::string& node, uint16_t puerto,
                          const std::string& accion = "") {
  fs::path carpeta = fs::path(LECTOR_SOURCE_DIR) / "tests/tools/clock-sim/interop";
  lector::test::CarpetaTemporal trabajo;  // the library may drop error logs in its folder
  std::string orden = "cd " + Comillas(trabajo.ruta().string()) + " && timeout 120 " +
                      Comillas(node) + " " + Comillas((carpeta / "lee-reloj.js").string()) + " " +
                      kIp + " " + std::to_string(puerto) + " " + accion + " 2>/dev/null";
  FILE* f = popen(orden.c_str(), "r");
  if (!f) return {};
  std::string salida;
  char b[65536];
  size_t n;
  while ((n = fread(b, 1, sizeof b, f)) > 0) salida.append(b, n);
  pclose(f);
  auto j = nlohmann::json::parse(salida, nullptr, false);
  return j.is_discarded() ? nlohmann::json(salida) : j;
}

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    node = BuscaNode();
    if (node.empty()) GTEST_SKIP() << "node is not installed";
    ASSERT_TRUE(fs::exists(fs::path(LECTOR_SOURCE_DIR) /
                           "tests/tools/clock-sim/interop/node_modules/node-zklib/zklib.js"))
        << "node-zklib is missing: run scripts/setup";
  }
  std::string node;
};

TEST_F(InteropTest, NodeZklibReadsUsersAndRecords) {
  EstadoReloj estado;
  // Enough users and records for chunked reads of both (20 000 records = 13 chunks).
  Genera(estado, {60, 20000, 11, SegundosCiviles({2025, 6, 1, 0, 0, 0})});
  estado.usuarios[1].nombre = "Abcdefghijklmnopqrstuvw";  // 23 characters
  estado.usuarios[2].tarjeta = 4000000001u;
  Opciones op;
  op.direccion = kIp;
  op.puerto = 0;
  Emulador reloj(estado, op);
  reloj.Inicia();

  auto r = LeeConNode(node, reloj.Puerto(), "borra");
  ASSERT_TRUE(r.is_object() && !r.contains("error")) << r.dump();
  EXPECT_EQ(r["transporte"], "tcp");
  EXPECT_TRUE(r["errorUsuarios"].is_null() && r["errorMarcaciones"].is_null()) << r.dump();
  EXPECT_EQ(r["info"]["userCounts"], 60);
  EXPECT_EQ(r["info"]["logCounts"], 20000);

  const auto& usuarios = r["usuarios"];
  ASSERT_EQ(usuarios.size(), 60u);
  for (size_t i = 0; i < usuarios.size(); ++i) {
    const auto& u = estado.usuarios[i];
    SCOPED_TRACE(u.id);
    EXPECT_EQ(usuarios[i]["uid"], u.uid);
    EXPECT_EQ(usuarios[i]["userId"], u.id);
    EXPECT_EQ(usuarios[i]["cardno"], u.tarjeta);
    EXPECT_EQ(usuarios[i]["role"], zk::PrivilegioAByte(u.privilegio, u.habilitado));
    // node-zklib decodes names as 7-bit ASCII: compare the plain ones.
    bool ascii = std::all_of(u.nombre.begin(), u.nombre.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
      EXPECT_EQ(usuarios[i]["name"], u.nombre);
    }
  }
  EXPECT_EQ(usuarios[1]["name"], "Abcdefghijklmnopqrstuvw");

  const auto& marcaciones = r["marcaciones"];
  ASSERT_EQ(marcaciones.size(), 20000u);
  for (size_t i = 0; i < marcaciones.size(); i += 997) {
    const auto& m = estado.marcaciones[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(marcaciones[i]["uid"], m.uid);
    EXPECT_EQ(marcaciones[i]["id"], m.usuario);
    EXPECT_EQ(marcaciones[i]["hora"], TextoFecha(zk::DecodificaHora(m.hora)));
  }
  EXPECT_EQ(marcaciones.back()["hora"],
            TextoFecha(zk::DecodificaHora(estado.marcaciones.back().hora)));

  // It cleared the log, left as a client should (EXIT), and the clock serves the next one.
  EXPECT_EQ(r["borrado"], true);
  ASSERT_TRUE(lector::test::EsperaHasta([&] { return !reloj.ConClienteTcp(); }));
  EXPECT_TRUE(reloj.Copia().marcaciones.empty());
  auto h = reloj.Historial();
  ASSERT_FALSE(h.empty());
  EXPECT_EQ(h.back().comando, zk::CMD_EXIT);
  lector::clock::zk::ZkSdk sdk;
  EXPECT_TRUE(sdk.Connect_Net(kIp, reloj.Puerto()));
}

TEST_F(InteropTest, NodeZklibFallsBackToUdpOnAnOldClock) {
  // An old clock: UDP only, 28-byte users, 16-byte records (what node-zklib expects on UDP).
  EstadoReloj estado;
  Genera(estado, {30, 2000, 12, SegundosCiviles({2025, 6, 1, 0, 0, 0})});
  estado.formatoUsuario = 28;
  estado.formatoMarcacion = 16;
  Opciones op;
  op.direccion = kIp;
  op.puerto = 0;
  op.tcp = false;
  op.udp = true;
  Emulador reloj(estado, op);
  reloj.Inicia();

  auto r = LeeConNode(node, reloj.Puerto());
  ASSERT_TRUE(r.is_object() && !r.contains("error")) << r.dump();
  EXPECT_EQ(r["transporte"], "udp");
  EXPECT_TRUE(r["errorUsuarios"].is_null() && r["errorMarcaciones"].is_null()) << r.dump();
  EXPECT_EQ(r["info"]["logCounts"], 2000);
  const auto& usuarios = r["usuarios"];
  ASSERT_EQ(usuarios.size(), 30u);
  for (size_t i = 0; i < usuarios.size(); ++i) {
    EXPECT_EQ(usuarios[i]["uid"], estado.usuarios[i].uid);
    EXPECT_EQ(std::to_string(usuarios[i]["userId"].get<uint64_t>()), estado.usuarios[i].id);
  }
  const auto& marcaciones = r["marcaciones"];
  ASSERT_EQ(marcaciones.size(), 2000u);
  for (size_t i = 0; i < marcaciones.size(); i += 97) {
    const auto& m = estado.marcaciones[i];
    // node-zklib reads the 16-byte record's user number as 16 bits.
    EXPECT_EQ(marcaciones[i]["id"], std::to_string(std::stoul(m.usuario) & 0xFFFF)) << i;
    EXPECT_EQ(marcaciones[i]["hora"], TextoFecha(zk::DecodificaHora(m.hora))) << i;
  }
}

}  // namespace
}  // namespace clocksim::test
