#include "kit/RecordingSdk.h"

namespace lector::test {

namespace {

std::string A(int32_t n) {
  return std::to_string(n);
}
std::string A(const std::string& s) {
  return "\"" + s + "\"";
}
std::string B(bool b) {
  return b ? "True" : "False";
}

template <typename... T>
std::string Args(const T&... partes) {
  std::string r;
  ((r += (r.empty() ? "" : ",") + partes), ...);
  return r;
}

}  // namespace

std::vector<std::string> RecordingSdk::De(const std::string& miembro) const {
  std::vector<std::string> r;
  for (const auto& l : llamadas)
    if (l.rfind(miembro + "(", 0) == 0) r.push_back(l);
  return r;
}

bool RecordingSdk::Llamada(const std::string& miembro, const std::string& argumentos, bool normal) {
  llamadas.push_back(miembro + "(" + argumentos + ")");
  if (auto f = fallas.find(miembro); f != fallas.end()) throw f->second;
  if (auto r = resultados.find(miembro); r != resultados.end()) return r->second;
  return normal;
}

const RecordingSdk::Usuario* RecordingSdk::Busca(const std::string& enrolamiento) const {
  for (const auto& u : usuarios)
    if (u.enrolamiento == enrolamiento) return &u;
  return nullptr;
}

bool RecordingSdk::SetCommPassword(int32_t clave) {
  return Llamada("SetCommPassword", A(clave), true);
}

bool RecordingSdk::Connect_Net(const std::string& ip, int32_t puerto) {
  conectado = Llamada("Connect_Net", Args(A(ip), A(puerto)), conectable);
  registrosCargados_ = usuariosCargados_ = false;
  return conectado;
}

void RecordingSdk::Disconnect() {
  Llamada("Disconnect", "", true);
  conectado = false;
}

bool RecordingSdk::GetSerialNumber(int32_t maquina, std::string& s) {
  s.clear();
  bool ok = Llamada("GetSerialNumber", A(maquina), conectado);
  if (ok) s = serial;
  return ok;
}

bool RecordingSdk::GetFirmwareVersion(int32_t maquina, std::string& version) {
  version.clear();
  bool ok = Llamada("GetFirmwareVersion", A(maquina), conectado);
  if (ok) version = firmware;
  return ok;
}

bool RecordingSdk::ReadGeneralLogData(int32_t maquina) {
  registrosCargados_ = Llamada("ReadGeneralLogData", A(maquina), conectado);
  siguienteRegistro_ = 0;
  return registrosCargados_;
}

bool RecordingSdk::SSR_GetGeneralLogData(int32_t maquina, std::string& enrolamiento,
                                         int32_t& modoVerificacion, int32_t& modoEntradaSalida,
                                         int32_t& anio, int32_t& mes, int32_t& dia, int32_t& hora,
                                         int32_t& minuto, int32_t& segundo,
                                         int32_t& codigoTrabajo) {
  ++lecturasRegistro;
  bool hay = registrosCargados_ && siguienteRegistro_ < registros.size();
  if (registraLecturas || !hay) {
    hay = Llamada("SSR_GetGeneralLogData", A(maquina), hay);
  } else if (auto f = fallas.find("SSR_GetGeneralLogData"); f != fallas.end()) {
    throw f->second;
  }
  if (!hay || siguienteRegistro_ >= registros.size()) return false;
  const Registro& r = registros[siguienteRegistro_++];
  enrolamiento = r.enrolamiento;
  modoVerificacion = r.modoVerificacion;
  modoEntradaSalida = r.modoEntradaSalida;
  anio = r.anio;
  mes = r.mes;
  dia = r.dia;
  hora = r.hora;
  minuto = r.minuto;
  segundo = r.segundo;
  codigoTrabajo = r.codigoTrabajo;
  return true;
}

bool RecordingSdk::ReadAllUserID(int32_t maquina) {
  usuariosCargados_ = Llamada("ReadAllUserID", A(maquina), conectado);
  siguienteUsuario_ = 0;
  return usuariosCargados_;
}

bool RecordingSdk::SSR_GetAllUserInfo(int32_t maquina, std::string& enrolamiento,
                                      std::string& nombre, std::string& clave, int32_t& privilegio,
                                      bool& habilitado) {
  bool hay = Llamada("SSR_GetAllUserInfo", A(maquina),
                     usuariosCargados_ && siguienteUsuario_ < usuarios.size());
  if (!hay || siguienteUsuario_ >= usuarios.size()) return false;
  const Usuario& u = usuarios[siguienteUsuario_++];
  enrolamiento = u.enrolamiento;
  nombre = u.nombre;
  clave = u.clave;
  privilegio = u.privilegio;
  habilitado = u.habilitado;
  tarjetaActual_ = u.tarjeta;
  return true;
}

bool RecordingSdk::SSR_GetUserInfo(int32_t maquina, const std::string& enrolamiento,
                                   std::string& nombre, std::string& clave, int32_t& privilegio,
                                   bool& habilitado) {
  const Usuario* u = Busca(enrolamiento);
  nombre.clear();
  clave.clear();
  privilegio = 0;
  habilitado = false;
  tarjetaActual_.clear();
  bool ok = Llamada("SSR_GetUserInfo", Args(A(maquina), A(enrolamiento)), conectado && u);
  if (!ok || !u) return false;
  nombre = u->nombre;
  clave = u->clave;
  privilegio = u->privilegio;
  habilitado = u->habilitado;
  tarjetaActual_ = u->tarjeta;
  return true;
}

bool RecordingSdk::GetStrCardNumber(std::string& tarjeta) {
  tarjeta.clear();
  bool ok = Llamada("GetStrCardNumber", "", conectado);
  if (ok) tarjeta = tarjetaActual_;
  return ok;
}

bool RecordingSdk::SetStrCardNumber(const std::string& tarjeta) {
  return Llamada("SetStrCardNumber", A(tarjeta), conectado);
}

bool RecordingSdk::SSR_SetUserInfo(int32_t maquina, const std::string& enrolamiento,
                                   const std::string& nombre, const std::string& clave,
                                   int32_t privilegio, bool habilitado) {
  return Llamada(
      "SSR_SetUserInfo",
      Args(A(maquina), A(enrolamiento), A(nombre), A(clave), A(privilegio), B(habilitado)),
      conectado);
}

bool RecordingSdk::GetUserFaceStr(int32_t maquina, const std::string& enrolamiento, int32_t indice,
                                  std::string& cara, int32_t& largo) {
  cara.clear();
  largo = 0;
  auto it = caras.find(enrolamiento);
  bool ok = Llamada("GetUserFaceStr", Args(A(maquina), A(enrolamiento), A(indice)),
                    conectado && it != caras.end());
  if (!ok || it == caras.end()) return false;
  cara = it->second;
  largo = static_cast<int32_t>(cara.size());
  return true;
}

bool RecordingSdk::SetUserFaceStr(int32_t maquina, const std::string& enrolamiento, int32_t indice,
                                  const std::string& cara, int32_t largo) {
  return Llamada("SetUserFaceStr", Args(A(maquina), A(enrolamiento), A(indice), A(cara), A(largo)),
                 conectado);
}

bool RecordingSdk::GetUserTmpExStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                                   int32_t& bandera, std::string& plantilla, int32_t& largo) {
  plantilla.clear();
  largo = 0;
  bandera = 0;
  auto it = plantillasEx.find({enrolamiento, dedo});
  bool ok = Llamada("GetUserTmpExStr", Args(A(maquina), A(enrolamiento), A(dedo)),
                    conectado && it != plantillasEx.end());
  if (!ok || it == plantillasEx.end()) return false;
  plantilla = it->second;
  largo = static_cast<int32_t>(plantilla.size());
  bandera = 1;
  return true;
}

bool RecordingSdk::SSR_GetUserTmpStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                                     std::string& plantilla, int32_t& largo) {
  plantilla.clear();
  largo = 0;
  auto it = plantillasSsr.find({enrolamiento, dedo});
  bool ok = Llamada("SSR_GetUserTmpStr", Args(A(maquina), A(enrolamiento), A(dedo)),
                    conectado && it != plantillasSsr.end());
  if (!ok || it == plantillasSsr.end()) return false;
  plantilla = it->second;
  largo = static_cast<int32_t>(plantilla.size());
  return true;
}

bool RecordingSdk::SetUserTmpExStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                                   int32_t bandera, const std::string& plantilla) {
  return Llamada("SetUserTmpExStr",
                 Args(A(maquina), A(enrolamiento), A(dedo), A(bandera), A(plantilla)), conectado);
}

bool RecordingSdk::SSR_SetUserTmpStr(int32_t maquina, const std::string& enrolamiento, int32_t dedo,
                                     const std::string& plantilla) {
  return Llamada("SSR_SetUserTmpStr", Args(A(maquina), A(enrolamiento), A(dedo), A(plantilla)),
                 conectado);
}

bool RecordingSdk::DeleteEnrollData(int32_t maquina, int32_t enrolamiento, int32_t maquinaE,
                                    int32_t respaldo) {
  return Llamada("DeleteEnrollData", Args(A(maquina), A(enrolamiento), A(maquinaE), A(respaldo)),
                 conectado);
}

bool RecordingSdk::SSR_DeleteEnrollData(int32_t maquina, const std::string& enrolamiento,
                                        int32_t respaldo) {
  return Llamada("SSR_DeleteEnrollData", Args(A(maquina), A(enrolamiento), A(respaldo)), conectado);
}

bool RecordingSdk::SSR_DeleteEnrollDataExt(int32_t maquina, const std::string& enrolamiento,
                                           int32_t respaldo) {
  return Llamada("SSR_DeleteEnrollDataExt", Args(A(maquina), A(enrolamiento), A(respaldo)),
                 conectado);
}

bool RecordingSdk::RefreshData(int32_t maquina) {
  return Llamada("RefreshData", A(maquina), conectado);
}

bool RecordingSdk::ClearGLog(int32_t maquina) {
  return Llamada("ClearGLog", A(maquina), conectado);
}

bool RecordingSdk::RestartDevice(int32_t maquina) {
  return Llamada("RestartDevice", A(maquina), conectado);
}

bool RecordingSdk::Beep(int32_t milisegundos) {
  return Llamada("Beep", A(milisegundos), conectado);
}

bool RecordingSdk::SetDeviceTime2(int32_t maquina, int32_t anio, int32_t mes, int32_t dia,
                                  int32_t hora, int32_t minuto, int32_t segundo) {
  return Llamada("SetDeviceTime2",
                 Args(A(maquina), A(anio), A(mes), A(dia), A(hora), A(minuto), A(segundo)),
                 conectado);
}

bool RecordingSdk::ClearAdministrators(int32_t maquina) {
  return Llamada("ClearAdministrators", A(maquina), conectado);
}

}  // namespace lector::test
