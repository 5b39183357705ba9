// clock-sim read by an independent client: the npm package node-zklib (installed by scripts/setup
// into tests/tools/clock-sim/interop). If it can read users and records, the emulator is not merely
// consistent with our own client.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock-sim/Perfil.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kIp = "127.0.0.23";
const fs::path kInterop = fs::path(LECTOR_SOURCE_DIR) / "tests/tools/clock-sim/interop";

// Runs the node script against the emulator: the JSON line it prints (as text when not JSON).
nlohmann::json LeeConNode(uint16_t puerto) {
  lector::test::CarpetaTemporal trabajo;  // the library may drop error logs in its folder
  const std::string orden = "cd '" + trabajo.ruta().string() + "' && timeout 120 node '" +
                            (kInterop / "lee-reloj.js").string() + "' " + kIp + " " +
                            std::to_string(puerto) + " 2>/dev/null";
  FILE* f = popen(orden.c_str(), "r");
  if (!f) return {};
  std::string salida;
  char b[65536];
  for (size_t n; (n = fread(b, 1, sizeof b, f)) > 0;) salida.append(b, n);
  pclose(f);
  auto j = nlohmann::json::parse(salida, nullptr, false);
  return j.is_discarded() ? nlohmann::json(salida) : j;
}

TEST(InteropTest, NodeZklibLeeUsuariosYMarcacionesYBorraElRegistro) {
  if (std::system("command -v node >/dev/null 2>&1") != 0) GTEST_SKIP() << "node is not installed";
  ASSERT_TRUE(fs::exists(kInterop / "node_modules/node-zklib/zklib.js"))
      << "node-zklib is missing: run scripts/setup";
  // A current clock over TCP; an old one: UDP only, 28-byte users, 16-byte records (what
  // node-zklib expects on UDP); the firmware profiles it can read (not "solo-udp": like the
  // clients of the field reports, it stays on a TCP connection that never answers). Enough users
  // and records for chunked reads of each.
  for (const auto& [perfil, viejo] :
       {std::pair{"", false}, {"usuarios28", true}, {"trozos", false}}) {
    SCOPED_TRACE(perfil);
    EstadoReloj e;
    e.perfil = perfil;
    Genera(e, {viejo ? 30 : 60, viejo ? 2000 : 20000, 11, SegundosCiviles({2025, 6, 1, 0, 0, 0})});
    e.usuarios[1].nombre = "Abcdefghijklmnopqrstuvw";  // 23 characters
    e.usuarios[2].tarjeta = 4000000001u;
    if (viejo) {
      e.formatoUsuario = 28;
      e.formatoMarcacion = 16;
    }
    AplicaPerfil(e);
    Opciones op;
    op.direccion = kIp;
    op.puerto = 0;
    op.tcp = !viejo;
    op.udp = viejo;
    Emulador reloj(e, op);
    reloj.Inicia();

    auto r = LeeConNode(reloj.Puerto());
    ASSERT_TRUE(r.is_object() && !r.contains("error") && r["errorUsuarios"].is_null() &&
                r["errorMarcaciones"].is_null())
        << r.dump();
    EXPECT_EQ(r["transporte"], viejo ? "udp" : "tcp");
    EXPECT_EQ(r["info"]["logCounts"], e.marcaciones.size());
    const auto& usuarios = r["usuarios"];
    ASSERT_EQ(usuarios.size(), e.usuarios.size());
    for (size_t i = 0; i < usuarios.size(); ++i) {
      const auto& u = e.usuarios[i];
      const auto& x = usuarios[i];
      SCOPED_TRACE(u.id);
      EXPECT_EQ(x["uid"], u.uid);
      EXPECT_EQ(x["role"], zk::PrivilegioAByte(u.privilegio, u.habilitado));
      if (viejo) {  // the 28-byte user's number as a number
        EXPECT_EQ(std::to_string(x["userId"].get<uint64_t>()), u.id);
        continue;
      }
      EXPECT_EQ(x["userId"], u.id);
      EXPECT_EQ(x["cardno"], u.tarjeta);
      // node-zklib decodes names as 7-bit ASCII: compare the plain ones.
      if (std::all_of(u.nombre.begin(), u.nombre.end(), [](char c) { return c > 0; })) {
        EXPECT_EQ(x["name"], u.nombre);
      }
    }
    const auto& marcaciones = r["marcaciones"];
    ASSERT_EQ(marcaciones.size(), e.marcaciones.size());
    for (size_t i = 0; i < marcaciones.size(); ++i) {
      const auto& m = e.marcaciones[i];
      SCOPED_TRACE(i);
      // node-zklib reads the 16-byte record's user number as 16 bits.
      EXPECT_EQ(marcaciones[i]["id"],
                viejo ? std::to_string(std::stoul(m.usuario) & 0xFFFF) : m.usuario);
      EXPECT_EQ(marcaciones[i]["hora"], TextoFecha(zk::DecodificaHora(m.hora)));
      if (!viejo) {
        EXPECT_EQ(marcaciones[i]["uid"], m.uid);
      }
    }

    // It cleared the log, left as a client should (EXIT), and the clock serves the next one.
    EXPECT_EQ(r["borrado"], true);
    ASSERT_TRUE(lector::test::EsperaHasta([&] { return !reloj.ConClienteTcp(); }));
    EXPECT_TRUE(reloj.Copia().marcaciones.empty());
    const auto h = reloj.Historial();
    EXPECT_TRUE(!h.empty() && h.back().comando == zk::CMD_EXIT);
    lector::clock::zk::ZkSdk sdk;
    EXPECT_TRUE(sdk.Connect_Net(kIp, reloj.Puerto()));
  }
}

}  // namespace
}  // namespace clocksim::test
