// clock-sim at the byte level: a bare client sends codec-built packets over loopback and checks
// every packet of the answers.
#include <gtest/gtest.h>

#include "ClienteCrudo.h"
#include "Comun.h"
#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"
#include "kit/Fixtures.h"

namespace clocksim::test {
namespace {

constexpr const char* kIp = "127.0.0.21";

class ProtocoloTest : public ::testing::Test {
 protected:
  EstadoReloj estado = EstadoDePrueba();
  std::unique_ptr<Emulador> reloj;

  void Arranca(bool tcp = true, bool udp = false) {
    Opciones op;
    op.direccion = kIp;
    op.puerto = 0;
    op.tcp = tcp;
    op.udp = udp;
    reloj = std::make_unique<Emulador>(estado, op);
    reloj->Inicia();
  }
  std::unique_ptr<ClienteCrudo> Cliente(bool udp = false) {
    return std::make_unique<ClienteCrudo>(kIp, reloj->Puerto(), udp);
  }
  std::unique_ptr<ClienteCrudo> Conectado() {
    auto c = Cliente();
    EXPECT_TRUE(c->Conecta());
    return c;
  }
};

std::vector<Marcacion> DecodificaMarcaciones(const zk::Bytes& conjunto, size_t tam) {
  auto cuerpo = zk::LeeConjunto(conjunto.data(), conjunto.size());
  EXPECT_TRUE(cuerpo);
  std::vector<Marcacion> salida;
  for (size_t i = 0; cuerpo && i + tam <= cuerpo->largo; i += tam) {
    Marcacion m;
    EXPECT_TRUE(zk::DecodificaMarcacion(conjunto.data() + cuerpo->inicio + i, tam, m));
    salida.push_back(m);
  }
  return salida;
}

TEST_F(ProtocoloTest, ConnectGivesASessionAndEveryAnswerEchoesSessionAndReplyId) {
  Arranca();
  auto c = Cliente();
  // Before CMD_CONNECT nothing is served.
  EXPECT_EQ(c->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_UNAUTH);
  auto r = c->Pide(zk::CMD_CONNECT);
  EXPECT_EQ(r.comando, zk::CMD_ACK_OK);
  EXPECT_NE(r.sesion, 0);
  EXPECT_EQ(r.idRespuesta, c->idRespuesta);
  EXPECT_TRUE(r.datos.empty());  // plain ACKs carry no data
  c->sesion = r.sesion;
  for (int i = 0; i < 3; ++i) {
    auto q = c->Pide(zk::CMD_GET_FREE_SIZES);
    EXPECT_EQ(q.sesion, r.sesion);
    EXPECT_EQ(q.idRespuesta, c->idRespuesta);
  }
  // A reply id near the wrap and a client that starts from 1 are both echoed as they come.
  c->idRespuesta = 65534;
  EXPECT_EQ(c->Pide(zk::CMD_REFRESHDATA).idRespuesta, 65535);
  EXPECT_EQ(c->Pide(zk::CMD_REFRESHDATA).idRespuesta, 0);
  // A second connect on the same connection keeps the session.
  EXPECT_EQ(c->Pide(zk::CMD_CONNECT).sesion, r.sesion);
  // Unknown commands, and reply codes sent as commands, are answered, not ignored.
  EXPECT_EQ(c->Pide(4242).comando, zk::CMD_ACK_UNKNOWN);
  EXPECT_EQ(c->Pide(zk::CMD_ACK_ERROR).comando, zk::CMD_ACK_UNKNOWN);
  EXPECT_EQ(c->Pide(zk::CMD_ACK_UNKNOWN).comando, zk::CMD_ACK_UNKNOWN);
  EXPECT_EQ(c->Pide(zk::CMD_EXIT).comando, zk::CMD_ACK_OK);
  EXPECT_TRUE(c->Cierra());
  EXPECT_TRUE(c->checksumsValidos);
}

TEST_F(ProtocoloTest, CommKeyIsCheckedForTheSessionAndAnyTicksByte) {
  estado.claveComm = 1234;
  Arranca();
  {
    auto c = Cliente();
    auto r = c->Pide(zk::CMD_CONNECT);
    ASSERT_EQ(r.comando, zk::CMD_ACK_UNAUTH);
    c->sesion = r.sesion;
    EXPECT_EQ(c->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_UNAUTH);
    auto mala = zk::ClaveComm(4321, c->sesion);
    EXPECT_EQ(c->Pide(zk::CMD_AUTH, zk::Bytes(mala.begin(), mala.end())).comando,
              zk::CMD_ACK_UNAUTH);
    // The right key for another session is wrong for this one (the low byte of the session
    // does not reach the wire, so change the high one).
    auto ajena = zk::ClaveComm(1234, static_cast<uint16_t>(c->sesion + 0x100));
    EXPECT_EQ(c->Pide(zk::CMD_AUTH, zk::Bytes(ajena.begin(), ajena.end())).comando,
              zk::CMD_ACK_UNAUTH);
    EXPECT_EQ(c->Pide(zk::CMD_AUTH, zk::Bytes{1, 2}).comando, zk::CMD_ACK_UNAUTH);
    auto buena = zk::ClaveComm(1234, c->sesion, 0xA7);
    EXPECT_EQ(c->Pide(zk::CMD_AUTH, zk::Bytes(buena.begin(), buena.end())).comando, zk::CMD_ACK_OK);
    EXPECT_EQ(c->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_OK);
  }
  EXPECT_FALSE(Cliente()->Conecta(1));
  EXPECT_TRUE(Cliente()->Conecta(1234));
}

TEST_F(ProtocoloTest, OptionsVersionAndWrites) {
  Arranca();
  auto c = Conectado();
  auto texto = [](const zk::Paquete& p) { return std::string(p.datos.begin(), p.datos.end()); };
  auto r = c->Pide(zk::CMD_OPTIONS_RRQ, zk::CodificaNombreOpcion("~SerialNumber"));
  EXPECT_EQ(r.comando, zk::CMD_ACK_OK);
  EXPECT_EQ(texto(r), std::string("~SerialNumber=OIN7030067011200148\0", 34));
  // Without the trailing NUL, as some clients send it.
  r = c->Pide(zk::CMD_OPTIONS_RRQ, zk::Bytes{'~', 'P', 'l', 'a', 't', 'f', 'o', 'r', 'm'});
  EXPECT_EQ(texto(r), std::string("~Platform=ZEM560\0", 17));
  EXPECT_EQ(c->Pide(zk::CMD_OPTIONS_RRQ, zk::CodificaNombreOpcion("NoSuchOption")).comando,
            zk::CMD_ACK_ERROR);
  r = c->Pide(zk::CMD_GET_VERSION);
  EXPECT_EQ(texto(r), std::string("Ver 6.60 Apr 28 2015\0", 21));
  EXPECT_EQ(c->Pide(zk::CMD_OPTIONS_WRQ, zk::CodificaOpcion("SDKBuild", "1")).comando,
            zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_OPTIONS_WRQ, zk::CodificaOpcion("~SerialNumber", "X")).comando,
            zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_OPTIONS_WRQ, zk::Bytes{'x', 0}).comando, zk::CMD_ACK_ERROR);
  r = c->Pide(zk::CMD_OPTIONS_RRQ, zk::CodificaNombreOpcion("SDKBuild"));
  EXPECT_EQ(zk::ValorOpcion(r.datos.data(), r.datos.size()), "1");
  EXPECT_EQ(reloj->Copia().opciones.at("SDKBuild"), "1");
  EXPECT_EQ(reloj->Copia().serie, "OIN7030067011200148");
}

TEST_F(ProtocoloTest, FreeSizesCountWhatTheDataSetsHold) {
  Arranca();
  auto c = Conectado();
  auto r = c->Pide(zk::CMD_GET_FREE_SIZES);
  ASSERT_EQ(r.datos.size(), 92u);
  auto cap = zk::DecodificaCapacidades(r.datos.data(), r.datos.size());
  ASSERT_TRUE(cap);
  EXPECT_EQ(cap->usuarios, 3u);
  EXPECT_EQ(cap->huellas, 2u);
  EXPECT_EQ(cap->registros, 3u);
  EXPECT_EQ(cap->admins, 1u);
  EXPECT_EQ(cap->claves, 1u);
  EXPECT_EQ(cap->caras, 1u);
  EXPECT_EQ(cap->capRegistros - cap->registros, cap->libresRegistros);
  // Record size = data-set bytes / count, as clients compute it.
  auto usuarios = c->LeeMasivo(zk::kMasivaUsuarios);
  EXPECT_EQ(zk::TamRegistroUsuario(usuarios.size() - 4, cap->usuarios), 72u);
  auto marcaciones = c->LeeMasivo(zk::kMasivaMarcaciones);
  EXPECT_EQ(zk::TamRegistroMarcacion(marcaciones.size() - 4, cap->registros), 40u);

  reloj->Con([](EstadoReloj& e) { e.Marca("1", 1); });
  r = c->Pide(zk::CMD_GET_FREE_SIZES);
  EXPECT_EQ(zk::DecodificaCapacidades(r.datos.data(), r.datos.size())->registros, 4u);
  EXPECT_EQ(c->LeeMasivo(zk::kMasivaMarcaciones).size(), 4u + 4 * 40);
}

TEST_F(ProtocoloTest, BulkReadComesInChunksOfPrepareDataAckOk) {
  Genera(estado, {50, 5000, 7, SegundosCiviles({2024, 3, 1, 0, 0, 0})});
  Arranca();
  auto esperado = *estado.ConjuntoMarcaciones();
  ASSERT_EQ(esperado.size(), 4u + 5000 * 40);
  auto c = Conectado();
  // One chunk at a time, in TCP-sized and UDP-sized chunks.
  EXPECT_EQ(c->LeeMasivo(zk::kMasivaMarcaciones), esperado);
  EXPECT_EQ(c->LeeMasivo(zk::kMasivaMarcaciones, 16384), esperado);
  auto marcaciones = DecodificaMarcaciones(esperado, 40);
  ASSERT_EQ(marcaciones.size(), 5000u);
  EXPECT_EQ(marcaciones.front().usuario, estado.marcaciones.front().usuario);
  EXPECT_EQ(marcaciones.back().hora, estado.marcaciones.back().hora);

  // All chunk requests back to back before reading anything (as the node-zklib family does):
  // the answers come in order, each PREPARE_DATA(8 bytes) + DATA + ACK_OK.
  auto r = c->Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(zk::kMasivaMarcaciones));
  ASSERT_EQ(r.comando, zk::CMD_ACK_OK);
  ASSERT_EQ(r.datos.size(), 13u);
  ASSERT_EQ(zk::DecodificaAnuncioMasivo(r.datos.data(), r.datos.size()), esperado.size());
  std::vector<uint16_t> ids;
  for (uint32_t inicio = 0; inicio < esperado.size(); inicio += zk::kTrozoTcp) {
    uint32_t tam =
        std::min<uint32_t>(zk::kTrozoTcp, static_cast<uint32_t>(esperado.size()) - inicio);
    c->Envia(zk::CMD_DATA_RDY, zk::CodificaPeticionTrozo(inicio, tam));
    ids.push_back(c->idRespuesta);
  }
  zk::Bytes todo;
  for (uint16_t id : ids) {
    auto prep = c->Recibe();
    ASSERT_TRUE(prep);
    EXPECT_EQ(prep->comando, zk::CMD_PREPARE_DATA);
    EXPECT_EQ(prep->idRespuesta, id);
    ASSERT_EQ(prep->datos.size(), 8u);
    auto datos = c->Recibe();
    ASSERT_TRUE(datos);
    EXPECT_EQ(datos->comando, zk::CMD_DATA);
    EXPECT_EQ(zk::LeeU32(prep->datos.data()), datos->datos.size());
    todo.insert(todo.end(), datos->datos.begin(), datos->datos.end());
    auto ok = c->Recibe();
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->comando, zk::CMD_ACK_OK);
    EXPECT_TRUE(ok->datos.empty());
  }
  EXPECT_EQ(todo, esperado);
  EXPECT_EQ(c->Pide(zk::CMD_FREE_DATA).comando, zk::CMD_ACK_OK);
  // After FREE_DATA there is nothing left to read.
  EXPECT_EQ(c->Pide(zk::CMD_DATA_RDY, zk::CodificaPeticionTrozo(0, 100)).comando,
            zk::CMD_ACK_ERROR);
  EXPECT_TRUE(c->checksumsValidos);
}

TEST_F(ProtocoloTest, SmallSetsComeInlineAndEmptySetsAreJustTheCount) {
  Arranca();
  auto c = Conectado();
  auto r = c->Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(zk::kMasivaUsuarios));
  ASSERT_EQ(r.comando, zk::CMD_DATA);
  ASSERT_EQ(r.datos.size(), 4u + 3 * 72);
  zk::UsuarioZk u;
  ASSERT_TRUE(zk::DecodificaUsuario(r.datos.data() + 4 + 72, 72, u));
  EXPECT_EQ(u.usuario, "1001");
  EXPECT_EQ(u.nombre,
            "Mar\xED"
            "a Jos\xE9 N\xFA\xF1"
            "ez Pe\xF1"
            "a");  // Windows-1252 on the wire
  EXPECT_EQ(u.tarjeta, 4000000001u);
  ASSERT_TRUE(zk::DecodificaUsuario(r.datos.data() + 4 + 144, 72, u));
  EXPECT_EQ(u.nombre, "Abcdefghijklmnopqrstuvw");
  EXPECT_FALSE(zk::HabilitadoDeByte(u.privilegio));
  ASSERT_TRUE(zk::DecodificaUsuario(r.datos.data() + 4, 72, u));
  EXPECT_EQ(zk::PrivilegioDeByte(u.privilegio), 3);
  EXPECT_EQ(u.clave, "4321");

  reloj->Con([](EstadoReloj& e) { e.marcaciones.clear(); });
  r = c->Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(zk::kMasivaMarcaciones));
  EXPECT_EQ(r.comando, zk::CMD_DATA);
  EXPECT_EQ(r.datos, (zk::Bytes{0, 0, 0, 0}));
  EXPECT_EQ(c->Pide(zk::CMD_DATA_WRRQ, zk::Bytes{1, 2}).comando, zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva({77, 0, 0})).comando,
            zk::CMD_ACK_ERROR);
}

TEST_F(ProtocoloTest, EveryUserAndRecordLayout) {
  for (size_t formatoUsuario : {72u, 28u}) {
    for (size_t formatoMarcacion : {40u, 16u, 8u}) {
      SCOPED_TRACE(std::to_string(formatoUsuario) + "/" + std::to_string(formatoMarcacion));
      estado.formatoUsuario = formatoUsuario;
      estado.formatoMarcacion = formatoMarcacion;
      Arranca();
      auto c = Conectado();
      auto r = c->Pide(zk::CMD_GET_FREE_SIZES);
      auto cap = *zk::DecodificaCapacidades(r.datos.data(), r.datos.size());
      auto usuarios = c->LeeMasivo(zk::kMasivaUsuarios);
      auto marcaciones = c->LeeMasivo(zk::kMasivaMarcaciones);
      ASSERT_EQ(zk::TamRegistroUsuario(usuarios.size() - 4, cap.usuarios), formatoUsuario);
      ASSERT_EQ(zk::TamRegistroMarcacion(marcaciones.size() - 4, cap.registros), formatoMarcacion);
      zk::UsuarioZk u;
      ASSERT_TRUE(
          zk::DecodificaUsuario(usuarios.data() + 4 + 2 * formatoUsuario, formatoUsuario, u));
      EXPECT_EQ(u.uid, 3);
      EXPECT_EQ(u.usuario, "123456789");
      EXPECT_EQ(u.tarjeta, 70000u);
      EXPECT_EQ(u.nombre, formatoUsuario == 72 ? "Abcdefghijklmnopqrstuvw" : "Abcdefgh");
      auto ms = DecodificaMarcaciones(marcaciones, formatoMarcacion);
      ASSERT_EQ(ms.size(), 3u);
      EXPECT_EQ(ms[1].uid, formatoMarcacion == 16 ? 0 : 3);
      EXPECT_EQ(ms[1].usuario, formatoMarcacion == 8 ? "" : "123456789");
      EXPECT_EQ(ms[1].estado, 1);
      EXPECT_EQ(ms[1].verificacion, 15);
      EXPECT_EQ(zk::DecodificaHora(ms[1].hora), (zk::FechaHora{2024, 3, 14, 17, 59, 59}));
      reloj->Detiene();
    }
  }
}

TEST_F(ProtocoloTest, TemplatesReadOneByOneAndInBulk) {
  Arranca();
  auto c = Conectado();
  for (uint8_t dedo : {0, 9}) {
    c->Envia(zk::CMD_USERTEMP_RRQ, zk::CodificaUidIndice(2, dedo));
    auto prep = c->Recibe();
    ASSERT_TRUE(prep);
    EXPECT_EQ(prep->comando, zk::CMD_PREPARE_DATA);
    EXPECT_EQ(zk::DecodificaPreparacion(prep->datos.data(), prep->datos.size()), 1500u);
    auto datos = c->Recibe();
    ASSERT_TRUE(datos);
    EXPECT_EQ(datos->datos, Relleno(1500, dedo == 0 ? 3 : 9));
    EXPECT_EQ(c->Recibe()->comando, zk::CMD_ACK_OK);
  }
  EXPECT_EQ(c->Pide(zk::CMD_USERTEMP_RRQ, zk::CodificaUidIndice(2, 5)).comando, zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_USERTEMP_RRQ, zk::CodificaUidIndice(9, 0)).comando, zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_FACE_RRQ, zk::CodificaUidIndice(2, 50)).comando, zk::CMD_PREPARE_DATA);
  EXPECT_EQ(c->Recibe()->datos, Relleno(2100, 50));
  EXPECT_EQ(c->Recibe()->comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_FACE_RRQ, zk::CodificaUidIndice(1, 50)).comando, zk::CMD_ACK_ERROR);

  auto conjunto = c->LeeMasivo(zk::kMasivaPlantillas);
  auto cuerpo = zk::LeeConjunto(conjunto.data(), conjunto.size());
  ASSERT_TRUE(cuerpo);
  std::vector<zk::EntradaPlantilla> entradas;
  ASSERT_TRUE(zk::DecodificaPlantillas(conjunto.data() + cuerpo->inicio, cuerpo->largo, entradas));
  ASSERT_EQ(entradas.size(), 2u);
  EXPECT_EQ(entradas[1].uid, 2);
  EXPECT_EQ(entradas[1].dedo, 9);
  EXPECT_EQ(entradas[1].bandera, 1);
  EXPECT_EQ(entradas[1].plantilla, Relleno(1500, 9));
}

TEST_F(ProtocoloTest, TemplateAndFaceUploads) {
  Arranca();
  auto c = Conectado();
  auto plantilla = Relleno(1500, 77);
  EXPECT_EQ(c->Pide(zk::CMD_DISABLEDEVICE).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_PREPARE_DATA, zk::CodificaPreparacion(1500)).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_DATA, plantilla).comando, zk::CMD_ACK_OK);
  auto suma = c->Pide(zk::CMD_CHECKSUM_BUFFER);
  ASSERT_EQ(suma.datos.size(), 4u);
  EXPECT_EQ(zk::LeeU32(suma.datos.data()), zk::ChecksumBuffer(plantilla.data(), plantilla.size()));
  EXPECT_EQ(c->Pide(zk::CMD_TMP_WRITE, zk::CodificaEscrituraPlantilla({3, 6, 3, 1500})).comando,
            zk::CMD_ACK_OK);
  // A user that does not exist, a finger out of range, more bytes than uploaded.
  EXPECT_EQ(c->Pide(zk::CMD_TMP_WRITE, zk::CodificaEscrituraPlantilla({40, 6, 1, 1500})).comando,
            zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_TMP_WRITE, zk::CodificaEscrituraPlantilla({3, 10, 1, 1500})).comando,
            zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_TMP_WRITE, zk::CodificaEscrituraPlantilla({3, 7, 1, 1501})).comando,
            zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_FREE_DATA).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_TMP_WRITE, zk::CodificaEscrituraPlantilla({3, 7, 1, 10})).comando,
            zk::CMD_ACK_ERROR);

  // A face: upload in two DATA packets, then the face command; size 0 deletes it.
  auto cara = Relleno(3000, 5);
  EXPECT_EQ(c->Pide(zk::CMD_PREPARE_DATA, zk::CodificaPreparacion(3000)).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_DATA, zk::Bytes(cara.begin(), cara.begin() + 1024)).comando,
            zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_DATA, zk::Bytes(cara.begin() + 1024, cara.end())).comando,
            zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_FACE_WRQ, zk::CodificaEscrituraCara({3, 50, 3000})).comando,
            zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_FREE_DATA).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_FACE_WRQ, zk::CodificaEscrituraCara({2, 50, 0})).comando,
            zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_FACE_WRQ, zk::CodificaEscrituraCara({2, 50, 0})).comando,
            zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_ENABLEDEVICE).comando, zk::CMD_ACK_OK);

  auto e = reloj->Copia();
  ASSERT_TRUE(e.plantillas.count({3, 6}));
  EXPECT_EQ(e.plantillas.at({3, 6}).datos, plantilla);
  EXPECT_EQ(e.plantillas.at({3, 6}).bandera, 3);
  EXPECT_FALSE(e.plantillas.count({3, 7}));
  EXPECT_EQ(e.caras.at({3, 50}), cara);
  EXPECT_FALSE(e.caras.count({2, 50}));
  EXPECT_TRUE(e.habilitado);
}

TEST_F(ProtocoloTest, UserWritesDeletionsAndClearing) {
  Arranca();
  auto c = Conectado();
  // A new user in the device's layout, name in Windows-1252, card above 16 bits.
  zk::UsuarioZk z;
  z.uid = 4;
  z.privilegio = zk::PrivilegioAByte(1, true);
  z.nombre = "Jos\xE9 Mu\xF1oz";
  z.clave = "99";
  z.tarjeta = 3000000000u;
  z.grupo = 1;
  z.usuario = "2002";
  zk::Bytes registro;
  ASSERT_TRUE(zk::CodificaUsuario(z, 72, registro));
  EXPECT_EQ(c->Pide(zk::CMD_USER_WRQ, registro).comando, zk::CMD_ACK_OK);
  // A change to an existing one (uid 2) in the 28-byte layout.
  zk::UsuarioZk z2;
  z2.uid = 2;
  z2.nombre = "Maria";
  z2.usuario = "1001";
  z2.privilegio = zk::PrivilegioAByte(0, false);
  registro.clear();
  ASSERT_TRUE(zk::CodificaUsuario(z2, 28, registro));
  EXPECT_EQ(c->Pide(zk::CMD_USER_WRQ, registro).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_USER_WRQ, zk::Bytes(50, 1)).comando, zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_REFRESHDATA).comando, zk::CMD_ACK_OK);
  {
    auto e = reloj->Copia();
    ASSERT_EQ(e.usuarios.size(), 4u);
    const Usuario* u = e.BuscaUid(4);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->nombre, "José Muñoz");
    EXPECT_EQ(u->id, "2002");
    EXPECT_EQ(u->tarjeta, 3000000000u);
    EXPECT_EQ(u->privilegio, 1);
    EXPECT_EQ(u->clave, "99");
    EXPECT_EQ(e.BuscaUid(2)->nombre, "Maria");
    EXPECT_FALSE(e.BuscaUid(2)->habilitado);
    EXPECT_EQ(e.refrescos, 1);
  }

  // Templates: one finger, then all; by user id string; then the whole user with its face.
  reloj->Con([](EstadoReloj& e) {
    e.plantillas[{2, 3}] = Plantilla{1, Relleno(10, 1)};
    e.plantillas[{3, 1}] = Plantilla{1, Relleno(10, 2)};
  });
  EXPECT_EQ(c->Pide(zk::CMD_DELETE_USERTEMP, zk::CodificaUidIndice(2, 9)).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_DELETE_USERTEMP, zk::CodificaUidIndice(2, 9)).comando,
            zk::CMD_ACK_ERROR);
  zk::Bytes porId(25, 0);
  std::string id = "123456789";
  std::copy(id.begin(), id.end(), porId.begin());
  porId[24] = 1;
  EXPECT_EQ(c->Pide(zk::CMD_DEL_FPTMP, porId).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_DELETE_USERTEMP, zk::Bytes{2, 0}).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(reloj->Copia().plantillas.size(), 0u);
  EXPECT_EQ(c->Pide(zk::CMD_DELETE_USER, zk::Bytes{2, 0}).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_DELETE_USER, zk::Bytes{2, 0}).comando, zk::CMD_ACK_ERROR);
  {
    auto e = reloj->Copia();
    EXPECT_FALSE(e.BuscaUid(2));
    EXPECT_TRUE(e.caras.empty());
  }

  EXPECT_EQ(c->Pide(zk::CMD_CLEAR_ADMIN).comando, zk::CMD_ACK_OK);
  for (const auto& u : reloj->Copia().usuarios) EXPECT_EQ(u.privilegio, 0) << u.id;
  EXPECT_EQ(c->Pide(zk::CMD_CLEAR_ATTLOG).comando, zk::CMD_ACK_OK);
  auto r = c->Pide(zk::CMD_GET_FREE_SIZES);
  EXPECT_EQ(zk::DecodificaCapacidades(r.datos.data(), r.datos.size())->registros, 0u);
  EXPECT_EQ(c->LeeMasivo(zk::kMasivaMarcaciones), (zk::Bytes{0, 0, 0, 0}));
  EXPECT_EQ(reloj->Copia().usuarios.size(), 3u);  // clearing the log keeps the users
}

TEST_F(ProtocoloTest, TimeIsTheDevicesOwn) {
  Arranca();
  auto c = Conectado();
  auto r = c->Pide(zk::CMD_GET_TIME);
  ASSERT_EQ(r.datos.size(), 4u);
  EXPECT_EQ(zk::DecodificaHora(zk::LeeU32(r.datos.data())),
            (zk::FechaHora{2024, 3, 15, 10, 30, 0}));
  zk::Bytes hora;
  zk::AgregaU32(hora, *zk::CodificaHora({2025, 12, 31, 23, 59, 58}));
  EXPECT_EQ(c->Pide(zk::CMD_SET_TIME, hora).comando, zk::CMD_ACK_OK);
  r = c->Pide(zk::CMD_GET_TIME);
  EXPECT_EQ(zk::DecodificaHora(zk::LeeU32(r.datos.data())),
            (zk::FechaHora{2025, 12, 31, 23, 59, 58}));
  EXPECT_EQ(c->Pide(zk::CMD_SET_TIME, zk::Bytes{1, 2}).comando, zk::CMD_ACK_ERROR);
  EXPECT_EQ(c->Pide(zk::CMD_SET_TIME, zk::Bytes{0xFF, 0xFF, 0xFF, 0xFF}).comando,
            zk::CMD_ACK_ERROR);  // beyond 2099

  // A running clock: setting the time keeps an offset from the host's clock.
  reloj->Con([](EstadoReloj& e) { e.horaFija.reset(); });
  hora.clear();
  auto manana = FechaDeSegundos(AhoraLocal() + 86400);
  zk::AgregaU32(hora, *zk::CodificaHora(manana));
  EXPECT_EQ(c->Pide(zk::CMD_SET_TIME, hora).comando, zk::CMD_ACK_OK);
  auto desfase = reloj->Copia().desfaseHora;
  EXPECT_NEAR(static_cast<double>(desfase), 86400.0, 120.0);
}

TEST_F(ProtocoloTest, MaintenanceCommandsAreRecorded) {
  Arranca();
  auto c = Conectado();
  EXPECT_EQ(c->Pide(zk::CMD_DISABLEDEVICE, zk::Bytes{0, 0, 0, 0}).comando, zk::CMD_ACK_OK);
  EXPECT_FALSE(reloj->Copia().habilitado);
  EXPECT_EQ(c->Pide(zk::CMD_ENABLEDEVICE).comando, zk::CMD_ACK_OK);
  zk::Bytes voz;
  zk::AgregaU32(voz, 24);
  EXPECT_EQ(c->Pide(zk::CMD_TESTVOICE, voz).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(c->Pide(zk::CMD_TESTVOICE, zk::Bytes{0, 0}).comando, zk::CMD_ACK_OK);
  // Restart: the answer, then the device goes away; it is there again for the next client.
  EXPECT_EQ(c->Pide(zk::CMD_RESTART).comando, zk::CMD_ACK_OK);
  EXPECT_TRUE(c->Cierra());
  auto e = reloj->Copia();
  EXPECT_TRUE(e.habilitado);
  EXPECT_EQ(e.voces, (std::vector<uint32_t>{24, 0}));
  EXPECT_EQ(e.reinicios, 1);
  auto d = Conectado();
  EXPECT_EQ(d->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_OK);
  auto h = reloj->Historial();
  ASSERT_GE(h.size(), 3u);
  EXPECT_EQ(h[0].comando, zk::CMD_CONNECT);
  EXPECT_EQ(h[1].comando, zk::CMD_DISABLEDEVICE);
  EXPECT_EQ(h[1].respuesta, zk::CMD_ACK_OK);
  EXPECT_EQ(h[1].datos, (zk::Bytes{0, 0, 0, 0}));
  EXPECT_EQ(h.back().conexion, 2);
}

TEST_F(ProtocoloTest, ClientsAreServedOneAfterAnother) {
  Arranca();
  auto a = Conectado();
  // The second client waits while the first is served...
  auto b = Cliente();
  b->Envia(zk::CMD_CONNECT);
  EXPECT_EQ(a->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(a->Pide(zk::CMD_EXIT).comando, zk::CMD_ACK_OK);
  // ...and is answered once it leaves, with a session of its own.
  auto r = b->Recibe();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->comando, zk::CMD_ACK_OK);
  EXPECT_NE(r->sesion, a->sesion);
  // A client that drops without CMD_EXIT, in the middle of a bulk read.
  b->sesion = r->sesion;
  EXPECT_EQ(b->Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(zk::kMasivaUsuarios)).comando,
            zk::CMD_DATA);
  b.reset();
  auto c = Conectado();
  EXPECT_EQ(c->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(reloj->Conexiones(), 3);
  // A connection that opens and closes without a byte (a port probe) is harmless.
  c.reset();
  Cliente().reset();
  EXPECT_TRUE(Conectado()->Pide(zk::CMD_GET_FREE_SIZES).comando == zk::CMD_ACK_OK);
}

TEST_F(ProtocoloTest, BadBytesAreIgnoredOrEndTheConnection) {
  Arranca();
  auto c = Conectado();
  // A request with a wrong checksum gets no answer; the next good one does.
  auto trama = zk::ArmaTramaTcp(zk::CMD_GET_FREE_SIZES, c->sesion, 77);
  trama[10] ^= 0xFF;
  c->EnviaCrudo(trama);
  EXPECT_EQ(c->Pide(zk::CMD_GET_TIME).idRespuesta, c->idRespuesta);
  // Bytes that are not this protocol end the connection.
  c->EnviaCrudo(zk::Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'});
  EXPECT_TRUE(c->Cierra());
  // So does a frame announcing an absurd length.
  auto d = Conectado();
  d->EnviaCrudo(zk::Bytes{0x50, 0x50, 0x82, 0x7D, 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_TRUE(d->Cierra());
  // A frame split in single bytes is put back together.
  auto e = Cliente();
  for (uint8_t b : zk::ArmaTramaTcp(zk::CMD_CONNECT, 0, 0)) e->EnviaCrudo(zk::Bytes{b});
  EXPECT_EQ(e->Recibe()->comando, zk::CMD_ACK_OK);
}

TEST_F(ProtocoloTest, OldDirectReadsAnswerWithTheWholeSet) {
  Arranca();
  auto c = Conectado();
  auto prep = c->Pide(zk::CMD_ATTLOG_RRQ);
  ASSERT_EQ(prep.comando, zk::CMD_PREPARE_DATA);
  EXPECT_EQ(zk::LeeU32(prep.datos.data()), 4u + 3 * 40);
  EXPECT_EQ(c->Recibe()->datos, *estado.ConjuntoMarcaciones());
  EXPECT_EQ(c->Recibe()->comando, zk::CMD_ACK_OK);
  prep = c->Pide(zk::CMD_USERTEMP_RRQ, zk::Bytes{zk::FCT_USER});
  ASSERT_EQ(prep.comando, zk::CMD_PREPARE_DATA);
  EXPECT_EQ(zk::LeeU32(prep.datos.data()), 4u + 3 * 72);
}

TEST_F(ProtocoloTest, UdpOnlyDeviceRefusesTcpAndSendsDataInSmallDatagrams) {
  Genera(estado, {20, 1000, 3, SegundosCiviles({2024, 3, 1, 0, 0, 0})});
  Arranca(false, true);
  EXPECT_THROW(Cliente(), std::runtime_error);  // TCP refused: the client falls back to UDP
  auto c = Cliente(true);
  ASSERT_TRUE(c->Conecta());
  auto r = c->Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(zk::kMasivaMarcaciones));
  ASSERT_EQ(r.comando, zk::CMD_ACK_OK);
  c->Envia(zk::CMD_DATA_RDY, zk::CodificaPeticionTrozo(0, zk::kTrozoUdp));
  EXPECT_EQ(c->Recibe()->comando, zk::CMD_PREPARE_DATA);
  size_t recibidos = 0;
  for (;;) {
    auto q = c->Recibe();
    ASSERT_TRUE(q);
    if (q->comando == zk::CMD_ACK_OK) break;
    ASSERT_EQ(q->comando, zk::CMD_DATA);
    EXPECT_LE(q->datos.size(), zk::kMaxDatosUdp);
    recibidos += q->datos.size();
  }
  EXPECT_EQ(recibidos, zk::kTrozoUdp);
  c->Pide(zk::CMD_FREE_DATA);
  EXPECT_EQ(c->LeeMasivo(zk::kMasivaMarcaciones, zk::kTrozoUdp), *estado.ConjuntoMarcaciones());
  EXPECT_EQ(c->Pide(zk::CMD_EXIT).comando, zk::CMD_ACK_OK);
  // After EXIT the session is gone.
  EXPECT_EQ(c->Pide(zk::CMD_GET_TIME).comando, zk::CMD_ACK_UNAUTH);
  EXPECT_TRUE(c->checksumsValidos);
}

TEST_F(ProtocoloTest, TcpAndUdpTogether) {
  Arranca(true, true);
  auto t = Conectado();
  auto u = Cliente(true);
  ASSERT_TRUE(u->Conecta());
  EXPECT_NE(t->sesion, u->sesion);
  EXPECT_EQ(u->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_OK);
  EXPECT_EQ(t->Pide(zk::CMD_GET_FREE_SIZES).comando, zk::CMD_ACK_OK);
}

}  // namespace
}  // namespace clocksim::test
