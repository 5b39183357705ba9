#include "support/Ping.h"

#include <arpa/inet.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"

namespace lector {
namespace {

// ---- Matching raw-socket packets

uint32_t Ip(const char* texto) {
  in_addr a{};
  inet_pton(AF_INET, texto, &a);
  return a.s_addr;
}

std::vector<uint8_t> CabeceraIp(uint32_t origen, uint32_t destino, size_t largoIhl = 20) {
  std::vector<uint8_t> p(largoIhl, 0);
  p[0] = static_cast<uint8_t>(0x40 | (largoIhl / 4));
  p[9] = IPPROTO_ICMP;
  std::memcpy(&p[12], &origen, 4);
  std::memcpy(&p[16], &destino, 4);
  return p;
}

std::vector<uint8_t> Icmp(uint8_t tipo, uint16_t id, uint16_t sec) {
  return {tipo,
          0,
          0,
          0,
          static_cast<uint8_t>(id >> 8),
          static_cast<uint8_t>(id),
          static_cast<uint8_t>(sec >> 8),
          static_cast<uint8_t>(sec)};
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool Es(const std::vector<uint8_t>& p, uint32_t destino, uint16_t id, uint16_t sec) {
  return EsRespuestaAlEco(p.data(), p.size(), destino, id, sec);
}

TEST(RespuestaAlEco, EcoRespuestaPorIdSecuenciaYOrigen) {
  uint32_t reloj = Ip("10.0.0.7"), yo = Ip("10.0.0.1"), otro = Ip("10.0.0.8");
  auto bien = CabeceraIp(reloj, yo) + Icmp(0, 0x1234, 7);
  EXPECT_TRUE(Es(bien, reloj, 0x1234, 7));
  EXPECT_TRUE(Es(CabeceraIp(reloj, yo, 24) + Icmp(0, 0x1234, 7), reloj, 0x1234, 7));
  EXPECT_FALSE(Es(bien, reloj, 0x1235, 7));
  EXPECT_FALSE(Es(bien, reloj, 0x1234, 8));
  EXPECT_FALSE(Es(CabeceraIp(otro, yo) + Icmp(0, 0x1234, 7), reloj, 0x1234, 7));
  // Our own request, as a raw socket sees it on loopback, is not an answer.
  EXPECT_FALSE(Es(CabeceraIp(reloj, reloj) + Icmp(8, 0x1234, 7), reloj, 0x1234, 7));
  EXPECT_FALSE(Es(CabeceraIp(reloj, yo) + Icmp(5, 0x1234, 7), reloj, 0x1234, 7));  // redirect
}

TEST(RespuestaAlEco, ErrorIcmpQueCitaNuestroEco) {
  uint32_t reloj = Ip("10.0.0.7"), yo = Ip("10.0.0.1"), router = Ip("10.0.0.254");
  auto citado = [&](uint32_t destino, uint8_t tipo, uint16_t id, uint16_t sec) {
    return CabeceraIp(yo, destino) + Icmp(tipo, id, sec);
  };
  for (uint8_t tipo : {3, 4, 11, 12})
    EXPECT_TRUE(Es(CabeceraIp(router, yo) + Icmp(tipo, 0, 0) + citado(reloj, 8, 9, 2), reloj, 9, 2))
        << int(tipo);
  auto error = CabeceraIp(router, yo) + Icmp(3, 0, 0);
  EXPECT_FALSE(Es(error + citado(Ip("10.0.0.6"), 8, 9, 2), reloj, 9, 2));
  EXPECT_FALSE(Es(error + citado(reloj, 8, 10, 2), reloj, 9, 2));
  EXPECT_FALSE(Es(error + citado(reloj, 8, 9, 3), reloj, 9, 2));
  EXPECT_FALSE(Es(error + citado(reloj, 0, 9, 2), reloj, 9, 2));
  auto corto = error + citado(reloj, 8, 9, 2);
  corto.resize(corto.size() - 1);
  EXPECT_FALSE(Es(corto, reloj, 9, 2));
}

TEST(RespuestaAlEco, PaquetesMalFormados) {
  uint32_t reloj = Ip("10.0.0.7");
  auto p = CabeceraIp(reloj, reloj) + Icmp(0, 1, 1);
  EXPECT_FALSE(EsRespuestaAlEco(p.data(), 0, reloj, 1, 1));
  EXPECT_FALSE(EsRespuestaAlEco(p.data(), 27, reloj, 1, 1));
  auto q = p;
  q[0] = 0x44;  // header length below 20
  EXPECT_FALSE(Es(q, reloj, 1, 1));
  q[0] = 0x4F;  // header length past the packet
  EXPECT_FALSE(Es(q, reloj, 1, 1));
  q[0] = 0x65;  // not IPv4
  EXPECT_FALSE(Es(q, reloj, 1, 1));
  q = p;
  q[9] = IPPROTO_UDP;
  EXPECT_FALSE(Es(q, reloj, 1, 1));
}

// ---- Loopback: every 127.x.y.z address is local and answers

class PingLocal : public ::testing::Test {
 protected:
  test::LectorDePrueba p;
};

TEST_F(PingLocal, DireccionesLocalesResponden) {
  int32_t t = MidePing(p.l, "127.0.0.1");
  EXPECT_GE(t, 0);
  p.l.estado.PingTiempo = -7;
  t = MidePing(p.l, "  127.0.0.5 ");
  EXPECT_GE(t, 0);
  EXPECT_EQ(t, p.l.estado.PingTiempo);
  EXPECT_GE(MidePing(p.l, "localhost"), 0);
  AlcanceIcmp alcance(p.l);
  EXPECT_GE(alcance.MidePing("127.0.0.2"), 0);
}

TEST_F(PingLocal, ResuelveNombres) {
  std::string ip = "sin tocar";
  EXPECT_EQ(ResuelveNombre(" 127.0.0.5\t", ip), 0);
  EXPECT_EQ(ip, "127.0.0.5");
  EXPECT_EQ(ResuelveNombre("localhost", ip), 0);
  EXPECT_EQ(ip, "127.0.0.1");
  EXPECT_EQ(ResuelveNombre("127.1", ip), 0);
  EXPECT_EQ(ip, "127.0.0.1");
  ip = "sin tocar";
  // Names that fail inside the resolver, before any query leaves the machine.
  for (std::string malo : {std::string(""), std::string("   "), std::string("a..b"),
                           std::string(70, 'x') + ".invalid", std::string("a\0b", 3)}) {
    EXPECT_NE(ResuelveNombre(malo, ip), 0) << malo;
    EXPECT_EQ(ip, "sin tocar");
  }
}

TEST_F(PingLocal, NombreQueNoResuelveNoEnviaEco) {
  p.l.estado.PingTiempo = 42;
  uint64_t antes = EcosEnviados();
  EXPECT_EQ(MidePing(p.l, "a..b"), -1);
  EXPECT_EQ(MidePing(p.l, ""), -1);
  EXPECT_EQ(EcosEnviados(), antes);
  EXPECT_FALSE(EnviaPing(p.l, "255.255.255.255", 1000, ""));
  EXPECT_FALSE(EnviaPing(p.l, "127.0.0.1 ", 1000, ""));
  EXPECT_FALSE(EnviaPing(p.l, "uno", 1000, ""));
  EXPECT_EQ(EcosEnviados(), antes);
  EXPECT_EQ(p.l.estado.PingTiempo, 42);
}

TEST_F(PingLocal, CadaMetodoDisponibleRespondeConDatos) {
  int disponibles = 0;
  for (auto m : {MetodoPing::Datagrama, MetodoPing::Crudo, MetodoPing::Programa}) {
    int32_t rtt = -1;
    auto r = EcoIcmp("127.0.0.3", 1000, "datos del eco", m, rtt);
    if (r == ResultadoEco::NoDisponible) continue;
    ++disponibles;
    EXPECT_EQ(r, ResultadoEco::Respuesta) << static_cast<int>(m);
    EXPECT_GE(rtt, 0);
  }
  EXPECT_GE(disponibles, 1);
}

// ---- A network of our own: a namespace with a veth pair to a second namespace acting as a
// router. 10.200.0.2 answers, 10.200.0.99 is an absent neighbour, and the router answers
// 10.201.0.0/24 with host unreachable.

constexpr int kNoSePuede = 77;

int EnRedDePrueba(const std::function<int()>& cuerpo) {
  pid_t hijo = fork();
  if (hijo < 0) return kNoSePuede;
  if (hijo == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(kNoSePuede);
    int listo[2], vida[2];
    if (pipe(listo) != 0 || pipe(vida) != 0) _exit(kNoSePuede);
    pid_t router = fork();
    if (router == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(listo[0]);
      close(vida[1]);
      if (unshare(CLONE_NEWNET) == 0 && write(listo[1], "x", 1) == 1) {
        char c;
        while (read(vida[0], &c, 1) > 0) {
        }
      }
      _exit(0);  // its namespace, and the far end of the pair, go with it
    }
    close(listo[1]);
    close(vida[0]);
    char c = 0;
    if (router < 0 || read(listo[0], &c, 1) != 1) _exit(kNoSePuede);
    std::string r = std::to_string(router);
    std::string guion =
        "set -e; exec >/dev/null 2>&1; ip link set lo up;"
        "ip link add va type veth peer name vb; ip link set vb netns " +
        r +
        ";"
        "ip addr add 10.200.0.1/24 dev va; ip link set va up;"
        "ip route add 10.201.0.0/24 via 10.200.0.2;"
        "nsenter -t " +
        r +
        " -n sh -ec 'ip link set lo up; ip addr add 10.200.0.2/24 dev vb;"
        "ip link set vb up; echo 1 > /proc/sys/net/ipv4/ip_forward;"
        "ip route add unreachable 10.201.0.0/24';"
        "echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range";
    if (system(guion.c_str()) != 0) _exit(kNoSePuede);
    int resultado = cuerpo();
    kill(router, SIGKILL);
    _exit(resultado);
  }
  int estado = 0;
  bool termino = test::EsperaHasta([&] { return waitpid(hijo, &estado, WNOHANG) == hijo; },
                                   std::chrono::seconds(120));
  if (!termino) {
    kill(hijo, SIGKILL);
    waitpid(hijo, &estado, 0);
    return -1;
  }
  return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
}

class PingEnRedPropia : public ::testing::TestWithParam<MetodoPing> {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "hace falta root para crear espacios de red";
    if (system("command -v ip >/dev/null && command -v nsenter >/dev/null") != 0)
      GTEST_SKIP() << "faltan ip o nsenter";
  }
};

// Returns 0 when every check holds, else the number of the first that failed.
int Comprueba(MetodoPing m) {
  auto eco = [&](const char* ip) {
    int32_t rtt = -1;
    auto r = EcoIcmp(ip, 1000, "", m, rtt);
    std::fprintf(stderr, "eco %s: %d rtt %d\n", ip, static_cast<int>(r), rtt);
    return r == ResultadoEco::Respuesta && rtt >= 0 ? 1 : r == ResultadoEco::SinRespuesta ? 0 : -1;
  };
  if (eco("10.200.0.2") != 1) return 1;
  if (eco("10.200.0.99") != 0) return 2;
  if (eco("10.201.0.5") != 1) return 3;  // host unreachable from the router counts
  if (eco("127.0.0.1") != 1) return 4;
  return 0;
}

TEST_P(PingEnRedPropia, VecinoPresenteAusenteYRouterQueRechaza) {
  int r = EnRedDePrueba([&] { return Comprueba(GetParam()); });
  if (r == kNoSePuede) GTEST_SKIP() << "no se pudo armar la red de prueba";
  EXPECT_EQ(r, 0) << "falló la comprobación " << r;
}

INSTANTIATE_TEST_SUITE_P(Metodos, PingEnRedPropia,
                         ::testing::Values(MetodoPing::Datagrama, MetodoPing::Crudo,
                                           MetodoPing::Programa),
                         [](const auto& info) {
                           switch (info.param) {
                             case MetodoPing::Datagrama:
                               return "Datagrama";
                             case MetodoPing::Crudo:
                               return "Crudo";
                             default:
                               return "Programa";
                           }
                         });

TEST(PingEnRedPropiaMidePing, SinRespuestaEsMenosUno) {
  if (geteuid() != 0 || system("command -v ip >/dev/null && command -v nsenter >/dev/null") != 0)
    GTEST_SKIP() << "hace falta root, ip y nsenter";
  test::LectorDePrueba p;
  int r = EnRedDePrueba([&] {
    if (MidePing(p.l, "10.200.0.99") != -1) return 1;
    if (MidePing(p.l, " 10.200.0.2 ") < 0) return 2;
    if (MidePing(p.l, "10.201.0.9") < 0) return 3;
    return 0;
  });
  if (r == kNoSePuede) GTEST_SKIP() << "no se pudo armar la red de prueba";
  EXPECT_EQ(r, 0) << "falló la comprobación " << r;
}

}  // namespace
}  // namespace lector
