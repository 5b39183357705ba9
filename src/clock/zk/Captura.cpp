#include "clock/zk/Captura.h"

#include <algorithm>
#include <array>
#include <istream>
#include <ostream>
#include <stdexcept>

namespace lector::clock::zk {

namespace {

// Where the payload starts in a sent unit that is a whole CMD_AUTH request; npos otherwise.
size_t InicioAuth(bool udp, const uint8_t* p, size_t n) {
  const size_t base = udp ? 0 : kTamPrefijoTcp;
  if (n < base + kTamCabecera) return std::string::npos;
  if (!udp && !std::equal(kMagiaTcp.begin(), kMagiaTcp.end(), p)) return std::string::npos;
  return LeeU16(p + base) == CMD_AUTH ? base : std::string::npos;
}

void Hex(std::string& s, const uint8_t* p, size_t n, size_t auth, const std::vector<bool>& oculto) {
  static const char kDigitos[] = "0123456789abcdef";
  s.reserve(s.size() + 2 * n);
  for (size_t i = 0; i < n; ++i) {
    const bool clave = (i < oculto.size() && oculto[i]) ||
                       (auth != std::string::npos &&
                        ((i >= auth + 2 && i < auth + 4) || i >= auth + kTamCabecera));
    s += clave ? '*' : kDigitos[p[i] >> 4];
    s += clave ? '*' : kDigitos[p[i] & 15];
  }
}

std::string Linea(const UnidadCaptura& u, bool cortada) {
  std::string s = u.enviado ? "> " : "< ";
  s += std::to_string(u.ms);
  s += u.udp ? " udp " : " tcp ";
  if (u.cierre) return s + "-";
  const uint8_t* p = u.bytes.data();
  const size_t auth = u.enviado ? InicioAuth(u.udp, p, u.bytes.size()) : std::string::npos;
  if (cortada) s += "..";
  Hex(s, p, u.bytes.size(), auth, u.oculto);
  return s;
}

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Where a byte seen on the wire lies in the capture: its unit and its place there.
struct Origen {
  uint32_t unidad = 0, byte = 0;
};

// A packet as the client read it: its payload and where each of its bytes came from.
struct PaqueteVisto {
  bool enviado = false, udp = false;
  Bytes payload;
  std::vector<Origen> origen;
};

// One direction of a TCP connection cut into frames. Bytes that are no frame make ZkSdk drop
// the connection; here the next magic is looked for, so that no record after them escapes.
class FlujoTcp {
 public:
  void Agrega(const UnidadCaptura& u, uint32_t indice) {
    for (size_t i = 0; i < u.bytes.size(); ++i) {
      bytes_.push_back(u.bytes[i]);
      origen_.push_back({indice, static_cast<uint32_t>(i)});
    }
  }
  void Limpia() {
    bytes_.clear();
    origen_.clear();
    inicio_ = 0;
  }
  bool Siguiente(PaqueteVisto& p) {
    for (;;) {
      uint32_t largo = 0;
      const auto estado = ExaminaTramaTcp(bytes_.data() + inicio_, bytes_.size() - inicio_, largo);
      if (estado == EstadoTrama::kIncompleta) {
        Compacta();
        return false;
      }
      if (estado == EstadoTrama::kInvalida) {
        ++inicio_;
        while (inicio_ < bytes_.size() && !PareceMagia(inicio_)) ++inicio_;
        continue;
      }
      const auto desde = static_cast<std::ptrdiff_t>(inicio_ + kTamPrefijoTcp);
      const auto hasta = desde + static_cast<std::ptrdiff_t>(largo);
      p.payload.assign(bytes_.begin() + desde, bytes_.begin() + hasta);
      p.origen.assign(origen_.begin() + desde, origen_.begin() + hasta);
      inicio_ += kTamPrefijoTcp + largo;
      return true;
    }
  }

 private:
  // The magic, or as much of it as the stream holds yet.
  bool PareceMagia(size_t i) const {
    for (size_t k = 0; k < kMagiaTcp.size() && i + k < bytes_.size(); ++k)
      if (bytes_[i + k] != kMagiaTcp[k]) return false;
    return true;
  }
  void Compacta() {
    if (inicio_ < 65536 || inicio_ < bytes_.size() / 2) return;
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(inicio_));
    origen_.erase(origen_.begin(), origen_.begin() + static_cast<std::ptrdiff_t>(inicio_));
    inicio_ = 0;
  }
  Bytes bytes_;
  std::vector<Origen> origen_;
  size_t inicio_ = 0;
};

void Oculta(std::vector<UnidadCaptura>& unidades, const Origen& o) {
  if (o.unidad >= unidades.size()) return;
  UnidadCaptura& u = unidades[o.unidad];
  if (o.byte >= u.bytes.size()) return;
  if (u.oculto.size() < u.bytes.size()) u.oculto.resize(u.bytes.size());
  u.oculto[o.byte] = true;
}

// The client side of one transport: the request waiting for its answer and the users data set
// being read, every byte of it with its origin and the checksum of the packet that brought it.
class Cliente {
 public:
  Cliente(std::vector<UnidadCaptura>& unidades, bool udp) : unidades_(unidades), udp_(udp) {}

  void Ve(const PaqueteVisto& visto) {
    const auto p = LeePayload(visto.payload.data(), visto.payload.size(), false);
    if (!p) return;
    if (visto.enviado) {
      Pedido(*p);
      return;
    }
    if (!hayPedido_ || p->idRespuesta != id_) return;  // not the answer ZkSdk waits for
    if (comando_ == CMD_GET_FREE_SIZES && p->comando == CMD_ACK_OK) {
      if (const auto caps = DecodificaCapacidades(p->datos.data(), p->datos.size()))
        cuenta_ = caps->usuarios;
    } else if (leyendo_ && comando_ == CMD_DATA_WRRQ) {
      if (p->comando == CMD_DATA) {
        Agrega(visto);  // a small set comes whole
        Termina();
      } else if (p->comando != CMD_ACK_OK && p->comando != CMD_PREPARE_DATA) {
        Termina();
      }
    } else if (leyendo_ && comando_ == CMD_DATA_RDY && p->comando == CMD_DATA) {
      Agrega(visto);
    }
  }

  // The connection is over: what was read of a set is masked as it is.
  void Reinicia() {
    Termina();
    hayPedido_ = false;
    cuenta_.reset();
  }

 private:
  struct ByteLeido {
    Origen origen;
    uint32_t paquete = 0;  // into sumas_
  };

  void Pedido(const Paquete& p) {
    if (p.comando == CMD_CONNECT) Reinicia();
    if (leyendo_ && p.comando != CMD_DATA_RDY) Termina();
    uint32_t inicio = 0, tam = 0;
    if (leyendo_ && p.comando == CMD_DATA_RDY &&
        DecodificaPeticionTrozo(p.datos.data(), p.datos.size(), inicio, tam) &&
        inicio < conjunto_.size()) {
      // A chunk asked for again: ZkSdk drops what came of it, but the file still holds it.
      for (size_t k = inicio; k < conjunto_.size(); ++k) descartados_.emplace_back(k, conjunto_[k]);
      conjunto_.resize(inicio);
      bytes_.resize(inicio);
    }
    if (p.comando == CMD_GET_FREE_SIZES) cuenta_.reset();  // refused: no count
    if (p.comando == CMD_DATA_WRRQ &&
        DecodificaPeticionMasiva(p.datos.data(), p.datos.size()) == kMasivaUsuarios)
      leyendo_ = true;
    comando_ = p.comando;
    id_ = p.idRespuesta;
    hayPedido_ = true;
  }

  void Agrega(const PaqueteVisto& visto) {
    sumas_.push_back({visto.origen[2], visto.origen[3]});
    for (size_t i = kTamCabecera; i < visto.payload.size(); ++i) {
      bytes_.push_back(visto.payload[i]);
      conjunto_.push_back({visto.origen[i], static_cast<uint32_t>(sumas_.size() - 1)});
    }
  }

  // The record size as ZkSdk tells it: by the clock's count, else the transport's own layout.
  void Termina() {
    if (leyendo_ && bytes_.size() >= 4) {
      const size_t largo = LeeU32(bytes_.data());
      const size_t supuesto = udp_ ? kUsuario28 : kUsuario72;
      size_t tam = cuenta_ ? TamRegistroUsuario(largo, *cuenta_) : 0;
      if (!tam && largo % supuesto == 0) tam = supuesto;
      const size_t campo = LargoClaveUsuario(tam);
      auto esClave = [&](size_t k) {
        const size_t enRegistro = tam ? (k - 4) % tam : 0;
        return tam && k >= 4 && k - 4 < largo && enRegistro >= kInicioClaveUsuario &&
               enRegistro < kInicioClaveUsuario + campo;
      };
      for (size_t k = 0; k < conjunto_.size(); ++k)
        if (esClave(k)) Oculta(conjunto_[k]);
      for (const auto& [k, b] : descartados_)
        if (esClave(k)) Oculta(b);
    }
    leyendo_ = false;
    bytes_.clear();
    conjunto_.clear();
    descartados_.clear();
    sumas_.clear();
  }

  void Oculta(const ByteLeido& b) {
    zk::Oculta(unidades_, b.origen);
    for (const Origen& o : sumas_[b.paquete]) zk::Oculta(unidades_, o);
  }

  std::vector<UnidadCaptura>& unidades_;
  const bool udp_;
  bool hayPedido_ = false, leyendo_ = false;
  uint16_t comando_ = 0, id_ = 0;
  std::optional<uint32_t> cuenta_;  // the users the clock counted (CMD_GET_FREE_SIZES)
  Bytes bytes_;                     // the users data set read so far
  std::vector<ByteLeido> conjunto_;
  std::vector<std::pair<size_t, ByteLeido>> descartados_;
  std::vector<std::array<Origen, 2>> sumas_;
};

}  // namespace

std::string LineaDeCaptura(const UnidadCaptura& u) {
  return Linea(u, false);
}

std::optional<UnidadCaptura> LeeLineaCaptura(std::string_view linea, std::string& error) {
  error.clear();
  if (!linea.empty() && linea.back() == '\r') linea.remove_suffix(1);
  if (linea.empty() || linea[0] == '#') return std::nullopt;
  std::vector<std::string_view> campos;
  for (size_t i = 0; i <= linea.size();) {
    const size_t fin = std::min(linea.find(' ', i), linea.size());
    if (fin > i) campos.push_back(linea.substr(i, fin - i));
    i = fin + 1;
  }
  UnidadCaptura u;
  if (campos.size() != 4 || (campos[0] != ">" && campos[0] != "<") ||
      (campos[2] != "tcp" && campos[2] != "udp") || campos[1].size() > 9 ||
      campos[1].find_first_not_of("0123456789") != std::string_view::npos) {
    error = "se espera \"> | <\", milisegundos, tcp | udp y los bytes en hexadecimal";
    return std::nullopt;
  }
  u.enviado = campos[0] == ">";
  u.ms = static_cast<uint32_t>(std::stoul(std::string(campos[1])));
  u.udp = campos[2] == "udp";
  const std::string_view hex = campos[3];
  if (hex == "-" && !u.enviado && !u.udp) {
    u.cierre = true;
    return u;
  }
  if (hex.size() % 2) {
    error = "número impar de cifras hexadecimales";
    return std::nullopt;
  }
  u.bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (hex[i] == '*' && hex[i + 1] == '*') {
      u.oculto.resize(hex.size() / 2);
      u.oculto[u.bytes.size()] = true;
      u.bytes.push_back(0);
      continue;
    }
    const int a = Nibble(hex[i]), b = Nibble(hex[i + 1]);
    if (a < 0 || b < 0) {
      error = "cifra hexadecimal no válida";
      return std::nullopt;
    }
    u.bytes.push_back(static_cast<uint8_t>(a << 4 | b));
  }
  return u;
}

std::vector<UnidadCaptura> LeeCaptura(std::istream& entrada) {
  std::string linea;
  if (!std::getline(entrada, linea) || linea.rfind(kCabeceraCaptura, 0) != 0)
    throw std::runtime_error("no es una captura: falta la línea \"" +
                             std::string(kCabeceraCaptura) + "\"");
  std::vector<UnidadCaptura> v;
  for (size_t numero = 2; std::getline(entrada, linea); ++numero) {
    std::string error;
    auto u = LeeLineaCaptura(linea, error);
    if (!error.empty()) throw std::runtime_error("línea " + std::to_string(numero) + ": " + error);
    if (u) v.push_back(std::move(*u));
  }
  return v;
}

void EnmascaraClaves(std::vector<UnidadCaptura>& unidades) {
  Cliente tcp(unidades, false), udp(unidades, true);
  FlujoTcp enviado, recibido;
  PaqueteVisto p;
  for (size_t i = 0; i < unidades.size(); ++i) {
    const UnidadCaptura& u = unidades[i];
    const auto indice = static_cast<uint32_t>(i);
    if (u.udp) {
      p.enviado = u.enviado;
      p.payload = u.bytes;
      p.origen.clear();
      for (size_t k = 0; k < u.bytes.size(); ++k)
        p.origen.push_back({indice, static_cast<uint32_t>(k)});
      udp.Ve(p);
      continue;
    }
    if (u.cierre) {
      enviado.Limpia();
      recibido.Limpia();
      tcp.Reinicia();
      continue;
    }
    FlujoTcp& flujo = u.enviado ? enviado : recibido;
    flujo.Agrega(u, indice);
    p.enviado = u.enviado;
    while (flujo.Siguiente(p)) {
      // A new connection: what was left of the old one's answers never comes whole.
      if (p.enviado && p.payload.size() >= 2 && LeeU16(p.payload.data()) == CMD_CONNECT)
        recibido.Limpia();
      tcp.Ve(p);
    }
  }
  tcp.Reinicia();
  udp.Reinicia();
}

std::string EnmascaraCaptura(std::string_view texto) {
  std::vector<std::string_view> lineas;
  std::vector<UnidadCaptura> unidades;
  std::vector<long> unidadDe;  // per line: its unit, or -1 to keep the line as it is
  for (size_t i = 0; i < texto.size();) {
    const size_t fin = std::min(texto.find('\n', i), texto.size());
    lineas.push_back(texto.substr(i, fin - i));
    i = fin + 1;
    std::string error;
    auto u = LeeLineaCaptura(lineas.back(), error);
    unidadDe.push_back(u ? static_cast<long>(unidades.size()) : -1);
    if (u) unidades.push_back(std::move(*u));
  }
  EnmascaraClaves(unidades);
  std::string salida;
  salida.reserve(texto.size());
  for (size_t i = 0; i < lineas.size(); ++i) {
    if (unidadDe[i] < 0)
      salida += lineas[i];
    else
      salida += LineaDeCaptura(unidades[static_cast<size_t>(unidadDe[i])]);
    if (i + 1 < lineas.size() || texto.back() == '\n') salida += '\n';
  }
  return salida;
}

GrabadorCaptura::GrabadorCaptura(std::ostream& salida)
    : salida_(salida), inicio_(std::chrono::steady_clock::now()) {}

void GrabadorCaptura::Unidad(bool enviado, bool udp, const uint8_t* p, size_t n) {
  UnidadCaptura u;
  u.enviado = enviado;
  u.udp = udp;
  u.ms = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - inicio_)
                                   .count());
  u.cierre = n == 0;
  u.bytes.assign(p, p + n);
  // Flushed per line: a capture is for a clock that misbehaves, and the program may not end well.
  salida_ << LineaDeCaptura(u) << std::endl;
  ++unidades_;
}

void UltimosBytes::Unidad(bool enviado, bool udp, const uint8_t* p, size_t n) {
  Guardada g;
  g.u.enviado = enviado;
  g.u.udp = udp;
  g.u.ms = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - inicio_)
                                     .count());
  g.u.cierre = n == 0;
  if (n > porUnidad_) {
    // The end of a big unit is what tells where it went wrong.
    p += n - porUnidad_;
    n = porUnidad_;
    g.cortada = true;
  }
  g.u.bytes.assign(p, p + n);
  total_ += n;
  unidades_.push_back(std::move(g));
  while (total_ > maximo_ || unidades_.size() > maximo_) {
    total_ -= unidades_.front().u.bytes.size();
    unidades_.pop_front();
  }
}

void UltimosBytes::Limpia() {
  unidades_.clear();
  total_ = 0;
  inicio_ = std::chrono::steady_clock::now();
}

std::string UltimosBytes::Texto() const {
  std::string s;
  for (const auto& g : unidades_) {
    s += Linea(g.u, g.cortada);
    s += '\n';
  }
  return s;
}

}  // namespace lector::clock::zk
