#pragma once
// The clock SDK surface: every member the clock operations use, named as the vendor SDK names
// them (dispatch ids in brackets). ZkSdk implements it over the clocks' protocol on TCP/UDP
// 4370; tests use a recording fake. A device or network refusal answers false (or empty), never
// throws; after a dropped connection every call answers false until the next Connect_Net.
#include <cstdint>
#include <string>

namespace lector::clock {

constexpr int32_t kPuertoReloj = 4370;

class ClockSdk {
 public:
  virtual ~ClockSdk() = default;

  // Comm key used by the next Connect_Net (0 = none).
  virtual bool SetCommPassword(int32_t clave) = 0;
  virtual bool Connect_Net(const std::string& ip, int32_t puerto) = 0;     // [39]
  virtual void Disconnect() = 0;                                           // [40]
  virtual bool GetSerialNumber(int32_t maquina, std::string& serial) = 0;  // [29]
  virtual bool GetFirmwareVersion(int32_t maquina, std::string& version) = 0;

  // Attendance records: load them all, then iterate from memory.
  virtual bool ReadGeneralLogData(int32_t maquina) = 0;  // [7]
  virtual bool SSR_GetGeneralLogData(int32_t maquina, std::string& enrolamiento,
                                     int32_t& modoVerificacion, int32_t& modoEntradaSalida,
                                     int32_t& anio, int32_t& mes, int32_t& dia, int32_t& hora,
                                     int32_t& minuto, int32_t& segundo,
                                     int32_t& codigoTrabajo) = 0;  // [145]

  // Users: load them all, then iterate from memory; single lookups from the same table.
  virtual bool ReadAllUserID(int32_t maquina) = 0;
  virtual bool SSR_GetAllUserInfo(int32_t maquina, std::string& enrolamiento, std::string& nombre,
                                  std::string& clave, int32_t& privilegio, bool& habilitado) = 0;
  virtual bool SSR_GetUserInfo(int32_t maquina, const std::string& enrolamiento,
                               std::string& nombre, std::string& clave, int32_t& privilegio,
                               bool& habilitado) = 0;  // [147]
  // Card of the user last returned / card the next SSR_SetUserInfo writes (decimal text).
  virtual bool GetStrCardNumber(std::string& tarjeta) = 0;  // [169]
  virtual bool SetStrCardNumber(const std::string& tarjeta) = 0;
  virtual bool SSR_SetUserInfo(int32_t maquina, const std::string& enrolamiento,
                               const std::string& nombre, const std::string& clave,
                               int32_t privilegio, bool habilitado) = 0;  // [151]

  // Faces and fingerprint templates, as Base64 text of the device's bytes.
  virtual bool GetUserFaceStr(int32_t maquina, const std::string& enrolamiento, int32_t indice,
                              std::string& cara, int32_t& largo) = 0;
  virtual bool SetUserFaceStr(int32_t maquina, const std::string& enrolamiento, int32_t indice,
                              const std::string& cara, int32_t largo) = 0;
  virtual bool GetUserTmpExStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                               int32_t& bandera, std::string& plantilla, int32_t& largo) = 0;
  virtual bool SSR_GetUserTmpStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                                 std::string& plantilla, int32_t& largo) = 0;
  virtual bool SetUserTmpExStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                               int32_t bandera, const std::string& plantilla) = 0;  // [238]
  virtual bool SSR_SetUserTmpStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                                 const std::string& plantilla) = 0;  // [153]

  // Deletions; backup number 12 removes the whole user.
  virtual bool DeleteEnrollData(int32_t maquina, int32_t enrolamiento, int32_t maquinaE,
                                int32_t respaldo) = 0;  // [4]
  virtual bool SSR_DeleteEnrollData(int32_t maquina, const std::string& enrolamiento,
                                    int32_t respaldo) = 0;  // [150]
  virtual bool SSR_DeleteEnrollDataExt(int32_t maquina, const std::string& enrolamiento,
                                       int32_t respaldo) = 0;  // [217]
  virtual bool RefreshData(int32_t maquina) = 0;

  // Maintenance.
  virtual bool ClearGLog(int32_t maquina) = 0;      // [36]
  virtual bool RestartDevice(int32_t maquina) = 0;  // [110]
  virtual bool Beep(int32_t milisegundos) = 0;      // [97]
  virtual bool SetDeviceTime2(int32_t maquina, int32_t anio, int32_t mes, int32_t dia, int32_t hora,
                              int32_t minuto, int32_t segundo) = 0;  // [108]
  virtual bool ClearAdministrators(int32_t maquina) = 0;             // [3]

  // False once the connection broke (closed, reset, no answer), until the next Connect_Net.
  virtual bool Conectado() const = 0;
  // Keypad and sensor locked for work that must see no punch in between; the device unlocks
  // itself after `segundos` when nobody enables it again (a crash or a lost link in the middle).
  // While locked this way, reads and clears leave the lock as it is.
  virtual bool DisableDeviceWithTimeOut(int32_t maquina, int32_t segundos) = 0;
  virtual bool EnableDevice(int32_t maquina, bool habilitar) = 0;  // [10]
  // The clock's own time.
  virtual bool GetDeviceTime(int32_t maquina, int32_t& anio, int32_t& mes, int32_t& dia,
                             int32_t& hora, int32_t& minuto, int32_t& segundo) = 0;
  // Ours, not the vendor's: why the last Connect_Net to `ip`, or the last read on it, failed,
  // as words for the activity list; empty when there is nothing better to say than "failed".
  // Told once: a later visit that never reaches the clock does not repeat an old reason.
  virtual std::string MotivoDeFalla(const std::string& ip) = 0;
  // Why the last Connect_Net answered false, when the clock said: kClaveRechazada when it
  // refused the communication key, else 0.
  virtual int32_t UltimoError() { return 0; }
  // Ours: the last bytes exchanged with the clock since the last Connect_Net, one capture line
  // per unit (clock/zk/Captura.h), for the log after a failure; empty when not kept.
  virtual std::string UltimoIntercambio() { return {}; }
};

constexpr int32_t kClaveRechazada = 1;

}  // namespace lector::clock
