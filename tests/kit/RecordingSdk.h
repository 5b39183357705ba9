#pragma once
// A ClockSdk that keeps every call with its arguments in order, as readable text such as
//   SSR_DeleteEnrollData(1,"7",12)
// (texts quoted, numbers in decimal, booleans True/False, out arguments left out), and answers
// from a script: the device's serial, firmware, records, users, cards, templates and faces,
// forced boolean results per member, and failures thrown per member.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "clock/ClockSdk.h"
#include "support/Falla.h"

namespace lector::test {

class RecordingSdk : public clock::ClockSdk {
 public:
  struct Registro {
    std::string enrolamiento;
    int32_t modoVerificacion = 1, modoEntradaSalida = 0;
    int32_t anio = 2026, mes = 3, dia = 3, hora = 8, minuto = 0, segundo = 0;
    int32_t codigoTrabajo = 0;
  };
  struct Usuario {
    std::string enrolamiento, nombre, clave;
    int32_t privilegio = 0;
    bool habilitado = true;
    std::string tarjeta;  // what GetStrCardNumber answers after this user was returned
  };

  // --- Script ---
  bool conectable = true;  // Connect_Net's answer
  std::string serial = "SERIAL1";
  std::string firmware = "Ver 6.60 Oct 29 2012";
  std::vector<Registro> registros;
  std::vector<Usuario> usuarios;
  // (enrolment, finger) -> template; Ex for GetUserTmpExStr, Ssr for SSR_GetUserTmpStr.
  std::map<std::pair<std::string, int32_t>, std::string> plantillasEx, plantillasSsr;
  std::map<std::string, std::string> caras;  // enrolment -> face (index 50)
  // Member name -> the boolean it answers, whatever the script above holds.
  std::map<std::string, bool> resultados;
  // Member name -> failure thrown when it is called (after the call is recorded).
  std::map<std::string, Falla> fallas;
  // SSR_GetGeneralLogData calls are many; they are counted but recorded only when true.
  bool registraLecturas = true;

  // --- What happened ---
  std::vector<std::string> llamadas;
  bool conectado = false;
  long lecturasRegistro = 0;  // SSR_GetGeneralLogData calls

  // The recorded calls whose text begins with the given member name followed by "(".
  std::vector<std::string> De(const std::string& miembro) const;
  // Forgets the recorded calls.
  void Olvida() { llamadas.clear(); }

  bool SetCommPassword(int32_t clave) override;
  bool Connect_Net(const std::string& ip, int32_t puerto) override;
  void Disconnect() override;
  bool GetSerialNumber(int32_t maquina, std::string& serial) override;
  bool GetFirmwareVersion(int32_t maquina, std::string& version) override;
  bool ReadGeneralLogData(int32_t maquina) override;
  bool SSR_GetGeneralLogData(int32_t maquina, std::string& enrolamiento, int32_t& modoVerificacion,
                             int32_t& modoEntradaSalida, int32_t& anio, int32_t& mes, int32_t& dia,
                             int32_t& hora, int32_t& minuto, int32_t& segundo,
                             int32_t& codigoTrabajo) override;
  bool ReadAllUserID(int32_t maquina) override;
  bool SSR_GetAllUserInfo(int32_t maquina, std::string& enrolamiento, std::string& nombre,
                          std::string& clave, int32_t& privilegio, bool& habilitado) override;
  bool SSR_GetUserInfo(int32_t maquina, const std::string& enrolamiento, std::string& nombre,
                       std::string& clave, int32_t& privilegio, bool& habilitado) override;
  bool GetStrCardNumber(std::string& tarjeta) override;
  bool SetStrCardNumber(const std::string& tarjeta) override;
  bool SSR_SetUserInfo(int32_t maquina, const std::string& enrolamiento, const std::string& nombre,
                       const std::string& clave, int32_t privilegio, bool habilitado) override;
  bool GetUserFaceStr(int32_t maquina, const std::string& enrolamiento, int32_t indice,
                      std::string& cara, int32_t& largo) override;
  bool SetUserFaceStr(int32_t maquina, const std::string& enrolamiento, int32_t indice,
                      const std::string& cara, int32_t largo) override;
  bool GetUserTmpExStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                       int32_t& bandera, std::string& plantilla, int32_t& largo) override;
  bool SSR_GetUserTmpStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                         std::string& plantilla, int32_t& largo) override;
  bool SetUserTmpExStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                       int32_t bandera, const std::string& plantilla) override;
  bool SSR_SetUserTmpStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                         const std::string& plantilla) override;
  bool DeleteEnrollData(int32_t maquina, int32_t enrolamiento, int32_t maquinaE,
                        int32_t respaldo) override;
  bool SSR_DeleteEnrollData(int32_t maquina, const std::string& enrolamiento,
                            int32_t respaldo) override;
  bool SSR_DeleteEnrollDataExt(int32_t maquina, const std::string& enrolamiento,
                               int32_t respaldo) override;
  bool RefreshData(int32_t maquina) override;
  bool ClearGLog(int32_t maquina) override;
  bool RestartDevice(int32_t maquina) override;
  bool Beep(int32_t milisegundos) override;
  bool SetDeviceTime2(int32_t maquina, int32_t anio, int32_t mes, int32_t dia, int32_t hora,
                      int32_t minuto, int32_t segundo) override;
  bool ClearAdministrators(int32_t maquina) override;

 private:
  // Records the call, throws the scripted failure, and answers the forced result or `normal`.
  bool Llamada(const std::string& miembro, const std::string& argumentos, bool normal);
  const Usuario* Busca(const std::string& enrolamiento) const;

  bool registrosCargados_ = false;
  size_t siguienteRegistro_ = 0;
  bool usuariosCargados_ = false;
  size_t siguienteUsuario_ = 0;
  std::string tarjetaActual_;
};

}  // namespace lector::test
