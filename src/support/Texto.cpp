#include "support/Texto.h"

#include <cstdio>

namespace lector {

std::string ParJson(const std::string& nombre, const std::string& valor) {
  std::string out = "\"" + nombre + "\":\"";
  out.reserve(out.size() + valor.size() + 1);
  for (char ch : valor) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char u[8];
          std::snprintf(u, sizeof u, "\\u%04x", c);
          out += u;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

std::string ListaJson(const std::string& items) {
  return "[" + (items.empty() ? std::string() : items.substr(1)) + "]";
}

std::string Campo(const std::string& texto, long n, const std::string& separador) {
  const std::string sep = separador.empty() ? ";" : separador;
  if (texto.empty()) return "";
  size_t p = texto.find(sep);
  if (p == std::string::npos) return texto;
  size_t inicio = 0;  // start of the current field
  long cuenta = 0;
  while (p != std::string::npos) {
    if (++cuenta == n) {
      // With overlapping occurrences of a separator such as "aa" the next occurrence can begin
      // before the field does; that field is empty.
      return p >= inicio ? texto.substr(inicio, p - inicio) : std::string();
    }
    inicio = p + sep.size();
    if (p + 1 >= texto.size()) return texto;  // a one-character separator ends the text
    p = texto.find(sep, p + 1);
  }
  return inicio <= texto.size() ? texto.substr(inicio) : std::string();
}

long CuentaCampos(const std::string& texto, const std::string& separador) {
  const std::string sep = separador.empty() ? ";" : separador;
  long cuenta = 1;
  for (size_t p = texto.find(sep); p != std::string::npos; p = texto.find(sep, p + 1)) ++cuenta;
  return cuenta;
}

bool EstaEnLista(const std::vector<std::string>& lista, const std::string& valor) {
  for (size_t i = 0; i + 1 < lista.size(); ++i)
    if (lista[i] == valor) return true;
  return false;
}

std::vector<std::string> QuitaDeLista(const std::vector<std::string>& lista,
                                      const std::string& valor) {
  std::vector<std::string> nueva;
  for (size_t i = 0; i + 1 < lista.size(); ++i)
    if (lista[i] != valor) nueva.push_back(lista[i]);
  nueva.emplace_back();
  return nueva;
}

bool EstaEnRecientes(const Lector& l, const std::string& registro, long p) {
  const auto& lineas = l.estado.LineasLeidas;
  size_t inicio = p > 10 ? static_cast<size_t>(p - 10) : 0;
  for (size_t i = inicio; i + 1 < lineas.size(); ++i)
    if (lineas[i] == registro) return true;
  return false;
}

}  // namespace lector
