// The protocol codec byte for byte: the worked examples of the protocol reference, and round
// trips and hostile input for every layout.
#include "clock/zk/ZkProtocolo.h"

#include <gtest/gtest.h>

#include <random>

namespace lector::clock::zk {
namespace {

Bytes Hex(const std::string& texto) {
  Bytes b;
  std::string cifras;
  for (char c : texto)
    if (!isspace(static_cast<unsigned char>(c))) cifras += c;
  for (size_t i = 0; i + 1 < cifras.size(); i += 2)
    b.push_back(static_cast<uint8_t>(std::stoi(cifras.substr(i, 2), nullptr, 16)));
  return b;
}

Bytes Texto(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(ZkChecksum, VectoresDeReferencia) {
  const Bytes a = Hex("0b00 0000 f38d 0300 5a4b4661636556657273696f6e00");
  EXPECT_EQ(Checksum(a.data(), a.size()), 0x175A);
  const Bytes impar = Hex("d007 0000 f38d 0a00 09");
  EXPECT_EQ(Checksum(impar.data(), impar.size()), 0x6A29);
}

TEST(ZkChecksum, ValidaYRechazaUnBitCambiado) {
  Bytes p = ArmaPayload(CMD_ACK_OK, 0x8DF3, 10, Hex("09"));
  EXPECT_EQ(LeeU16(p.data() + 2), 0x6A29);
  EXPECT_TRUE(ChecksumValido(p.data(), p.size()));
  for (size_t i = 0; i < p.size() * 8; ++i) {
    Bytes q = p;
    q[i / 8] ^= static_cast<uint8_t>(1 << (i % 8));
    EXPECT_FALSE(ChecksumValido(q.data(), q.size())) << "bit " << i;
  }
  EXPECT_FALSE(ChecksumValido(p.data(), 7));
}

TEST(ZkTrama, SerialNumberYConnectComoEnLaReferencia) {
  EXPECT_EQ(ArmaTramaTcp(CMD_OPTIONS_RRQ, 0x1234, 3, CodificaNombreOpcion("~SerialNumber")),
            Hex("50 50 82 7D 16 00 00 00 0B 00 BA A4 34 12 03 00 7E 53 65 72 69 61 6C 4E 75 6D "
                "62 65 72 00"));
  EXPECT_EQ(ArmaTramaTcp(CMD_CONNECT, 0, 0),
            Hex("50 50 82 7D 08 00 00 00 E8 03 17 FC 00 00 00 00"));
}

TEST(ZkTrama, LeePayloadDevuelveLosCampos) {
  const Bytes p = ArmaPayload(CMD_ACK_OK, 0xC0C5, 7, Texto("~SerialNumber=ABC\0"));
  auto q = LeePayload(p.data(), p.size());
  ASSERT_TRUE(q);
  EXPECT_EQ(q->comando, CMD_ACK_OK);
  EXPECT_EQ(q->sesion, 0xC0C5);
  EXPECT_EQ(q->idRespuesta, 7);
  EXPECT_EQ(ValorOpcion(q->datos.data(), q->datos.size()), "ABC");
  Bytes malo = p;
  malo.back() ^= 1;
  EXPECT_FALSE(LeePayload(malo.data(), malo.size()));
  EXPECT_TRUE(LeePayload(malo.data(), malo.size(), false));
  EXPECT_FALSE(LeePayload(p.data(), 7));
}

TEST(ZkTrama, ExaminaFlujoPorPartesYPegado) {
  Bytes flujo = ArmaTramaTcp(CMD_ACK_OK, 1, 2, Texto("hola"));
  const size_t primera = flujo.size();
  const Bytes segunda = ArmaTramaTcp(CMD_DATA, 1, 2, Bytes(1000, 7));
  flujo.insert(flujo.end(), segunda.begin(), segunda.end());
  uint32_t largo = 0;
  // Every proper prefix of the first frame asks for more.
  for (size_t n = 0; n < primera; ++n)
    EXPECT_EQ(ExaminaTramaTcp(flujo.data(), n, largo), EstadoTrama::kIncompleta) << n;
  EXPECT_EQ(ExaminaTramaTcp(flujo.data(), flujo.size(), largo), EstadoTrama::kCompleta);
  EXPECT_EQ(largo, 12u);
  EXPECT_EQ(ExaminaTramaTcp(flujo.data() + primera, segunda.size(), largo), EstadoTrama::kCompleta);
  EXPECT_EQ(largo, 1008u);

  Bytes basura = Hex("50 50 82 7E");
  EXPECT_EQ(ExaminaTramaTcp(basura.data(), basura.size(), largo), EstadoTrama::kInvalida);
  basura = Hex("AA 01");
  EXPECT_EQ(ExaminaTramaTcp(basura.data(), basura.size(), largo), EstadoTrama::kInvalida);
  auto enorme = PrefijoTcp(kMaxPayload + 1);
  EXPECT_EQ(ExaminaTramaTcp(enorme.data(), enorme.size(), largo), EstadoTrama::kInvalida);
  auto corto = PrefijoTcp(7);
  EXPECT_EQ(ExaminaTramaTcp(corto.data(), corto.size(), largo), EstadoTrama::kInvalida);
}

TEST(ZkTrama, IdDeRespuestaDaLaVuelta) {
  EXPECT_EQ(SiguienteIdRespuesta(0), 1);
  EXPECT_EQ(SiguienteIdRespuesta(65535), 0);
  Paquete p;
  p.idRespuesta = 9;
  EXPECT_TRUE(EsRespuestaA(p, 9));
  EXPECT_FALSE(EsRespuestaA(p, 10));
}

TEST(ZkClaveComm, EjemplosDeReferencia) {
  EXPECT_EQ(ClaveComm(1234, 0x1234), (std::array<uint8_t, 4>{0x41, 0x36, 0x32, 0x6B}));
  EXPECT_EQ(ClaveComm(0, 0x1234), (std::array<uint8_t, 4>{0x61, 0x7D, 0x32, 0x6B}));
}

TEST(ZkClaveComm, ElDispositivoAceptaCualquierTicksYSoloLaClaveBuena) {
  for (int ticks : {0, 50, 255}) {
    auto d = ClaveComm(987654, 0xBEEF, static_cast<uint8_t>(ticks));
    EXPECT_TRUE(VerificaClaveComm(d.data(), 4, 987654, 0xBEEF));
    EXPECT_FALSE(VerificaClaveComm(d.data(), 4, 987655, 0xBEEF));
    // The session's low byte lands in the byte the ticks replace: only its high byte shows.
    EXPECT_FALSE(VerificaClaveComm(d.data(), 4, 987654, 0xBFEF));
    EXPECT_FALSE(VerificaClaveComm(d.data(), 3, 987654, 0xBEEF));
  }
  // The session is added with 32-bit wrap-around.
  auto d = ClaveComm(0xFFFFFFFF, 0xFFFF);
  EXPECT_TRUE(VerificaClaveComm(d.data(), 4, 0xFFFFFFFF, 0xFFFF));
}

TEST(ZkHora, EjemplosDeReferencia) {
  auto t = CodificaHora({2018, 6, 25, 17, 41, 5});
  ASSERT_TRUE(t);
  EXPECT_EQ(*t, 0x2368B131u);
  EXPECT_EQ(*t, 594063665u);
  EXPECT_EQ(DecodificaHora(0x2368B36B), (FechaHora{2018, 6, 25, 17, 50, 35}));
  auto ultimo = CodificaHora({2099, 12, 31, 23, 59, 59});
  ASSERT_TRUE(ultimo);
  EXPECT_EQ(*ultimo, 3214079999u);
  EXPECT_EQ(DecodificaHora(*ultimo), (FechaHora{2099, 12, 31, 23, 59, 59}));
  EXPECT_EQ(DecodificaHora(0), (FechaHora{2000, 1, 1, 0, 0, 0}));
}

TEST(ZkHora, RechazaCamposFueraDeRango) {
  EXPECT_FALSE(CodificaHora({1999, 12, 31, 23, 59, 59}));
  EXPECT_FALSE(CodificaHora({2100, 1, 1, 0, 0, 0}));
  EXPECT_FALSE(CodificaHora({2020, 13, 1, 0, 0, 0}));
  EXPECT_FALSE(CodificaHora({2020, 2, 0, 0, 0, 0}));
  EXPECT_FALSE(CodificaHora({2020, 2, 32, 0, 0, 0}));
  EXPECT_FALSE(CodificaHora({2020, 2, 1, 24, 0, 0}));
  EXPECT_FALSE(CodificaHora({2020, 2, 1, 0, 60, 0}));
  EXPECT_FALSE(CodificaHora({2020, 2, 1, 0, 0, -1}));
  // Every month counts 31 days: 31 February is a valid packed time.
  EXPECT_TRUE(CodificaHora({2020, 2, 31, 0, 0, 0}));
}

TEST(ZkMarcacion, Registro40DeReferencia) {
  const Bytes r = Hex(
      "0D 00 39 39 39 31 31 31 33 33 33 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 6B B3 68 "
      "23 00 00 00 00 00 FF 00 00 00");
  ASSERT_EQ(r.size(), 40u);
  Marcacion m;
  ASSERT_TRUE(DecodificaMarcacion(r.data(), 40, m));
  EXPECT_EQ(m.uid, 13);
  EXPECT_EQ(m.usuario, "999111333");
  EXPECT_EQ(m.verificacion, 1);
  EXPECT_EQ(m.hora, 0x2368B36Bu);
  EXPECT_EQ(m.estado, 0);
  EXPECT_EQ(m.codigoTrabajo, 0u);
  Bytes otra;
  ASSERT_TRUE(CodificaMarcacion(m, 40, otra));
  EXPECT_EQ(otra, r);
  // 49-byte records are read by their first 40 bytes.
  Bytes r49 = r;
  r49.resize(49, 0xEE);
  Marcacion m49;
  ASSERT_TRUE(DecodificaMarcacion(r49.data(), 49, m49));
  EXPECT_EQ(m49.usuario, "999111333");
  EXPECT_EQ(m49.hora, 0x2368B36Bu);
}

TEST(ZkMarcacion, IdaYVueltaEn8Y16) {
  Marcacion m;
  m.uid = 65535;
  m.usuario = "4294967295";
  m.verificacion = 15;
  m.estado = 5;
  m.hora = 0x2368B131;
  m.codigoTrabajo = 77;
  Bytes b;
  ASSERT_TRUE(CodificaMarcacion(m, 16, b));
  ASSERT_TRUE(CodificaMarcacion(m, 8, b));
  ASSERT_EQ(b.size(), 24u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 16),
            Hex("FF FF FF FF 31 B1 68 23 05 0F 00 00 4D 00 00 00"));
  EXPECT_EQ(Bytes(b.begin() + 16, b.end()), Hex("FF FF 0F 31 B1 68 23 05"));
  Marcacion x;
  ASSERT_TRUE(DecodificaMarcacion(b.data(), 16, x));
  EXPECT_EQ(x.usuario, "4294967295");
  EXPECT_EQ(x.codigoTrabajo, 77u);
  EXPECT_EQ(x.verificacion, 15);
  EXPECT_EQ(x.estado, 5);
  ASSERT_TRUE(DecodificaMarcacion(b.data() + 16, 8, x));
  EXPECT_EQ(x.uid, 65535);
  EXPECT_EQ(x.usuario, "");
  EXPECT_EQ(x.codigoTrabajo, 0u);
  EXPECT_EQ(x.hora, 0x2368B131u);
}

TEST(ZkMarcacion, RechazaLoQueNoCabe) {
  Marcacion m;
  Bytes b;
  m.usuario = "12a";
  EXPECT_FALSE(CodificaMarcacion(m, 16, b));
  m.usuario = "4294967296";
  EXPECT_FALSE(CodificaMarcacion(m, 16, b));
  m.usuario = std::string(25, '1');
  EXPECT_FALSE(CodificaMarcacion(m, 40, b));
  m.usuario = std::string(24, '1');
  EXPECT_TRUE(CodificaMarcacion(m, 40, b));
  EXPECT_FALSE(CodificaMarcacion(m, 12, b));
  EXPECT_EQ(b.size(), 40u);
  Marcacion x;
  ASSERT_TRUE(DecodificaMarcacion(b.data(), 40, x));
  EXPECT_EQ(x.usuario, std::string(24, '1'));  // a full field needs no NUL
  EXPECT_FALSE(DecodificaMarcacion(b.data(), 12, x));
  EXPECT_FALSE(TamMarcacionValido(39));
}

TEST(ZkUsuario, Usuario72ComoEnLaReferencia) {
  UsuarioZk u;
  u.uid = 0x0E;
  u.privilegio = 0x06;
  u.clave = "123456";
  u.nombre = "Nuevo";
  u.tarjeta = 6543;
  u.grupo = 1;
  u.usuario = "11224488";
  Bytes b;
  ASSERT_TRUE(CodificaUsuario(u, 72, b));
  ASSERT_EQ(b.size(), 72u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 3), Hex("0E 00 06"));
  EXPECT_EQ(Bytes(b.begin() + 3, b.begin() + 11), Hex("31 32 33 34 35 36 00 00"));
  EXPECT_EQ(Bytes(b.begin() + 11, b.begin() + 17), Hex("4E 75 65 76 6F 00"));
  EXPECT_EQ(Bytes(b.begin() + 35, b.begin() + 40), Hex("8F 19 00 00 01"));
  EXPECT_EQ(Bytes(b.begin() + 48, b.begin() + 57), Hex("31 31 32 32 34 34 38 38 00"));
  UsuarioZk x;
  ASSERT_TRUE(DecodificaUsuario(b.data(), 72, x));
  EXPECT_EQ(x.uid, 14);
  EXPECT_EQ(x.clave, "123456");
  EXPECT_EQ(x.nombre, "Nuevo");
  EXPECT_EQ(x.tarjeta, 6543u);
  EXPECT_EQ(x.grupo, 1);
  EXPECT_EQ(x.usuario, "11224488");
  EXPECT_EQ(PrivilegioDeByte(x.privilegio), 2);
  EXPECT_TRUE(HabilitadoDeByte(x.privilegio));
}

TEST(ZkUsuario, LimitesDeCamposEnAmbosFormatos) {
  UsuarioZk u;
  u.uid = 65535;
  u.privilegio = PrivilegioAByte(3, false);
  u.clave = "12345678";
  u.nombre = std::string(23, 'N');
  u.tarjeta = 4000000000u;
  u.zonas = {1, 0, 2, 0, 3, 0, 4, 0};
  u.usuario = std::string(23, '9');
  Bytes b;
  ASSERT_TRUE(CodificaUsuario(u, 72, b));
  UsuarioZk x;
  ASSERT_TRUE(DecodificaUsuario(b.data(), 72, x));
  EXPECT_EQ(x.nombre, u.nombre);
  EXPECT_EQ(x.usuario, u.usuario);
  EXPECT_EQ(x.tarjeta, 4000000000u);
  EXPECT_EQ(x.zonas, u.zonas);
  EXPECT_EQ(x.privilegio, 15);
  EXPECT_EQ(PrivilegioDeByte(x.privilegio), 3);
  EXPECT_FALSE(HabilitadoDeByte(x.privilegio));
  u.nombre = std::string(24, 'N');  // no room for the NUL
  EXPECT_FALSE(CodificaUsuario(u, 72, b));

  UsuarioZk v;
  v.uid = 300;
  v.privilegio = PrivilegioAByte(1, true);
  v.clave = "12345";
  v.nombre = "Ana Ruiz";  // 8 bytes fill the field
  v.tarjeta = 70000;
  v.grupo = 1;
  v.usuario = "4294967295";
  Bytes c;
  ASSERT_TRUE(CodificaUsuario(v, 28, c));
  ASSERT_EQ(c.size(), 28u);
  EXPECT_EQ(Bytes(c.begin() + 16, c.begin() + 20), Hex("70 11 01 00"));
  EXPECT_EQ(Bytes(c.begin() + 24, c.end()), Hex("FF FF FF FF"));
  UsuarioZk y;
  ASSERT_TRUE(DecodificaUsuario(c.data(), 28, y));
  EXPECT_EQ(y.uid, 300);
  EXPECT_EQ(y.nombre, "Ana Ruiz");
  EXPECT_EQ(y.clave, "12345");
  EXPECT_EQ(y.tarjeta, 70000u);
  EXPECT_EQ(y.usuario, "4294967295");
  EXPECT_EQ(y.privilegio, 2);
  v.usuario = "A12";  // 28-byte devices hold numeric user ids only
  EXPECT_FALSE(CodificaUsuario(v, 28, c));
  v.usuario = "12";
  v.nombre = "Ana Ruiz!";
  EXPECT_FALSE(CodificaUsuario(v, 28, c));
  EXPECT_EQ(c.size(), 28u);
  EXPECT_FALSE(DecodificaUsuario(c.data(), 27, y));
}

TEST(ZkUsuario, Privilegios) {
  EXPECT_EQ(PrivilegioAByte(0, true), 0);
  EXPECT_EQ(PrivilegioAByte(1, true), 2);
  EXPECT_EQ(PrivilegioAByte(2, true), 6);
  EXPECT_EQ(PrivilegioAByte(3, true), 14);
  EXPECT_EQ(PrivilegioAByte(3, false), 15);
  EXPECT_EQ(PrivilegioAByte(9, true), 14);
  EXPECT_EQ(PrivilegioAByte(-1, true), 0);
  for (int p = 0; p <= 3; ++p) EXPECT_EQ(PrivilegioDeByte(PrivilegioAByte(p, false)), p);
  EXPECT_EQ(PrivilegioDeByte(12), 2);  // manager as some firmware writes it
}

TEST(ZkMasiva, PeticionesYAnuncios) {
  EXPECT_EQ(CodificaPeticionMasiva(kMasivaMarcaciones), Hex("01 0D 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(CodificaPeticionMasiva(kMasivaUsuarios), Hex("01 09 00 05 00 00 00 00 00 00 00"));
  EXPECT_EQ(CodificaPeticionMasiva(kMasivaPlantillas), Hex("01 07 00 02 00 00 00 00 00 00 00"));
  const Bytes u = CodificaPeticionMasiva(kMasivaUsuarios);
  EXPECT_EQ(DecodificaPeticionMasiva(u.data(), u.size()), kMasivaUsuarios);
  EXPECT_FALSE(DecodificaPeticionMasiva(u.data(), 10));

  const Bytes a = CodificaAnuncioMasivo(4000004);
  EXPECT_EQ(a.size(), 13u);
  EXPECT_EQ(DecodificaAnuncioMasivo(a.data(), a.size()), 4000004u);
  EXPECT_FALSE(DecodificaAnuncioMasivo(a.data(), 4));

  const Bytes t = CodificaPeticionTrozo(65472, 100);
  EXPECT_EQ(t, Hex("C0 FF 00 00 64 00 00 00"));
  uint32_t inicio = 0, tam = 0;
  EXPECT_TRUE(DecodificaPeticionTrozo(t.data(), t.size(), inicio, tam));
  EXPECT_EQ(inicio, 65472u);
  EXPECT_EQ(tam, 100u);
  EXPECT_FALSE(DecodificaPeticionTrozo(t.data(), 7, inicio, tam));

  const Bytes p = CodificaPreparacion(1500);
  EXPECT_EQ(p.size(), 8u);
  EXPECT_EQ(DecodificaPreparacion(p.data(), p.size()), 1500u);
  EXPECT_EQ(DecodificaPreparacion(p.data(), 2), 1500u);
  EXPECT_FALSE(DecodificaPreparacion(p.data(), 1));
}

TEST(ZkMasiva, ConjuntoYTamanoDeRegistro) {
  const Bytes registros(80, 1);
  const Bytes c = ArmaConjunto(registros.data(), registros.size());
  EXPECT_EQ(Bytes(c.begin(), c.begin() + 4), Hex("50 00 00 00"));
  auto cuerpo = LeeConjunto(c.data(), c.size());
  ASSERT_TRUE(cuerpo);
  EXPECT_EQ(cuerpo->inicio, 4u);
  EXPECT_EQ(cuerpo->largo, 80u);
  EXPECT_FALSE(LeeConjunto(c.data(), c.size() - 1));  // count beyond the bytes present
  auto vacio = LeeConjunto(c.data(), 0);
  ASSERT_TRUE(vacio);
  EXPECT_EQ(vacio->largo, 0u);

  EXPECT_EQ(TamRegistroMarcacion(80, 2), 40u);
  EXPECT_EQ(TamRegistroMarcacion(80, 5), 16u);
  EXPECT_EQ(TamRegistroMarcacion(80, 10), 8u);
  EXPECT_EQ(TamRegistroMarcacion(98, 2), 49u);
  EXPECT_EQ(TamRegistroMarcacion(80, 4), 0u);  // 20 bytes: no such layout
  EXPECT_EQ(TamRegistroMarcacion(80, 3), 0u);
  EXPECT_EQ(TamRegistroMarcacion(80, 0), 0u);
  EXPECT_EQ(TamRegistroUsuario(144, 2), 72u);
  EXPECT_EQ(TamRegistroUsuario(56, 2), 28u);
  EXPECT_EQ(TamRegistroUsuario(80, 2), 0u);
}

TEST(ZkMasiva, Capacidades) {
  Capacidades c;
  c.usuarios = 3;
  c.huellas = 4;
  c.registros = 100000;
  c.capRegistros = 200000;
  c.caras = 2;
  c.capCaras = 400;
  const Bytes b = CodificaCapacidades(c);
  ASSERT_EQ(b.size(), 92u);
  EXPECT_EQ(Bytes(b.begin() + 32, b.begin() + 36), Hex("A0 86 01 00"));
  auto d = DecodificaCapacidades(b.data(), b.size());
  ASSERT_TRUE(d);
  EXPECT_EQ(d->usuarios, 3u);
  EXPECT_EQ(d->registros, 100000u);
  EXPECT_EQ(d->caras, 2u);
  auto corto = DecodificaCapacidades(b.data(), 80);  // older devices: no face fields
  ASSERT_TRUE(corto);
  EXPECT_EQ(corto->caras, 0u);
  EXPECT_FALSE(DecodificaCapacidades(b.data(), 79));
}

TEST(ZkPlantilla, EstructurasDeLecturaYEscritura) {
  EXPECT_EQ(CodificaUidIndice(14, 9), Hex("0E 00 09"));
  uint16_t uid = 0;
  uint8_t dedo = 0;
  const Bytes ui = Hex("0E 01 32");
  EXPECT_TRUE(DecodificaUidIndice(ui.data(), 3, uid, dedo));
  EXPECT_EQ(uid, 0x010E);
  EXPECT_EQ(dedo, 50);
  EXPECT_FALSE(DecodificaUidIndice(ui.data(), 2, uid, dedo));

  const EscrituraPlantilla e{14, 9, 1, 1500};
  const Bytes be = CodificaEscrituraPlantilla(e);
  EXPECT_EQ(be, Hex("0E 00 09 01 DC 05"));
  EXPECT_EQ(DecodificaEscrituraPlantilla(be.data(), be.size()), e);
  EXPECT_FALSE(DecodificaEscrituraPlantilla(be.data(), 5));

  const EscrituraCara f{14, 50, 70000};
  const Bytes bf = CodificaEscrituraCara(f);
  EXPECT_EQ(bf, Hex("0E 00 32 70 11 01 00"));
  EXPECT_EQ(DecodificaEscrituraCara(bf.data(), bf.size()), f);
  EXPECT_FALSE(DecodificaEscrituraCara(bf.data(), 6));
}

TEST(ZkPlantilla, ConjuntoDePlantillas) {
  Bytes b;
  EntradaPlantilla e{14, 4, 1, Hex("4D FD 53 53 32 31")};
  e.plantilla.resize(0x04C4 - 6, 0xAB);
  ASSERT_TRUE(CodificaEntradaPlantilla(e, b));
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 12), Hex("C4 04 0E 00 04 01 4D FD 53 53 32 31"));
  ASSERT_TRUE(CodificaEntradaPlantilla({15, 0, 3, Hex("01 02")}, b));
  std::vector<EntradaPlantilla> salida;
  ASSERT_TRUE(DecodificaPlantillas(b.data(), b.size(), salida));
  ASSERT_EQ(salida.size(), 2u);
  EXPECT_EQ(salida[0].plantilla, e.plantilla);
  EXPECT_EQ(salida[1].uid, 15);
  EXPECT_EQ(salida[1].bandera, 3);
  salida.clear();
  EXPECT_FALSE(DecodificaPlantillas(b.data(), b.size() - 1, salida));
  const Bytes cero = Hex("00 00 01 00 00 00");  // size below the entry header: no endless loop
  EXPECT_FALSE(DecodificaPlantillas(cero.data(), cero.size(), salida));
}

TEST(ZkPlantilla, ChecksumBuffer) {
  const Bytes a = Texto("a");
  EXPECT_EQ(ChecksumBuffer(a.data(), a.size()), 0x61u);
  const Bytes abc = Texto("abc");
  EXPECT_EQ(ChecksumBuffer(abc.data(), abc.size()), (0x61u << 8) + (0x62u << 4) + 0x63u);
  EXPECT_EQ(ChecksumBuffer(nullptr, 0), 0u);
  // Long inputs stay below the modulus.
  const Bytes largo(5000, 0xFF);
  EXPECT_LT(ChecksumBuffer(largo.data(), largo.size()), 0xFEFFFFu);
}

TEST(ZkTexto, Opciones) {
  EXPECT_EQ(CodificaOpcion("SDKBuild", "1"), Texto(std::string("SDKBuild=1\0", 11)));
  const Bytes r = Texto(std::string("~SerialNumber=OIN7040057\0basura", 31));
  EXPECT_EQ(ValorOpcion(r.data(), r.size()), "OIN7040057");
  const Bytes sinIgual = Texto("Ver 6.60 Oct 29 2012");
  EXPECT_EQ(ValorOpcion(sinIgual.data(), sinIgual.size()), "Ver 6.60 Oct 29 2012");
  const Bytes v = Texto(std::string("Ver 6.60 Oct 29 2012\0\0", 22));
  EXPECT_EQ(TextoHastaNul(v.data(), v.size()), "Ver 6.60 Oct 29 2012");
  const Bytes n1 = CodificaNombreOpcion("~Platform");
  EXPECT_EQ(DecodificaNombreOpcion(n1.data(), n1.size()), "~Platform");
  EXPECT_EQ(DecodificaNombreOpcion(n1.data(), n1.size() - 1), "~Platform");
}

TEST(ZkTexto, Base64) {
  const std::pair<const char*, const char*> casos[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (auto [claro, cifrado] : casos) {
    const Bytes b = Texto(claro);
    EXPECT_EQ(Base64(b.data(), b.size()), cifrado);
    EXPECT_EQ(DeBase64(cifrado), b) << cifrado;
  }
  EXPECT_EQ(DeBase64("TPdTUzIxAAAF"), Hex("4C F7 53 53 32 31 00 00 05"));
  EXPECT_EQ(DeBase64("Zm9v\r\nYmE"), Texto("fooba"));  // breaks skipped, padding optional
  EXPECT_FALSE(DeBase64("Zm9v!"));
  EXPECT_FALSE(DeBase64("Z"));
  EXPECT_FALSE(DeBase64("Zg==Zg=="));
  EXPECT_FALSE(DeBase64("Zg==="));
  std::mt19937 azar(7);
  for (int n = 0; n < 200; ++n) {
    Bytes b(static_cast<size_t>(n));
    for (auto& x : b) x = static_cast<uint8_t>(azar());
    EXPECT_EQ(DeBase64(Base64(b.data(), b.size())), b);
  }
}

TEST(ZkDecodificadores, SobrevivenBytesAlAzar) {
  std::mt19937 azar(42);
  for (int i = 0; i < 3000; ++i) {
    Bytes b(azar() % 120);
    for (auto& x : b) x = static_cast<uint8_t>(azar());
    if (b.size() >= 4 && i % 3 == 0) std::copy(kMagiaTcp.begin(), kMagiaTcp.end(), b.begin());
    uint32_t largo;
    ExaminaTramaTcp(b.data(), b.size(), largo);
    LeePayload(b.data(), b.size());
    LeeConjunto(b.data(), b.size());
    DecodificaCapacidades(b.data(), b.size());
    std::vector<EntradaPlantilla> e;
    DecodificaPlantillas(b.data(), b.size(), e);
    Marcacion m;
    UsuarioZk u;
    for (size_t tam : {8, 16, 28, 40, 49, 72})
      if (b.size() >= tam) {
        DecodificaMarcacion(b.data(), tam, m);
        DecodificaUsuario(b.data(), tam, u);
      }
    ValorOpcion(b.data(), b.size());
    DeBase64(std::string(b.begin(), b.end()));
  }
  SUCCEED();
}

}  // namespace
}  // namespace lector::clock::zk
