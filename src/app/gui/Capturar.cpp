#include "app/gui/Capturar.h"

#include <iostream>

#include "clock/CapturaReloj.h"

namespace lector::app {

namespace {

constexpr int kUsoIncorrecto = 64;  // EX_USAGE of sysexits.h

int Uso(const std::string& error) {
  std::cerr << "lector: " << error
            << "\nUso: lector --capturar IP [--puerto N] [--clave K] [--salida ARCHIVO]\n";
  return kUsoIncorrecto;
}

bool Numero(const std::string& texto, long long maximo, int32_t& valor) {
  if (texto.empty() || texto.size() > 10 || texto.find_first_not_of("0123456789") != texto.npos)
    return false;
  const long long v = std::stoll(texto);
  if (v > maximo) return false;
  valor = static_cast<int32_t>(v);
  return true;
}

}  // namespace

int Capturar(const std::vector<std::string>& a) {
  clock::OpcionesCaptura o;
  for (size_t i = 0; i < a.size(); ++i) {
    const bool conValor = i + 1 < a.size();
    if (a[i] == "--puerto" && conValor) {
      if (!Numero(a[++i], 65535, o.puerto) || o.puerto == 0) return Uso("puerto no válido");
    } else if (a[i] == "--clave" && conValor) {
      if (!Numero(a[++i], 999999, o.clave)) return Uso("clave no válida (hasta 6 cifras)");
    } else if (a[i] == "--salida" && conValor) {
      o.archivo = a[++i];
    } else if (o.ip.empty() && !a[i].starts_with("-")) {
      o.ip = a[i];
    } else {
      return Uso("argumento no válido: " + a[i]);
    }
  }
  if (o.ip.empty()) return Uso("falta la dirección del reloj");
  if (o.archivo.empty()) o.archivo = clock::NombreCaptura(o.ip);
  return clock::CapturaReloj(o, std::cout, std::cerr);
}

}  // namespace lector::app
