// ZkSdk against the clock emulator on loopback: every SDK member over real traffic, both user and
// record layouts, TCP and UDP, comm keys, and the faults a clock or a network can show.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock/Mantenimiento.h"
#include "clock/zk/ZkSdk.h"
#include "kit/Fixtures.h"

namespace lector::clock::zk {
namespace {

using namespace std::chrono_literals;
using clocksim::EstadoReloj;
using clocksim::TipoFalla;

struct Registro {
  std::string enrolamiento;
  int32_t verificacion = 0, entradaSalida = 0, anio = 0, mes = 0, dia = 0, hora = 0, minuto = 0,
          segundo = 0, codigo = 0;
};

std::vector<Registro> LeeTodo(ZkSdk& sdk) {
  std::vector<Registro> v;
  Registro r;
  while (sdk.SSR_GetGeneralLogData(0, r.enrolamiento, r.verificacion, r.entradaSalida, r.anio,
                                   r.mes, r.dia, r.hora, r.minuto, r.segundo, r.codigo))
    v.push_back(r);
  return v;
}

// Every record as the device holds it (enrolment numbers through its users for 8-byte ones).
void EsperaIguales(const std::vector<Registro>& v, const EstadoReloj& e) {
  ASSERT_EQ(v.size(), e.marcaciones.size());
  for (size_t i = 0; i < v.size(); ++i) {
    const Marcacion& m = e.marcaciones[i];
    ASSERT_EQ(v[i].enrolamiento, m.usuario) << i;
    ASSERT_EQ((FechaHora{v[i].anio, v[i].mes, v[i].dia, v[i].hora, v[i].minuto, v[i].segundo}),
              DecodificaHora(m.hora));
    ASSERT_EQ((std::array{v[i].verificacion, v[i].entradaSalida, v[i].codigo}),
              (std::array<int32_t, 3>{m.verificacion, m.estado,
                                      e.formatoMarcacion == 16 ? int32_t(m.codigoTrabajo) : 0}));
  }
}

void Genera(EstadoReloj& e, int usuarios, int marcaciones, uint64_t semilla) {
  clocksim::Genera(e, {usuarios, marcaciones, semilla, std::nullopt});
}
clocksim::Usuario U(uint16_t uid, std::string id, std::string nombre, uint32_t tarjeta = 0) {
  return {uid, std::move(id), std::move(nombre), "", 0, true, tarjeta, 1};
}

Bytes Azar(size_t n, uint32_t semilla) {
  std::mt19937 g(semilla);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(g());
  return b;
}

std::string B64(const Bytes& b) {
  return Base64(b.data(), b.size());
}

struct Usuario {
  std::string id, nombre, clave, tarjeta;
  int32_t privilegio = -1;
  bool habilitado = false;
};

class ZkSdkReloj : public ::testing::Test {
 protected:
  void Arranca(EstadoReloj e, bool udp = false, uint16_t puerto = 0) {
    if (reloj_) reloj_->Detiene();
    clocksim::Opciones o;
    o.direccion = lector::test::DireccionPropia(23);
    o.puerto = puerto;
    o.tcp = !udp;
    o.udp = udp;
    reloj_ = std::make_unique<clocksim::Emulador>(std::move(e), std::move(o));
    reloj_->Inicia();
  }
  bool Conecta(ZkSdk& sdk) { return sdk.Connect_Net(reloj_->Direccion(), reloj_->Puerto()); }
  bool Conecta() { return Conecta(sdk_); }
  void Falla(const std::string& texto) {
    std::string error;
    auto f = clocksim::LeeFalla(texto, error);
    ASSERT_TRUE(f) << error;
    reloj_->AgregaFalla(*f);
  }
  EstadoReloj Estado() { return reloj_->Copia(); }
  // One user by enrolment number (all of them, in order, when empty), with its card.
  std::vector<Usuario> Usuarios(const std::string& id = "", ZkSdk* otro = nullptr) {
    ZkSdk& sdk = otro ? *otro : sdk_;
    std::vector<Usuario> v;
    Usuario u;
    while (id.empty()
               ? sdk.SSR_GetAllUserInfo(1, u.id, u.nombre, u.clave, u.privilegio, u.habilitado)
               : sdk.SSR_GetUserInfo(1, u.id = id, u.nombre, u.clave, u.privilegio, u.habilitado)) {
      sdk.GetStrCardNumber(u.tarjeta);
      v.push_back(u);
      if (!id.empty()) break;
    }
    return v;
  }
  void TearDown() override { sdk_.Disconnect(); }

  std::unique_ptr<clocksim::Emulador> reloj_;
  ZkSdk sdk_{5s};
};

TEST_F(ZkSdkReloj, MarcacionesEnCadaFormatoYCantidad) {
  // Record layout, how many, over UDP.
  const std::tuple<size_t, int, bool> casos[] = {
      {40, 0, false}, {40, 1, false}, {40, 100000, false}, {16, 5000, true}, {8, 300, false}};
  for (const auto& [formato, cuantas, udp] : casos) {
    SCOPED_TRACE(std::to_string(formato) + "/" + std::to_string(cuantas));
    EstadoReloj e;
    e.formatoMarcacion = formato;
    Genera(e, 30, cuantas, 5);
    // A user the clock no longer has: its number (8 bytes: its uid, 0).
    e.Marca("99");
    if (formato == 8) e.marcaciones.back().usuario = "0";
    Arranca(e, udp);
    ASSERT_TRUE(Conecta());
    ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
    EXPECT_EQ(sdk_.TamMarcacion(), formato);
    EsperaIguales(LeeTodo(sdk_), e);
    ASSERT_TRUE(sdk_.ReadGeneralLogData(0));  // a new read starts over
    EXPECT_EQ(LeeTodo(sdk_).size(), e.marcaciones.size());
    sdk_.Disconnect();
  }
}

TEST_F(ZkSdkReloj, UsuariosEnAmbosFormatos) {
  for (size_t formato : {72u, 28u}) {
    SCOPED_TRACE(formato);
    const bool largo = formato == 72;
    EstadoReloj e;
    e.formatoUsuario = formato;
    auto a = U(1, "123456789", largo ? "Maximiliano Fernandez G" : "Muñoz", 4000000000u);
    auto b = U(2, "20", largo ? "Íñigo Muñoz" : "Íñigo", 99999);
    a.clave = largo ? "1234567" : "12345";
    a.privilegio = 3;
    b.privilegio = 1;
    b.habilitado = false;
    e.usuarios = {a, b};
    Arranca(e);
    ASSERT_TRUE(Conecta());
    ASSERT_TRUE(sdk_.ReadAllUserID(1));
    EXPECT_EQ(sdk_.TamUsuario(), formato);
    const auto v = Usuarios();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].id + v[0].nombre + v[0].clave + v[0].tarjeta,
              "123456789" + a.nombre + a.clave + "4000000000");
    EXPECT_EQ(v[1].nombre + v[1].tarjeta, b.nombre + "99999");
    EXPECT_TRUE(v[0].privilegio == 3 && v[0].habilitado && v[1].privilegio == 1 &&
                !v[1].habilitado);
    // Single lookups: exact text, else the same number ("0020" is 20); unknown: empty, no card.
    EXPECT_EQ(Usuarios("0020").at(0).nombre, b.nombre);
    EXPECT_TRUE(Usuarios("999").empty());
    std::string tarjeta;
    EXPECT_TRUE(sdk_.GetStrCardNumber(tarjeta) && tarjeta == "0");

    // Writes: a new user takes the next uid and the card set before; names and passwords are cut to
    // the field, characters without a Windows-1252 form become "?".
    ASSERT_TRUE(sdk_.SetStrCardNumber("3000000000"));
    ASSERT_TRUE(
        sdk_.SSR_SetUserInfo(1, "77", "José Peña Ñandú Castañeda Ruiz", "123456789", 2, true));
    ASSERT_TRUE(sdk_.SetStrCardNumber("70000"));
    ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "0020", "Zoë 李", "", 3, false));
    EXPECT_EQ(sdk_.SSR_SetUserInfo(1, "A-77", "Ana", "", 0, true),
              largo);  // numbers only in 28
    auto s = Estado();
    const auto* nuevo = s.BuscaId("77");
    ASSERT_TRUE(nuevo);
    EXPECT_EQ(nuevo->nombre + "|" + nuevo->clave,
              largo ? "José Peña Ñandú Castañe|12345678" : "José Peñ|12345");
    EXPECT_TRUE(nuevo->uid == 3 && nuevo->privilegio == 2 && nuevo->tarjeta == 3000000000u);
    const auto* viejo = s.BuscaId("20");
    EXPECT_EQ(viejo->nombre, "Zoë ?");
    EXPECT_TRUE(viejo->uid == 2 && viejo->privilegio == 3 && !viejo->habilitado &&
                viejo->tarjeta == 70000u);
    // Another client: re-writing a user just read keeps its card. A user not delivered (the
    // table refused, the connection gone) leaves no card behind for the next GetStrCardNumber.
    sdk_.Disconnect();
    ASSERT_TRUE(Conecta());
    ASSERT_EQ(Usuarios("77").at(0).tarjeta, "3000000000");
    ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "77", "Otro", "", 0, true));
    EXPECT_EQ(Estado().BuscaId("77")->tarjeta, 3000000000u);
    sdk_.Disconnect();
    ASSERT_TRUE(Conecta());
    Falla("refuse@CMD_DATA_WRRQ*1");
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(sdk_.SetStrCardNumber("555"));
      EXPECT_TRUE(Usuarios("77").empty());
      EXPECT_TRUE(sdk_.GetStrCardNumber(tarjeta) && tarjeta == "0");
      sdk_.Disconnect();
    }
  }
}

TEST_F(ZkSdkReloj, RelojQueGuardaNombresEnUtf8) {
  EstadoReloj e;
  e.codificacion = clocksim::Codificacion::kUtf8;
  e.usuarios = {U(1, "1", "Begoña Ibáñez")};
  Arranca(e);
  ASSERT_TRUE(Conecta());
  EXPECT_EQ(Usuarios("1").at(0).nombre, "Begoña Ibáñez");
  // Written back in the clock's own encoding, cut on a character boundary.
  ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "2", "Ñoño Ñúñez Ñaaxxñ", "", 0, true));
  EXPECT_EQ(Estado().BuscaId("2")->nombre,
            "Ñoño Ñúñez Ñaaxx");  // "ñ" would take bytes 23-24
}

TEST_F(ZkSdkReloj, PlantillasYCaras) {
  EstadoReloj e;
  e.usuarios = {U(3, "300", "Ana"), U(4, "400", "Eva")};
  Arranca(e);
  ASSERT_TRUE(Conecta());
  const Bytes p0 = Azar(1500, 1), p9 = Azar(1500, 2), cara = Azar(2048, 9);
  EXPECT_TRUE(sdk_.SSR_SetUserTmpStr(1, "300", 0, B64(p0)));
  EXPECT_TRUE(sdk_.SetUserTmpExStr(1, "300", 9, 3, B64(p9)));
  EXPECT_TRUE(sdk_.SetUserFaceStr(1, "300", 50, B64(cara), 4));
  auto s = Estado();
  EXPECT_TRUE((s.plantillas[{3, 0}].datos == p0 && s.plantillas[{3, 9}].bandera == 3));
  EXPECT_EQ((s.caras[{3, 50}]), cara);
  std::string texto;
  int32_t largo = 0, bandera = -1;
  ASSERT_TRUE(sdk_.GetUserTmpExStr(1, "300", 9, bandera, texto, largo));
  EXPECT_TRUE(texto == B64(p9) && largo == 1500 && bandera == 1);
  ASSERT_TRUE(sdk_.GetUserFaceStr(1, "300", 50, texto, largo));
  EXPECT_EQ(texto, B64(cara));
  // Absent finger or face, a finger out of range, an unknown user: false and empty.
  EXPECT_FALSE(sdk_.SSR_GetUserTmpStr(1, "300", 5, texto, largo));
  EXPECT_TRUE(texto.empty() && largo == 0);
  EXPECT_FALSE(sdk_.SSR_GetUserTmpStr(1, "300", 256, texto, largo) ||
               sdk_.GetUserFaceStr(1, "400", 50, texto, largo) ||
               sdk_.GetUserTmpExStr(1, "301", 0, bandera, texto, largo));
  // Text that is not Base64, a finger the clock refuses, an unknown user.
  EXPECT_FALSE(sdk_.SSR_SetUserTmpStr(1, "300", 1, "no es base64!") ||
               sdk_.SetUserTmpExStr(1, "300", 12, 1, B64(p0)) ||
               sdk_.SSR_SetUserTmpStr(1, "301", 1, B64(p0)) ||
               sdk_.SetUserFaceStr(1, "500", 50, B64(cara), 4));
  EXPECT_TRUE(sdk_.Conectado() && Estado().habilitado);
}

TEST_F(ZkSdkReloj, BorradosPorNumeroDeRespaldo) {
  EstadoReloj e;
  e.usuarios = {U(1, "10", "Ana"), U(2, "20", "Eva"), U(3, "30", "Ivo"), U(4, "40", "Olga")};
  e.usuarios[0].clave = "999";
  for (uint16_t uid = 1; uid <= 4; ++uid) {
    e.plantillas[{uid, 0}] = {1, Azar(600, uid)};
    e.plantillas[{uid, 3}] = {1, Azar(600, uid + 10)};
    e.caras[{uid, 50}] = Azar(900, uid + 20);
  }
  Arranca(e);
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 3));   // one finger
  EXPECT_FALSE(sdk_.SSR_DeleteEnrollData(1, "10", 3));  // no longer there
  EXPECT_TRUE(Estado().plantillas.count({1, 0}));
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 10));  // the password
  EXPECT_EQ(Estado().BuscaId("10")->clave + Estado().BuscaId("10")->nombre, "Ana");
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 50));  // the face
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 11));  // every finger
  EXPECT_FALSE(Estado().caras.count({1, 50}) || Estado().plantillas.count({1, 0}));
  // The whole user, by each of the three members; again: the user is gone, false.
  EXPECT_TRUE(sdk_.DeleteEnrollData(1, 20, 1, 12) && sdk_.SSR_DeleteEnrollData(1, "30", 12) &&
              sdk_.SSR_DeleteEnrollDataExt(1, "40", 12));
  EXPECT_FALSE(sdk_.SSR_DeleteEnrollDataExt(1, "20", 12) || sdk_.SSR_DeleteEnrollData(1, "10", 13));
  const auto s = Estado();
  EXPECT_TRUE(s.usuarios.size() == 1 && s.plantillas.empty() && s.caras.empty());
  EXPECT_TRUE(Usuarios("20").empty());
  EXPECT_TRUE(sdk_.RefreshData(1) && Estado().refrescos >= 1);
}

// The maintenance commands as the task queue runs them: their answers and what they leave in the
// device. The restart goes last: the device goes away, and the connection with it.
TEST_F(ZkSdkReloj, ComandosDeMantenimiento) {
  lector::test::LectorDePrueba p;
  p.l.sdk = &sdk_;
  p.reloj.ahora = {2031, 2, 3, 4, 5, 6, 0};
  EstadoReloj e;
  Genera(e, 10, 500, 2);
  e.usuarios[0].privilegio = 3;
  e.usuarios[0].habilitado = false;
  e.usuarios.push_back(U(40, "42", "ABCDEFGHIJKLMNOPQRSTUVW"));
  e.usuarios.back().clave = "99", e.usuarios.back().habilitado = false;
  Arranca(e, false, clock::kPuertoReloj);
  const std::string ip = reloj_->Direccion();
  auto todos = [&](const std::string& administrador) {
    p.l.estado.ConnectionRegistry.clear();
    std::string r;  // a braced list runs the commands in order
    for (const auto& x : std::vector<std::string>{
             ComandoBM(p.l, ip, e.serie), ComandoTT(p.l, ip, e.serie),
             EstableceHora(p.l, ip, e.serie), TextoBooleano(ComandoRA(p.l, ip, e.serie)),
             TextoBooleano(AsignaPrivilegio(p.l, ip, e.serie, administrador)),
             ComandoRE(p.l, ip, e.serie)})
      r += x;
    return r;
  };
  EXPECT_EQ(todos("0042"), "False00FalseFalse0");  // unreachable: nothing sent
  EXPECT_TRUE(reloj_->Historial().empty());

  p.alcance.tabla[ip] = 0;
  EXPECT_EQ(todos("0042"), "True11TrueTrue1");
  auto s = Estado();
  EXPECT_TRUE(s.marcaciones.empty() && s.habilitado && s.voces == std::vector<uint32_t>{24} &&
              s.reinicios == 1);
  EXPECT_NEAR(static_cast<double>(s.Hora()),
              static_cast<double>(clocksim::SegundosCiviles({2031, 2, 3, 4, 5, 6})), 600);
  // Rights taken from every administrator, then given to "0042": rewritten as read, as a number.
  EXPECT_TRUE(s.usuarios[0].privilegio == 0 && !s.usuarios[0].habilitado);
  const auto* a = s.BuscaId("42");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->nombre + "|" + a->clave, "ABCDEFGHIJKLMNOPQRST|99");
  EXPECT_TRUE(a->privilegio == 3 && a->habilitado);

  // A refusal is never answered as done; an unknown person is still written, with an empty name
  // and password.
  for (auto c : {"CLEAR_ATTLOG", "TESTVOICE", "SET_TIME", "CLEAR_ADMIN", "RESTART"})
    Falla(std::string("refuse@") + c);
  EXPECT_EQ(todos("0077"), "False00FalseTrue0");
  const auto* nuevo = (s = Estado()).BuscaId("77");
  ASSERT_TRUE(nuevo);
  EXPECT_EQ(nuevo->id + "|" + nuevo->nombre + nuevo->clave, "77|");
  EXPECT_THROW(AsignaPrivilegio(p.l, ip, e.serie, "4x"), lector::Falla);
}

TEST_F(ZkSdkReloj, ClaveDeComunicacionPorTcpYPorUdp) {
  for (bool udp : {false, true}) {
    EstadoReloj e;
    e.claveComm = 1234;
    e.formatoUsuario = 28;
    e.usuarios = {U(1, "5555", "Ana")};
    Arranca(e, udp);
    for (int32_t mala : {0, 4321}) {
      sdk_.SetCommPassword(mala);
      EXPECT_FALSE(Conecta() || sdk_.Conectado()) << mala;
    }
    sdk_.SetCommPassword(1234);
    ASSERT_TRUE(Conecta());
    EXPECT_EQ(sdk_.PorUdp(), udp);
    std::string serie, version;
    EXPECT_TRUE(sdk_.GetSerialNumber(0, serie) && sdk_.GetFirmwareVersion(0, version));
    EXPECT_EQ(serie + "|" + version, e.serie + "|" + e.firmware);
    // A template of more than one datagram, both ways.
    ASSERT_TRUE(sdk_.SSR_SetUserTmpStr(1, "5555", 9, B64(Azar(1500, 4))));
    int32_t largo;
    ASSERT_TRUE(sdk_.SSR_GetUserTmpStr(1, "5555", 9, serie, largo));
    EXPECT_EQ(serie, B64(Azar(1500, 4)));
    sdk_.Disconnect();
  }
}

TEST_F(ZkSdkReloj, SinRelojTodoDaFalso) {
  ZkSdk sdk(300ms);
  EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", lector::test::PuertoLibre()));  // neither TCP nor UDP
  EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", 70000) || sdk.Connect_Net("", 4370));
  std::string texto;
  int32_t n = 0;
  bool hab = false;
  EXPECT_FALSE(sdk.ReadGeneralLogData(0) || sdk.SSR_SetUserInfo(1, "1", "Ana", "", 0, true) ||
               sdk.SSR_GetGeneralLogData(0, texto, n, n, n, n, n, n, n, n, n) ||
               sdk.SSR_GetAllUserInfo(1, texto, texto, texto, n, hab) ||
               sdk.GetUserFaceStr(1, "1", 50, texto, n) || sdk.ClearGLog(1) ||
               sdk.RestartDevice(1) || sdk.SetDeviceTime2(1, 2024, 5, 6, 7, 8, 9));
  // The card value lives in the SDK object: an unsigned 32-bit decimal number.
  EXPECT_TRUE(sdk.SetStrCardNumber("4294967295"));
  for (const char* mala : {"4294967296", "12a", ""}) EXPECT_FALSE(sdk.SetStrCardNumber(mala));
  EXPECT_TRUE(sdk.GetStrCardNumber(texto) && texto == "4294967295");
}

// Faults of the clock or of the network, one try or for good. A read that succeeds brings every
// record exactly; one that fails brings none. Either way the next connection reads everything.

enum class Paso { kConecta, kLee, kUsuarios, kSerie, kVersion, kCara, kBorra };

TEST_F(ZkSdkReloj, FallasDelRelojODeLaRed) {
  const struct {
    const char* falla;
    Paso paso;
    bool ok, conectado;
    bool udp = false;
    int marcaciones = 3000;
  } casos[] = {
      // Not a clock: nothing, noise or a refusal where the answer to CMD_CONNECT should be.
      {"silent@CMD_CONNECT", Paso::kConecta, false, false},
      {"garbage@CMD_CONNECT", Paso::kConecta, false, false},
      {"refuse@CMD_CONNECT", Paso::kConecta, false, false},
      {"drop-after=100000@CMD_DATA_RDY*1", Paso::kLee, false, false},
      {"refuse@CMD_DATA_WRRQ*1", Paso::kLee, false, true},
      {"garbage=70000@CMD_DATA_RDY*1", Paso::kLee, false, false},
      {"silent@CMD_OPTIONS_RRQ*1", Paso::kSerie, false, false},
      {"garbage@CMD_GET_VERSION*1", Paso::kVersion, false, false},
      // A chunk without an answer is asked for again; a late answer to the first try arrives
      // while the second is awaited: the reply ids keep the two apart.
      {"silent@CMD_DATA_RDY*1", Paso::kLee, true, true},
      {"delay=2500@CMD_DATA_RDY*1", Paso::kLee, true, true},
      {"silent@CMD_DATA_RDY*3", Paso::kLee, false, false},
      // Datagrams lost, repeated or overtaken: the chunk is asked for again, never joined
      // across a gap; when no try comes whole, nothing.
      {"drop=3@CMD_DATA_RDY*1", Paso::kLee, true, true, true},
      {"duplicate=3@CMD_DATA_RDY*1", Paso::kLee, true, true, true},
      {"reorder=17@CMD_DATA_RDY*1", Paso::kLee, true, true, true},      // last DATA after ACK_OK
      {"reorder=8@CMD_DATA_RDY*1", Paso::kLee, true, true, true, 500},  // short one first
      {"drop=3@CMD_DATA_RDY*1", Paso::kUsuarios, true, true, true},
      {"drop=3@CMD_DATA_RDY", Paso::kLee, false, false, true},
      // What real clocks do: take long to prepare a full log, ignore our face commands (or
      // answer them late), compute a checksum their own way.
      {"delay=2500@CMD_DATA_WRRQ*1", Paso::kLee, true, true},
      {"silent@CMD_FACE_RRQ*1", Paso::kCara, false, true},
      {"delay=1300@CMD_FACE_RRQ*1", Paso::kCara, false, true},
      {"silent@CMD_FACE_WRQ", Paso::kBorra, true, true},
      {"bad-checksum@CMD_OPTIONS_RRQ*2", Paso::kSerie, true, true},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.falla);
    EstadoReloj e;
    e.formatoUsuario = c.udp ? 28 : 72;
    e.formatoMarcacion = c.udp ? 16 : 40;
    Genera(e, c.paso == Paso::kUsuarios ? 1000 : 5, c.marcaciones, 3);
    e.caras[{e.usuarios[0].uid, 50}] = Azar(900, 1);
    Arranca(e, c.udp);
    ZkSdk sdk(1500ms);
    std::vector<std::string> avisos;
    sdk.PoneBitacora([&](const std::string& s) { avisos.push_back(s); });
    if (c.paso != Paso::kConecta) {
      ASSERT_TRUE(Conecta(sdk));
    }
    Falla(c.falla);
    std::string texto;
    int32_t largo;
    const std::string& id = e.usuarios[0].id;
    const bool ok =
        c.paso == Paso::kConecta    ? Conecta(sdk)
        : c.paso == Paso::kLee      ? sdk.ReadGeneralLogData(0)
        : c.paso == Paso::kUsuarios ? sdk.ReadAllUserID(1)
        : c.paso == Paso::kVersion  ? sdk.GetFirmwareVersion(0, texto)
        : c.paso == Paso::kBorra    ? sdk.SSR_DeleteEnrollData(1, id, 12)
        : c.paso == Paso::kSerie
            ? sdk.GetSerialNumber(0, texto) && sdk.GetSerialNumber(0, texto) && texto == e.serie
            // A face: false, and the connection goes on (a late answer is passed over).
            : sdk.GetUserFaceStr(1, id, 50, texto, largo) || !sdk.GetSerialNumber(0, texto);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(sdk.Conectado(), c.conectado);
    if (c.paso == Paso::kLee) EsperaIguales(LeeTodo(sdk), c.ok ? e : EstadoReloj{});
    if (c.paso == Paso::kUsuarios) {
      const auto v = Usuarios("", &sdk);
      ASSERT_EQ(v.size(), e.usuarios.size());
      for (size_t i = 0; i < v.size(); ++i)
        ASSERT_EQ(v[i].id + "|" + v[i].tarjeta,
                  e.usuarios[i].id + "|" + std::to_string(e.usuarios[i].tarjeta));
    }
    // A received checksum that differs is told once per connection.
    EXPECT_EQ(avisos.size(), std::string(c.falla).find("checksum") != std::string::npos ? 1u : 0u);
    reloj_->QuitaFallas();
    ASSERT_TRUE(Conecta(sdk));
    ASSERT_TRUE(sdk.ReadGeneralLogData(0));
    EXPECT_EQ(LeeTodo(sdk).size(), e.marcaciones.size());
    EXPECT_TRUE(Estado().habilitado);
  }
}

// A punch between the count and the data, or no count at all: the layout comes from the data.
TEST_F(ZkSdkReloj, CuentaQueNoCoincideConLosDatos) {
  for (const auto& [falla, formato] :
       std::vector<std::pair<std::string, size_t>>{{"punch@CMD_GET_FREE_SIZES*1", 40},
                                                   {"punch@CMD_GET_FREE_SIZES*1", 16},
                                                   {"punch@CMD_GET_FREE_SIZES*1", 8},
                                                   {"refuse@CMD_GET_FREE_SIZES*1", 40}}) {
    SCOPED_TRACE(falla + " " + std::to_string(formato));
    EstadoReloj e;
    e.usuarios = {U(1, "1001", "Ana"), U(7, "77", "Luis")};
    e.horaFija = clocksim::SegundosCiviles({2026, 3, 2, 8, 0, 0});
    e.formatoMarcacion = formato;
    e.Marca("77", 1, 15, clocksim::SegundosCiviles({2026, 3, 1, 7, 0, 0}));
    e.Marca("1001");
    Arranca(e);
    Falla(falla);
    ASSERT_TRUE(Conecta());
    ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
    const auto s = Estado();
    EXPECT_EQ(s.marcaciones.size(), falla[0] == 'p' ? 3u : 2u);
    EsperaIguales(LeeTodo(sdk_), s);
    // The count is asked for while the clock is disabled, when nobody can punch.
    const auto h = reloj_->Historial();
    auto posicion = [&](uint16_t comando) {
      return std::find_if(h.begin(), h.end(), [&](const auto& x) { return x.comando == comando; });
    };
    EXPECT_LT(posicion(CMD_DISABLEDEVICE), posicion(CMD_GET_FREE_SIZES));
    sdk_.Disconnect();
  }
  // Records that read as no layout are not dated by a guess: the read fails, and says why.
  EstadoReloj e;
  e.Marca(
      "\x01"
      "7");
  Arranca(e);
  ASSERT_TRUE(Conecta());
  EXPECT_FALSE(sdk_.ReadGeneralLogData(0));
  EXPECT_EQ(sdk_.MotivoDeFalla(reloj_->Direccion()),
            "marcaciones en un formato desconocido; no se escribe nada");
}

}  // namespace
}  // namespace lector::clock::zk
