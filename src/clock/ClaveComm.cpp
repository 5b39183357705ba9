#include "clock/ClaveComm.h"

#include "clock/ClockSdk.h"
#include "support/Ini.h"
#include "support/Log.h"
#include "support/Texto.h"
#include "support/Visible.h"

namespace lector::clock {

void PreparaClave(Lector& l, const std::string& serial) {
  l.Sdk().SetCommPassword(ClaveComunicacion(l, serial));
}

void AvisaSiClaveRechazada(Lector& l, const std::string& serial) {
  if (l.Sdk().UltimoError() != kClaveRechazada) return;
  auto& dichas = l.estado.ClavesRechazadas;
  if (EstaEnLista(dichas, serial)) return;
  if (dichas.empty()) dichas.emplace_back();
  dichas.insert(dichas.end() - 1, serial);
  const std::string texto = "Reloj " + SinControles(serial) + ": clave de comunicación rechazada";
  l.display.AddLog(texto);
  EscribeLog(l, texto);
}

}  // namespace lector::clock
