#include "clock/Mantenimiento.h"

#include "clock/Caracteres.h"
#include "clock/ClockSdk.h"
#include "clock/Conexion.h"
#include "support/Falla.h"

namespace lector::clock {

std::string ComandoBM(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return TextoBooleano(false);
  return TextoBooleano(l.Sdk().ClearGLog(1));
}

std::string ComandoRE(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "0";
  l.Sdk().RestartDevice(1);
  return "1";
}

std::string ComandoTT(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "0";
  l.Sdk().Beep(2000);
  return "1";
}

std::string EstableceHora(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "0";
  const FechaHora f = l.reloj.Ahora();
  l.Sdk().SetDeviceTime2(1, f.anio, f.mes, f.dia, f.hora, f.minuto, f.segundo);
  return "1";
}

bool AsignaPrivilegio(Lector& l, const std::string& ip, const std::string& serial,
                      const std::string& enrolamiento) {
  if (!ConectaReloj(l, ip, serial)) return false;
  ClockSdk& sdk = l.Sdk();
  std::string nombre, clave;
  int32_t privilegio = 0;
  bool habilitado = false;
  sdk.SSR_GetUserInfo(1, enrolamiento, nombre, clave, privilegio, habilitado);
  return sdk.SSR_SetUserInfo(1, std::to_string(AEntero32(enrolamiento)),
                             PrimerosCaracteres(nombre, 20), clave, 3, true);
}

bool ComandoRA(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return false;
  return l.Sdk().ClearAdministrators(1);
}

}  // namespace lector::clock
