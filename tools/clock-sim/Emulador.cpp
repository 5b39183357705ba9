#include "clock-sim/Emulador.h"

#include "clock-sim/Perfil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

namespace clocksim {

namespace {

using Reloj = std::chrono::steady_clock;

std::string Hex(const uint8_t* p, size_t n, size_t max) {
  static const char kDigitos[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < std::min(n, max); ++i) {
    if (i) s += ' ';
    s += kDigitos[p[i] >> 4];
    s += kDigitos[p[i] & 15];
  }
  if (n > max) s += " ...";
  return s;
}

std::string TextoDireccion(const sockaddr_in& a) {
  char b[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, b, sizeof b);
  return std::string(b) + ":" + std::to_string(ntohs(a.sin_port));
}

void NoBloqueante(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

[[noreturn]] void FallaSistema(const std::string& que) {
  throw std::runtime_error(que + ": " + std::strerror(errno));
}

// What the client's end of a loopback TCP connection `cliente` -> `servidor` holds (sock_diag):
// bytes it has received in all and bytes still waiting for it to read. False when the kernel
// cannot tell.
bool EstadoDelPar(int diag, const sockaddr_in& cliente, const sockaddr_in& servidor,
                  uint64_t& recibidos, uint32_t& sinLeer) {
  struct {
    nlmsghdr cabecera;
    inet_diag_req_v2 pedido;
  } m{};
  m.cabecera.nlmsg_len = sizeof m;
  m.cabecera.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  m.cabecera.nlmsg_flags = NLM_F_REQUEST;
  m.pedido.sdiag_family = AF_INET;
  m.pedido.sdiag_protocol = IPPROTO_TCP;
  m.pedido.idiag_ext = 1 << (INET_DIAG_INFO - 1);
  m.pedido.idiag_states = ~0u;
  m.pedido.id.idiag_sport = cliente.sin_port;
  m.pedido.id.idiag_dport = servidor.sin_port;
  m.pedido.id.idiag_src[0] = cliente.sin_addr.s_addr;
  m.pedido.id.idiag_dst[0] = servidor.sin_addr.s_addr;
  m.pedido.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  m.pedido.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  if (send(diag, &m, sizeof m, 0) != static_cast<ssize_t>(sizeof m)) return false;
  alignas(nlmsghdr) char respuesta[8192];
  ssize_t n = recv(diag, respuesta, sizeof respuesta, 0);
  if (n < static_cast<ssize_t>(sizeof(nlmsghdr))) return false;
  auto* h = reinterpret_cast<nlmsghdr*>(respuesta);
  if (!NLMSG_OK(h, static_cast<unsigned>(n)) || h->nlmsg_type != SOCK_DIAG_BY_FAMILY) return false;
  if (h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) return false;
  auto* msg = reinterpret_cast<inet_diag_msg*>(NLMSG_DATA(h));
  sinLeer = msg->idiag_rqueue;
  int resto = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(inet_diag_msg)));
  for (auto* a = reinterpret_cast<rtattr*>(msg + 1); RTA_OK(a, resto); a = RTA_NEXT(a, resto)) {
    if (a->rta_type != INET_DIAG_INFO) continue;
    tcp_info info{};
    std::memcpy(&info, RTA_DATA(a), std::min<size_t>(RTA_PAYLOAD(a), sizeof info));
    if (RTA_PAYLOAD(a) < offsetof(tcp_info, tcpi_bytes_received) + sizeof(uint64_t)) return false;
    recibidos = info.tcpi_bytes_received;
    return true;
  }
  return false;
}

}  // namespace

struct Emulador::Cliente {
  int fd = -1;
  sockaddr_in local{};
  sockaddr_in par{};
  bool sinDiag = false;
  LectorTramas tramas;
  Sesion sesion;
  int conexion = 0;
  uint64_t bytesTransferencia = 0;
  uint64_t escritos = 0;  // bytes sent on this connection
  Reloj::time_point ultimaActividad = Reloj::now();
  Cliente(Transporte t, uint16_t id) : sesion(t, id) {}
};

Emulador::Emulador(EstadoReloj estado, Opciones opciones)
    : estado_(std::move(estado)), opciones_(std::move(opciones)) {
  std::random_device azar;
  siguienteSesion_ = static_cast<uint16_t>(azar() | 1);
}

Emulador::~Emulador() {
  try {
    Detiene();
  } catch (const std::exception& ex) {
    Registra(0, std::string("no se pudo grabar el estado: ") + ex.what());
  }
}

void Emulador::Inicia() {
  if (hilo_.joinable()) return;
  if (!opciones_.tcp && !opciones_.udp) throw std::runtime_error("ni TCP ni UDP");
  sockaddr_in dir{};
  dir.sin_family = AF_INET;
  dir.sin_port = htons(opciones_.puerto);
  if (inet_pton(AF_INET, opciones_.direccion.c_str(), &dir.sin_addr) != 1) {
    throw std::runtime_error("dirección inválida: " + opciones_.direccion);
  }
  auto cierraTodo = [&] {
    for (int* fd : {&escucha_, &udp_, &evento_, &diag_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  };
  try {
    std::string donde = opciones_.direccion + ":" + std::to_string(opciones_.puerto);
    if (opciones_.tcp) {
      escucha_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (escucha_ < 0) FallaSistema("socket");
      int uno = 1;
      setsockopt(escucha_, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
      if (bind(escucha_, reinterpret_cast<sockaddr*>(&dir), sizeof dir) < 0) {
        FallaSistema("no se puede escuchar en TCP " + donde);
      }
      if (listen(escucha_, 8) < 0) FallaSistema("listen");
      NoBloqueante(escucha_);
      socklen_t largo = sizeof dir;
      getsockname(escucha_, reinterpret_cast<sockaddr*>(&dir), &largo);
    }
    if (opciones_.udp) {
      udp_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (udp_ < 0) FallaSistema("socket");
      if (bind(udp_, reinterpret_cast<sockaddr*>(&dir), sizeof dir) < 0) {
        FallaSistema("no se puede escuchar en UDP " + donde);
      }
      NoBloqueante(udp_);
      socklen_t largo = sizeof dir;
      getsockname(udp_, reinterpret_cast<sockaddr*>(&dir), &largo);
    }
    puerto_ = ntohs(dir.sin_port);
    evento_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (evento_ < 0) FallaSistema("eventfd");
    diag_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (diag_ >= 0) {
      timeval limite{0, 200000};
      setsockopt(diag_, SOL_SOCKET, SO_RCVTIMEO, &limite, sizeof limite);
    }
  } catch (...) {
    cierraTodo();
    throw;
  }
  parar_ = false;
  Registra(1, std::string("escuchando en ") + opciones_.direccion + ":" + std::to_string(puerto_) +
                  (opciones_.tcp ? " TCP" : "") + (opciones_.udp ? " UDP" : ""));
  hilo_ = std::thread([this] { Hilo(); });
}

void Emulador::Detiene() {
  if (!hilo_.joinable()) return;
  parar_ = true;
  uint64_t uno = 1;
  [[maybe_unused]] auto escrito = write(evento_, &uno, sizeof uno);
  hilo_.join();
  for (int* fd : {&escucha_, &udp_, &evento_, &diag_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  Registra(1, "detenido");
  if (!opciones_.archivoEstado.empty()) GrabaEstado();
}

EstadoReloj Emulador::Copia() const {
  std::lock_guard<std::mutex> l(mutex_);
  EstadoReloj copia = estado_;
  copia.VenceBloqueo();
  return copia;
}

void Emulador::AgregaFalla(const Falla& f) {
  std::lock_guard<std::mutex> l(mutex_);
  fallas_.push_back(f);
}

void Emulador::QuitaFallas() {
  std::lock_guard<std::mutex> l(mutex_);
  fallas_.clear();
}

void Emulador::GrabaEstado() {
  if (opciones_.archivoEstado.empty()) throw std::runtime_error("no hay archivo de estado");
  GrabaEstado(opciones_.archivoEstado);
}

void Emulador::GrabaEstado(const std::filesystem::path& archivo) {
  std::lock_guard<std::mutex> l(mutex_);
  estado_.Graba(archivo);
  Registra(1, "estado grabado en " + archivo.string());
}

std::vector<Evento> Emulador::Historial() const {
  std::lock_guard<std::mutex> l(mutex_);
  return historial_;
}

void Emulador::BorraHistorial() {
  std::lock_guard<std::mutex> l(mutex_);
  historial_.clear();
}

void Emulador::Registra(int nivel, const std::string& texto) {
  if (opciones_.verbosidad < nivel) return;
  std::string linea = "[clock-sim " + opciones_.direccion + "] " + texto;
  if (opciones_.bitacora) {
    opciones_.bitacora(linea);
  } else {
    std::cerr << linea << '\n';
  }
}

bool Emulador::Espera(std::chrono::milliseconds ms) {
  auto fin = Reloj::now() + ms;
  while (!parar_) {
    auto falta = std::chrono::duration_cast<std::chrono::milliseconds>(fin - Reloj::now());
    if (falta.count() <= 0) return true;
    pollfd p{evento_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::min<int64_t>(falta.count(), 1000)));
  }
  return false;
}

void Emulador::Hilo() {
  std::unique_ptr<Cliente> cliente;
  auto cierraCliente = [&](const std::string& motivo) {
    Registra(1, "cliente #" + std::to_string(cliente->conexion) + " " +
                    TextoDireccion(cliente->par) + ": " + motivo);
    close(cliente->fd);
    cliente.reset();
    conClienteTcp_ = false;
  };
  while (!parar_) {
    pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = {evento_, POLLIN, 0};
    int iTcp = -1, iUdp = -1;
    if (cliente) {
      iTcp = static_cast<int>(n);
      fds[n++] = {cliente->fd, POLLIN, 0};
    } else if (escucha_ >= 0) {
      iTcp = static_cast<int>(n);
      fds[n++] = {escucha_, POLLIN, 0};
    }
    if (udp_ >= 0) {
      iUdp = static_cast<int>(n);
      fds[n++] = {udp_, POLLIN, 0};
    }
    int listos = poll(fds, n, 500);
    if (parar_) break;
    if (listos < 0) {
      if (errno == EINTR) continue;
      Registra(0, std::string("poll: ") + std::strerror(errno));
      break;
    }
    if (cliente && Reloj::now() - cliente->ultimaActividad > opciones_.inactividad) {
      cierraCliente("inactivo, desconectado");
      continue;
    }
    if (iUdp >= 0 && (fds[iUdp].revents & POLLIN)) AtiendeUdp();
    if (iTcp < 0 || !(fds[iTcp].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    if (!cliente) {
      sockaddr_in par{};
      socklen_t largo = sizeof par;
      int fd = accept4(escucha_, reinterpret_cast<sockaddr*>(&par), &largo,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) continue;
      int uno = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &uno, sizeof uno);
      uint16_t id = siguienteSesion_++;
      if (id == 0) id = siguienteSesion_++;
      cliente = std::make_unique<Cliente>(Transporte::kTcp, id);
      cliente->fd = fd;
      cliente->par = par;
      largo = sizeof cliente->local;
      getsockname(fd, reinterpret_cast<sockaddr*>(&cliente->local), &largo);
      cliente->conexion = ++conexiones_;
      conClienteTcp_ = true;
      Registra(1, "cliente #" + std::to_string(cliente->conexion) + " " + TextoDireccion(par) +
                      " conectado");
      continue;
    }
    uint8_t buffer[65536];
    ssize_t leidos = recv(cliente->fd, buffer, sizeof buffer, 0);
    if (leidos == 0) {
      cierraCliente("desconectado");
      continue;
    }
    if (leidos < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      cierraCliente(std::string("error de lectura: ") + std::strerror(errno));
      continue;
    }
    cliente->ultimaActividad = Reloj::now();
    cliente->tramas.Agrega(buffer, static_cast<size_t>(leidos));
    AtiendeTcp(*cliente);
    if (cliente->fd < 0) {
      cierraCliente("conexión cerrada");
    }
  }
  if (cliente) cierraCliente("emulador detenido");
}

void Emulador::AtiendeTcp(Cliente& c) {
  zk::Bytes payload;
  while (!parar_) {
    switch (c.tramas.Siguiente(payload)) {
      case LectorTramas::Resultado::kFalta:
        return;
      case LectorTramas::Resultado::kInvalido:
        Registra(1, "flujo TCP inválido; se corta la conexión");
        shutdown(c.fd, SHUT_RDWR);
        close(c.fd);
        c.fd = -1;
        return;
      case LectorTramas::Resultado::kPayload:
        if (!Procesa(c.sesion, payload, &c, nullptr, c.conexion, c.bytesTransferencia)) {
          shutdown(c.fd, SHUT_RDWR);
          close(c.fd);
          c.fd = -1;
          return;
        }
        break;
    }
  }
}

void Emulador::AtiendeUdp() {
  auto& pares = paresUdp_;
  uint8_t buffer[65536];
  for (int i = 0; i < 64 && !parar_; ++i) {
    sockaddr_in origen{};
    socklen_t largo = sizeof origen;
    ssize_t n =
        recvfrom(udp_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&origen), &largo);
    if (n < 0) return;
    uint64_t clave = (static_cast<uint64_t>(origen.sin_addr.s_addr) << 16) | origen.sin_port;
    auto ahora = Reloj::now();
    std::erase_if(pares,
                  [&](const auto& p) { return ahora - p.second.ultima > opciones_.inactividad; });
    if (!pares.count(clave) && pares.size() >= 64) pares.erase(pares.begin());
    auto& par = pares[clave];
    if (!par.sesion) {
      uint16_t id = siguienteSesion_++;
      if (id == 0) id = siguienteSesion_++;
      par.sesion = std::make_unique<Sesion>(Transporte::kUdp, id);
      par.conexion = ++conexiones_;
      Registra(1, "cliente UDP #" + std::to_string(par.conexion) + " " + TextoDireccion(origen));
    }
    par.ultima = ahora;
    zk::Bytes payload(buffer, buffer + n);
    if (!Procesa(*par.sesion, payload, nullptr, &origen, par.conexion, par.bytesTransferencia)) {
      Registra(1, "cliente UDP #" + std::to_string(par.conexion) + " terminado");
      pares.erase(clave);
    }
  }
}

bool Emulador::EsperaLectura(Cliente& c) {
  if (!opciones_.pausado || c.sinDiag || diag_ < 0) return true;
  auto limite = Reloj::now() + std::chrono::seconds(2);
  while (!parar_ && Reloj::now() < limite) {
    uint64_t recibidos = 0;
    uint32_t sinLeer = 0;
    if (!EstadoDelPar(diag_, c.par, c.local, recibidos, sinLeer)) {
      c.sinDiag = true;
      Registra(2, "no se ve el socket del cliente; sin pausas entre paquetes");
      return true;
    }
    if (recibidos == c.escritos && sinLeer == 0) return true;
    timespec pausa{0, 20000};
    pollfd p{evento_, POLLIN, 0};
    ppoll(&p, 1, &pausa, nullptr);
  }
  return !parar_;
}

bool Emulador::EnviaTcp(Cliente& c, const uint8_t* p, size_t n) {
  if (!EsperaLectura(c)) return false;
  size_t hecho = 0;
  while (hecho < n) {
    ssize_t r = send(c.fd, p + hecho, n - hecho, MSG_NOSIGNAL);
    if (r > 0) {
      hecho += static_cast<size_t>(r);
      c.escritos += static_cast<uint64_t>(r);
      continue;
    }
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    pollfd fds[2] = {{c.fd, POLLOUT, 0}, {evento_, POLLIN, 0}};
    int listos = poll(fds, 2, static_cast<int>(opciones_.inactividad.count()));
    if (listos <= 0 || parar_ || (fds[0].revents & (POLLERR | POLLHUP))) return false;
  }
  return true;
}

bool Emulador::Procesa(Sesion& s, const zk::Bytes& payload, Cliente* tcp,
                       const sockaddr_in* destino, int conexion, uint64_t& transferidos) {
  auto pedido = zk::LeePayload(payload.data(), payload.size(), true);
  if (!pedido) {
    Registra(1,
             "paquete con checksum inválido ignorado: " + Hex(payload.data(), payload.size(), 16));
    return true;
  }
  const Transporte t = tcp ? Transporte::kTcp : Transporte::kUdp;
  Respuesta r;
  std::optional<Falla> retraso, basura, checksumMalo, corta;
  std::vector<Falla*> enElCamino;  // datagrams lost, repeated or overtaken
  bool mudo = false, rechazado = false, marca = false;
  std::vector<PaqueteEnviado> paquetes;
  {
    std::lock_guard<std::mutex> l(mutex_);
    for (auto& f : fallas_) {
      if (f.veces == 0 || (f.comando != 0 && f.comando != pedido->comando)) continue;
      switch (f.tipo) {
        case TipoFalla::kCorta:
          corta = f;
          continue;  // counted when it cuts
        case TipoFalla::kRetrasa:
          retraso = f;
          break;
        case TipoFalla::kBasura:
          basura = f;
          break;
        case TipoFalla::kRechaza:
          rechazado = true;
          break;
        case TipoFalla::kChecksumMalo:
          checksumMalo = f;
          break;
        case TipoFalla::kMudo:
          mudo = true;
          break;
        case TipoFalla::kPierde:
        case TipoFalla::kDuplica:
        case TipoFalla::kReordena:
          enElCamino.push_back(&f);
          continue;  // counted when the answer has that packet
        case TipoFalla::kMarca:
          marca = true;
          break;
      }
      if (f.veces > 0) --f.veces;
    }
    const Perfil* perfil = BuscaPerfil(estado_.perfil);
    // A clock that takes TCP connections and never says a word on them.
    if (perfil && perfil->tcpMudo && tcp) mudo = true;
    if (rechazado) {
      r.paquetes.push_back({zk::CMD_ACK_ERROR, {}, false});
      r.detalle = "rechazado (falla)";
    } else if (opciones_.reproduccion) {
      auto grabada = opciones_.reproduccion->Responde(*pedido, t);
      for (auto& u : grabada.unidades) paquetes.push_back({std::move(u), 0, false});
      r.cerrar = grabada.cerrar;
      r.detalle = grabada.conocido ? "de la captura" : "no está en la captura: CMD_ACK_ERROR";
      if (!grabada.conocido)
        Registra(0, "pedido sin respuesta en la captura: " + NombreCodigo(pedido->comando) + " " +
                        Hex(pedido->datos.data(), pedido->datos.size(), 64));
    } else {
      r = s.Atiende(estado_, *pedido);
    }
    if (marca) {
      // Someone at the clock punches just now: the answer already built does not count it.
      estado_.Marca(estado_.usuarios.empty() ? "1" : estado_.usuarios.front().id);
      r.detalle += " (falla: marcación nueva)";
    }
    if (!opciones_.reproduccion || rechazado)
      paquetes = Enmarca(r, s.IdPara(*pedido), pedido->idRespuesta, t);
    for (Falla* f : enElCamino) {
      const size_t n = f->valor;
      if (n == 0 || n > paquetes.size()) continue;
      auto it = paquetes.begin() + static_cast<std::ptrdiff_t>(n - 1);
      if (f->tipo == TipoFalla::kPierde) {
        paquetes.erase(it);
      } else if (f->tipo == TipoFalla::kDuplica) {
        paquetes.insert(it, *it);
      } else if (n < paquetes.size()) {
        std::iter_swap(it, it + 1);
      }
      if (f->veces > 0) --f->veces;
      r.detalle += " (falla: paquete " + std::to_string(n) + " " + DescribeFalla(*f) + ")";
    }
    if (perfil && perfil->trozosDeDispositivo && tcp && !paquetes.empty()) {
      // The answer's frames as one stream, written 256 bytes at a time: a header may start
      // in the middle of what the client reads.
      std::vector<PaqueteEnviado> trozos;
      zk::Bytes flujo;
      bool transferencia = false;
      for (const auto& q : paquetes) {
        flujo.insert(flujo.end(), q.bytes.begin(), q.bytes.end());
        transferencia = transferencia || q.transferencia;
      }
      for (size_t i = 0; i < flujo.size(); i += 256)
        trozos.push_back({zk::Bytes(flujo.begin() + static_cast<std::ptrdiff_t>(i),
                                    flujo.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(flujo.size(), i + 256))),
                          paquetes.front().codigo, transferencia});
      paquetes = std::move(trozos);
    }
    Evento ev{pedido->comando,
              mudo || r.paquetes.empty() ? uint16_t{0} : r.paquetes[0].codigo,
              pedido->datos.size(),
              zk::Bytes(pedido->datos.begin(),
                        pedido->datos.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                    pedido->datos.size(), kMaxDatosHistorial))),
              conexion,
              t};
    if (historial_.size() >= 200000)
      historial_.erase(historial_.begin(), historial_.begin() + 100000);
    historial_.push_back(ev);
  }
  if (opciones_.verbosidad >= 1) {
    std::ostringstream linea;
    linea << "#" << conexion << " " << NombreCodigo(pedido->comando) << " (" << pedido->datos.size()
          << " bytes, id " << pedido->idRespuesta << ") -> ";
    if (mudo) {
      linea << "sin respuesta (falla)";
    } else {
      for (size_t i = 0; i < r.paquetes.size(); ++i) {
        linea << (i ? " + " : "") << NombreCodigo(r.paquetes[i].codigo);
        if (!r.paquetes[i].datos.empty()) linea << "(" << r.paquetes[i].datos.size() << ")";
      }
    }
    if (!r.detalle.empty()) linea << "  " << r.detalle;
    Registra(1, linea.str());
    if (!pedido->datos.empty()) {
      Registra(2, "  datos: " + Hex(pedido->datos.data(), pedido->datos.size(),
                                    opciones_.verbosidad >= 3 ? SIZE_MAX : 64));
    }
  }
  if (mudo) return true;
  if (retraso && !Espera(std::chrono::milliseconds(retraso->valor))) return false;

  for (auto& q : paquetes) {
    if (basura) {
      std::mt19937 azar(static_cast<uint32_t>(q.bytes.size() * 7919 + pedido->idRespuesta));
      q.bytes.assign(basura->valor ? basura->valor : 16, 0);
      for (auto& b : q.bytes) b = static_cast<uint8_t>(azar());
    } else if (checksumMalo) {
      size_t en = (t == Transporte::kTcp ? zk::kTamPrefijoTcp : 0) + 2;
      if (q.bytes.size() >= en + 2) q.bytes[en] ^= 0x5A;
    }
    size_t enviar = q.bytes.size();
    bool cortar = false;
    if (corta && q.transferencia) {
      if (transferidos + enviar > corta->valor) {
        enviar = static_cast<size_t>(corta->valor - std::min<uint64_t>(transferidos, corta->valor));
        cortar = true;
      }
      transferidos += enviar;
    }
    if (opciones_.verbosidad >= 3) Registra(3, "  -> " + Hex(q.bytes.data(), enviar, SIZE_MAX));
    bool enviado = true;
    if (tcp) {
      enviado = EnviaTcp(*tcp, q.bytes.data(), enviar);
    } else if (enviar > 0) {
      sendto(udp_, q.bytes.data(), enviar, 0, reinterpret_cast<const sockaddr*>(destino),
             sizeof *destino);
    }
    if (cortar) {
      std::lock_guard<std::mutex> l(mutex_);
      for (auto& f : fallas_) {
        if (f.tipo == TipoFalla::kCorta && f.veces > 0 &&
            (f.comando == 0 || f.comando == pedido->comando)) {
          --f.veces;
          break;
        }
      }
      Registra(1, "conexión cortada tras " + std::to_string(transferidos) +
                      " bytes de transferencia (falla)");
      return false;
    }
    if (!enviado) return false;
    if (basura) break;
  }
  return !r.cerrar;
}

}  // namespace clocksim
