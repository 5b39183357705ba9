// Captures of clocks (tests/capturas/*.txt) played back by clock-sim and read through LeeReloj:
// the month file and the lines about the clock must be what the ".esperado" beside each says.
// With LECTOR_SIEMBRA_CAPTURAS=1 the profiles' captures and their expected files are made again
// from live clock-sim clocks; a capture without its expected file gets ".esperado.nuevo" to
// review. A failed reading with the log on leaves its last bytes in log.txt.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock-sim/Perfil.h"
#include "clock/CapturaReloj.h"
#include "clock/Marcaciones.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace lector::test {
namespace {

using namespace std::chrono_literals;
const std::filesystem::path kCarpeta = std::filesystem::path(LECTOR_SOURCE_DIR) / "tests/capturas";

// One reading of the clock at `ip` as the cycle does it: "# serie S", the month-file lines, and
// "! <line>" for each activity line about the clock; with `log`, the log on and its lines there.
std::vector<std::string> Lee(const std::string& ip, const std::string& serie,
                             std::vector<std::string>* log = nullptr) {
  LectorDePrueba p;
  p.l.estado.ModoLog = log != nullptr;
  p.alcance.tabla[ip] = 0;
  std::filesystem::create_directory(p.l.Marcaciones());
  clock::zk::ZkSdk sdk(1500ms);
  p.l.sdk = &sdk;
  int16_t conectado = 0;
  clock::LeeReloj(p.l, 1, 2, "7", ip, conectado, serie);
  sdk.Disconnect();
  std::vector<std::string> v{"# serie " + serie};
  for (const auto& x : LineasDe(clock::ClockMonthFile(p.l, p.reloj.ahora, "7"))) v.push_back(x);
  for (const auto& x : p.display.logs)
    if (x.rfind("Reloj 7: ", 0) == 0) v.push_back("! " + x.substr(9));
  if (log) *log = LineasDe(p.l.ArchivoLog());
  return v;
}

clocksim::Opciones En(int ultimo) {
  clocksim::Opciones o;
  o.direccion = DireccionPropia(ultimo);
  o.puerto = clock::kPuertoReloj;
  return o;
}

std::vector<std::string> Lineas(const std::filesystem::path& ruta) {
  std::ifstream f(ruta);
  std::vector<std::string> v;
  for (std::string x; std::getline(f, x);) v.push_back(x);
  return v;
}

void Escribe(const std::filesystem::path& ruta, const std::vector<std::string>& lineas) {
  std::ofstream f(ruta, std::ios::binary);
  for (const auto& x : lineas) f << x << "\n";
}

TEST(Capturas, CadaCapturaSeLeeComoElRelojGrabado) {
  if (std::getenv("LECTOR_SIEMBRA_CAPTURAS")) {
    for (const auto& perfil : clocksim::Perfiles()) {
      const std::string nombre = *perfil.nombre ? perfil.nombre : "base";
      clocksim::EstadoReloj e;
      e.perfil = perfil.nombre;
      clocksim::Genera(e, {3, 40, 7, clocksim::SegundosCiviles({2026, 3, 1, 0, 0, 0})});
      e.usuarios.front().clave = "4321";  // every capture shows a password masked
      e.horaFija = clocksim::SegundosCiviles({2026, 3, 3, 14, 5, 0});
      clocksim::AplicaPerfil(e);
      auto o = En(33);
      o.udp = perfil.tcpMudo;
      {  // captured and read live from the same start, each on a clock of its own
        clocksim::Emulador reloj(e, o);
        reloj.Inicia();
        std::ostringstream resumen;
        clock::CapturaReloj(
            {o.direccion, clock::kPuertoReloj, 0, kCarpeta / ("perfil-" + nombre + ".txt"), 1500ms},
            resumen, resumen);
      }
      clocksim::Emulador reloj(e, o);
      reloj.Inicia();
      Escribe(kCarpeta / ("perfil-" + nombre + ".esperado"), Lee(o.direccion, e.serie));
    }
  }
  size_t capturas = 0;
  for (const auto& entrada : std::filesystem::directory_iterator(kCarpeta)) {
    const auto ruta = entrada.path();
    if (ruta.extension() != ".txt") continue;
    SCOPED_TRACE(ruta.filename().string());
    ++capturas;
    auto o = En(32);
    o.reproduccion = std::make_shared<clocksim::Reproduccion>(clocksim::Reproduccion::Carga(ruta));
    o.tcp = o.reproduccion->HayTcp();
    o.udp = o.reproduccion->HayUdp();
    std::vector<std::string> sinRespuesta;
    o.bitacora = [&](const std::string& s) { sinRespuesta.push_back(s); };
    clocksim::Emulador reloj({}, o);
    reloj.Inicia();
    auto esperado = Lineas(std::filesystem::path(ruta).replace_extension(".esperado"));
    const std::string serie = esperado.empty() ? "" : esperado[0].substr(std::size("# serie"));
    const auto leido = Lee(o.direccion, serie);
    if (esperado.empty())
      Escribe(std::filesystem::path(ruta).replace_extension(".esperado.nuevo"), leido);
    EXPECT_EQ(leido, esperado);
    EXPECT_EQ(sinRespuesta, std::vector<std::string>{});
  }
  EXPECT_GE(capturas, 16u);
}

TEST(Capturas, LecturaFallidaDejaSusUltimosBytesEnElLog) {
  const auto o = En(34);
  const std::string& ip = o.direccion;
  clocksim::EstadoReloj e;
  clocksim::Genera(e, {3, 3000, 7, clocksim::SegundosCiviles({2026, 3, 1, 0, 0, 0})});
  clocksim::Emulador reloj(e, o);
  reloj.Inicia();
  reloj.AgregaFalla({clocksim::TipoFalla::kCorta, clock::zk::CMD_DATA_RDY, 50000});
  std::vector<std::string> log;
  EXPECT_EQ(Lee(ip, e.serie, &log).size(), 2u);  // its serial and why it failed; no record
  // After the heading, capture lines of at most 4 KiB in all, the last one the clock closing.
  auto linea = std::find_if(log.begin(), log.end(), [&](const std::string& x) {
    return x.find("Ultimo intercambio con " + ip) != std::string::npos;
  });
  ASSERT_NE(linea, log.end());
  size_t unidades = 0, bytes = 0, pedidos = 0;
  clock::zk::UnidadCaptura ultima;
  for (++linea; linea != log.end(); ++linea) {
    std::string texto = linea->substr(linea->find(": ") + 2), error;
    if (const auto p = texto.find(" .."); p != std::string::npos) texto.erase(p + 1, 2);
    const auto u = clock::zk::LeeLineaCaptura(texto, error);
    if (!u) break;
    ++unidades;
    bytes += u->bytes.size();
    pedidos += u->enviado;
    ultima = *u;
  }
  EXPECT_GT(pedidos, 0u);
  EXPECT_GT(unidades, 8u);
  EXPECT_LE(bytes, 4096u);
  EXPECT_TRUE(ultima.cierre);
}

TEST(Capturas, LaClaveDeComunicacionNoVaAlArchivo) {
  namespace zk = clock::zk;
  const auto clave = zk::ClaveComm(123456, 0x1234);
  const zk::Bytes datos(clave.begin(), clave.end());
  for (bool udp : {false, true})
    for (uint16_t comando : {zk::CMD_AUTH, zk::CMD_OPTIONS_RRQ}) {
      zk::UnidadCaptura u;
      u.enviado = true;
      u.udp = udp;
      u.bytes = udp ? zk::ArmaPayload(comando, 0x1234, 1, datos)
                    : zk::ArmaTramaTcp(comando, 0x1234, 1, datos);
      std::string error;
      const auto leida = zk::LeeLineaCaptura(zk::LineaDeCaptura(u), error);
      ASSERT_TRUE(leida) << error;
      // Masked: the checksum (it would give the key away) and the data, read back as zeros.
      const bool auth = comando == zk::CMD_AUTH;
      const size_t base = udp ? 0 : zk::kTamPrefijoTcp;
      for (size_t i = 0; auth && i < u.bytes.size(); ++i) {
        u.oculto.push_back((i >= base + 2 && i < base + 4) || i >= base + 8);
        if (u.oculto.back()) u.bytes[i] = 0;
      }
      EXPECT_EQ(*leida, u);
    }
}

// The users' passwords are masked too, and a masked capture still reads as the clock did.
TEST(Capturas, LasClavesDeLosUsuariosNoVanAlArchivo) {
  clocksim::EstadoReloj e;
  clocksim::Genera(e, {3, 40, 7, clocksim::SegundosCiviles({2026, 3, 1, 0, 0, 0})});
  e.usuarios[0].clave = "123456";
  e.usuarios[1].clave = "987";
  const auto ruta = std::filesystem::path(::testing::TempDir()) / "lector-claves.txt";
  std::ostringstream resumen;
  // The users and records of a clock, captured first with `graba`.
  auto lee = [&](clocksim::Emulador&& r, const std::string& ip, std::string& cl, bool graba) {
    r.Inicia();
    if (graba) clock::CapturaReloj({ip, clock::kPuertoReloj, 0, ruta, 1500ms}, resumen, resumen);
    clock::zk::ZkSdk sdk(1500ms);
    std::vector<std::string> v;
    std::string a, b, c;
    int32_t x[9]{};
    bool h = false;
    EXPECT_TRUE(sdk.Connect_Net(ip, clock::kPuertoReloj) && sdk.ReadAllUserID(0) &&
                sdk.ReadGeneralLogData(0));
    for (; sdk.SSR_GetAllUserInfo(0, a, b, c, x[0], h); cl += c) v.push_back(a + " " + b);
    while (sdk.SSR_GetGeneralLogData(0, a, x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8]))
      for (int32_t k : x) v.push_back(a + " " + std::to_string(k));
    return v;
  };
  for (bool udp : {false, true}) {
    auto o = En(35);
    o.tcp = !udp;
    o.udp = udp;
    std::string claves, ningunas;
    const auto vivo = lee(clocksim::Emulador(e, o), o.direccion, claves, true);
    for (const char* hex : {"313233343536", "39383700"})  // "123456"; "987" and its end
      EXPECT_EQ(LeeArchivo(ruta).find(hex), std::string::npos) << hex;
    EXPECT_NE(LeeArchivo(ruta).find("**********"), std::string::npos);  // a password field at least
    o.reproduccion = std::make_shared<clocksim::Reproduccion>(clocksim::Reproduccion::Carga(ruta));
    EXPECT_EQ(lee(clocksim::Emulador({}, o), o.direccion, ningunas, false), vivo);
    EXPECT_EQ(claves.substr(0, 9) + "|" + ningunas, "123456987|");  // none read back
  }
}

}  // namespace
}  // namespace lector::test
