#include "support/Ping.h"

#include <arpa/inet.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "kit/Fixtures.h"

#ifdef LECTOR_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace lector {
namespace {

std::vector<uint8_t> CabeceraIp(uint32_t origen, uint32_t destino, size_t largoIhl = 20) {
  std::vector<uint8_t> p(largoIhl, 0);
  p[0] = static_cast<uint8_t>(0x40 | (largoIhl / 4));
  p[9] = IPPROTO_ICMP;
  std::memcpy(&p[12], &origen, 4);
  std::memcpy(&p[16], &destino, 4);
  return p;
}

std::vector<uint8_t> Icmp(uint8_t tipo, uint16_t id, uint16_t sec) {
  return {tipo, 0, 0, 0, uint8_t(id >> 8), uint8_t(id), uint8_t(sec >> 8), uint8_t(sec)};
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Our echo went from 10.0.0.1 to the clock at 10.0.0.7 with id 9, sequence 2: the clock's reply,
// or an ICMP error that quotes that very echo, answers it; nothing else does.
TEST(RespuestaAlEco, SoloLaRespuestaOUnErrorQueCitaNuestroEco) {
  const uint32_t reloj = inet_addr("10.0.0.7"), yo = inet_addr("10.0.0.1"),
                 router = inet_addr("10.0.0.254");
  const auto eco = CabeceraIp(yo, reloj) + Icmp(8, 9, 2);
  auto error = [&](uint8_t tipo) { return CabeceraIp(router, yo) + Icmp(tipo, 0, 0); };
  auto corta = [](std::vector<uint8_t> p, size_t n) { return p.resize(p.size() - n), p; };
  auto con = [](std::vector<uint8_t> p, size_t i, uint8_t b) { return p[i] = b, p; };
  const auto bien = CabeceraIp(reloj, yo) + Icmp(0, 9, 2);
  const std::pair<std::vector<uint8_t>, bool> casos[] = {
      {bien, true},
      {CabeceraIp(reloj, yo, 24) + Icmp(0, 9, 2), true},  // IP options
      {CabeceraIp(reloj, yo) + Icmp(0, 10, 2), false},
      {CabeceraIp(reloj, yo) + Icmp(0, 9, 3), false},
      {CabeceraIp(inet_addr("10.0.0.8"), yo) + Icmp(0, 9, 2), false},
      {CabeceraIp(reloj, reloj) + Icmp(8, 9, 2), false},  // our own request seen on loopback
      {error(3) + eco, true},
      {error(4) + eco, true},
      {error(11) + eco, true},
      {error(12) + eco, true},
      {error(3) + CabeceraIp(yo, inet_addr("10.0.0.6")) + Icmp(8, 9, 2), false},
      {error(3) + CabeceraIp(yo, reloj) + Icmp(8, 10, 2), false},
      {error(3) + CabeceraIp(yo, reloj) + Icmp(8, 9, 3), false},
      {error(3) + CabeceraIp(yo, reloj) + Icmp(0, 9, 2), false},
      {corta(error(3) + eco, 1), false},
      {corta(bien, 1), false},
      {corta(bien, bien.size()), false},
      {con(bien, 0, 0x44), false},  // header length below 20
      {con(bien, 0, 0x4F), false},  // header length past the packet
      {con(bien, 0, 0x65), false},  // not IPv4
      {con(bien, 9, IPPROTO_UDP), false},
  };
  for (const auto& [paquete, responde] : casos)
    EXPECT_EQ(EsRespuestaAlEco(paquete.data(), paquete.size(), reloj, 9, 2), responde)
        << ::testing::PrintToString(paquete);
}

// Every 127.x.y.z address is local and answers (each method on its own: below). Names failing in
// the resolver before any query leaves, and the broadcast address, send no echo.
TEST(PingLocal, LoQueResuelveRespondeYLoDemasNoEnviaEco) {
  test::LectorDePrueba p;
  for (const char* nombre : {" 127.0.0.5\t", "127.1"})
    EXPECT_GE(MidePing(p.l, nombre), 0) << nombre;
  EXPECT_GE(AlcanceIcmp(p.l).MidePing("localhost"), 0);
  const uint64_t antes = EcosEnviados();
  for (std::string malo :
       {std::string(""), std::string("   "), std::string("a..b"), std::string(70, 'x') + ".invalid",
        std::string("a\0b", 3), std::string("255.255.255.255")})
    EXPECT_EQ(MidePing(p.l, malo), -1) << malo;
  EXPECT_EQ(EcosEnviados(), antes);
}

// ---- A network of our own: a namespace with a veth pair to a second namespace acting as a
// router. 10.200.0.2 answers, 10.200.0.9x are absent neighbours (a fresh one for every echo: one
// already found missing is answered at once with host unreachable), and the router answers
// 10.201.0.0/24 with host unreachable.

constexpr int kNoSePuede = 77;

int EnRedDePrueba(const std::function<int()>& cuerpo) {
  pid_t hijo = fork();
  if (hijo < 0) return kNoSePuede;
  if (hijo == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(kNoSePuede);
    int listo[2];
    if (pipe(listo) != 0) _exit(kNoSePuede);
    pid_t router = fork();
    if (router == 0) {
      // It lives until killed, by us or with us, and takes its namespace and the pair's far end.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (unshare(CLONE_NEWNET) == 0 && write(listo[1], "x", 1) == 1) pause();
      _exit(0);
    }
    close(listo[1]);
    char c = 0;
    if (router < 0 || read(listo[0], &c, 1) != 1) _exit(kNoSePuede);
    setenv("ROUTER", std::to_string(router).c_str(), 1);
    if (system(R"(set -e; exec >/dev/null 2>&1; ip link set lo up
ip link add va type veth peer name vb; ip link set vb netns $ROUTER
ip addr add 10.200.0.1/24 dev va; ip link set va up; ip route add 10.201.0.0/24 via 10.200.0.2
nsenter -t $ROUTER -n sh -ec 'ip link set lo up; ip addr add 10.200.0.2/24 dev vb
  ip link set vb up; echo 1 > /proc/sys/net/ipv4/ip_forward
  ip route add unreachable 10.201.0.0/24'
echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range)") != 0)
      _exit(kNoSePuede);
    int resultado = cuerpo();
    kill(router, SIGKILL);
#ifdef LECTOR_COVERAGE
    __gcov_dump();  // _exit skips the handler that writes the line counters
#endif
    _exit(resultado);
  }
  int estado = 0;
  if (!test::EsperaHasta([&] { return waitpid(hijo, &estado, WNOHANG) == hijo; },
                         std::chrono::seconds(120))) {
    kill(hijo, SIGKILL);
    waitpid(hijo, &estado, 0);
  }
  return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
}

// Returns 0 when every check holds, else the number of the first that failed: ten times the
// method and the check's own number.
int Comprueba() {
  using enum ResultadoEco;
  for (MetodoPing m : {MetodoPing::Datagrama, MetodoPing::Crudo, MetodoPing::Programa}) {
    const int n = static_cast<int>(m);
    auto eco = [&](const std::string& ip, ResultadoEco esperado) {
      int32_t rtt = -1;
      return EcoIcmp(ip, 1000, "", m, rtt) == esperado && (esperado != Respuesta || rtt >= 0);
    };
    if (!eco("10.200.0.2", Respuesta)) return 10 * n + 1;
    if (!eco("10.200.0.9" + std::to_string(n), SinRespuesta)) return 10 * n + 2;
    if (!eco("10.201.0.5", Respuesta)) return 10 * n + 3;  // host unreachable from the router
    if (!eco("127.0.0.1", Respuesta)) return 10 * n + 4;
  }
  test::LectorDePrueba p;  // the program's own choice of method
  if (MidePing(p.l, "10.200.0.99") != -1) return 5;
  if (MidePing(p.l, " 10.200.0.2 ") < 0) return 6;
  if (MidePing(p.l, "10.201.0.9") < 0) return 7;
  return 0;
}

// Without root, ip or nsenter the network cannot be made, and the test is skipped.
TEST(PingEnRedPropia, VecinoPresenteAusenteYRouterQueRechazaConCadaMetodo) {
  const int r = EnRedDePrueba(Comprueba);
  if (r == kNoSePuede) GTEST_SKIP() << "no se pudo armar la red de prueba";
  EXPECT_EQ(r, 0) << "falló la comprobación " << r;
}

}  // namespace
}  // namespace lector
