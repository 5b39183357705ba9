// The protocol codec against the worked examples of the public protocol write-ups. Client and
// emulator share this codec, so a symmetric mistake would pass every test between them: these bytes
// come from captures of real devices instead. (Hostile input is the fuzz target's job.)
#include "clock/zk/ZkProtocolo.h"

#include <gtest/gtest.h>

#include <cstring>

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

TEST(ZkProtocolo, TramasDeReferencia) {
  EXPECT_EQ(ArmaPayload(CMD_ACK_OK, 0x8DF3, 10, Hex("09")), Hex("d007 296a f38d 0a00 09"));
  EXPECT_EQ(ArmaTramaTcp(CMD_OPTIONS_RRQ, 0x1234, 3, CodificaNombreOpcion("~SerialNumber")),
            Hex("50 50 82 7D 16 00 00 00 0B 00 BA A4 34 12 03 00 "
                "7E 53 65 72 69 61 6C 4E 75 6D 62 65 72 00"));
}

TEST(ZkProtocolo, FlujoTcpPorPartesPegadoOInvalido) {
  Bytes flujo = ArmaTramaTcp(CMD_ACK_OK, 1, 2, Texto("hola"));
  const size_t primera = flujo.size();
  const Bytes segunda = ArmaTramaTcp(CMD_DATA, 1, 2, Bytes(1000, 7));
  flujo.insert(flujo.end(), segunda.begin(), segunda.end());
  uint32_t largo = 0;
  for (size_t n = 0; n < primera; ++n)
    EXPECT_EQ(ExaminaTramaTcp(flujo.data(), n, largo), EstadoTrama::kIncompleta) << n;
  EXPECT_EQ(ExaminaTramaTcp(flujo.data(), flujo.size(), largo), EstadoTrama::kCompleta);
  EXPECT_EQ(largo, 12u);
  for (const Bytes& malo : {Hex("50 50 82 7E"), Hex("AA 01"), Hex("50 50 82 7D 07 00 00 00"),
                            Hex("50 50 82 7D 01 00 00 02")})  // a header cannot fit; 32 MiB +
    EXPECT_EQ(ExaminaTramaTcp(malo.data(), malo.size(), largo), EstadoTrama::kInvalida);
}

TEST(ZkProtocolo, ClaveYHoraDeReferencia) {
  EXPECT_EQ(ClaveComm(1234, 0x1234), (std::array<uint8_t, 4>{0x41, 0x36, 0x32, 0x6B}));
  EXPECT_EQ(ClaveComm(0, 0x1234), (std::array<uint8_t, 4>{0x61, 0x7D, 0x32, 0x6B}));
  // The device accepts any ticks byte, and only the key of this session (the session's low byte
  // lands in the byte the ticks replace: only its high byte shows).
  const auto d = ClaveComm(987654, 0xBEEF, 0xA7);
  EXPECT_TRUE(VerificaClaveComm(d.data(), 4, 987654, 0xBEEF));
  EXPECT_FALSE(VerificaClaveComm(d.data(), 4, 987655, 0xBEEF));
  EXPECT_FALSE(VerificaClaveComm(d.data(), 4, 987654, 0xBFEF));
  EXPECT_FALSE(VerificaClaveComm(d.data(), 3, 987654, 0xBEEF));

  EXPECT_EQ(CodificaHora({2018, 6, 25, 17, 41, 5}), 0x2368B131u);
  EXPECT_EQ(DecodificaHora(3214079999u), (FechaHora{2099, 12, 31, 23, 59, 59}));
  EXPECT_TRUE(CodificaHora({2020, 2, 31, 0, 0, 0}));  // every month counts 31 days
  for (const FechaHora& f : {FechaHora{1999, 12, 31, 23, 59, 59}, FechaHora{2100, 1, 1, 0, 0, 0},
                             FechaHora{2020, 13, 1, 0, 0, 0}, FechaHora{2020, 2, 0, 0, 0, 0},
                             FechaHora{2020, 2, 1, 24, 0, 0}, FechaHora{2020, 2, 1, 0, 60, 0}})
    EXPECT_FALSE(CodificaHora(f)) << f.anio << "-" << f.mes << "-" << f.dia << " " << f.hora;
}

TEST(ZkProtocolo, RegistrosDeReferencia) {
  const Bytes r40 =
      Hex("0D 00 39 39 39 31 31 31 33 33 33 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
          "01 6B B3 68 23 00 00 00 00 00 FF 00 00 00");
  Marcacion m;
  ASSERT_TRUE(DecodificaMarcacion(r40.data(), 40, m));
  EXPECT_EQ(m.uid, 13);
  EXPECT_EQ(m.usuario, "999111333");
  EXPECT_EQ(m.verificacion, 1);
  EXPECT_EQ(m.hora, 0x2368B36Bu);
  Bytes b;
  ASSERT_TRUE(CodificaMarcacion(m, 40, b));
  EXPECT_EQ(b, r40);
  m = {65535, "4294967295", 15, 5, 0x2368B131, 77};
  b.clear();
  ASSERT_TRUE(CodificaMarcacion(m, 16, b) && CodificaMarcacion(m, 8, b));
  EXPECT_EQ(b, Hex("FF FF FF FF 31 B1 68 23 05 0F 00 00 4D 00 00 00  FF FF 5F 00 31 B1 68 23"));
  EXPECT_TRUE(MarcacionesPlausibles(b.data(), 16, 16));
  // As a ZEM500-class clock stores it: uid 7, verify 8, state 2, 2016-01-01 19:02:00.
  b = Hex("07 00 28 00 A8 EB A7 1E");
  ASSERT_TRUE(DecodificaMarcacion(b.data(), 8, m));
  EXPECT_TRUE(m.uid == 7 && m.verificacion == 8 && m.estado == 2);
  EXPECT_EQ(DecodificaHora(m.hora), (FechaHora{2016, 1, 1, 19, 2, 0}));
  EXPECT_EQ(LayoutDeMarcaciones(b.data(), 8, 0, {40, 49, 16, 8}), 8u);
  EXPECT_FALSE(MarcacionesPlausibles(r40.data(), 40, 39));  // no such layout
  b = r40;
  b[5] = 0x01;  // a control character in the user id
  EXPECT_FALSE(MarcacionesPlausibles(b.data(), 40, 40));

  UsuarioZk u{300, 2, "12345", "Ana Ruiz", 70000, 1, {}, "4294967295"};
  b.clear();
  ASSERT_TRUE(CodificaUsuario(u, 28, b));
  EXPECT_EQ(b, Hex("2C 01 02 31 32 33 34 35 41 6E 61 20 52 75 69 7A 70 11 01 00 00 01 00 00 "
                   "FF FF FF FF"));
  EXPECT_EQ(PrivilegioDeByte(12), 2);  // manager as some firmware writes it
}

TEST(ZkProtocolo, PeticionesYEstructurasDeReferencia) {
  EXPECT_EQ(CodificaPeticionMasiva(kMasivaMarcaciones), Hex("01 0D 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(CodificaPeticionMasiva(kMasivaUsuarios), Hex("01 09 00 05 00 00 00 00 00 00 00"));
  EXPECT_EQ(CodificaPeticionMasiva(kMasivaPlantillas), Hex("01 07 00 02 00 00 00 00 00 00 00"));
  EXPECT_EQ(CodificaPeticionTrozo(65472, 100), Hex("C0 FF 00 00 64 00 00 00"));
  EXPECT_EQ(CodificaUidIndice(14, 9), Hex("0E 00 09"));
  EXPECT_EQ(CodificaEscrituraPlantilla({14, 9, 1, 1500}), Hex("0E 00 09 01 DC 05"));
  EXPECT_EQ(CodificaEscrituraCara({14, 50, 70000}), Hex("0E 00 32 70 11 01 00"));
  const Bytes c = ArmaConjunto(Bytes(80, 1).data(), 80);
  EXPECT_EQ(Bytes(c.begin(), c.begin() + 4), Hex("50 00 00 00"));
  EXPECT_FALSE(LeeConjunto(c.data(), c.size() - 1));  // count beyond the bytes present
  const Bytes opcion = Texto(std::string("~SerialNumber=OIN7040057\0basura", 31));
  EXPECT_EQ(ValorOpcion(opcion.data(), opcion.size()), "OIN7040057");
  EXPECT_EQ(DecodificaNombreOpcion(opcion.data(), 9), "~SerialNu");  // without a NUL

  // The bulk template set: size (= template + 6), uid, finger, flag, template.
  Bytes b;
  ASSERT_TRUE(CodificaEntradaPlantilla({14, 4, 1, Hex("4D FD 53 53 32 31")}, b));
  ASSERT_TRUE(CodificaEntradaPlantilla({15, 0, 3, Hex("01 02")}, b));
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 12), Hex("0C 00 0E 00 04 01 4D FD 53 53 32 31"));
  std::vector<EntradaPlantilla> salida;
  ASSERT_TRUE(DecodificaPlantillas(b.data(), b.size(), salida));
  EXPECT_EQ(salida.at(1).bandera, 3);
  EXPECT_FALSE(DecodificaPlantillas(b.data(), b.size() - 1, salida));
}

TEST(ZkProtocolo, Base64) {
  const std::pair<const char*, const char*> casos[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (auto [claro, cifrado] : casos) {
    EXPECT_EQ(Base64(Texto(claro).data(), strlen(claro)), cifrado);
    EXPECT_EQ(DeBase64(cifrado), Texto(claro)) << cifrado;
  }
  EXPECT_EQ(DeBase64("Zm9v\r\nYmE"), Texto("fooba"));  // breaks skipped, padding optional
  for (const char* malo : {"Zm9v!", "Z", "Zg==Zg==", "Zg==="}) EXPECT_FALSE(DeBase64(malo)) << malo;
}

}  // namespace
}  // namespace lector::clock::zk
