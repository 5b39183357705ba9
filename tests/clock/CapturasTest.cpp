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
      if (auth) std::fill(u.bytes.begin() + base + 2, u.bytes.begin() + base + 4, 0);
      if (auth) std::fill(u.bytes.begin() + base + 8, u.bytes.end(), 0);
      u.enmascarada = auth;
      EXPECT_EQ(*leida, u);
    }
}

}  // namespace
}  // namespace lector::test
