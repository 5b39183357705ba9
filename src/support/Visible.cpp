#include "support/Visible.h"

#include <arpa/inet.h>

#include <cctype>

namespace lector {

std::string SinControles(const std::string& texto) {
  std::string r;
  r.reserve(texto.size());
  for (size_t i = 0; i < texto.size(); ++i) {
    const auto c = static_cast<unsigned char>(texto[i]);
    if (c == '\r' || c == '\n') {
      r += ' ';
    } else if (c < 0x20 || c == 0x7f) {
      r += '?';
    } else if (c == 0xC2 && i + 1 < texto.size() &&
               static_cast<unsigned char>(texto[i + 1]) <= 0x9F &&
               static_cast<unsigned char>(texto[i + 1]) >= 0x80) {
      r += '?';  // U+0080..U+009F: CSI and its kin on some terminals
      ++i;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

std::string Acotada(const std::string& texto, size_t maximo) {
  if (texto.size() <= maximo) return texto;
  size_t corte = maximo;
  while (corte > 0 && (static_cast<unsigned char>(texto[corte]) & 0xC0) == 0x80) --corte;
  return texto.substr(0, corte) + "… (" + std::to_string(texto.size()) + " bytes; recortado)";
}

bool EsIpv4(const std::string& texto) {
  in_addr a{};
  return texto.size() <= 15 && ::inet_pton(AF_INET, texto.c_str(), &a) == 1;
}

bool EsHttps(const std::string& url) {
  static const std::string kEsquema = "https://";
  if (url.size() < kEsquema.size()) return false;
  for (size_t i = 0; i < kEsquema.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(url[i])) != kEsquema[i]) return false;
  return true;
}

std::string AvisoSinCifrar(const std::string& url) {
  return "Atención: la dirección " + SinControles(url) +
         " no usa https://; el usuario y la contraseña viajarán sin cifrar por la red.";
}

}  // namespace lector
