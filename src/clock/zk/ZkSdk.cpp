#include "clock/zk/ZkSdk.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "support/CodePage.h"

namespace lector::clock::zk {

namespace {

using Reloj = std::chrono::steady_clock;

// Largest data set or single item we accept from a device. The largest clocks hold about
// 200 000 records of 49 bytes (9.8 MB) or 100 000 users of 72 bytes (7.2 MB).
constexpr uint32_t kMaxConjunto = 32u * 1024 * 1024;
constexpr uint32_t kMaxUnico = 1024u * 1024;
constexpr int kIntentosTrozo = 3;
// A clock with a full log may take long to prepare it; the other answers come at once.
constexpr std::chrono::milliseconds kEsperaPreparacion{60000};
// Our face commands are unknown to real clocks, and some ignore them instead of saying so.
constexpr std::chrono::milliseconds kEsperaCara{1000};
constexpr int kDedos = 10;
constexpr uint8_t kIndiceCara = 50;

int MsHasta(Reloj::time_point limite) {
  const auto resto =
      std::chrono::duration_cast<std::chrono::milliseconds>(limite - Reloj::now()).count();
  return resto <= 0 ? 0 : static_cast<int>(std::min<long long>(resto, 1 << 30));
}

bool EsUtf8Valido(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// Device bytes -> UTF-8.
std::string DelReloj(const std::string& bytes) {
  return EsUtf8Valido(bytes) ? bytes : Cp1252AUtf8(bytes);
}

// UTF-8 -> device bytes, cut to the field: Windows-1252, or UTF-8 cut at a character boundary
// on a clock that keeps its names in UTF-8.
std::string AlReloj(const std::string& utf8, size_t maximo, bool enUtf8) {
  std::string b = enUtf8 ? utf8 : Utf8ACp1252(utf8);
  if (b.size() <= maximo) return b;
  size_t corte = maximo;
  while (enUtf8 && corte > 0 && (static_cast<unsigned char>(b[corte]) & 0xC0) == 0x80) --corte;
  b.resize(corte);
  return b;
}

bool TieneNoAscii(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool SoloCifras(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number without its leading zeros ("0042" -> "42", "000" -> "0").
std::string SinCerosIzquierda(const std::string& s) {
  const auto p = s.find_first_not_of('0');
  return p == std::string::npos ? "0" : s.substr(p);
}

std::optional<uint32_t> TarjetaDeTexto(const std::string& texto) {
  std::string t = texto;
  t.erase(0, t.find_first_not_of(' '));
  t.erase(t.find_last_not_of(' ') + 1);
  if (!SoloCifras(t)) return std::nullopt;
  t = SinCerosIzquierda(t);
  if (t.size() > 10) return std::nullopt;
  const unsigned long long v = std::stoull(t);
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::optional<uint32_t> DireccionIpv4(const std::string& texto) {
  if (texto.empty()) return std::nullopt;
  in_addr a{};
  if (inet_pton(AF_INET, texto.c_str(), &a) == 1) return a.s_addr;
  addrinfo pista{};
  pista.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (getaddrinfo(texto.c_str(), nullptr, &pista, &res) != 0 || !res) return std::nullopt;
  const uint32_t ip = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(res);
  return ip;
}

// Puts together the DATA packets of one answer. On UDP a datagram may be lost, repeated or
// overtaken on the way; each shows as a total that does not match, more bytes than announced,
// or a DATA after a shorter one (devices cut their data in equal datagrams, the last shorter).
class Ensamble {
 public:
  Ensamble(Bytes& destino, size_t esperado)
      : destino_(destino), base_(destino.size()), esperado_(esperado) {}
  bool Agrega(const Bytes& d) {
    const size_t llevo = destino_.size() - base_;
    if (llevo + d.size() > esperado_ || (llevo && (corto_ || d.size() > primero_))) return false;
    if (llevo)
      corto_ = d.size() < primero_;
    else
      primero_ = d.size();
    destino_.insert(destino_.end(), d.begin(), d.end());
    return true;
  }
  bool Completo() const { return destino_.size() - base_ == esperado_; }

 private:
  Bytes& destino_;
  size_t base_, esperado_, primero_ = 0;
  bool corto_ = false;
};

}  // namespace

ZkSdk::ZkSdk(std::chrono::milliseconds espera) : espera_(espera) {}

ZkSdk::~ZkSdk() {
  if (fd_ >= 0) ::close(fd_);
}

// ---------------------------------------------------------------------------------------------
// Transport

void ZkSdk::Rompe() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  conectado_ = bloqueado_ = false;
  Bytes().swap(rx_);
  rxInicio_ = 0;
}

void ZkSdk::LiberaMarcaciones() {
  Bytes().swap(marcaciones_);
  largoMarcaciones_ = tamMarcacion_ = cursorMarcacion_ = 0;
}

void ZkSdk::AnotaMotivo(std::string motivo) {
  if (motivo_.empty()) motivo_ = std::move(motivo);
}

std::string ZkSdk::MotivoDeFalla(const std::string& ip) {
  std::string motivo;
  if (ip == ipMotivo_) motivo.swap(motivo_);
  return motivo;
}

bool ZkSdk::AbreTcp(uint32_t ip, uint16_t puerto, bool& rechazado) {
  rechazado = false;
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(puerto);
  a.sin_addr.s_addr = ip;
  int r = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (r < 0 && errno == EINPROGRESS) {
    const auto limite = Reloj::now() + espera_;
    do {
      r = EsperaSocket(POLLOUT, limite);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
      Rompe();
      return false;
    }
    int error = 0;
    socklen_t largo = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &largo);
    r = error ? -1 : 0;
    errno = error;
  }
  if (r < 0) {
    rechazado = errno == ECONNREFUSED;
    Rompe();
    return false;
  }
  int uno = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &uno, sizeof uno);
  ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &uno, sizeof uno);
  udp_ = false;
  return true;
}

bool ZkSdk::AbreUdp(uint32_t ip, uint16_t puerto) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(puerto);
  a.sin_addr.s_addr = ip;
  // A connected datagram socket hears only its device and learns of a closed port at once.
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    Rompe();
    return false;
  }
  udp_ = true;
  return true;
}

bool ZkSdk::EnviaTodo(const uint8_t* p, size_t n) {
  const auto limite = Reloj::now() + espera_;
  while (n) {
    const ssize_t r = ::send(fd_, p, n, MSG_NOSIGNAL);
    if (r > 0) {
      Anota(true, p, static_cast<size_t>(r));
      p += r;
      n -= static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (EsperaSocket(POLLOUT, limite) > 0) continue;
    }
    return false;
  }
  return true;
}

std::optional<uint16_t> ZkSdk::Envia(uint16_t comando, const Bytes& datos) {
  if (fd_ < 0) return std::nullopt;
  idRespuesta_ = SiguienteIdRespuesta(idRespuesta_);
  const Bytes b = udp_ ? ArmaPayload(comando, sesion_, idRespuesta_, datos)
                       : ArmaTramaTcp(comando, sesion_, idRespuesta_, datos);
  if (!EnviaTodo(b.data(), b.size())) {
    Rompe();
    return std::nullopt;
  }
  return idRespuesta_;
}

int ZkSdk::EsperaSocket(short eventos, Reloj::time_point limite) {
  pollfd q[2] = {{fd_, eventos, 0}, {parada_ ? parada_->Descriptor() : -1, POLLIN, 0}};
  if (parada_ && parada_->Pedida()) return 0;
  const int r = ::poll(q, 2, MsHasta(limite));
  return r > 0 && q[0].revents == 0 ? 0 : r;
}

bool ZkSdk::EsperaMas(Reloj::time_point limite) {
  if (errno == EINTR) return true;
  if (errno != EAGAIN && errno != EWOULDBLOCK) {
    Rompe();
    return false;
  }
  const int e = EsperaSocket(POLLIN, limite);
  if (e == 0) return false;
  if (e < 0 && errno != EINTR) {
    Rompe();
    return false;
  }
  return true;
}

std::optional<Paquete> ZkSdk::SiguientePaquete(Reloj::time_point limite) {
  if (udp_) {
    uint8_t buf[65536];
    for (;;) {
      const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
      if (r >= 0) {
        recibioAlgo_ = true;
        if (r > 0) Anota(false, buf, static_cast<size_t>(r));
        auto p = LeePayload(buf, static_cast<size_t>(r), false);
        if (!p) continue;  // shorter than a header: not from a clock
        RevisaChecksum(buf, static_cast<size_t>(r));
        return p;
      }
      if (!EsperaMas(limite)) return std::nullopt;
    }
  }
  for (;;) {
    uint32_t largo = 0;
    const size_t disponibles = rx_.size() - rxInicio_;
    const auto estado = ExaminaTramaTcp(rx_.data() + rxInicio_, disponibles, largo);
    if (estado == EstadoTrama::kInvalida) {
      Rompe();
      return std::nullopt;
    }
    if (estado == EstadoTrama::kCompleta) {
      const uint8_t* payload = rx_.data() + rxInicio_ + kTamPrefijoTcp;
      auto p = LeePayload(payload, largo, false);
      RevisaChecksum(payload, largo);
      rxInicio_ += kTamPrefijoTcp + largo;
      if (rxInicio_ == rx_.size()) {
        rx_.clear();
        rxInicio_ = 0;
      }
      return p;
    }
    // Make room: drop what was taken, then read what the frame still needs (at least 64 KiB).
    if (rxInicio_) {
      rx_.erase(rx_.begin(), rx_.begin() + static_cast<ptrdiff_t>(rxInicio_));
      rxInicio_ = 0;
    }
    const size_t falta = largo ? kTamPrefijoTcp + largo - rx_.size() : kTamPrefijoTcp;
    const size_t antes = rx_.size();
    rx_.resize(antes + std::max<size_t>(falta, 65536));
    const ssize_t r = ::recv(fd_, rx_.data() + antes, rx_.size() - antes, 0);
    rx_.resize(antes + (r > 0 ? static_cast<size_t>(r) : 0));
    // Acknowledge at once: clocks send the packets of an answer one by one and may wait for
    // our ACK before the next, and the kernel's delayed ACK would cost ~40 ms each time. The
    // kernel leaves quick-ACK mode by itself, so it is set again after every read.
    int uno = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &uno, sizeof uno);
    if (r > 0) {
      recibioAlgo_ = true;
      Anota(false, rx_.data() + antes, static_cast<size_t>(r));
      continue;
    }
    if (r == 0) {  // the device closed the connection
      Anota(false, nullptr, 0);
      Rompe();
      return std::nullopt;
    }
    if (!EsperaMas(limite)) return std::nullopt;
  }
}

void ZkSdk::RevisaChecksum(const uint8_t* payload, size_t n) {
  // Clients in the field never check what they receive (TCP and UDP already guard the bytes),
  // and some firmware computes it otherwise: worth a line, not a dropped clock.
  if (avisoChecksum_ || ChecksumValido(payload, n)) return;
  avisoChecksum_ = true;
  const std::string aviso = "reloj: checksum distinto del calculado en un paquete recibido";
  if (bitacora_)
    bitacora_(aviso);
  else
    std::cerr << aviso << '\n';
}

std::optional<Paquete> ZkSdk::Recibe(uint16_t id, Reloj::time_point limite) {
  while (fd_ >= 0) {
    auto p = SiguientePaquete(limite);
    if (!p) return std::nullopt;
    // Late answers to an earlier try, and events we never asked for, are passed over.
    if (EsRespuestaA(*p, id) && p->comando != CMD_REG_EVENT) return p;
  }
  return std::nullopt;
}

std::optional<Paquete> ZkSdk::Pide(uint16_t comando, const Bytes& datos,
                                   std::chrono::milliseconds espera, bool rompe) {
  const auto id = Envia(comando, datos);
  if (!id) return std::nullopt;
  auto p = Recibe(*id, Reloj::now() + espera);
  if (!p && rompe) Rompe();  // a device that does not answer is gone as far as we can tell
  return p;
}

bool ZkSdk::PideCara(uint16_t comando, const Bytes& datos) {
  // Unanswered: a clock without our extension; a late answer is told apart by its reply id.
  auto p = Pide(comando, datos, std::min(espera_, kEsperaCara), false);
  return p && p->comando == CMD_ACK_OK;
}

bool ZkSdk::PideOk(uint16_t comando, const Bytes& datos) {
  auto p = Pide(comando, datos);
  return p && p->comando == CMD_ACK_OK;
}

// ---------------------------------------------------------------------------------------------
// Connection

bool ZkSdk::SetCommPassword(int32_t clave) {
  claveComm_ = static_cast<uint32_t>(clave);
  return true;
}

bool ZkSdk::Saluda() {
  sesion_ = 0;
  idRespuesta_ = 65535;  // so that CMD_CONNECT goes out with reply id 0
  auto r = Pide(CMD_CONNECT);
  if (!r) return false;
  sesion_ = r->sesion;
  if (r->comando == CMD_ACK_SESION_CIFRADA) {
    AnotaMotivo("firmware con sesión cifrada, no compatible");
    return false;
  }
  if (r->comando == CMD_ACK_UNAUTH) {
    const auto clave = ClaveComm(claveComm_, sesion_);
    r = Pide(CMD_AUTH, Bytes(clave.begin(), clave.end()));
    if (!r) return false;
    if (r->comando != CMD_ACK_OK) ultimoError_ = kClaveRechazada;
    if (r->comando == CMD_ACK_UNAUTH) AnotaMotivo("clave de comunicación rechazada");
  }
  if (r->comando != CMD_ACK_OK) {
    AnotaMotivo("el reloj rechazó la conexión (respuesta " + std::to_string(r->comando) + ")");
    return false;
  }
  // The vendor SDK announces itself; old firmware may not know the option, which is no matter.
  const Bytes opcion = CodificaOpcion("SDKBuild", "1");
  return Pide(CMD_OPTIONS_WRQ, opcion).has_value();
}

bool ZkSdk::Connect_Net(const std::string& ip, int32_t puerto) {
  Disconnect();
  ultimoError_ = 0;
  avisoChecksum_ = false;
  LiberaMarcaciones();
  usuarios_.clear();
  indiceUid_.clear();
  usuariosLeidos_ = false;
  tamUsuario_ = cursorUsuario_ = 0;
  tarjeta_.reset();

  motivo_.clear();
  ipMotivo_ = ip;
  recibioAlgo_ = false;
  ultimos_.Limpia();
  capacidades_.reset();
  if (puerto <= 0 || puerto > 65535) return false;
  const auto direccion = DireccionIpv4(ip);
  if (!direccion) return false;
  const auto p = static_cast<uint16_t>(puerto);
  // A clock found silent on TCP is spoken to over UDP at once, not after a time-out each visit.
  const std::pair destino{*direccion, p};
  if (soloUdp_.count(destino)) {
    if (AbreUdp(*direccion, p) && Saluda()) {
      conectado_ = true;
      return true;
    }
    Rompe();
    soloUdp_.erase(destino);
    motivo_.clear();
    recibioAlgo_ = false;
  }
  bool rechazado = false;
  const bool tcp = AbreTcp(*direccion, p, rechazado);
  // Old clocks speak only UDP: a refused TCP connection means "try datagrams".
  if (!tcp && (!rechazado || !AbreUdp(*direccion, p))) return false;
  bool saludo = Saluda();
  if (!saludo && tcp && !recibioAlgo_ && motivo_.empty()) {
    // Some clocks take the TCP connection and never say a word on it: only UDP works.
    Rompe();
    saludo = AbreUdp(*direccion, p) && Saluda();
    if (saludo) soloUdp_.insert(destino);
    if (!saludo && !recibioAlgo_) AnotaMotivo("no contesta ni por TCP ni por UDP");
  }
  if (!saludo) {
    Rompe();
    return false;
  }
  conectado_ = true;
  return true;
}

void ZkSdk::Disconnect() {
  if (fd_ >= 0 && conectado_) {
    // A polite goodbye, but a device that does not answer it keeps us only briefly.
    const auto id = Envia(CMD_EXIT, {});
    if (id)
      Recibe(*id, Reloj::now() +
                      std::min<std::chrono::milliseconds>(espera_, std::chrono::milliseconds(500)));
  }
  Rompe();
  LiberaMarcaciones();  // also a reading left half way (a file that could not be written)
}

bool ZkSdk::GetSerialNumber(int32_t, std::string& serial) {
  serial.clear();
  if (!conectado_) return false;
  auto r = Pide(CMD_OPTIONS_RRQ, CodificaNombreOpcion("~SerialNumber"));
  if (!r || r->comando != CMD_ACK_OK) return false;
  serial = ValorOpcion(r->datos.data(), r->datos.size());
  return true;
}

bool ZkSdk::GetFirmwareVersion(int32_t, std::string& version) {
  version.clear();
  if (!conectado_) return false;
  auto r = Pide(CMD_GET_VERSION);
  if (!r || r->comando != CMD_ACK_OK) return false;
  version = TextoHastaNul(r->datos.data(), r->datos.size());
  return true;
}

// ---------------------------------------------------------------------------------------------
// Transfers

std::optional<Capacidades> ZkSdk::LeeCapacidades() {
  auto r = Pide(CMD_GET_FREE_SIZES);
  if (!r || r->comando != CMD_ACK_OK) return std::nullopt;
  capacidades_ = DecodificaCapacidades(r->datos.data(), r->datos.size());
  return capacidades_;
}

bool ZkSdk::LeeTrozo(uint32_t inicio, uint32_t tam, Bytes& destino) {
  const size_t base = destino.size();
  for (int intento = 0; intento < kIntentosTrozo && fd_ >= 0; ++intento) {
    destino.resize(base);
    const auto id = Envia(CMD_DATA_RDY, CodificaPeticionTrozo(inicio, tam));
    if (!id) break;
    const auto limite = Reloj::now() + espera_;
    Ensamble ensamble(destino, tam);
    for (;;) {
      auto p = Recibe(*id, limite);
      if (!p) break;  // time-out: ask again (a broken connection ends the loop above)
      if (p->comando == CMD_PREPARE_DATA) continue;
      if (p->comando == CMD_DATA) {
        if (!ensamble.Agrega(p->datos)) break;  // repeated or out of order: ask again
        // A TCP stream keeps order: a whole chunk is whole; its ACK_OK is passed over later.
        if (!udp_ && ensamble.Completo()) return true;
        continue;
      }
      // The end of the chunk: all of it came, or a datagram was lost and the chunk is asked
      // for again (never go on from the gap: the next chunk would start at the wrong offset).
      if (p->comando == CMD_ACK_OK && ensamble.Completo()) return true;
      break;
    }
  }
  destino.resize(base);
  Rompe();  // three tries failed: the stream can no longer be trusted
  return false;
}

std::optional<Bytes> ZkSdk::LeeMasivo(const PeticionMasiva& peticion) {
  auto r =
      Pide(CMD_DATA_WRRQ, CodificaPeticionMasiva(peticion), std::max(espera_, kEsperaPreparacion));
  if (!r) return std::nullopt;
  Bytes conjunto;
  if (r->comando == CMD_DATA) {
    conjunto = std::move(r->datos);  // a small set comes whole
  } else if (r->comando == CMD_ACK_OK || r->comando == CMD_PREPARE_DATA) {
    const auto tam = DecodificaAnuncioMasivo(r->datos.data(), r->datos.size());
    if (!tam || *tam > kMaxConjunto) {
      if (tam)
        AnotaMotivo("anuncia " + std::to_string(*tam) +
                    " bytes de datos, más de lo que un reloj guarda");
      PideOk(CMD_FREE_DATA);
      return std::nullopt;
    }
    conjunto.reserve(*tam);
    const uint32_t trozo = udp_ ? kTrozoUdp : kTrozoTcp;
    for (uint32_t inicio = 0; inicio < *tam;) {
      const uint32_t n = std::min(trozo, *tam - inicio);
      if (!LeeTrozo(inicio, n, conjunto)) return std::nullopt;
      inicio += n;
    }
  } else {
    return std::nullopt;
  }
  if (!Pide(CMD_FREE_DATA)) return std::nullopt;
  return conjunto;
}

std::optional<Bytes> ZkSdk::LeeUnico(uint16_t comando, const Bytes& datos,
                                     std::chrono::milliseconds espera, bool rompe) {
  const auto id = Envia(comando, datos);
  if (!id) return std::nullopt;
  const auto limite = Reloj::now() + espera;
  Bytes resultado;
  std::optional<Ensamble> ensamble;
  for (;;) {
    auto p = Recibe(*id, limite);
    if (!p) {
      if (rompe) Rompe();
      return std::nullopt;
    }
    if (p->comando == CMD_PREPARE_DATA) {
      const auto esperado = DecodificaPreparacion(p->datos.data(), p->datos.size());
      if (!esperado || *esperado > kMaxUnico) {
        Rompe();
        return std::nullopt;
      }
      if (*esperado == 0) return std::nullopt;
      ensamble.emplace(resultado, *esperado);
      continue;
    }
    if (p->comando == CMD_DATA) {
      if (!ensamble) return std::move(p->datos);  // a bare DATA is the whole item
      if (!ensamble->Agrega(p->datos)) return std::nullopt;
      if (!udp_ && ensamble->Completo()) return resultado;
      continue;
    }
    // ACK_OK closes the data, or carries it inline (some firmware); else absent (ACK_ERROR...).
    if (p->comando == CMD_ACK_OK && ensamble)
      return ensamble->Completo() ? std::optional<Bytes>(std::move(resultado)) : std::nullopt;
    if (p->comando == CMD_ACK_OK && !p->datos.empty()) return std::move(p->datos);
    return std::nullopt;
  }
}

bool ZkSdk::Sube(const Bytes& datos) {
  Bytes preparacion;
  AgregaU32(preparacion, static_cast<uint32_t>(datos.size()));
  return PideOk(CMD_PREPARE_DATA, preparacion) && PideOk(CMD_DATA, datos) &&
         Pide(CMD_CHECKSUM_BUFFER).has_value();
}

// ---------------------------------------------------------------------------------------------
// Attendance records

namespace {

// A device time into the SDK's out arguments.
void EntregaHora(const FechaHora& f, int32_t& anio, int32_t& mes, int32_t& dia, int32_t& hora,
                 int32_t& minuto, int32_t& segundo) {
  anio = f.anio;
  mes = f.mes;
  dia = f.dia;
  hora = f.hora;
  minuto = f.minuto;
  segundo = f.segundo;
}

}  // namespace

bool ZkSdk::ReadGeneralLogData(int32_t) {
  LiberaMarcaciones();
  motivo_.clear();
  if (!conectado_ || !Deshabilita()) return false;
  // Counted while the clock is disabled, so that no punch falls between the count and the data.
  const auto caps = LeeCapacidades();
  auto conjunto = conectado_ ? LeeMasivo(kMasivaMarcaciones) : std::nullopt;
  // Never leave the clock locked, whatever happened to the transfer.
  const bool habilitado = conectado_ && Habilita();
  if (!conjunto || !habilitado) {
    if (!conectado_) AnotaMotivo("la conexión se perdió durante la lectura de marcaciones");
    return false;
  }
  const auto cuerpo = LeeConjunto(conjunto->data(), conjunto->size());
  if (!cuerpo) {
    AnotaMotivo("las marcaciones llegaron más cortas de lo que anuncian; no se escribe nada");
    return false;
  }
  size_t tam = 0;
  if (cuerpo->largo) {
    // The layout the records read as, the count (a clock may give none, or 0, or count while
    // it keeps taking punches) choosing among those that read plausibly. Never records cut
    // across their boundaries, never a layout guessed.
    const size_t propio = udp_ ? 16 : 40;
    tam = LayoutDeMarcaciones(conjunto->data() + cuerpo->inicio, cuerpo->largo,
                              caps ? caps->registros : 0, {propio, 40, 49, 16, 8});
    if (!tam) {
      AnotaMotivo("marcaciones en un formato desconocido; no se escribe nada");
      return false;
    }
    if (tam == 8 && !AseguraUsuarios()) {  // 8-byte records carry only the uid
      AnotaMotivo("no se pudieron leer los usuarios que dan nombre a las marcaciones");
      return false;
    }
  }
  marcaciones_ = std::move(*conjunto);
  largoMarcaciones_ = cuerpo->largo;
  tamMarcacion_ = tam;
  return true;
}

bool ZkSdk::SSR_GetGeneralLogData(int32_t, std::string& enrolamiento, int32_t& modoVerificacion,
                                  int32_t& modoEntradaSalida, int32_t& anio, int32_t& mes,
                                  int32_t& dia, int32_t& hora, int32_t& minuto, int32_t& segundo,
                                  int32_t& codigoTrabajo) {
  if (!tamMarcacion_ || (cursorMarcacion_ + 1) * tamMarcacion_ > largoMarcaciones_) {
    LiberaMarcaciones();  // the reading is over: a big log's bytes are not kept for nothing
    return false;
  }
  Marcacion m;
  DecodificaMarcacion(marcaciones_.data() + 4 + cursorMarcacion_ * tamMarcacion_, tamMarcacion_, m);
  ++cursorMarcacion_;
  if (m.usuario.empty()) {
    // 8-byte records: uid -> enrolment number through the users, indexed once per read.
    if (indiceUid_.empty() && !usuarios_.empty()) {
      indiceUid_.assign(65536, -1);
      for (size_t i = usuarios_.size(); i-- > 0;)
        indiceUid_[usuarios_[i].uid] = static_cast<int32_t>(i);
    }
    const int32_t i = indiceUid_.empty() ? -1 : indiceUid_[m.uid];
    m.usuario = i >= 0 ? usuarios_[static_cast<size_t>(i)].usuario : std::to_string(m.uid);
  }
  enrolamiento = std::move(m.usuario);
  modoVerificacion = m.verificacion;
  modoEntradaSalida = m.estado;
  EntregaHora(DecodificaHora(m.hora), anio, mes, dia, hora, minuto, segundo);
  codigoTrabajo = static_cast<int32_t>(m.codigoTrabajo);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Users

bool ZkSdk::LeeUsuarios() {
  usuarios_.clear();
  indiceUid_.clear();
  usuariosLeidos_ = false;
  utf8Dispositivo_ = false;
  cursorUsuario_ = 0;
  if (!conectado_ || !Deshabilita()) return false;
  const auto caps = LeeCapacidades();  // refused: the size of the data tells the layout
  auto conjunto = conectado_ ? LeeMasivo(kMasivaUsuarios) : std::nullopt;
  const bool habilitado = conectado_ && Habilita();
  if (!conjunto || !habilitado) return false;
  const auto cuerpo = LeeConjunto(conjunto->data(), conjunto->size());
  if (!cuerpo) return false;
  const size_t supuesto = udp_ ? kUsuario28 : kUsuario72;
  size_t tam = supuesto;  // an empty clock: write in the layout its transport implies
  if (cuerpo->largo) {
    tam = caps ? TamRegistroUsuario(cuerpo->largo, caps->usuarios) : 0;
    if (!tam && cuerpo->largo % supuesto == 0) tam = supuesto;
    if (!tam) return false;
  }
  const uint8_t* p = conjunto->data() + cuerpo->inicio;
  usuarios_.resize(cuerpo->largo / tam);
  for (size_t i = 0; i < usuarios_.size(); ++i) DecodificaUsuario(p + i * tam, tam, usuarios_[i]);
  tamUsuario_ = tam;
  usuariosLeidos_ = true;
  // A clock whose non-ASCII names all read as UTF-8 keeps its names in UTF-8: write them so.
  bool hayNoAscii = false, todoUtf8 = true;
  for (const auto& u : usuarios_)
    for (const std::string* t : {&u.nombre, &u.clave})
      if (TieneNoAscii(*t)) {
        hayNoAscii = true;
        todoUtf8 = todoUtf8 && EsUtf8Valido(*t);
      }
  utf8Dispositivo_ = hayNoAscii && todoUtf8;
  return true;
}

bool ZkSdk::AseguraUsuarios() {
  return usuariosLeidos_ || LeeUsuarios();
}

const UsuarioZk* ZkSdk::BuscaUsuario(const std::string& enrolamiento) const {
  for (const auto& u : usuarios_)
    if (u.usuario == enrolamiento) return &u;
  if (!SoloCifras(enrolamiento)) return nullptr;
  const std::string valor = SinCerosIzquierda(enrolamiento);
  for (const auto& u : usuarios_)
    if (SoloCifras(u.usuario) && SinCerosIzquierda(u.usuario) == valor) return &u;
  return nullptr;
}

void ZkSdk::EntregaUsuario(const UsuarioZk& u, std::string& nombre, std::string& clave,
                           int32_t& privilegio, bool& habilitado) {
  nombre = DelReloj(u.nombre);
  clave = DelReloj(u.clave);
  privilegio = PrivilegioDeByte(u.privilegio);
  habilitado = HabilitadoDeByte(u.privilegio);
  tarjeta_ = u.tarjeta;
}

bool ZkSdk::ReadAllUserID(int32_t) {
  return LeeUsuarios();
}

bool ZkSdk::SSR_GetAllUserInfo(int32_t, std::string& enrolamiento, std::string& nombre,
                               std::string& clave, int32_t& privilegio, bool& habilitado) {
  if (cursorUsuario_ >= usuarios_.size()) {
    tarjeta_ = 0;
    return false;
  }
  const UsuarioZk& u = usuarios_[cursorUsuario_++];
  enrolamiento = u.usuario;
  EntregaUsuario(u, nombre, clave, privilegio, habilitado);
  return true;
}

bool ZkSdk::SSR_GetUserInfo(int32_t, const std::string& enrolamiento, std::string& nombre,
                            std::string& clave, int32_t& privilegio, bool& habilitado) {
  nombre.clear();
  clave.clear();
  privilegio = 0;
  habilitado = false;
  tarjeta_ = 0;  // whatever way this fails, no card of an earlier user stays behind
  if (!conectado_ || !AseguraUsuarios()) return false;
  const UsuarioZk* u = BuscaUsuario(enrolamiento);
  if (!u) return false;
  EntregaUsuario(*u, nombre, clave, privilegio, habilitado);
  return true;
}

bool ZkSdk::GetStrCardNumber(std::string& tarjeta) {
  tarjeta = std::to_string(tarjeta_.value_or(0));
  return true;
}

bool ZkSdk::SetStrCardNumber(const std::string& tarjeta) {
  const auto v = TarjetaDeTexto(tarjeta);
  if (!v) return false;
  tarjeta_ = *v;
  return true;
}

bool ZkSdk::EscribeUsuario(const UsuarioZk& u) {
  Bytes registro;
  if (!CodificaUsuario(u, tamUsuario_, registro)) return false;
  if (!PideOk(CMD_USER_WRQ, registro)) return false;
  for (auto& x : usuarios_)
    if (x.uid == u.uid) {
      x = u;
      return true;
    }
  usuarios_.push_back(u);
  indiceUid_.clear();
  return true;
}

bool ZkSdk::SSR_SetUserInfo(int32_t, const std::string& enrolamiento, const std::string& nombre,
                            const std::string& clave, int32_t privilegio, bool habilitado) {
  if (!conectado_ || !AseguraUsuarios() || enrolamiento.empty()) return false;
  UsuarioZk u;
  if (const UsuarioZk* existente = BuscaUsuario(enrolamiento)) {
    u = *existente;
  } else {
    uint32_t maximo = 0;
    for (const auto& x : usuarios_) maximo = std::max<uint32_t>(maximo, x.uid);
    if (maximo < 65535) {
      u.uid = static_cast<uint16_t>(maximo + 1);
    } else {  // the top uid is taken: the lowest free one
      std::vector<bool> usado(65536);
      for (const auto& x : usuarios_) usado[x.uid] = true;
      const auto libre = std::find(usado.begin() + 1, usado.end(), false);
      if (libre == usado.end()) return false;
      u.uid = static_cast<uint16_t>(libre - usado.begin());
    }
    u.usuario = enrolamiento;
  }
  const bool corto = tamUsuario_ == kUsuario28;
  u.nombre = AlReloj(nombre, corto ? 8 : 23, utf8Dispositivo_);
  u.clave = AlReloj(clave, corto ? 5 : 8, utf8Dispositivo_);
  u.privilegio = PrivilegioAByte(privilegio, habilitado);
  if (tarjeta_) u.tarjeta = *tarjeta_;
  return EscribeUsuario(u);
}

// ---------------------------------------------------------------------------------------------
// Templates and faces

bool ZkSdk::LeePorIndice(uint16_t comando, const std::string& enrolamiento, int32_t indice,
                         std::string& texto, int32_t& largo) {
  texto.clear();
  largo = 0;
  if (!conectado_ || indice < 0 || indice > 255 || !AseguraUsuarios()) return false;
  const UsuarioZk* u = BuscaUsuario(enrolamiento);
  if (!u) return false;
  const bool cara = comando == CMD_FACE_RRQ;
  const Bytes pedido = CodificaUidIndice(u->uid, static_cast<uint8_t>(indice));
  const auto espera = cara ? std::min(espera_, kEsperaCara) : espera_;
  // Faces as face clocks give them first (the whole record, as it would be written back); our
  // own exchange when the clock does not know that command.
  std::optional<Bytes> datos;
  if (cara) datos = LeeUnico(CMD_FACE_RRQ_DEVICE, pedido, espera, false);
  if (!datos || datos->empty()) datos = LeeUnico(comando, pedido, espera, !cara);
  if (!datos || datos->empty()) return false;
  texto = Base64(datos->data(), datos->size());
  largo = static_cast<int32_t>(datos->size());
  return true;
}

bool ZkSdk::GetUserTmpExStr(int32_t, const std::string& enrolamiento, int32_t dedo,
                            int32_t& bandera, std::string& plantilla, int32_t& largo) {
  // A single read does not carry the valid/duress flag: a template that is there is valid.
  const bool hay = LeePorIndice(CMD_USERTEMP_RRQ, enrolamiento, dedo, plantilla, largo);
  bandera = hay ? 1 : 0;
  return hay;
}

bool ZkSdk::SSR_GetUserTmpStr(int32_t, const std::string& enrolamiento, int32_t dedo,
                              std::string& plantilla, int32_t& largo) {
  return LeePorIndice(CMD_USERTEMP_RRQ, enrolamiento, dedo, plantilla, largo);
}

bool ZkSdk::EscribePlantilla(const std::string& enrolamiento, int32_t dedo, int32_t bandera,
                             const std::string& plantilla) {
  if (!conectado_ || dedo < 0 || dedo > 255 || bandera < 0 || bandera > 255) return false;
  const auto datos = DeBase64(plantilla);
  if (!datos || datos->empty() || datos->size() > 0xFFFF) return false;
  if (!AseguraUsuarios()) return false;
  const UsuarioZk* u = BuscaUsuario(enrolamiento);
  if (!u) return false;
  const EscrituraPlantilla e{u->uid, static_cast<uint8_t>(dedo), static_cast<uint8_t>(bandera),
                             static_cast<uint16_t>(datos->size())};
  if (!Deshabilita()) return false;
  const bool ok = Sube(*datos) && PideOk(CMD_TMP_WRITE, CodificaEscrituraPlantilla(e));
  if (conectado_) PideOk(CMD_FREE_DATA);
  if (conectado_) PideOk(CMD_REFRESHDATA);
  const bool habilitado = conectado_ && Habilita();
  return ok && habilitado;
}

bool ZkSdk::SetUserTmpExStr(int32_t, const std::string& enrolamiento, int32_t dedo, int32_t bandera,
                            const std::string& plantilla) {
  return EscribePlantilla(enrolamiento, dedo, bandera, plantilla);
}

bool ZkSdk::SSR_SetUserTmpStr(int32_t, const std::string& enrolamiento, int32_t dedo,
                              const std::string& plantilla) {
  return EscribePlantilla(enrolamiento, dedo, 1, plantilla);
}

bool ZkSdk::GetUserFaceStr(int32_t, const std::string& enrolamiento, int32_t indice,
                           std::string& cara, int32_t& largo) {
  return LeePorIndice(CMD_FACE_RRQ, enrolamiento, indice, cara, largo);
}

bool ZkSdk::SetUserFaceStr(int32_t, const std::string& enrolamiento, int32_t indice,
                           const std::string& cara, int32_t) {
  // The length argument counts the text's characters; the bytes decoded from it are what count.
  if (!conectado_ || indice < 0 || indice > 255) return false;
  const auto datos = DeBase64(cara);
  if (!datos || datos->empty() || datos->size() > kMaxUnico) return false;
  if (!AseguraUsuarios()) return false;
  const UsuarioZk* u = BuscaUsuario(enrolamiento);
  if (!u) return false;
  const EscrituraCara e{u->uid, static_cast<uint8_t>(indice), static_cast<uint32_t>(datos->size())};
  if (!Deshabilita()) return false;
  const bool ok = Sube(*datos) && PideCara(CMD_FACE_WRQ, CodificaEscrituraCara(e));
  if (conectado_) PideOk(CMD_FREE_DATA);
  if (conectado_) PideOk(CMD_REFRESHDATA);
  const bool habilitado = conectado_ && Habilita();
  return ok && habilitado;
}

// ---------------------------------------------------------------------------------------------
// Deletions by backup number: 0-9 one finger, 10 the password, 11 every finger, 12 the whole
// user, 50 the face.

bool ZkSdk::BorraCara(uint16_t uid, uint8_t indice) {
  return PideCara(CMD_FACE_WRQ, CodificaEscrituraCara({uid, indice, 0}));
}

bool ZkSdk::Borra(const std::string& enrolamiento, int32_t respaldo) {
  if (!conectado_ || !AseguraUsuarios()) return false;
  const UsuarioZk* u = BuscaUsuario(enrolamiento);
  if (!u) return false;
  const uint16_t uid = u->uid;
  auto borraDedos = [&] {
    // A finger without a template answers an error; the others are still deleted.
    for (int d = 0; d < kDedos && conectado_; ++d)
      Pide(CMD_DELETE_USERTEMP, CodificaUidIndice(uid, static_cast<uint8_t>(d)));
    return conectado_;
  };
  if (respaldo >= 0 && respaldo < kDedos)
    return PideOk(CMD_DELETE_USERTEMP, CodificaUidIndice(uid, static_cast<uint8_t>(respaldo)));
  switch (respaldo) {
    case 10: {
      UsuarioZk sinClave = *u;
      sinClave.clave.clear();
      return EscribeUsuario(sinClave);
    }
    case 11:
      return borraDedos();
    case 12: {
      if (!borraDedos()) return false;
      BorraCara(uid, kIndiceCara);  // a device without faces says so; no matter
      if (!conectado_ || !PideOk(CMD_DELETE_USER,
                                 Bytes{static_cast<uint8_t>(uid), static_cast<uint8_t>(uid >> 8)}))
        return false;
      std::erase_if(usuarios_, [uid](const UsuarioZk& x) { return x.uid == uid; });
      indiceUid_.clear();
      cursorUsuario_ = std::min(cursorUsuario_, usuarios_.size());
      return true;
    }
    case kIndiceCara:
      return BorraCara(uid, kIndiceCara);
    default:
      return false;
  }
}

bool ZkSdk::DeleteEnrollData(int32_t, int32_t enrolamiento, int32_t, int32_t respaldo) {
  return Borra(std::to_string(enrolamiento), respaldo);
}

bool ZkSdk::SSR_DeleteEnrollData(int32_t, const std::string& enrolamiento, int32_t respaldo) {
  return Borra(enrolamiento, respaldo);
}

bool ZkSdk::SSR_DeleteEnrollDataExt(int32_t, const std::string& enrolamiento, int32_t respaldo) {
  return Borra(enrolamiento, respaldo);
}

// ---------------------------------------------------------------------------------------------
// Maintenance

bool ZkSdk::RefreshData(int32_t) {
  return conectado_ && PideOk(CMD_REFRESHDATA);
}

bool ZkSdk::ClearGLog(int32_t) {
  if (!conectado_ || !Deshabilita()) return false;
  const bool ok = PideOk(CMD_CLEAR_ATTLOG) && PideOk(CMD_REFRESHDATA);
  const bool habilitado = conectado_ && Habilita();
  return ok && habilitado;
}

bool ZkSdk::RestartDevice(int32_t) {
  if (!conectado_) return false;
  // A restarting clock may go without answering; that is what restarting looks like.
  const auto id = Envia(CMD_RESTART, {});
  if (!id) return false;
  auto r = Recibe(*id, Reloj::now() + espera_);
  if (!r) Rompe();
  return !r || r->comando == CMD_ACK_OK;
}

bool ZkSdk::Beep(int32_t) {
  if (!conectado_) return false;
  Bytes indice;
  AgregaU32(indice, 24);  // "beep standard"; the wire has no length for it
  return PideOk(CMD_TESTVOICE, indice);
}

bool ZkSdk::SetDeviceTime2(int32_t, int32_t anio, int32_t mes, int32_t dia, int32_t hora,
                           int32_t minuto, int32_t segundo) {
  if (!conectado_) return false;
  const auto t = CodificaHora({anio, mes, dia, hora, minuto, segundo});
  if (!t) return false;
  Bytes datos;
  AgregaU32(datos, *t);
  return PideOk(CMD_SET_TIME, datos) && PideOk(CMD_REFRESHDATA);
}

bool ZkSdk::DisableDeviceWithTimeOut(int32_t, int32_t segundos) {
  if (!conectado_ || segundos <= 0) return false;
  Bytes limite;
  AgregaU32(limite, static_cast<uint32_t>(segundos));
  bloqueado_ = PideOk(CMD_DISABLEDEVICE, limite);
  return bloqueado_;
}

bool ZkSdk::EnableDevice(int32_t, bool habilitar) {
  if (!conectado_) return false;
  bloqueado_ = false;
  return PideOk(habilitar ? CMD_ENABLEDEVICE : CMD_DISABLEDEVICE);
}

bool ZkSdk::GetDeviceTime(int32_t, int32_t& anio, int32_t& mes, int32_t& dia, int32_t& hora,
                          int32_t& minuto, int32_t& segundo) {
  if (!conectado_) return false;
  auto r = Pide(CMD_GET_TIME);
  if (!r || r->comando != CMD_ACK_OK || r->datos.size() < 4) return false;
  EntregaHora(DecodificaHora(LeeU32(r->datos.data())), anio, mes, dia, hora, minuto, segundo);
  return true;
}

bool ZkSdk::ClearAdministrators(int32_t) {
  if (!conectado_ || !PideOk(CMD_CLEAR_ADMIN)) return false;
  // Every user is a common user now; keep the disabled flag.
  for (auto& u : usuarios_) u.privilegio &= 1;
  return true;
}

}  // namespace lector::clock::zk
