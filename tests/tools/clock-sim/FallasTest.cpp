// The faults clock-sim can show, seen from a bare client; and how they are written.
#include <gtest/gtest.h>

#include "ClienteCrudo.h"
#include "Comun.h"
#include "clock-sim/Emulador.h"
#include "clock-sim/Genera.h"

namespace clocksim::test {
namespace {

constexpr const char* kIp = "127.0.0.22";

class FallasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EstadoReloj estado = EstadoDePrueba();
    Genera(estado, {20, 5000, 5, SegundosCiviles({2024, 3, 1, 0, 0, 0})});
    Opciones op;
    op.direccion = kIp;
    op.puerto = 0;
    reloj = std::make_unique<Emulador>(std::move(estado), op);
    reloj->Inicia();
  }
  std::unique_ptr<ClienteCrudo> Conectado() {
    auto c = std::make_unique<ClienteCrudo>(kIp, reloj->Puerto());
    EXPECT_TRUE(c->Conecta());
    return c;
  }
  std::unique_ptr<Emulador> reloj;
};

TEST_F(FallasTest, DropAfterBytesCutsTheTransferAndTheNextClientIsServed) {
  reloj->AgregaFalla({TipoFalla::kCorta, 0, 100000, 1});
  auto c = Conectado();
  ASSERT_EQ(c->Pide(zk::CMD_DATA_WRRQ, zk::CodificaPeticionMasiva(zk::kMasivaMarcaciones)).comando,
            zk::CMD_ACK_OK);
  c->Envia(zk::CMD_DATA_RDY, zk::CodificaPeticionTrozo(0, zk::kTrozoTcp));
  c->Envia(zk::CMD_DATA_RDY, zk::CodificaPeticionTrozo(zk::kTrozoTcp, zk::kTrozoTcp));
  // Exactly 100 000 bytes of transfer packets arrive, then the end of the stream.
  // (The first chunk's ACK_OK, 16 bytes, is not transfer data.)
  EXPECT_EQ(c->RestoCrudo().size(), 100000u + 16);
  // The fault was for one cut: the next client reads everything.
  auto d = Conectado();
  EXPECT_EQ(d->LeeMasivo(zk::kMasivaMarcaciones), *reloj->Copia().ConjuntoMarcaciones());
}

TEST_F(FallasTest, SilentDeviceNeverAnswersButKeepsTheConnection) {
  reloj->AgregaFalla({TipoFalla::kMudo, zk::CMD_GET_FREE_SIZES, 0, -1});
  auto c = Conectado();
  c->Envia(zk::CMD_GET_FREE_SIZES);
  EXPECT_FALSE(c->Recibe(300ms));
  EXPECT_EQ(c->Pide(zk::CMD_GET_TIME).comando, zk::CMD_ACK_OK);  // other commands still work
  reloj->AgregaFalla({TipoFalla::kMudo, 0, 0, -1});
  auto d = std::make_unique<ClienteCrudo>(kIp, reloj->Puerto());
  c.reset();
  d->Envia(zk::CMD_CONNECT);
  EXPECT_FALSE(d->Recibe(300ms));
  reloj->QuitaFallas();
  EXPECT_EQ(d->Pide(zk::CMD_CONNECT).comando, zk::CMD_ACK_OK);
}

TEST_F(FallasTest, RefusedCommandIsNotCarriedOut) {
  reloj->AgregaFalla({TipoFalla::kRechaza, zk::CMD_CLEAR_ATTLOG, 0, 1});
  auto c = Conectado();
  EXPECT_EQ(c->Pide(zk::CMD_CLEAR_ATTLOG).comando, zk::CMD_ACK_ERROR);
  EXPECT_EQ(reloj->Copia().marcaciones.size(), 5000u);
  EXPECT_EQ(c->Pide(zk::CMD_CLEAR_ATTLOG).comando, zk::CMD_ACK_OK);  // only once
  EXPECT_EQ(reloj->Copia().marcaciones.size(), 0u);
}

TEST_F(FallasTest, GarbageAndBadChecksums) {
  reloj->AgregaFalla({TipoFalla::kChecksumMalo, zk::CMD_GET_TIME, 0, 1});
  auto c = Conectado();
  auto r = c->Pide(zk::CMD_GET_TIME);
  EXPECT_EQ(r.comando, zk::CMD_ACK_OK);
  EXPECT_FALSE(c->checksumsValidos);
  c->checksumsValidos = true;
  c->Pide(zk::CMD_GET_TIME);
  EXPECT_TRUE(c->checksumsValidos);

  reloj->AgregaFalla({TipoFalla::kBasura, zk::CMD_GET_FREE_SIZES, 40, -1});
  c->Envia(zk::CMD_GET_FREE_SIZES);
  std::string basura = c->RestoCrudo(300ms);
  EXPECT_EQ(basura.size(), 40u);
  EXPECT_NE(basura.substr(0, 4), "\x50\x50\x82\x7D");
}

TEST_F(FallasTest, DelayedAnswerStillArrives) {
  reloj->AgregaFalla({TipoFalla::kRetrasa, zk::CMD_GET_VERSION, 400, -1});
  auto c = Conectado();
  c->Envia(zk::CMD_GET_VERSION);
  EXPECT_FALSE(c->Recibe(100ms));  // not before the delay
  auto r = c->Recibe();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->comando, zk::CMD_ACK_OK);
  EXPECT_EQ(r->idRespuesta, c->idRespuesta);
}

TEST_F(FallasTest, StoppingWhileAClientIsConnectedOrWaitingEndsCleanly) {
  reloj->AgregaFalla({TipoFalla::kRetrasa, 0, 60000, -1});
  auto c = std::make_unique<ClienteCrudo>(kIp, reloj->Puerto());
  c->Envia(zk::CMD_CONNECT);
  reloj->Detiene();
  EXPECT_TRUE(c->Cierra());
}

TEST(InactividadTest, ASilentClientIsDroppedSoTheNextIsServed) {
  Opciones op;
  op.direccion = kIp;
  op.puerto = 0;
  op.inactividad = std::chrono::milliseconds(300);
  Emulador reloj(EstadoDePrueba(), op);
  reloj.Inicia();
  ClienteCrudo colgado(kIp, reloj.Puerto());
  ASSERT_TRUE(colgado.Conecta());
  ClienteCrudo siguiente(kIp, reloj.Puerto());
  siguiente.Envia(zk::CMD_CONNECT);
  auto r = siguiente.Recibe(20s);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->comando, zk::CMD_ACK_OK);
  EXPECT_TRUE(colgado.Cierra());
}

TEST(UdpFallasTest, DropAfterBytesEndsTheUdpSession) {
  EstadoReloj estado;
  Genera(estado, {5, 3000, 2, SegundosCiviles({2024, 3, 1, 0, 0, 0})});
  Opciones op;
  op.direccion = kIp;
  op.puerto = 0;
  op.tcp = false;
  op.udp = true;
  Emulador reloj(estado, op);
  reloj.Inicia();
  reloj.AgregaFalla({TipoFalla::kCorta, 0, 5000, 1});
  ClienteCrudo c(kIp, reloj.Puerto(), true);
  ASSERT_TRUE(c.Conecta());
  c.espera = 500ms;  // what is cut never comes
  EXPECT_THROW(c.LeeMasivo(zk::kMasivaMarcaciones, zk::kTrozoUdp), std::runtime_error);
  c.espera = 10s;
  // The session is gone; a new one reads everything.
  EXPECT_EQ(c.Pide(zk::CMD_GET_TIME).comando, zk::CMD_ACK_UNAUTH);
  ASSERT_TRUE(c.Conecta());
  EXPECT_EQ(c.LeeMasivo(zk::kMasivaMarcaciones, zk::kTrozoUdp), *estado.ConjuntoMarcaciones());
}

TEST(LeeFallaTest, CommandLineForms) {
  std::string error;
  auto f = LeeFalla("drop-after=100000", error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->tipo, TipoFalla::kCorta);
  EXPECT_EQ(f->valor, 100000u);
  EXPECT_EQ(f->comando, 0);
  EXPECT_EQ(f->veces, -1);
  f = LeeFalla("delay=300@CMD_GET_TIME*2", error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->tipo, TipoFalla::kRetrasa);
  EXPECT_EQ(f->comando, zk::CMD_GET_TIME);
  EXPECT_EQ(f->veces, 2);
  f = LeeFalla("refuse@data_rdy", error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->comando, zk::CMD_DATA_RDY);
  f = LeeFalla("silent@1503", error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->comando, 1503);
  EXPECT_EQ(DescribeFalla(*f), "silent@CMD_DATA_WRRQ");
  for (const char* malo : {"", "drop-after", "delay=x", "explode", "garbage@NOPE", "refuse*0",
                           "silent@70000", "delay=99999999999"}) {
    EXPECT_FALSE(LeeFalla(malo, error)) << malo;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace clocksim::test
