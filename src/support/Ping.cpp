#include "support/Ping.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace lector {
namespace {

using Reloj = std::chrono::steady_clock;

constexpr uint8_t kEcoRespuesta = 0, kDestinoInalcanzable = 3, kFrenoFuente = 4, kEco = 8,
                  kTiempoExcedido = 11, kProblemaParametro = 12;

std::atomic<uint64_t> ecosEnviados{0};

uint16_t Lee16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint16_t SumaIcmp(const uint8_t* p, size_t n) {
  uint32_t suma = 0;
  for (size_t i = 0; i + 1 < n; i += 2) suma += Lee16(p + i);
  if (n % 2) suma += static_cast<uint32_t>(p[n - 1]) << 8;
  while (suma >> 16) suma = (suma & 0xFFFF) + (suma >> 16);
  return static_cast<uint16_t>(~suma);
}

// An echo request, header in network byte order.
std::string Peticion(uint16_t id, uint16_t secuencia, const std::string& datos) {
  std::string p(8, '\0');
  p[0] = static_cast<char>(kEco);
  p[4] = static_cast<char>(id >> 8), p[5] = static_cast<char>(id);
  p[6] = static_cast<char>(secuencia >> 8), p[7] = static_cast<char>(secuencia);
  p += datos;
  uint16_t suma = SumaIcmp(reinterpret_cast<const uint8_t*>(p.data()), p.size());
  p[2] = static_cast<char>(suma >> 8), p[3] = static_cast<char>(suma);
  return p;
}

// Identifier and sequence of our echoes: random per process so that other programs pinging
// at the same time are not mistaken for us.
void NuevoEco(uint16_t& id, uint16_t& secuencia) {
  static const uint16_t base = [] {
    std::random_device rd;
    return static_cast<uint16_t>(rd());
  }();
  static std::atomic<uint32_t> contador{0};
  uint32_t n = contador++;
  id = static_cast<uint16_t>(base + (n >> 16));
  secuencia = static_cast<uint16_t>(n + 1);
}

int32_t Milisegundos(Reloj::time_point desde) {
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(Reloj::now() - desde).count();
  return static_cast<int32_t>(us / 1000);
}

int Restante(Reloj::time_point fin) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(fin - Reloj::now()).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool NoPermitido(int e) {
  return e == EACCES || e == EPERM || e == EPROTONOSUPPORT || e == EAFNOSUPPORT ||
         e == ESOCKTNOSUPPORT;
}

bool Envia(int fd, const std::string& paquete, const sockaddr_in& destino) {
  ++ecosEnviados;
  ssize_t n;
  do {
    n = ::sendto(fd, paquete.data(), paquete.size(), 0, reinterpret_cast<const sockaddr*>(&destino),
                 sizeof destino);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(paquete.size());
}

// Unprivileged datagram socket: the kernel picks the identifier and hands us only the replies
// and errors that carry it.
ResultadoEco PorDatagrama(const sockaddr_in& destino, int32_t tiempoMs, const std::string& datos,
                          int32_t& rtt) {
  Socket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (s.fd() < 0)
    return NoPermitido(errno) ? ResultadoEco::NoDisponible : ResultadoEco::SinRespuesta;
  int uno = 1;
  ::setsockopt(s.fd(), IPPROTO_IP, IP_RECVERR, &uno, sizeof uno);
  uint16_t id, secuencia;
  NuevoEco(id, secuencia);
  auto inicio = Reloj::now(), fin = inicio + std::chrono::milliseconds(tiempoMs);
  if (!Envia(s.fd(), Peticion(id, secuencia, datos), destino)) return ResultadoEco::SinRespuesta;
  uint8_t buf[2048];
  for (;;) {
    pollfd p{s.fd(), POLLIN, 0};
    int r = ::poll(&p, 1, Restante(fin));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return ResultadoEco::SinRespuesta;
    if (p.revents & POLLERR) {
      // An ICMP error about our echo (destination unreachable, time exceeded...).
      char control[512];
      iovec iov{buf, sizeof buf};
      msghdr m{};
      m.msg_iov = &iov, m.msg_iovlen = 1, m.msg_control = control,
      m.msg_controllen = sizeof control;
      ssize_t n = ::recvmsg(s.fd(), &m, MSG_ERRQUEUE | MSG_DONTWAIT);
      if (n >= 0) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
          if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
          sock_extended_err e;
          std::memcpy(&e, CMSG_DATA(c), sizeof e);
          if (e.ee_origin == SO_EE_ORIGIN_ICMP && (n < 8 || Lee16(buf + 6) == secuencia)) {
            rtt = Milisegundos(inicio);
            return ResultadoEco::Respuesta;
          }
        }
        continue;
      }
      // Nothing queued: a pending socket error that the read below clears.
    }
    sockaddr_in de{};
    socklen_t largo = sizeof de;
    ssize_t n =
        ::recvfrom(s.fd(), buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&de), &largo);
    if (n >= 8 && buf[0] == kEcoRespuesta && Lee16(buf + 6) == secuencia &&
        de.sin_addr.s_addr == destino.sin_addr.s_addr) {
      rtt = Milisegundos(inicio);
      return ResultadoEco::Respuesta;
    }
  }
}

// Raw socket: it sees every ICMP packet of the host, so ours are told apart by identifier,
// sequence and source.
ResultadoEco PorSocketCrudo(const sockaddr_in& destino, int32_t tiempoMs, const std::string& datos,
                            int32_t& rtt) {
  Socket s(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (s.fd() < 0)
    return NoPermitido(errno) ? ResultadoEco::NoDisponible : ResultadoEco::SinRespuesta;
  icmp_filter filtro{~((1u << kEcoRespuesta) | (1u << kDestinoInalcanzable) | (1u << kFrenoFuente) |
                       (1u << kTiempoExcedido) | (1u << kProblemaParametro))};
  ::setsockopt(s.fd(), SOL_RAW, ICMP_FILTER, &filtro, sizeof filtro);
  uint16_t id, secuencia;
  NuevoEco(id, secuencia);
  auto inicio = Reloj::now(), fin = inicio + std::chrono::milliseconds(tiempoMs);
  if (!Envia(s.fd(), Peticion(id, secuencia, datos), destino)) return ResultadoEco::SinRespuesta;
  uint8_t buf[65536];
  for (;;) {
    pollfd p{s.fd(), POLLIN, 0};
    int r = ::poll(&p, 1, Restante(fin));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return ResultadoEco::SinRespuesta;
    ssize_t n = ::recv(s.fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0 &&
        EsRespuestaAlEco(buf, static_cast<size_t>(n), destino.sin_addr.s_addr, id, secuencia)) {
      rtt = Milisegundos(inicio);
      return ResultadoEco::Respuesta;
    }
  }
}

// The system's ping utility (installed with the capability to send ICMP).
ResultadoEco PorPrograma(const std::string& ip, int32_t tiempoMs, int32_t& rtt) {
  int tubo[2];
  if (::pipe2(tubo, O_CLOEXEC) != 0) return ResultadoEco::SinRespuesta;
  posix_spawn_file_actions_t acciones;
  posix_spawn_file_actions_init(&acciones);
  posix_spawn_file_actions_adddup2(&acciones, tubo[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&acciones, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&acciones, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::string espera = std::to_string((tiempoMs + 999) / 1000 < 1 ? 1 : (tiempoMs + 999) / 1000);
  std::string w = "-W" + espera;
  std::string copiaIp = ip;
  char* argv[] = {const_cast<char*>("ping"), const_cast<char*>("-c1"), w.data(),
                  const_cast<char*>("-n"),   copiaIp.data(),           nullptr};
  char* envp[] = {const_cast<char*>("LC_ALL=C"),
                  const_cast<char*>("PATH=/usr/bin:/bin:/usr/sbin:/sbin"), nullptr};
  pid_t pid;
  ++ecosEnviados;
  auto inicio = Reloj::now();
  int e = ::posix_spawnp(&pid, "ping", &acciones, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&acciones);
  ::close(tubo[1]);
  if (e != 0) {
    ::close(tubo[0]);
    return ResultadoEco::NoDisponible;
  }
  // Read its report; never wait much longer than the echo's own time-out.
  std::string salida;
  auto fin = inicio + std::chrono::milliseconds(tiempoMs + 3000);
  char buf[1024];
  for (;;) {
    pollfd p{tubo[0], POLLIN, 0};
    int r = ::poll(&p, 1, Restante(fin));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    ssize_t n = ::read(tubo[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (salida.size() < 65536) salida.append(buf, static_cast<size_t>(n));
  }
  int32_t transcurrido = Milisegundos(inicio);
  ::close(tubo[0]);
  ::kill(pid, SIGKILL);  // harmless when it has already finished: it is not reaped yet
  int estado;
  while (::waitpid(pid, &estado, 0) < 0 && errno == EINTR) {
  }
  // "... icmp_seq=1 ttl=64 time=0.045 ms" for a reply; "From 10.0.0.1 icmp_seq=1 Destination
  // Host Unreachable" for an error about our echo.
  size_t t = salida.find(" time=");
  if (t != std::string::npos) {
    char* finNumero;
    double ms = std::strtod(salida.c_str() + t + 6, &finNumero);
    rtt = ms >= 0 && ms < 1e9 ? static_cast<int32_t>(ms) : transcurrido;
    return ResultadoEco::Respuesta;
  }
  for (size_t p = salida.find("From "); p != std::string::npos; p = salida.find("From ", p + 1)) {
    if (p == 0 || salida[p - 1] == '\n') {
      size_t finLinea = salida.find('\n', p);
      if (salida.substr(p, finLinea - p).find("icmp_seq=") != std::string::npos) {
        rtt = transcurrido;
        return ResultadoEco::Respuesta;
      }
    }
  }
  return ResultadoEco::SinRespuesta;
}

std::string SinBlancos(const std::string& s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

}  // namespace

bool EsRespuestaAlEco(const uint8_t* p, size_t n, uint32_t destino, uint16_t id,
                      uint16_t secuencia) {
  auto cabeceraIp = [](const uint8_t* q, size_t m, size_t& largo) {
    if (m < 20 || (q[0] >> 4) != 4) return false;
    largo = static_cast<size_t>(q[0] & 0x0F) * 4;
    return largo >= 20 && largo <= m && q[9] == IPPROTO_ICMP;
  };
  size_t ihl;
  if (!cabeceraIp(p, n, ihl) || n - ihl < 8) return false;
  const uint8_t* icmp = p + ihl;
  uint32_t origen;
  std::memcpy(&origen, p + 12, 4);
  if (icmp[0] == kEcoRespuesta)
    return origen == destino && Lee16(icmp + 4) == id && Lee16(icmp + 6) == secuencia;
  if (icmp[0] != kDestinoInalcanzable && icmp[0] != kFrenoFuente && icmp[0] != kTiempoExcedido &&
      icmp[0] != kProblemaParametro)
    return false;
  // An error quotes the IP header of our echo and its first 8 bytes; it may come from a router.
  const uint8_t* citado = icmp + 8;
  size_t resto = n - ihl - 8, ihlCitado;
  if (!cabeceraIp(citado, resto, ihlCitado) || resto - ihlCitado < 8) return false;
  uint32_t destinoCitado;
  std::memcpy(&destinoCitado, citado + 16, 4);
  const uint8_t* eco = citado + ihlCitado;
  return destinoCitado == destino && eco[0] == kEco && Lee16(eco + 4) == id &&
         Lee16(eco + 6) == secuencia;
}

uint64_t EcosEnviados() {
  return ecosEnviados.load();
}

ResultadoEco EcoIcmp(const std::string& ip, int32_t tiempoMs, const std::string& datos,
                     MetodoPing metodo, int32_t& rttMs) {
  sockaddr_in destino{};
  destino.sin_family = AF_INET;
  if (::inet_pton(AF_INET, ip.c_str(), &destino.sin_addr) != 1 ||
      destino.sin_addr.s_addr == INADDR_NONE)
    return ResultadoEco::SinRespuesta;
  if (tiempoMs < 0) tiempoMs = 0;
  // An echo is at most one IP packet.
  std::string carga = datos.substr(0, 65507 - 8);
  ResultadoEco r = ResultadoEco::NoDisponible;
  if (metodo == MetodoPing::Automatico || metodo == MetodoPing::Datagrama)
    r = PorDatagrama(destino, tiempoMs, carga, rttMs);
  if (r == ResultadoEco::NoDisponible &&
      (metodo == MetodoPing::Automatico || metodo == MetodoPing::Crudo))
    r = PorSocketCrudo(destino, tiempoMs, carga, rttMs);
  if (r == ResultadoEco::NoDisponible &&
      (metodo == MetodoPing::Automatico || metodo == MetodoPing::Programa)) {
    char texto[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &destino.sin_addr, texto, sizeof texto);
    r = PorPrograma(texto, tiempoMs, rttMs);
  }
  return r;
}

int32_t ResuelveNombre(const std::string& direccion, std::string& ip) {
  std::string t = SinBlancos(direccion);
  in_addr a;
  if (::inet_pton(AF_INET, t.c_str(), &a) == 1) {
    ip = t;
    return 0;
  }
  if (t.empty() || t.find('\0') != std::string::npos) return EAI_NONAME;
  addrinfo pista{};
  pista.ai_family = AF_INET;
  pista.ai_socktype = SOCK_DGRAM;
  addrinfo* lista = nullptr;
  int r = ::getaddrinfo(t.c_str(), nullptr, &pista, &lista);
  if (r != 0) return r == EAI_SYSTEM && errno != 0 ? errno : r;
  char texto[INET_ADDRSTRLEN];
  const auto* sin = reinterpret_cast<const sockaddr_in*>(lista->ai_addr);
  bool ok = lista->ai_addr && ::inet_ntop(AF_INET, &sin->sin_addr, texto, sizeof texto);
  ::freeaddrinfo(lista);
  if (!ok) return 1;
  ip = texto;
  return 0;
}

bool EnviaPing(Lector& l, const std::string& ip, int32_t tiempoMs, const std::string& datos) {
  int32_t rtt = 0;
  if (EcoIcmp(ip, tiempoMs, datos, MetodoPing::Automatico, rtt) != ResultadoEco::Respuesta)
    return false;
  l.estado.PingTiempo = rtt;
  return true;
}

int32_t MidePing(Lector& l, const std::string& direccion) {
  std::string ip;
  if (ResuelveNombre(direccion, ip) != 0) return -1;
  if (!EnviaPing(l, ip, 1000, "")) return -1;
  return l.estado.PingTiempo;
}

int32_t AlcanceIcmp::MidePing(const std::string& direccion) {
  return lector::MidePing(l_, direccion);
}

}  // namespace lector
