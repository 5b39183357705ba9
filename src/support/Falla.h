#pragma once
// Failures: an exception with a stable number and a text, caught where an operation handles it.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace lector {

// Numbers follow the classic run-time codes so that log files read as they always have.
enum NumeroFalla : int {
  kArgumentoInvalido = 5,
  kDesbordamiento = 6,
  kSinMemoria = 7,
  kFueraDeRango = 9,
  kTipoIncompatible = 13,
  kTransitoria = 16,
  kArchivoNoEncontrado = 53,
  kAccesoArchivo = 75,
  kFallaReloj = 1000,       // clock protocol and socket failures: 1000 and up
  kConexionPerdida = 1001,  // the clock's connection broke in the middle of an operation
};

struct Falla : std::runtime_error {
  int numero;
  std::string descripcion;
  Falla(int n, std::string texto)
      : std::runtime_error(texto), numero(n), descripcion(std::move(texto)) {}
};

// The failure that the exception being handled stands for: a Falla as it is, a file-system error
// as 75, an allocation failure as 7, anything else as 5. Call only inside a catch block; the
// handlers of the cycle, the dispatcher and the task queue decide by its number.
Falla FallaActual();

// Text-to-number conversions. Blanks around the number are allowed, a decimal part is rounded
// half to even; a text that is not a number throws 13, one outside the type's range throws 6.
int16_t AEntero16(const std::string& texto);
int32_t AEntero32(const std::string& texto);
float AReal(const std::string& texto);

// A boolean written as text reads True or False.
inline const char* TextoBooleano(bool b) {
  return b ? "True" : "False";
}

}  // namespace lector
