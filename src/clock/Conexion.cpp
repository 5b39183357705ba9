#include "clock/Conexion.h"

#include <exception>
#include <new>

#include "clock/AvisosReloj.h"
#include "clock/ClaveComm.h"
#include "clock/ClockSdk.h"
#include "support/Falla.h"
#include "support/Log.h"
#include "support/Texto.h"

namespace lector::clock {

namespace {

std::string SinEspacios(const std::string& s) {
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(' ');
  return s.substr(a, b - a + 1);
}

// Leaves the registry without `serial` and the SDK object disconnected.
void Olvida(Lector& l, const std::string& serial) {
  auto& registro = l.estado.ConnectionRegistry;
  if (EstaEnLista(registro, serial)) registro = QuitaDeLista(registro, serial);
  l.Sdk().Disconnect();
}

// A connection attempt drops whatever connection the SDK object held, also when it fails: the
// clock registered until then is no longer connected, and left registered it would be answered
// true unchecked while every call to it fails.
bool Conecta(Lector& l, const std::string& ip, const std::string& serial) {
  l.estado.ConnectionRegistry.clear();
  PreparaClave(l, serial);
  if (l.Sdk().Connect_Net(ip, kPuertoReloj)) return true;
  AnotaIntercambio(l, ip);
  AvisaSiClaveRechazada(l, serial);
  return false;
}

}  // namespace

bool ConectaReloj(Lector& l, const std::string& ip, const std::string& serial) {
  auto& registro = l.estado.ConnectionRegistry;
  if (EstaEnLista(registro, serial)) {
    if (l.Sdk().Conectado()) return true;
    registro.clear();  // the device closed it or it broke: connect and check again
  }

  bool resultado = false;
  bool verificado = false;  // the identity check ran to its end
  try {
    EscribeLog(l, "ConectaReloj " + ip + " - " + serial);
    l.display.SetLamp(kLampRojo);
    if (l.Alcance().MidePing(ip) >= 0 && Conecta(l, ip, serial)) {
      resultado = true;
      if (registro.size() < 2) registro.resize(2);
      registro[0] = serial;
      l.display.SetLamp(kLampVerde);

      std::string fisico;
      l.Sdk().GetSerialNumber(0, fisico);
      const std::string esperado = SinEspacios(serial);
      fisico = SinEspacios(fisico);
      if (esperado != fisico) {
        l.display.AddLog("El Serial de este reloj presenta inconsistencias.");
        l.display.AddLog("Serial esperado:" + esperado + ",Serial fisico:" + fisico);
        resultado = false;
        // Left registered, the next request for this entry would be answered true unchecked and
        // another device's records would be filed under this clock.
        Olvida(l, serial);
      }
    }
    verificado = true;
    EscribeLog(l, "ConectaReloj=" + std::string(TextoBooleano(resultado)));
  } catch (const std::exception& e) {
    // Failures of ours and of memory keep their numbers; anything else came from the clock link.
    const bool propia = dynamic_cast<const Falla*>(&e) || dynamic_cast<const std::bad_alloc*>(&e);
    const Falla f = propia ? FallaActual() : Falla(kFallaReloj, e.what());
    const int numero = f.numero;
    const std::string& descripcion = f.descripcion;
    EscribeLog(l, "Error en ConectaReloj " + descripcion + " (" + std::to_string(numero) + ")");
    l.display.AddLog(descripcion + " (" + std::to_string(numero) + ")");
    l.display.AddLog("Error conectando a " + ip);
    if (resultado && !verificado) {
      // Connected but the serial was never confirmed: not a usable connection.
      resultado = false;
      try {
        Olvida(l, serial);
      } catch (const std::exception&) {
      }
    }
  }
  return resultado;
}

bool Confirma(Lector& l, const std::string& serial, bool respuesta) {
  if (l.Sdk().Conectado()) return respuesta;
  Olvida(l, serial);
  throw Falla(kConexionPerdida, "Se perdió la conexión con el reloj");
}

void SueltaReloj(Lector& l) {
  if (l.estado.ConnectionRegistry.empty()) return;
  l.estado.ConnectionRegistry.clear();
  l.Sdk().Disconnect();
}

void DesconectaReloj(Lector& l, const std::string& serial) {
  auto& registro = l.estado.ConnectionRegistry;
  if (!EstaEnLista(registro, serial)) return;
  registro = QuitaDeLista(registro, serial);
  l.Sdk().Disconnect();
}

}  // namespace lector::clock
