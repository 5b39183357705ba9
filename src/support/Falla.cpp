#include "support/Falla.h"

#include <cmath>
#include <filesystem>
#include <limits>

namespace lector {
namespace {

// Parses [blanks][sign]digits[.digits][blanks] (or .digits) exactly; anything else is 13.
double ParseNumero(const std::string& texto) {
  size_t i = 0, n = texto.size();
  auto blanco = [](char c) { return c == ' ' || c == '\t'; };
  while (i < n && blanco(texto[i])) ++i;
  while (n > i && blanco(texto[n - 1])) --n;
  if (i == n) throw Falla(kTipoIncompatible, "Tipos incompatibles: \"" + texto + "\"");
  bool negativo = false;
  if (texto[i] == '+' || texto[i] == '-') negativo = texto[i++] == '-';
  double valor = 0;
  bool digitos = false;
  for (; i < n && texto[i] >= '0' && texto[i] <= '9'; ++i) {
    valor = valor * 10 + (texto[i] - '0');
    digitos = true;
  }
  if (i < n && texto[i] == '.') {
    double escala = 0.1;
    for (++i; i < n && texto[i] >= '0' && texto[i] <= '9'; ++i, escala /= 10) {
      valor += (texto[i] - '0') * escala;
      digitos = true;
    }
  }
  if (!digitos || i != n) throw Falla(kTipoIncompatible, "Tipos incompatibles: \"" + texto + "\"");
  return negativo ? -valor : valor;
}

template <typename T>
T AEntero(const std::string& texto) {
  double v = std::nearbyint(ParseNumero(texto));  // default rounding mode: half to even
  if (v < static_cast<double>(std::numeric_limits<T>::min()) ||
      v > static_cast<double>(std::numeric_limits<T>::max()))
    throw Falla(kDesbordamiento, "Desbordamiento: \"" + texto + "\"");
  return static_cast<T>(v);
}

}  // namespace

int16_t AEntero16(const std::string& texto) {
  return AEntero<int16_t>(texto);
}
int32_t AEntero32(const std::string& texto) {
  return AEntero<int32_t>(texto);
}

float AReal(const std::string& texto) {
  double v = ParseNumero(texto);
  if (std::fabs(v) > std::numeric_limits<float>::max())
    throw Falla(kDesbordamiento, "Desbordamiento: \"" + texto + "\"");
  return static_cast<float>(v);
}

Falla FallaActual() {
  try {
    throw;
  } catch (const Falla& f) {
    return f;
  } catch (const std::bad_alloc&) {
    return Falla(kSinMemoria, "Memoria insuficiente");
  } catch (const std::filesystem::filesystem_error& f) {
    return Falla(kAccesoArchivo, f.what());
  } catch (const std::exception& f) {
    return Falla(kArgumentoInvalido, f.what());
  } catch (...) {
    return Falla(kArgumentoInvalido, "Error desconocido");
  }
}

}  // namespace lector
