#include "clock/AvisosReloj.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "clock/ClockSdk.h"
#include "support/Log.h"

namespace lector::clock {

namespace {

constexpr int64_t kDesfaseTolerado = 5 * 60;
constexpr int64_t kEntreAvisos = 60 * 60;

// Seconds on a calendar without zones (days from 1970-01-01, proleptic Gregorian).
int64_t Segundos(int anio, int mes, int dia, int hora, int minuto, int segundo) {
  const int64_t y = anio - (mes <= 2);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t ye = y - era * 400;
  const int64_t doy = (153 * (mes + (mes > 2 ? -3 : 9)) + 2) / 5 + dia - 1;
  const int64_t doe = ye * 365 + ye / 4 - ye / 100 + doy;
  const int64_t dias = era * 146097 + doe - 719468;
  return dias * 86400 + hora * 3600 + minuto * 60 + segundo;
}

void Linea(Lector& l, const std::string& texto) {
  l.display.AddLog(texto);
  EscribeLog(l, texto);
}

}  // namespace

void AvisaMotivo(Lector& l, const std::string& relojId, const std::string& ip) {
  const std::string motivo = l.Sdk().MotivoDeFalla(ip);
  if (!motivo.empty()) Linea(l, "Reloj " + relojId + ": " + motivo);
}

void AnotaIntercambio(Lector& l, const std::string& ip) {
  if (!l.estado.ModoLog) return;
  const std::string texto = l.Sdk().UltimoIntercambio();
  if (texto.empty()) return;
  EscribeLog(l, "Ultimo intercambio con " + ip + " (> enviado, < recibido, ms, hexadecimal):");
  for (size_t i = 0; i < texto.size();) {
    const size_t fin = std::min(texto.find('\n', i), texto.size());
    EscribeLog(l, texto.substr(i, fin - i));
    i = fin + 1;
  }
}

void RevisaHoraReloj(Lector& l, const std::string& relojId) {
  int32_t a = 0, me = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!l.Sdk().GetDeviceTime(0, a, me, d, h, mi, s)) return;
  const FechaHora f = l.reloj.Ahora();
  const int64_t aqui = Segundos(f.anio, f.mes, f.dia, f.hora, f.minuto, f.segundo);
  const int64_t desfase = std::llabs(Segundos(a, me, d, h, mi, s) - aqui);
  if (desfase <= kDesfaseTolerado) return;
  auto& ultimo = l.estado.AvisoHoraReloj;
  if (auto it = ultimo.find(relojId);
      it != ultimo.end() && aqui - it->second < kEntreAvisos && aqui >= it->second)
    return;
  ultimo[relojId] = aqui;
  Linea(l, "Reloj " + relojId + ": la hora del reloj difiere " +
               std::to_string((desfase + 30) / 60) + " min de la de este equipo");
}

}  // namespace lector::clock
