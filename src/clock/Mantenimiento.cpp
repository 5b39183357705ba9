#include "clock/Mantenimiento.h"

#include "clock/Caracteres.h"
#include "clock/ClockSdk.h"
#include "clock/Conexion.h"
#include "clock/Marcaciones.h"
#include "support/Falla.h"

namespace lector::clock {
namespace {

// Long enough for two readings of the largest log; short enough that a clock left locked by a
// crash takes punches again within minutes.
constexpr int32_t kSegundosBloqueo = 180;
// Readings that may find new punches before the clear is given up.
constexpr int kRelecturas = 2;

}  // namespace

std::string LeeYBorra(Lector& l, int16_t numero, int16_t etiqueta, const std::string& relojId,
                      const std::string& ip, int16_t& conectado, const std::string& serial,
                      bool& borrado) {
  borrado = false;
  CompruebaRelojId(l, relojId);
  ClockSdk& sdk = l.Sdk();
  if (!ConectaReloj(l, ip, serial) ||
      !Confirma(l, serial, sdk.DisableDeviceWithTimeOut(1, kSegundosBloqueo)))
    return LeeReloj(l, numero, etiqueta, relojId, ip, conectado, serial);  // nothing is cleared

  Lectura lectura;
  lectura.callada = true;
  long long nuevos = 0;
  {
    struct Desbloquea {
      ClockSdk& sdk;
      ~Desbloquea() {
        if (sdk.Conectado()) sdk.EnableDevice(1, true);
      }
    } desbloquea{sdk};
    LeeReloj(l, numero, etiqueta, relojId, ip, conectado, serial, &lectura);
    nuevos = lectura.nuevos;
    for (int i = 0; i < kRelecturas && lectura.cargadas; ++i) {
      const long long escritos = lectura.leidos;
      LeeReloj(l, numero, etiqueta, relojId, ip, conectado, serial, &lectura);
      nuevos += lectura.nuevos;
      if (lectura.cargadas && lectura.nuevos == 0 && lectura.leidos == escritos) {
        borrado = ComandoBM(l, ip, serial) == "True";
        break;
      }
    }
  }
  if (!conectado) return "0";
  EnviaRespuestasDeLectura(l, relojId, lectura.leidos);
  return std::to_string(lectura.leidos) + "," + std::to_string(nuevos);
}

std::string ComandoBM(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return TextoBooleano(false);
  return TextoBooleano(Confirma(l, serial, l.Sdk().ClearGLog(1)));
}

std::string ComandoRE(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "0";
  const bool ok = l.Sdk().RestartDevice(1);
  DesconectaReloj(l, serial);
  return ok ? "1" : "0";
}

std::string ComandoTT(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "0";
  return Confirma(l, serial, l.Sdk().Beep(2000)) ? "1" : "0";
}

std::string EstableceHora(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return "0";
  const FechaHora f = l.reloj.Ahora();
  const bool ok = l.Sdk().SetDeviceTime2(1, f.anio, f.mes, f.dia, f.hora, f.minuto, f.segundo);
  return Confirma(l, serial, ok) ? "1" : "0";
}

bool AsignaPrivilegio(Lector& l, const std::string& ip, const std::string& serial,
                      const std::string& enrolamiento) {
  if (!ConectaReloj(l, ip, serial)) return false;
  ClockSdk& sdk = l.Sdk();
  std::string nombre, clave;
  int32_t privilegio = 0;
  bool habilitado = false;
  Confirma(l, serial, sdk.SSR_GetUserInfo(1, enrolamiento, nombre, clave, privilegio, habilitado));
  return Confirma(l, serial,
                  sdk.SSR_SetUserInfo(1, std::to_string(AEntero32(enrolamiento)),
                                      PrimerosCaracteres(nombre, 20), clave, 3, true));
}

bool ComandoRA(Lector& l, const std::string& ip, const std::string& serial) {
  if (!ConectaReloj(l, ip, serial)) return false;
  return Confirma(l, serial, l.Sdk().ClearAdministrators(1));
}

}  // namespace lector::clock
