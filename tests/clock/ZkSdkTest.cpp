// ZkSdk against peers that are not clocks: nothing listening, a listener that never answers,
// one that talks nonsense. Every case must end in false within the time-out, never a hang.
#include "clock/zk/ZkSdk.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kit/Fixtures.h"

namespace lector::clock::zk {
namespace {

using namespace std::chrono_literals;
using lector::test::PuertoLibre;

// A TCP listener on 127.0.0.1 (any free port) that accepts connections and answers each
// received chunk with `respuesta` (nothing when empty); it closes a connection when `cierra`.
class PuertoDePrueba {
 public:
  explicit PuertoDePrueba(Bytes respuesta = {}, bool cierra = false)
      : respuesta_(std::move(respuesta)), cierra_(cierra) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd_, 8), 0);
    socklen_t largo = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &largo);
    puerto_ = ntohs(a.sin_port);
    hilo_ = std::thread([this] { Atiende(); });
  }
  ~PuertoDePrueba() {
    parar_ = true;
    hilo_.join();
    for (int c : clientes_) ::close(c);
    ::close(fd_);
  }
  int32_t puerto() const { return puerto_; }
  int aceptadas() const { return aceptadas_.load(); }

 private:
  void Atiende() {
    while (!parar_) {
      std::vector<pollfd> p{{fd_, POLLIN, 0}};
      for (int c : clientes_) p.push_back({c, POLLIN, 0});
      if (::poll(p.data(), p.size(), 20) <= 0) continue;
      if (p[0].revents & POLLIN) {
        clientes_.push_back(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
        ++aceptadas_;
      }
      for (size_t i = 1; i < p.size(); ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
        uint8_t buf[4096];
        if (::recv(p[i].fd, buf, sizeof buf, 0) <= 0) continue;
        if (!respuesta_.empty())
          ::send(p[i].fd, respuesta_.data(), respuesta_.size(), MSG_NOSIGNAL);
        if (cierra_) ::shutdown(p[i].fd, SHUT_RDWR);
      }
    }
  }

  int fd_ = -1;
  int32_t puerto_ = 0;
  Bytes respuesta_;
  bool cierra_;
  std::vector<int> clientes_;
  std::thread hilo_;
  std::atomic<bool> parar_{false};
  std::atomic<int> aceptadas_{0};
};

void EsperaTodoFalso(ZkSdk& sdk) {
  std::string texto;
  int32_t n = 0, v = 0, io = 0, y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, wc = 0;
  bool hab = false;
  EXPECT_FALSE(sdk.GetSerialNumber(0, texto));
  EXPECT_EQ(texto, "");
  EXPECT_FALSE(sdk.GetFirmwareVersion(1, texto));
  EXPECT_FALSE(sdk.ReadGeneralLogData(0));
  EXPECT_FALSE(sdk.SSR_GetGeneralLogData(0, texto, v, io, y, mo, d, h, mi, s, wc));
  EXPECT_FALSE(sdk.ReadAllUserID(1));
  std::string nombre, clave;
  EXPECT_FALSE(sdk.SSR_GetAllUserInfo(1, texto, nombre, clave, n, hab));
  EXPECT_FALSE(sdk.SSR_GetUserInfo(1, "1", nombre, clave, n, hab));
  EXPECT_EQ(nombre, "");
  EXPECT_FALSE(sdk.SSR_SetUserInfo(1, "1", "Ana", "", 0, true));
  EXPECT_FALSE(sdk.SSR_GetUserTmpStr(1, "1", 0, texto, n));
  EXPECT_FALSE(sdk.GetUserTmpExStr(1, "1", 0, v, texto, n));
  EXPECT_FALSE(sdk.SSR_SetUserTmpStr(1, "1", 0, "AAAA"));
  EXPECT_FALSE(sdk.SetUserTmpExStr(1, "1", 0, 1, "AAAA"));
  EXPECT_FALSE(sdk.GetUserFaceStr(1, "1", 50, texto, n));
  EXPECT_FALSE(sdk.SetUserFaceStr(1, "1", 50, "AAAA", 4));
  EXPECT_FALSE(sdk.DeleteEnrollData(1, 1, 1, 12));
  EXPECT_FALSE(sdk.SSR_DeleteEnrollData(1, "1", 12));
  EXPECT_FALSE(sdk.SSR_DeleteEnrollDataExt(1, "1", 12));
  EXPECT_FALSE(sdk.RefreshData(1));
  EXPECT_FALSE(sdk.ClearGLog(1));
  EXPECT_FALSE(sdk.RestartDevice(1));
  EXPECT_FALSE(sdk.Beep(2000));
  EXPECT_FALSE(sdk.SetDeviceTime2(1, 2024, 5, 6, 7, 8, 9));
  EXPECT_FALSE(sdk.ClearAdministrators(1));
  sdk.Disconnect();  // harmless when there is nothing to close
}

TEST(ZkSdkSinReloj, SinConexionTodoRespondeFalso) {
  ZkSdk sdk(200ms);
  EXPECT_FALSE(sdk.Conectado());
  EsperaTodoFalso(sdk);
  // The card value lives in the SDK object and needs no clock.
  std::string tarjeta;
  EXPECT_TRUE(sdk.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "0");
  EXPECT_TRUE(sdk.SetStrCardNumber("4294967295"));
  EXPECT_TRUE(sdk.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "4294967295");
  EXPECT_FALSE(sdk.SetStrCardNumber("4294967296"));
  EXPECT_FALSE(sdk.SetStrCardNumber("12a"));
  EXPECT_FALSE(sdk.SetStrCardNumber(""));
  EXPECT_TRUE(sdk.GetStrCardNumber(tarjeta));
  EXPECT_EQ(tarjeta, "4294967295");
}

TEST(ZkSdkSinReloj, NadieEscuchaNiPorTcpNiPorUdp) {
  ZkSdk sdk(2s);
  EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", PuertoLibre()));
  EXPECT_FALSE(sdk.Conectado());
  EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", 0));
  EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", 70000));
  EXPECT_FALSE(sdk.Connect_Net("", 4370));
}

TEST(ZkSdkSinReloj, UnEquipoQueNuncaRespondeDaFalsoAlVencerElPlazo) {
  PuertoDePrueba mudo;
  ZkSdk sdk(300ms);
  const auto inicio = std::chrono::steady_clock::now();
  EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", mudo.puerto()));
  // Bounded by the time-out (with room for a busy machine), not by any system default.
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, 30s);
  EXPECT_EQ(mudo.aceptadas(), 1);
  EXPECT_FALSE(sdk.Conectado());
  EsperaTodoFalso(sdk);
}

TEST(ZkSdkSinReloj, BasuraOCierreEnLugarDeRespuestaDaFalso) {
  {
    PuertoDePrueba ruidoso(Bytes{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '4', '0', '0'});
    ZkSdk sdk(2s);
    EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", ruidoso.puerto()));
    EXPECT_FALSE(sdk.Conectado());
  }
  {
    // A well-framed answer with a wrong checksum.
    Bytes trama = ArmaTramaTcp(CMD_ACK_OK, 1, 0);
    trama[10] ^= 0x55;
    PuertoDePrueba malo(trama);
    ZkSdk sdk(2s);
    EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", malo.puerto()));
  }
  {
    // A frame announcing more than any device sends.
    auto prefijo = PrefijoTcp(kMaxPayload + 1);
    PuertoDePrueba enorme(Bytes(prefijo.begin(), prefijo.end()));
    ZkSdk sdk(2s);
    EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", enorme.puerto()));
  }
  {
    PuertoDePrueba cierra({}, true);
    ZkSdk sdk(2s);
    EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", cierra.puerto()));
  }
}

TEST(ZkSdkSinReloj, ConnectRechazadoPorElEquipo) {
  // Answers every request (CONNECT included, reply id 0) with ACK_ERROR.
  PuertoDePrueba rechaza(ArmaTramaTcp(CMD_ACK_ERROR, 7, 0));
  ZkSdk sdk(2s);
  EXPECT_FALSE(sdk.Connect_Net("127.0.0.1", rechaza.puerto()));
  EXPECT_FALSE(sdk.Conectado());
}

}  // namespace
}  // namespace lector::clock::zk
