// Every firmware profile of clock-sim read the whole way, through LeeReloj and ZkSdk: the month
// file must hold exactly the records the clock holds, once each, after one reading and after the
// next; a clock that cannot be served leaves its reason in the activity list and writes nothing.
#include <gtest/gtest.h>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock-sim/Perfil.h"
#include "clock/Marcaciones.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace lector::test {
namespace {

using namespace std::chrono_literals;
namespace zk = clock::zk;

// The month-file line of each record, as the clock holds it.
std::vector<std::string> LineasEsperadas(const clocksim::EstadoReloj& e) {
  std::vector<std::string> v;
  for (const auto& m : e.marcaciones) {
    const auto f = zk::DecodificaHora(m.hora);
    std::string linea = "7," + e.serie;
    for (int x : {f.anio, f.mes, f.dia, f.hora, f.minuto}) linea += "," + std::to_string(x);
    const uint32_t codigo = e.formatoMarcacion == 16 ? m.codigoTrabajo : 0;
    for (const std::string& x :
         {m.usuario, std::to_string(m.verificacion), std::to_string(m.estado),
          std::to_string(codigo), std::string("2")})
      linea += "," + x;
    v.push_back(linea);
  }
  return v;
}

TEST(PerfilesReloj, CadaPerfilSeLeeEnteroOSeDicePorQueNo) {
  const struct {
    const char* perfil;
    const char* aviso;  // the activity line about clock 7 ("" none)
    bool escribe;
  } casos[] = {
      {"", "", true},
      {"trozos", "", true},
      {"marcaciones8", "", true},
      {"marcaciones16", "", true},
      {"marcaciones49", "", true},
      {"cuenta-cero", "", true},
      {"cuenta-errada", "", true},
      {"usuarios28", "", true},
      {"ids-letras", "", true},
      {"solo-udp", "", true},
      {"clave", "clave de comunicación rechazada", false},
      {"cifrado", "firmware con sesión cifrada, no compatible", false},
      {"sigue-marcando", "", true},
      {"registros-raros", "", true},
      {"hora-perdida", "la hora del reloj difiere 4337 min de la de este equipo", true},
      {"caras150", "", true},
  };
  ASSERT_EQ(std::size(casos), clocksim::Perfiles().size());
  const std::string ip = DireccionPropia(31);
  for (const auto& c : casos) {
    SCOPED_TRACE(c.perfil);
    LectorDePrueba p;
    p.alcance.tabla[ip] = 0;
    std::filesystem::create_directory(p.l.Marcaciones());
    clocksim::EstadoReloj e;
    e.perfil = c.perfil;
    clocksim::Genera(e, {30, 3000, 7, clocksim::SegundosCiviles({2026, 3, 1, 0, 0, 0})});
    e.horaFija = clocksim::SegundosCiviles({2026, 3, 3, 14, 5, 0});
    const auto& primero = e.usuarios.front();
    e.caras[{primero.uid, 50}] = zk::Bytes(1214, 0x5A);
    clocksim::AplicaPerfil(e);
    clocksim::Opciones o;
    o.direccion = ip;
    o.puerto = clock::kPuertoReloj;
    o.udp = clocksim::BuscaPerfil(c.perfil)->tcpMudo;
    clocksim::Emulador reloj(e, o);
    reloj.Inicia();
    zk::ZkSdk sdk(1500ms);
    p.l.sdk = &sdk;
    const auto archivo = clock::ClockMonthFile(p.l, p.reloj.ahora, "7");
    for (int lectura = 0; lectura < 2; ++lectura) {
      p.l.estado.ConnectionRegistry.clear();
      int16_t conectado = 0;
      clock::LeeReloj(p.l, 1, 2, "7", ip, conectado, e.serie);
      sdk.Disconnect();
      EXPECT_EQ(LineasDe(archivo),
                c.escribe ? LineasEsperadas(reloj.Copia()) : std::vector<std::string>{});
    }
    std::vector<std::string> avisos;
    for (const auto& x : p.display.logs)
      if (x.rfind("Reloj 7: ", 0) == 0) avisos.push_back(x.substr(9));
    // Once a reading for a clock that cannot be served; the time once an hour.
    EXPECT_EQ(avisos, std::vector<std::string>(*c.aviso ? 2 - c.escribe : 0, c.aviso));
    if (!c.escribe) continue;
    // Faces: as the clock keeps them (cmd 150: the whole record), else by our own exchange.
    zk::Bytes cara = e.caras[{primero.uid, 50}];
    if (std::string(c.perfil) == "caras150") {
      cara.insert(cara.begin(), {0xBE, 0x04});
      cara.resize(clocksim::kRegistroCara150);
    }
    std::string texto;
    int32_t largo = 0;
    ASSERT_TRUE(sdk.Connect_Net(ip, clock::kPuertoReloj));
    EXPECT_TRUE(sdk.GetUserFaceStr(1, primero.id, 50, texto, largo));
    EXPECT_EQ(texto, zk::Base64(cara.data(), cara.size()));
    sdk.Disconnect();
  }
}

}  // namespace
}  // namespace lector::test
