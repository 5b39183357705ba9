// clock-sim where no client test reaches it: bytes that are not the protocol, clients that hang or
// wait. What a ZkSdk reads from the emulator is tested from the client's side
// (tests/clock/ZkSdkRelojTest), what other clients ask for by the independent one (InteropTest).
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
  void Envia(uint16_t comando) { EnviaCrudo(zk::ArmaTramaTcp(comando, sesion, ++id)); }
  // The next packet (its session is taken for the next requests); nullopt when none comes in
  // time or the connection ends.
  std::optional<zk::Paquete> Recibe(int ms = 10000) {
    for (;;) {
      uint32_t largo = 0;
      if (zk::ExaminaTramaTcp(rx_.data(), rx_.size(), largo) == zk::EstadoTrama::kCompleta) {
        auto p = zk::LeePayload(rx_.data() + 8, largo);
        rx_.erase(rx_.begin(), rx_.begin() + 8 + largo);
        if (p) sesion = p->sesion;
        return p;
      }
      pollfd p{fd_, POLLIN, 0};
      uint8_t b[65536];
      ssize_t n = poll(&p, 1, ms) > 0 ? recv(fd_, b, sizeof b, 0) : 0;
      if (n <= 0) return std::nullopt;
      rx_.insert(rx_.end(), b, b + n);
    }
  }
  uint16_t Pide(uint16_t comando) {
    Envia(comando);
    auto p = Recibe();
    return p ? p->comando : 0;
  }
  uint16_t sesion = 0, id = 0;

 private:
  int fd_ = -1;
  zk::Bytes rx_;
};

class ProtocoloTest : public ::testing::Test {
 protected:
  void Arranca(std::chrono::milliseconds inactividad = std::chrono::seconds(60)) {
    Opciones op;
    op.direccion = kIp;
    op.puerto = 0;
    op.inactividad = inactividad;
    reloj = std::make_unique<Emulador>(EstadoReloj{}, op);
    reloj->Inicia();
  }
  std::unique_ptr<Crudo> Conectado() {
    auto c = std::make_unique<Crudo>(reloj->Puerto());
    EXPECT_EQ(c->Pide(zk::CMD_CONNECT), zk::CMD_ACK_OK);
    return c;
  }
  std::unique_ptr<Emulador> reloj;
};

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
