// clock-sim where no client test reaches it: what other clients send that ours never does, bytes
// that are not the protocol, clients that hang or wait. Everything a ZkSdk reads from the emulator
// is tested from the client's side (tests/clock/ZkSdkRelojTest).
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "clock-sim/Emulador.h"

namespace clocksim::test {
namespace {

namespace zk = lector::clock::zk;
constexpr const char* kIp = "127.0.0.21";

// A bare TCP client: exactly the packets a test builds, every packet answered.
class Crudo {
 public:
  explicit Crudo(uint16_t puerto) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(puerto);
    inet_pton(AF_INET, kIp, &a.sin_addr);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  ~Crudo() { close(fd_); }
  void EnviaCrudo(const zk::Bytes& b) {
    EXPECT_EQ(send(fd_, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size()));
  }
  void Envia(uint16_t comando, const zk::Bytes& datos = {}) {
    EnviaCrudo(zk::ArmaTramaTcp(comando, sesion, ++id, datos));
  }
  // The next packet; nullopt when none comes in time or the connection ends.
  std::optional<zk::Paquete> Recibe(int ms = 10000) {
    for (;;) {
      uint32_t largo = 0;
      if (zk::ExaminaTramaTcp(rx_.data(), rx_.size(), largo) == zk::EstadoTrama::kCompleta) {
        auto p = zk::LeePayload(rx_.data() + 8, largo);
        rx_.erase(rx_.begin(), rx_.begin() + 8 + largo);
        return p;
      }
      pollfd p{fd_, POLLIN, 0};
      uint8_t b[65536];
      ssize_t n = poll(&p, 1, ms) > 0 ? recv(fd_, b, sizeof b, 0) : 0;
      if (n <= 0) return std::nullopt;
      rx_.insert(rx_.end(), b, b + n);
    }
  }
  uint16_t Pide(uint16_t comando, const zk::Bytes& datos = {}) {
    Envia(comando, datos);
    auto p = Recibe();
    return p ? p->comando : 0;
  }
  bool Conecta() {
    Envia(zk::CMD_CONNECT);
    auto p = Recibe();
    sesion = p ? p->sesion : 0;
    return p && p->comando == zk::CMD_ACK_OK;
  }
  uint16_t sesion = 0, id = 0;

 private:
  int fd_ = -1;
  zk::Bytes rx_;
};

class ProtocoloTest : public ::testing::Test {
 protected:
  void Arranca(std::chrono::milliseconds inactividad = std::chrono::seconds(60)) {
    EstadoReloj e;
    e.usuarios.push_back({1, "123456789", "Ana", "", 0, true, 0, 1});
    e.plantillas[{1, 3}] = Plantilla{1, zk::Bytes(600, 7)};
    e.Marca("123456789", 0, 1, SegundosCiviles({2024, 3, 14, 8, 0, 5}));
    e.horaFija = SegundosCiviles({2024, 3, 15, 10, 30, 0});
    Opciones op;
    op.direccion = kIp;
    op.puerto = 0;
    op.inactividad = inactividad;
    reloj = std::make_unique<Emulador>(e, op);
    reloj->Inicia();
  }
  std::unique_ptr<Crudo> Conectado() {
    auto c = std::make_unique<Crudo>(reloj->Puerto());
    EXPECT_TRUE(c->Conecta());
    return c;
  }
  std::unique_ptr<Emulador> reloj;
};

TEST_F(ProtocoloTest, LoQuePidenOtrosClientes) {
  Arranca();
  auto c = std::make_unique<Crudo>(reloj->Puerto());
  EXPECT_EQ(c->Pide(zk::CMD_GET_TIME),
            zk::CMD_ACK_UNAUTH);  // nothing before CMD_CONNECT
  c.reset();
  c = Conectado();
  // Unknown commands, and reply codes sent as commands (pyzk clears errors so), are answered.
  EXPECT_EQ(c->Pide(4242), zk::CMD_ACK_UNKNOWN);
  EXPECT_EQ(c->Pide(zk::CMD_ACK_ERROR), zk::CMD_ACK_UNKNOWN);
  // Option names without their NUL; a time read.
  c->Envia(zk::CMD_OPTIONS_RRQ, zk::Bytes{'~', 'P', 'l', 'a', 't', 'f', 'o', 'r', 'm'});
  auto r = c->Recibe();
  EXPECT_EQ(zk::ValorOpcion(r->datos.data(), r->datos.size()), "ZEM560");
  EXPECT_EQ(c->Pide(zk::CMD_OPTIONS_RRQ, zk::CodificaNombreOpcion("NoSuchOption")),
            zk::CMD_ACK_ERROR);
  c->Envia(zk::CMD_GET_TIME);
  r = c->Recibe();
  EXPECT_EQ(zk::DecodificaHora(zk::LeeU32(r->datos.data())),
            (zk::FechaHora{2024, 3, 15, 10, 30, 0}));
  // The bulk template set, inline when small.
  c->Envia(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(zk::kMasivaPlantillas));
  r = c->Recibe();
  std::vector<zk::EntradaPlantilla> plantillas;
  ASSERT_EQ(r->comando, zk::CMD_DATA);
  ASSERT_TRUE(zk::DecodificaPlantillas(r->datos.data() + 4, r->datos.size() - 4, plantillas));
  EXPECT_EQ(plantillas.at(0).dedo, 3);
  // Old direct reads: PREPARE_DATA with the whole set's size, DATA, ACK_OK.
  c->Envia(zk::CMD_ATTLOG_RRQ);
  EXPECT_EQ(zk::LeeU32(c->Recibe()->datos.data()), 4u + 40);
  EXPECT_EQ(c->Recibe()->datos, *reloj->Copia().ConjuntoMarcaciones());
  EXPECT_EQ(c->Recibe()->comando, zk::CMD_ACK_OK);
  // A template deleted by user id text and finger.
  zk::Bytes porId(25, 0);
  std::copy_n("123456789", 9, porId.begin());
  porId[24] = 3;
  EXPECT_EQ(c->Pide(zk::CMD_DEL_FPTMP, porId), zk::CMD_ACK_OK);
  EXPECT_TRUE(reloj->Copia().plantillas.empty());
}

TEST_F(ProtocoloTest, BytesQueNoSonElProtocoloYClientesQueEsperan) {
  Arranca();
  auto c = Conectado();
  // A request with a wrong checksum gets no answer; the next good one does.
  auto trama = zk::ArmaTramaTcp(zk::CMD_GET_TIME, c->sesion, 77);
  trama[10] ^= 0xFF;
  c->EnviaCrudo(trama);
  EXPECT_EQ(c->Pide(zk::CMD_GET_TIME), zk::CMD_ACK_OK);
  // A second client waits while the first is served, and is answered once it leaves.
  auto d = std::make_unique<Crudo>(reloj->Puerto());
  d->Envia(zk::CMD_CONNECT);
  EXPECT_EQ(c->Pide(zk::CMD_EXIT), zk::CMD_ACK_OK);
  EXPECT_EQ(d->Recibe()->comando, zk::CMD_ACK_OK);
  // Bytes that are not this protocol end the connection, and so does an absurd length.
  d->EnviaCrudo(zk::Bytes{'G', 'E', 'T', ' ', '/'});
  EXPECT_FALSE(d->Recibe());
  d = Conectado();
  d->EnviaCrudo(zk::Bytes{0x50, 0x50, 0x82, 0x7D, 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_FALSE(d->Recibe());
  // A port probe (open, close, no byte) is harmless; a frame in single bytes is put together.
  std::make_unique<Crudo>(reloj->Puerto()).reset();
  d = std::make_unique<Crudo>(reloj->Puerto());
  for (uint8_t b : zk::ArmaTramaTcp(zk::CMD_CONNECT, 0, 0)) d->EnviaCrudo(zk::Bytes{b});
  EXPECT_EQ(d->Recibe()->comando, zk::CMD_ACK_OK);
  EXPECT_EQ(reloj->Conexiones(), 5);
}

TEST_F(ProtocoloTest, ClienteCalladoOEmuladorDetenido) {
  Arranca(std::chrono::milliseconds(300));
  auto colgado = Conectado();
  auto siguiente = std::make_unique<Crudo>(reloj->Puerto());
  siguiente->Envia(zk::CMD_CONNECT);
  EXPECT_EQ(siguiente->Recibe(20000)->comando,
            zk::CMD_ACK_OK);  // the silent one was dropped
  EXPECT_FALSE(colgado->Recibe());
  reloj->AgregaFalla({TipoFalla::kRetrasa, 0, 60000, -1});
  siguiente->Envia(zk::CMD_GET_TIME);
  reloj->Detiene();  // while an answer waits: ends at once
  EXPECT_FALSE(siguiente->Recibe());
}

TEST(LeeFallaTest, FormasMalasSeRechazanConElMotivo) {
  std::string error;
  for (const char* malo : {"", "drop-after", "delay=x", "explode", "garbage@NOPE", "refuse*0",
                           "silent@70000", "delay=99999999999"}) {
    EXPECT_FALSE(LeeFalla(malo, error)) << malo;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace clocksim::test
