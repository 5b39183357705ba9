#include "clock/zk/Captura.h"

#include <algorithm>
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

void Hex(std::string& s, const uint8_t* p, size_t n, size_t auth) {
  static const char kDigitos[] = "0123456789abcdef";
  s.reserve(s.size() + 2 * n);
  for (size_t i = 0; i < n; ++i) {
    const bool clave =
        auth != std::string::npos && ((i >= auth + 2 && i < auth + 4) || i >= auth + kTamCabecera);
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
  Hex(s, p, u.bytes.size(), auth);
  return s;
}

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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
      u.bytes.push_back(0);
      u.enmascarada = true;
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
