// ZkSdk against the clock emulator on loopback: every SDK member over real traffic, both user
// and record layouts, TCP and UDP, comm keys, and the faults a clock or a network can show.
// Meaningful only where the emulator library is built.
#if __has_include("clock-sim/Emulador.h")

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "clock/zk/ZkSdk.h"

namespace lector::clock::zk {
namespace {

using namespace std::chrono_literals;
using clocksim::Emulador;
using clocksim::EstadoReloj;
using clocksim::Falla;
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

// The record as the device holds it, as the SDK should hand it over.
void EsperaIgual(const Registro& r, const Marcacion& m, const std::string& enrolamiento) {
  const FechaHora f = DecodificaHora(m.hora);
  EXPECT_EQ(r.enrolamiento, enrolamiento);
  EXPECT_EQ(r.verificacion, m.verificacion);
  EXPECT_EQ(r.entradaSalida, m.estado);
  EXPECT_EQ((FechaHora{r.anio, r.mes, r.dia, r.hora, r.minuto, r.segundo}), f);
  EXPECT_EQ(r.codigo, static_cast<int32_t>(m.codigoTrabajo));
}

void Genera(EstadoReloj& e, int usuarios, int marcaciones, uint64_t semilla) {
  clocksim::Generacion g;
  g.usuarios = usuarios;
  g.marcaciones = marcaciones;
  g.semilla = semilla;
  clocksim::Genera(e, g);
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

clocksim::Usuario UsuarioSim(uint16_t uid, std::string id, std::string nombre) {
  clocksim::Usuario u;
  u.uid = uid;
  u.id = std::move(id);
  u.nombre = std::move(nombre);
  return u;
}

class ZkSdkReloj : public ::testing::Test {
 protected:
  void Arranca(EstadoReloj e, clocksim::Opciones o = {}) {
    o.direccion = "127.0.0.23";
    o.puerto = 0;
    reloj_ = std::make_unique<Emulador>(std::move(e), std::move(o));
    reloj_->Inicia();
  }
  bool Conecta(ZkSdk& sdk) { return sdk.Connect_Net(reloj_->Direccion(), reloj_->Puerto()); }
  bool Conecta() { return Conecta(sdk_); }
  EstadoReloj Estado() { return reloj_->Copia(); }
  void TearDown() override {
    sdk_.Disconnect();
    if (reloj_) reloj_->Detiene();
  }

  std::unique_ptr<Emulador> reloj_;
  ZkSdk sdk_{5s};
};

// ---------------------------------------------------------------------------------------------
// Identity and records

TEST_F(ZkSdkReloj, SerieYFirmware) {
  EstadoReloj e;
  e.serie = "OIN7040057";
  e.firmware = "Ver 6.60 Oct 29 2012";
  Arranca(e);
  ASSERT_TRUE(Conecta());
  EXPECT_FALSE(sdk_.PorUdp());
  std::string serie, version;
  EXPECT_TRUE(sdk_.GetSerialNumber(0, serie));
  EXPECT_EQ(serie, "OIN7040057");
  EXPECT_TRUE(sdk_.GetFirmwareVersion(1, version));
  EXPECT_EQ(version, "Ver 6.60 Oct 29 2012");
  // Several clients, one after another.
  sdk_.Disconnect();
  EXPECT_FALSE(sdk_.GetSerialNumber(0, serie));
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.GetSerialNumber(0, serie));
  EXPECT_EQ(reloj_->Conexiones(), 2);
}

TEST_F(ZkSdkReloj, CeroUnoYCienMilMarcaciones) {
  for (int cuantas : {0, 1, 100000}) {
    SCOPED_TRACE(cuantas);
    EstadoReloj e;
    Genera(e, 30, cuantas, 5);
    Arranca(e);
    ASSERT_TRUE(Conecta());
    ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
    const auto leidas = LeeTodo(sdk_);
    ASSERT_EQ(leidas.size(), static_cast<size_t>(cuantas));
    EXPECT_EQ(sdk_.TamMarcacion(), cuantas ? 40u : 0u);
    for (size_t i = 0; i < leidas.size(); i += (i + 1 < leidas.size() ? 997 : 1))
      EsperaIgual(leidas[i], e.marcaciones[i], e.marcaciones[i].usuario);
    if (cuantas) EsperaIgual(leidas.back(), e.marcaciones.back(), e.marcaciones.back().usuario);
    EXPECT_TRUE(Estado().habilitado);  // the clock was given back its keypad
    // Iteration ended; a new read starts over.
    ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
    EXPECT_EQ(LeeTodo(sdk_).size(), static_cast<size_t>(cuantas));
    sdk_.Disconnect();
    reloj_->Detiene();
  }
}

TEST_F(ZkSdkReloj, Marcaciones16Y8Bytes) {
  EstadoReloj e;
  e.usuarios = {UsuarioSim(1, "1001", "Ana"), UsuarioSim(7, "77", "Luis")};
  Marcacion m;
  m.uid = 7;
  m.usuario = "77";
  m.verificacion = 15;
  m.estado = 1;
  m.hora = *CodificaHora({2024, 3, 31, 23, 59, 58});
  m.codigoTrabajo = 12;
  e.marcaciones = {m};
  m.uid = 1;
  m.usuario = "1001";
  m.hora = *CodificaHora({2024, 4, 1, 8, 0, 0});
  e.marcaciones.push_back(m);

  e.formatoMarcacion = 16;
  Arranca(e);
  ASSERT_TRUE(Conecta());
  ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
  EXPECT_EQ(sdk_.TamMarcacion(), 16u);
  auto v = LeeTodo(sdk_);
  ASSERT_EQ(v.size(), 2u);
  EsperaIgual(v[0], e.marcaciones[0], "77");
  EsperaIgual(v[1], e.marcaciones[1], "1001");
  sdk_.Disconnect();
  reloj_->Detiene();

  // 8-byte records carry only the uid: the enrolment number comes from the user table (the
  // uid itself for a user the clock no longer has).
  e.formatoMarcacion = 8;
  for (auto& x : e.marcaciones) x.codigoTrabajo = 0;
  m.uid = 99;
  m.usuario = "99";
  m.codigoTrabajo = 0;
  e.marcaciones.push_back(m);
  Arranca(e);
  ASSERT_TRUE(Conecta());
  ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
  EXPECT_EQ(sdk_.TamMarcacion(), 8u);
  v = LeeTodo(sdk_);
  ASSERT_EQ(v.size(), 3u);
  EsperaIgual(v[0], e.marcaciones[0], "77");
  EsperaIgual(v[1], e.marcaciones[1], "1001");
  EsperaIgual(v[2], e.marcaciones[2], "99");
}

// ---------------------------------------------------------------------------------------------
// Users and cards

TEST_F(ZkSdkReloj, UsuariosEn72BytesConNombresLargosYNoAscii) {
  const std::string n23 = "Maximiliano Fernandez G";  // 23 characters: the whole field
  ASSERT_EQ(n23.size(), 23u);
  EstadoReloj e;
  auto a = UsuarioSim(1, "1", n23);
  a.clave = "1234567";
  a.privilegio = 3;
  a.tarjeta = 4000000000u;
  auto b = UsuarioSim(2, "20", "Íñigo Muñoz");
  b.habilitado = false;
  b.privilegio = 1;
  e.usuarios = {a, b, UsuarioSim(3, "", "Sin número")};
  Arranca(e);
  ASSERT_TRUE(Conecta());
  ASSERT_TRUE(sdk_.ReadAllUserID(1));
  EXPECT_EQ(sdk_.TamUsuario(), 72u);
  std::string id, nombre, clave, tarjeta;
  int32_t priv = -1;
  bool hab = false;
  ASSERT_TRUE(sdk_.SSR_GetAllUserInfo(1, id, nombre, clave, priv, hab));
  EXPECT_EQ(id, "1");
  EXPECT_EQ(nombre, n23);
  EXPECT_EQ(clave, "1234567");
  EXPECT_EQ(priv, 3);
  EXPECT_TRUE(hab);
  EXPECT_TRUE(sdk_.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "4000000000");
  ASSERT_TRUE(sdk_.SSR_GetAllUserInfo(1, id, nombre, clave, priv, hab));
  EXPECT_EQ(id, "20");
  EXPECT_EQ(nombre, "Íñigo Muñoz");
  EXPECT_EQ(priv, 1);
  EXPECT_FALSE(hab);
  EXPECT_TRUE(sdk_.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "0");
  ASSERT_TRUE(sdk_.SSR_GetAllUserInfo(1, id, nombre, clave, priv, hab));
  EXPECT_EQ(id, "");
  EXPECT_FALSE(sdk_.SSR_GetAllUserInfo(1, id, nombre, clave, priv, hab));

  // Single lookups: exact text, else the same number ("0020" is 20); unknown = empty name.
  EXPECT_TRUE(sdk_.SSR_GetUserInfo(1, "0020", nombre, clave, priv, hab));
  EXPECT_EQ(nombre, "Íñigo Muñoz");
  EXPECT_FALSE(sdk_.SSR_GetUserInfo(1, "999", nombre, clave, priv, hab));
  EXPECT_EQ(nombre, "");
  EXPECT_TRUE(sdk_.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "0");
}

TEST_F(ZkSdkReloj, EscribeUsuariosYTarjetasGrandes) {
  EstadoReloj e;
  e.usuarios = {UsuarioSim(5, "42", "Viejo Nombre")};
  e.usuarios[0].tarjeta = 123;
  Arranca(e);
  ASSERT_TRUE(Conecta());
  // A new user takes the next uid; the card set before the write goes with it.
  ASSERT_TRUE(sdk_.SetStrCardNumber("4000000000"));
  ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "9001", "José Peña Ñandú Castañeda Ruiz", "12", 2, true));
  // An existing user found by number, rewritten; the name is cut to 23 characters.
  ASSERT_TRUE(sdk_.SetStrCardNumber("70000"));
  ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "0042", "Nuevo Nombre", "", 3, false));
  // Characters without a Windows-1252 form arrive as "?".
  ASSERT_TRUE(sdk_.SetStrCardNumber("0"));
  ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "9002", "Zoë 李", "", 0, true));

  auto s = Estado();
  ASSERT_EQ(s.usuarios.size(), 3u);
  const auto* nuevo = s.BuscaId("9001");
  ASSERT_TRUE(nuevo);
  EXPECT_EQ(nuevo->uid, 6);
  EXPECT_EQ(nuevo->nombre, "José Peña Ñandú Castañe");
  EXPECT_EQ(nuevo->clave, "12");
  EXPECT_EQ(nuevo->privilegio, 2);
  EXPECT_EQ(nuevo->tarjeta, 4000000000u);
  const auto* viejo = s.BuscaId("42");
  ASSERT_TRUE(viejo);
  EXPECT_EQ(viejo->uid, 5);
  EXPECT_EQ(viejo->nombre, "Nuevo Nombre");
  EXPECT_EQ(viejo->privilegio, 3);
  EXPECT_FALSE(viejo->habilitado);
  EXPECT_EQ(viejo->tarjeta, 70000u);
  ASSERT_TRUE(s.BuscaId("9002"));
  EXPECT_EQ(s.BuscaId("9002")->nombre, "Zoë ?");

  // A second client reads what the first wrote.
  ZkSdk otro(5s);
  sdk_.Disconnect();
  ASSERT_TRUE(Conecta(otro));
  std::string nombre, clave, tarjeta;
  int32_t priv;
  bool hab;
  ASSERT_TRUE(otro.SSR_GetUserInfo(1, "9001", nombre, clave, priv, hab));
  EXPECT_EQ(nombre, "José Peña Ñandú Castañe");
  ASSERT_TRUE(otro.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "4000000000");
  // Re-writing a user just read keeps its card (the card value is the one just read).
  ASSERT_TRUE(otro.SSR_GetUserInfo(1, "42", nombre, clave, priv, hab));
  ASSERT_TRUE(otro.SSR_SetUserInfo(1, "42", nombre, clave, 3, true));
  EXPECT_EQ(reloj_->Copia().BuscaId("42")->tarjeta, 70000u);
  EXPECT_TRUE(reloj_->Copia().BuscaId("42")->habilitado);
  otro.Disconnect();
}

TEST_F(ZkSdkReloj, UsuariosEn28Bytes) {
  EstadoReloj e;
  e.formatoUsuario = 28;
  auto a = UsuarioSim(1, "123456789", "Muñoz");
  a.tarjeta = 99999;
  e.usuarios = {a};
  Arranca(e);
  ASSERT_TRUE(Conecta());
  ASSERT_TRUE(sdk_.ReadAllUserID(1));
  EXPECT_EQ(sdk_.TamUsuario(), 28u);
  std::string id, nombre, clave, tarjeta;
  int32_t priv;
  bool hab;
  ASSERT_TRUE(sdk_.SSR_GetAllUserInfo(1, id, nombre, clave, priv, hab));
  EXPECT_EQ(id, "123456789");
  EXPECT_EQ(nombre, "Muñoz");
  ASSERT_TRUE(sdk_.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "99999");
  // Names are cut to 8 bytes, passwords to 5; these clocks hold numeric ids only.
  ASSERT_TRUE(sdk_.SetStrCardNumber("3000000000"));
  ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "77", "Peñaranda López", "1234567", 1, true));
  EXPECT_FALSE(sdk_.SSR_SetUserInfo(1, "A-77", "Ana", "", 0, true));
  auto s = Estado();
  const auto* u = s.BuscaId("77");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->nombre, "Peñarand");
  EXPECT_EQ(u->clave, "12345");
  EXPECT_EQ(u->tarjeta, 3000000000u);
  EXPECT_EQ(u->uid, 2);
  EXPECT_EQ(s.usuarios.size(), 2u);
}

TEST_F(ZkSdkReloj, RelojQueGuardaNombresEnUtf8) {
  EstadoReloj e;
  e.codificacion = clocksim::Codificacion::kUtf8;
  e.usuarios = {UsuarioSim(1, "1", "Begoña Ibáñez")};
  Arranca(e);
  ASSERT_TRUE(Conecta());
  std::string nombre, clave;
  int32_t priv;
  bool hab;
  ASSERT_TRUE(sdk_.SSR_GetUserInfo(1, "1", nombre, clave, priv, hab));
  EXPECT_EQ(nombre, "Begoña Ibáñez");
  // Written back in the clock's own encoding, cut on a character boundary.
  ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "2", "Ñoño Ñúñez Ñaaxxñ", "", 0, true));
  EXPECT_EQ(Estado().BuscaId("2")->nombre, "Ñoño Ñúñez Ñaaxx");  // "ñ" would take bytes 23-24
}

// ---------------------------------------------------------------------------------------------
// Templates and faces

TEST_F(ZkSdkReloj, PlantillasDe1500BytesEnDedos0Y9) {
  EstadoReloj e;
  e.usuarios = {UsuarioSim(3, "300", "Ana")};
  Arranca(e);
  ASSERT_TRUE(Conecta());
  const Bytes p0 = Azar(1500, 1), p9 = Azar(1500, 2);
  EXPECT_TRUE(sdk_.SSR_SetUserTmpStr(1, "300", 0, B64(p0)));
  EXPECT_TRUE(sdk_.SetUserTmpExStr(1, "300", 9, 3, B64(p9)));
  auto s = Estado();
  ASSERT_EQ(s.plantillas.size(), 2u);
  EXPECT_EQ((s.plantillas[{3, 0}].datos), p0);
  EXPECT_EQ((s.plantillas[{3, 0}].bandera), 1);
  EXPECT_EQ((s.plantillas[{3, 9}].datos), p9);
  EXPECT_EQ((s.plantillas[{3, 9}].bandera), 3);
  EXPECT_TRUE(s.habilitado);

  std::string texto;
  int32_t largo = 0, bandera = -1;
  ASSERT_TRUE(sdk_.SSR_GetUserTmpStr(1, "300", 0, texto, largo));
  EXPECT_EQ(texto, B64(p0));
  EXPECT_EQ(largo, 1500);
  ASSERT_TRUE(sdk_.GetUserTmpExStr(1, "300", 9, bandera, texto, largo));
  EXPECT_EQ(texto, B64(p9));
  EXPECT_EQ(bandera, 1);
  // Absent finger, finger 15, unknown user: false and empty, and the connection stays.
  EXPECT_FALSE(sdk_.SSR_GetUserTmpStr(1, "300", 5, texto, largo));
  EXPECT_EQ(texto, "");
  EXPECT_EQ(largo, 0);
  EXPECT_FALSE(sdk_.SSR_GetUserTmpStr(1, "300", 15, texto, largo));
  EXPECT_FALSE(sdk_.GetUserTmpExStr(1, "301", 0, bandera, texto, largo));
  // Text that is not Base64, a finger the clock refuses, an unknown user.
  EXPECT_FALSE(sdk_.SSR_SetUserTmpStr(1, "300", 1, "no es base64!"));
  EXPECT_FALSE(sdk_.SSR_SetUserTmpStr(1, "300", 1, ""));
  EXPECT_FALSE(sdk_.SetUserTmpExStr(1, "300", 12, 1, B64(p0)));
  EXPECT_FALSE(sdk_.SSR_SetUserTmpStr(1, "301", 1, B64(p0)));
  EXPECT_TRUE(sdk_.Conectado());
  EXPECT_TRUE(Estado().habilitado);
}

TEST_F(ZkSdkReloj, Caras) {
  EstadoReloj e;
  e.usuarios = {UsuarioSim(3, "300", "Ana"), UsuarioSim(4, "400", "Eva")};
  Arranca(e);
  ASSERT_TRUE(Conecta());
  const Bytes cara = Azar(2048, 9);
  const std::string texto = B64(cara);
  EXPECT_TRUE(sdk_.SetUserFaceStr(1, "300", 50, texto, static_cast<int32_t>(texto.size())));
  EXPECT_EQ((Estado().caras[{3, 50}]), cara);
  std::string leida;
  int32_t largo = 0;
  ASSERT_TRUE(sdk_.GetUserFaceStr(1, "300", 50, leida, largo));
  EXPECT_EQ(leida, texto);
  EXPECT_EQ(largo, 2048);
  EXPECT_FALSE(sdk_.GetUserFaceStr(1, "400", 50, leida, largo));
  EXPECT_EQ(leida, "");
  EXPECT_FALSE(sdk_.SetUserFaceStr(1, "500", 50, texto, 4));
  EXPECT_TRUE(sdk_.Conectado());
}

// ---------------------------------------------------------------------------------------------
// Deletions

TEST_F(ZkSdkReloj, BorradosPorNumeroDeRespaldo) {
  EstadoReloj e;
  auto a = UsuarioSim(1, "10", "Ana");
  a.clave = "999";
  e.usuarios = {a, UsuarioSim(2, "20", "Eva"), UsuarioSim(3, "30", "Ivo"),
                UsuarioSim(4, "40", "Olga")};
  for (uint16_t uid = 1; uid <= 4; ++uid) {
    e.plantillas[{uid, 0}] = {1, Azar(600, uid)};
    e.plantillas[{uid, 3}] = {1, Azar(600, uid + 10)};
    e.caras[{uid, 50}] = Azar(900, uid + 20);
  }
  Arranca(e);
  ASSERT_TRUE(Conecta());

  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 3));  // one finger
  auto s = Estado();
  EXPECT_FALSE(s.plantillas.count({1, 3}));
  EXPECT_TRUE(s.plantillas.count({1, 0}));
  EXPECT_FALSE(sdk_.SSR_DeleteEnrollData(1, "10", 3));  // no longer there
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 10));  // the password
  EXPECT_EQ(Estado().BuscaId("10")->clave, "");
  EXPECT_EQ(Estado().BuscaId("10")->nombre, "Ana");
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 50));  // the face
  EXPECT_FALSE(Estado().caras.count({1, 50}));
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "10", 11));  // every finger
  s = Estado();
  EXPECT_FALSE(s.plantillas.count({1, 0}));
  EXPECT_TRUE(s.BuscaId("10"));

  // The whole user, by each of the three members.
  EXPECT_TRUE(sdk_.DeleteEnrollData(1, 20, 1, 12));
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollData(1, "30", 12));
  EXPECT_TRUE(sdk_.SSR_DeleteEnrollDataExt(1, "40", 12));
  s = Estado();
  EXPECT_FALSE(s.BuscaId("20"));
  EXPECT_FALSE(s.BuscaId("30"));
  EXPECT_FALSE(s.BuscaId("40"));
  EXPECT_TRUE(s.plantillas.empty());
  EXPECT_TRUE(s.caras.empty());
  // Repeated, as the user deletion task does: the user is gone, false, nothing breaks.
  EXPECT_FALSE(sdk_.SSR_DeleteEnrollData(1, "20", 12));
  EXPECT_FALSE(sdk_.SSR_DeleteEnrollDataExt(1, "20", 12));
  EXPECT_FALSE(sdk_.SSR_DeleteEnrollData(1, "10", 13));
  std::string nombre, clave;
  int32_t priv;
  bool hab;
  EXPECT_FALSE(sdk_.SSR_GetUserInfo(1, "20", nombre, clave, priv, hab));
  EXPECT_TRUE(sdk_.RefreshData(1));
  EXPECT_GE(Estado().refrescos, 1);
}

// ---------------------------------------------------------------------------------------------
// Time and maintenance

TEST_F(ZkSdkReloj, HoraDelReloj) {
  EstadoReloj e;
  e.horaFija = clocksim::SegundosCiviles({2020, 1, 1, 0, 0, 0});
  Arranca(e);
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.SetDeviceTime2(1, 2031, 2, 3, 4, 5, 6));
  EXPECT_EQ(Estado().Hora(), clocksim::SegundosCiviles({2031, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(sdk_.SetDeviceTime2(1, 2031, 13, 3, 4, 5, 6));
  EXPECT_FALSE(sdk_.SetDeviceTime2(1, 1999, 12, 31, 23, 59, 59));
  EXPECT_TRUE(sdk_.Conectado());
  EXPECT_EQ(Estado().Hora(), clocksim::SegundosCiviles({2031, 2, 3, 4, 5, 6}));
}

TEST_F(ZkSdkReloj, ComandosDeMantenimiento) {
  EstadoReloj e;
  Genera(e, 10, 500, 2);
  auto admin = UsuarioSim(200, "200", "Jefa");
  admin.privilegio = 3;
  admin.habilitado = false;
  e.usuarios.push_back(admin);
  Arranca(e);
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.Beep(2000));
  EXPECT_EQ(Estado().voces, std::vector<uint32_t>{24});
  EXPECT_TRUE(sdk_.ClearAdministrators(1));
  for (const auto& u : Estado().usuarios) EXPECT_EQ(u.privilegio, 0) << u.id;
  EXPECT_TRUE(sdk_.ClearGLog(1));
  auto s = Estado();
  EXPECT_TRUE(s.marcaciones.empty());
  EXPECT_TRUE(s.habilitado);
  ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
  EXPECT_TRUE(LeeTodo(sdk_).empty());
  // A restart answers and the clock goes away: true, and the connection is over.
  EXPECT_TRUE(sdk_.RestartDevice(1));
  EXPECT_EQ(Estado().reinicios, 1);
  std::string serie;
  EXPECT_FALSE(sdk_.GetSerialNumber(0, serie));
  EXPECT_FALSE(sdk_.Conectado());
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.GetSerialNumber(0, serie));
}

// ---------------------------------------------------------------------------------------------
// Comm key and UDP

TEST_F(ZkSdkReloj, ClaveDeComunicacion) {
  EstadoReloj e;
  e.claveComm = 1234;
  e.serie = "CLAVE1";
  Arranca(e);
  std::string serie;
  EXPECT_FALSE(Conecta());  // no key set
  EXPECT_FALSE(sdk_.GetSerialNumber(0, serie));
  sdk_.SetCommPassword(4321);
  EXPECT_FALSE(Conecta());
  EXPECT_FALSE(sdk_.Conectado());
  sdk_.SetCommPassword(1234);
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.GetSerialNumber(0, serie));
  EXPECT_EQ(serie, "CLAVE1");
}

TEST_F(ZkSdkReloj, RelojViejoSoloUdp) {
  EstadoReloj e;
  e.formatoUsuario = 28;
  e.formatoMarcacion = 16;
  e.claveComm = 77;
  Genera(e, 40, 5000, 11);
  clocksim::Opciones o;
  o.tcp = false;
  o.udp = true;
  Arranca(e, o);
  sdk_.SetCommPassword(77);
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.PorUdp());
  std::string serie;
  EXPECT_TRUE(sdk_.GetSerialNumber(0, serie));
  EXPECT_EQ(serie, e.serie);
  // 80 KB of records: several 16 KiB chunks of 1 KiB datagrams.
  ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
  EXPECT_EQ(sdk_.TamMarcacion(), 16u);
  const auto v = LeeTodo(sdk_);
  ASSERT_EQ(v.size(), 5000u);
  EsperaIgual(v[0], e.marcaciones[0], e.marcaciones[0].usuario);
  EsperaIgual(v[4999], e.marcaciones[4999], e.marcaciones[4999].usuario);
  ASSERT_TRUE(sdk_.ReadAllUserID(1));
  EXPECT_EQ(sdk_.TamUsuario(), 28u);
  ASSERT_TRUE(sdk_.SetStrCardNumber("65536"));
  ASSERT_TRUE(sdk_.SSR_SetUserInfo(1, "5555", "Udp Ñu", "", 0, true));
  const Bytes p = Azar(1500, 4);
  ASSERT_TRUE(sdk_.SSR_SetUserTmpStr(1, "5555", 9, B64(p)));
  std::string texto;
  int32_t largo;
  ASSERT_TRUE(sdk_.SSR_GetUserTmpStr(1, "5555", 9, texto, largo));
  EXPECT_EQ(texto, B64(p));
  auto s = Estado();
  ASSERT_TRUE(s.BuscaId("5555"));
  EXPECT_EQ(s.BuscaId("5555")->tarjeta, 65536u);
  EXPECT_EQ(s.BuscaId("5555")->nombre, "Udp Ñu");
}

// ---------------------------------------------------------------------------------------------
// Faults

TEST_F(ZkSdkReloj, TransferenciaCortadaALaMitad) {
  EstadoReloj e;
  Genera(e, 30, 100000, 8);
  Arranca(e);
  reloj_->AgregaFalla({TipoFalla::kCorta, CMD_DATA_RDY, 1000000, 1});
  ASSERT_TRUE(Conecta());
  EXPECT_FALSE(sdk_.ReadGeneralLogData(0));
  EXPECT_FALSE(sdk_.Conectado());
  EXPECT_EQ(sdk_.CuentaMarcaciones(), 0u);
  std::string serie;
  EXPECT_FALSE(sdk_.GetSerialNumber(0, serie));
  EXPECT_FALSE(sdk_.ReadAllUserID(1));
  // The next connection works and reads everything.
  ASSERT_TRUE(Conecta());
  ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
  EXPECT_EQ(LeeTodo(sdk_).size(), 100000u);
  EXPECT_TRUE(Estado().habilitado);
}

TEST_F(ZkSdkReloj, RelojQueDejaDeResponder) {
  EstadoReloj e;
  Arranca(e);
  // Short enough to keep the test quick, long enough for a busy machine's normal answers.
  ZkSdk sdk(1500ms);
  ASSERT_TRUE(Conecta(sdk));
  reloj_->AgregaFalla({TipoFalla::kMudo, CMD_OPTIONS_RRQ, 0, 1});
  std::string serie;
  EXPECT_FALSE(sdk.GetSerialNumber(0, serie));
  EXPECT_FALSE(sdk.Conectado());
  EXPECT_FALSE(sdk.GetFirmwareVersion(1, serie));  // at once: the connection is broken
  ASSERT_TRUE(Conecta(sdk));
  EXPECT_TRUE(sdk.GetSerialNumber(0, serie));
  sdk.Disconnect();
}

TEST_F(ZkSdkReloj, UnTrozoSinRespuestaSePideOtraVez) {
  EstadoReloj e;
  Genera(e, 30, 20000, 9);
  Arranca(e);
  ZkSdk sdk(1500ms);
  ASSERT_TRUE(Conecta(sdk));
  reloj_->AgregaFalla({TipoFalla::kMudo, CMD_DATA_RDY, 0, 1});
  ASSERT_TRUE(sdk.ReadGeneralLogData(0));
  EXPECT_EQ(LeeTodo(sdk).size(), 20000u);
  EXPECT_TRUE(sdk.Conectado());
  // A late answer to the first try arrives while the second is awaited: the reply ids keep
  // the two apart.
  reloj_->AgregaFalla({TipoFalla::kRetrasa, CMD_DATA_RDY, 2500, 1});
  ASSERT_TRUE(sdk.ReadGeneralLogData(0));
  const auto v = LeeTodo(sdk);
  ASSERT_EQ(v.size(), 20000u);
  EsperaIgual(v.back(), e.marcaciones.back(), e.marcaciones.back().usuario);
  // Three silent tries in a row: false, and the next connect works.
  reloj_->AgregaFalla({TipoFalla::kMudo, CMD_DATA_RDY, 0, 3});
  EXPECT_FALSE(sdk.ReadGeneralLogData(0));
  EXPECT_FALSE(sdk.Conectado());
  reloj_->QuitaFallas();
  ASSERT_TRUE(Conecta(sdk));
  ASSERT_TRUE(sdk.ReadGeneralLogData(0));
  EXPECT_EQ(LeeTodo(sdk).size(), 20000u);
  sdk.Disconnect();
}

TEST_F(ZkSdkReloj, RespuestasMalasORechazadas) {
  EstadoReloj e;
  Genera(e, 5, 3000, 1);
  Arranca(e);
  ASSERT_TRUE(Conecta());
  // A refused bulk read: false, the connection stays and the clock is enabled again.
  reloj_->AgregaFalla({TipoFalla::kRechaza, CMD_DATA_WRRQ, 0, 1});
  EXPECT_FALSE(sdk_.ReadGeneralLogData(0));
  EXPECT_TRUE(sdk_.Conectado());
  EXPECT_TRUE(Estado().habilitado);
  ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
  EXPECT_EQ(LeeTodo(sdk_).size(), 3000u);

  std::string texto;
  reloj_->AgregaFalla({TipoFalla::kBasura, CMD_GET_VERSION, 0, 1});
  EXPECT_FALSE(sdk_.GetFirmwareVersion(1, texto));
  EXPECT_FALSE(sdk_.Conectado());
  ASSERT_TRUE(Conecta());
  reloj_->AgregaFalla({TipoFalla::kBasura, CMD_DATA_RDY, 70000, 1});
  EXPECT_FALSE(sdk_.ReadGeneralLogData(0));
  ASSERT_TRUE(Conecta());
  EXPECT_TRUE(sdk_.GetSerialNumber(0, texto));
}

// ---------------------------------------------------------------------------------------------
// Datagrams lost, repeated or overtaken: the chunk is asked for again, never joined across a gap.

struct CasoDatagrama {
  const char* falla;  // command-line form
  int usuarios, marcaciones;
  bool lee;  // the read succeeds (the fault hits one try only)
};

TEST_F(ZkSdkReloj, DatagramasPerdidosRepetidosODesordenados) {
  const CasoDatagrama casos[] = {
      {"drop=3@CMD_DATA_RDY*1", 10, 2000, true},     {"duplicate=3@CMD_DATA_RDY*1", 10, 2000, true},
      {"reorder=17@CMD_DATA_RDY*1", 10, 2000, true},  // the last DATA after the ACK_OK
      {"reorder=8@CMD_DATA_RDY*1", 10, 500, true},    // the short last DATA before a full one
      {"drop=3@CMD_DATA_RDY*1", 1000, 0, true},       // 28-byte users
      {"drop=3@CMD_DATA_RDY", 10, 2000, false},       // every try: nothing, not part
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(std::string(c.falla) + " " + std::to_string(c.marcaciones));
    EstadoReloj e;
    e.formatoUsuario = 28;
    e.formatoMarcacion = 16;
    Genera(e, c.usuarios, c.marcaciones, 3);
    clocksim::Opciones o;
    o.tcp = false;
    o.udp = true;
    Arranca(e, o);
    std::string error;
    reloj_->AgregaFalla(*clocksim::LeeFalla(c.falla, error));
    ASSERT_TRUE(Conecta());
    if (c.marcaciones) {
      EXPECT_EQ(sdk_.ReadGeneralLogData(0), c.lee);
      const auto v = LeeTodo(sdk_);
      ASSERT_EQ(v.size(), c.lee ? e.marcaciones.size() : 0u);
      for (size_t i = 0; i < v.size(); ++i)
        EsperaIgual(v[i], e.marcaciones[i], e.marcaciones[i].usuario);
    } else {
      EXPECT_EQ(sdk_.ReadAllUserID(1), c.lee);
      std::string id, nombre, clave;
      int32_t priv;
      bool hab;
      for (const auto& u : e.usuarios) {
        ASSERT_TRUE(sdk_.SSR_GetAllUserInfo(1, id, nombre, clave, priv, hab));
        EXPECT_EQ(id, u.id);
        std::string tarjeta;
        sdk_.GetStrCardNumber(tarjeta);
        EXPECT_EQ(tarjeta, std::to_string(u.tarjeta));
      }
      EXPECT_FALSE(sdk_.SSR_GetAllUserInfo(1, id, nombre, clave, priv, hab));
    }
    sdk_.Disconnect();
    reloj_->Detiene();
  }
}

// A punch between the count and the data, or no count at all: the layout comes from the data.
struct CasoCuenta {
  const char* falla;
  size_t formato;
  size_t leidas;
};

TEST_F(ZkSdkReloj, CuentaQueNoCoincideConLosDatos) {
  const CasoCuenta casos[] = {
      {"punch@CMD_GET_FREE_SIZES*1", 40, 3},
      {"punch@CMD_GET_FREE_SIZES*1", 16, 3},
      {"punch@CMD_GET_FREE_SIZES*1", 8, 3},
      {"refuse@CMD_GET_FREE_SIZES*1", 40, 2},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(std::string(c.falla) + " " + std::to_string(c.formato));
    EstadoReloj e;
    e.usuarios = {UsuarioSim(1, "1001", "Ana"), UsuarioSim(7, "77", "Luis")};
    e.horaFija = clocksim::SegundosCiviles({2026, 3, 2, 8, 0, 0});
    e.formatoMarcacion = c.formato;
    e.Marca("77", 1, 15, clocksim::SegundosCiviles({2026, 3, 1, 7, 0, 0}));
    e.Marca("1001");
    Arranca(e);
    std::string error;
    reloj_->AgregaFalla(*clocksim::LeeFalla(c.falla, error));
    ASSERT_TRUE(Conecta());
    ASSERT_TRUE(sdk_.ReadGeneralLogData(0));
    const auto v = LeeTodo(sdk_);
    const auto s = Estado();
    ASSERT_EQ(v.size(), c.leidas);
    for (size_t i = 0; i < v.size(); ++i)
      EsperaIgual(v[i], s.marcaciones[i], s.marcaciones[i].usuario);
    // The count is asked for while the clock is disabled, when nobody can punch.
    const auto h = reloj_->Historial();
    auto posicion = [&](uint16_t comando) {
      return std::find_if(h.begin(), h.end(), [&](const auto& x) { return x.comando == comando; });
    };
    EXPECT_LT(posicion(CMD_DISABLEDEVICE), posicion(CMD_GET_FREE_SIZES));
    sdk_.Disconnect();
    reloj_->Detiene();
  }
}

// A user that was not delivered leaves no card behind for the next GetStrCardNumber.
TEST_F(ZkSdkReloj, UsuarioNoLeidoNoDejaTarjeta) {
  EstadoReloj e;
  e.usuarios = {UsuarioSim(1, "1", "Ana"), UsuarioSim(2, "2", "Eva")};
  e.usuarios[0].tarjeta = 555;
  Arranca(e);
  std::string nombre, clave, tarjeta;
  int32_t priv;
  bool hab;
  ASSERT_TRUE(Conecta());
  ASSERT_TRUE(sdk_.SSR_GetUserInfo(1, "1", nombre, clave, priv, hab));
  sdk_.Disconnect();  // the connection dropped
  EXPECT_FALSE(sdk_.SSR_GetUserInfo(1, "2", nombre, clave, priv, hab));
  ASSERT_TRUE(sdk_.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "0");
  ASSERT_TRUE(Conecta());
  ASSERT_TRUE(sdk_.SetStrCardNumber("555"));
  reloj_->AgregaFalla({TipoFalla::kRechaza, CMD_DATA_WRRQ, 0, 1});  // no user table
  EXPECT_FALSE(sdk_.SSR_GetUserInfo(1, "2", nombre, clave, priv, hab));
  ASSERT_TRUE(sdk_.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "0");
}

// What real clocks do that our emulator would not: slow to prepare a big log, deaf to our face
// commands, and a checksum computed their own way.
TEST_F(ZkSdkReloj, LoQueHacenLosRelojesReales) {
  EstadoReloj e;
  Genera(e, 5, 3000, 1);
  e.usuarios[0].id = "300";
  e.plantillas[{e.usuarios[0].uid, 0}] = {1, Azar(600, 1)};
  Arranca(e);
  ZkSdk sdk(1500ms);
  ASSERT_TRUE(Conecta(sdk));
  reloj_->AgregaFalla({TipoFalla::kRetrasa, CMD_DATA_WRRQ, 2500, 1});
  ASSERT_TRUE(sdk.ReadGeneralLogData(0));
  EXPECT_EQ(LeeTodo(sdk).size(), 3000u);

  std::string texto;
  int32_t largo;
  reloj_->AgregaFalla({TipoFalla::kMudo, CMD_FACE_RRQ, 0, 1});
  EXPECT_FALSE(sdk.GetUserFaceStr(1, "300", 50, texto, largo));
  reloj_->AgregaFalla({TipoFalla::kRetrasa, CMD_FACE_RRQ, 1300, 1});
  EXPECT_FALSE(sdk.GetUserFaceStr(1, "300", 50, texto, largo));  // its answer comes late
  EXPECT_TRUE(sdk.SSR_GetUserTmpStr(1, "300", 0, texto, largo));
  EXPECT_EQ(largo, 600);
  reloj_->AgregaFalla({TipoFalla::kMudo, CMD_FACE_WRQ, 0, -1});
  EXPECT_TRUE(sdk.SSR_DeleteEnrollData(1, "300", 12));
  EXPECT_FALSE(Estado().BuscaId("300"));

  reloj_->AgregaFalla({TipoFalla::kChecksumMalo, CMD_OPTIONS_RRQ, 0, 1});
  EXPECT_TRUE(sdk.GetSerialNumber(0, texto));
  EXPECT_EQ(texto, e.serie);
  EXPECT_TRUE(sdk.Conectado());
  sdk.Disconnect();
}

}  // namespace
}  // namespace lector::clock::zk

#endif  // __has_include("clock-sim/Emulador.h")
