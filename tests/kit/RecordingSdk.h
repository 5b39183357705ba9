#pragma once
// A ClockSdk that keeps every call with its arguments in order, as readable text such as
//   SSR_DeleteEnrollData(1,"7",12)
// (texts quoted, numbers in decimal, booleans True/False, out arguments left out), and answers
// from a script: the device's serial, firmware, records, users, cards, templates and faces,
// forced boolean results per member, and failures thrown per member.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
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
  using Textos = std::map<std::pair<std::string, int32_t>, std::string>;

  // --- Script ---
  bool conectable = true;   // Connect_Net's answer
  int32_t ultimoError = 0;  // UltimoError's answer
  std::string serial = "SERIAL1";
  std::string firmware = "Ver 6.60 Oct 29 2012";
  std::vector<Registro> registros;
  std::vector<Usuario> usuarios;
  // (enrolment, finger) -> template; Ex for GetUserTmpExStr, Ssr for SSR_GetUserTmpStr.
  Textos plantillasEx, plantillasSsr;
  std::map<std::string, std::string> caras;  // enrolment -> face (index 50)
  // Member name -> the boolean it answers, whatever the script above holds.
  std::map<std::string, bool> resultados;
  // Member name -> failure thrown when it is called (after the call is recorded).
  std::map<std::string, Falla> fallas;
  long lecturaQueFalla = 0;  // that SSR_GetGeneralLogData call throws failure 1003 (0: none)
  std::string caeEn;         // the connection drops at this member's call, which answers false
  // The clock's time GetDeviceTime answers (none: it answers false); MotivoDeFalla's answer.
  std::optional<std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t, int32_t>> horaReloj;
  std::string motivo;

  // --- What happened ---
  std::vector<std::string> llamadas;
  bool conectado = false;
  long lecturasRegistro = 0;  // SSR_GetGeneralLogData calls

  // The recorded calls whose text begins with the given member name followed by "(".
  std::vector<std::string> De(const std::string& miembro) const {
    std::vector<std::string> r;
    for (const auto& l : llamadas)
      if (l.rfind(miembro + "(", 0) == 0) r.push_back(l);
    return r;
  }
  // Forgets the recorded calls.
  void Olvida() { llamadas.clear(); }
  // The calls recorded since the last look, each after a blank: " Beep(2000) RefreshData(1)".
  std::string Recientes() {
    std::string r;
    for (const auto& l : llamadas) r += " " + l;
    Olvida();
    return r;
  }

  bool SetCommPassword(int32_t c) override { return Llamada(__func__, true, c); }
  bool Connect_Net(const std::string& ip, int32_t puerto) override {
    conectado = Llamada(__func__, conectable, ip, puerto);
    registrosCargados_ = usuariosCargados_ = false;
    return conectado;
  }
  void Disconnect() override {
    Llamada(__func__, true);
    conectado = false;
  }
  bool GetSerialNumber(int32_t m, std::string& s) override {
    return Da(Llamada(__func__, conectado, m), serial, s);
  }
  bool GetFirmwareVersion(int32_t m, std::string& v) override {
    return Da(Llamada(__func__, conectado, m), firmware, v);
  }
  bool ReadGeneralLogData(int32_t m) override {
    siguienteRegistro_ = 0;
    return registrosCargados_ = Llamada(__func__, conectado, m);
  }
  bool SSR_GetGeneralLogData(int32_t m, std::string& e, int32_t& v, int32_t& io, int32_t& a,
                             int32_t& me, int32_t& d, int32_t& h, int32_t& mi, int32_t& s,
                             int32_t& w) override {
    if (++lecturasRegistro == lecturaQueFalla) throw Falla(1003, "Conexion perdida");
    bool hay = Llamada(__func__, registrosCargados_ && siguienteRegistro_ < registros.size(), m);
    if (!hay || siguienteRegistro_ >= registros.size()) return false;
    const Registro& r = registros[siguienteRegistro_++];
    std::tie(e, v, io, a, me, d, h, mi, s, w) =
        std::tie(r.enrolamiento, r.modoVerificacion, r.modoEntradaSalida, r.anio, r.mes, r.dia,
                 r.hora, r.minuto, r.segundo, r.codigoTrabajo);
    return true;
  }
  bool ReadAllUserID(int32_t m) override {
    siguienteUsuario_ = 0;
    return usuariosCargados_ = Llamada(__func__, conectado, m);
  }
  bool SSR_GetAllUserInfo(int32_t m, std::string& e, std::string& nombre, std::string& clave,
                          int32_t& privilegio, bool& habilitado) override {
    bool hay = usuariosCargados_ && siguienteUsuario_ < usuarios.size();
    if (!Llamada(__func__, hay, m) || !hay) return false;
    e = usuarios[siguienteUsuario_].enrolamiento;
    return DaUsuario(&usuarios[siguienteUsuario_++], nombre, clave, privilegio, habilitado);
  }
  bool SSR_GetUserInfo(int32_t m, const std::string& e, std::string& nombre, std::string& clave,
                       int32_t& privilegio, bool& habilitado) override {
    const Usuario* u = nullptr;
    for (const auto& x : usuarios)
      if (!u && x.enrolamiento == e) u = &x;
    DaUsuario(nullptr, nombre, clave, privilegio, habilitado);
    bool ok = Llamada(__func__, conectado && u, m, e);
    return DaUsuario(ok ? u : nullptr, nombre, clave, privilegio, habilitado);
  }
  bool GetStrCardNumber(std::string& t) override {
    return Da(Llamada(__func__, conectado), tarjetaActual_, t);
  }
  bool SetStrCardNumber(const std::string& t) override { return Llamada(__func__, conectado, t); }
  bool SSR_SetUserInfo(int32_t m, const std::string& e, const std::string& nombre,
                       const std::string& clave, int32_t privilegio, bool habilitado) override {
    return Llamada(__func__, conectado, m, e, nombre, clave, privilegio, habilitado);
  }
  bool GetUserFaceStr(int32_t m, const std::string& e, int32_t i, std::string& cara,
                      int32_t& largo) override {
    return Guardado(__func__, caras, e, cara, largo, m, e, i);
  }
  bool SetUserFaceStr(int32_t m, const std::string& e, int32_t i, const std::string& cara,
                      int32_t largo) override {
    return Llamada(__func__, conectado, m, e, i, cara, largo);
  }
  bool GetUserTmpExStr(int32_t m, const std::string& e, int32_t d, int32_t& bandera, std::string& t,
                       int32_t& largo) override {
    bandera = Guardado(__func__, plantillasEx, {e, d}, t, largo, m, e, d);
    return bandera;
  }
  bool SSR_GetUserTmpStr(int32_t m, const std::string& e, int32_t d, std::string& t,
                         int32_t& largo) override {
    return Guardado(__func__, plantillasSsr, {e, d}, t, largo, m, e, d);
  }
  bool SetUserTmpExStr(int32_t m, const std::string& e, int32_t d, int32_t bandera,
                       const std::string& t) override {
    return Llamada(__func__, conectado, m, e, d, bandera, t);
  }
  bool SSR_SetUserTmpStr(int32_t m, const std::string& e, int32_t d,
                         const std::string& t) override {
    return Llamada(__func__, conectado, m, e, d, t);
  }
  bool DeleteEnrollData(int32_t m, int32_t e, int32_t me, int32_t respaldo) override {
    return Llamada(__func__, conectado, m, e, me, respaldo);
  }
  bool SSR_DeleteEnrollData(int32_t m, const std::string& e, int32_t respaldo) override {
    return Llamada(__func__, conectado, m, e, respaldo);
  }
  bool SSR_DeleteEnrollDataExt(int32_t m, const std::string& e, int32_t respaldo) override {
    return Llamada(__func__, conectado, m, e, respaldo);
  }
  bool RefreshData(int32_t m) override { return Llamada(__func__, conectado, m); }
  bool ClearGLog(int32_t m) override {
    const bool ok = Llamada(__func__, conectado, m);
    if (ok) registros.clear();
    return ok;
  }
  bool RestartDevice(int32_t m) override { return Llamada(__func__, conectado, m); }
  bool Beep(int32_t ms) override { return Llamada(__func__, conectado, ms); }
  bool SetDeviceTime2(int32_t m, int32_t a, int32_t me, int32_t d, int32_t h, int32_t mi,
                      int32_t s) override {
    return Llamada(__func__, conectado, m, a, me, d, h, mi, s);
  }
  bool ClearAdministrators(int32_t m) override { return Llamada(__func__, conectado, m); }
  bool Conectado() const override { return conectado; }
  bool DisableDeviceWithTimeOut(int32_t m, int32_t s) override {
    return Llamada(__func__, conectado, m, s);
  }
  bool EnableDevice(int32_t m, bool h) override { return Llamada(__func__, conectado, m, h); }
  bool GetDeviceTime(int32_t m, int32_t& a, int32_t& me, int32_t& d, int32_t& h, int32_t& mi,
                     int32_t& s) override {
    const bool ok = Llamada(__func__, conectado && horaReloj, m) && horaReloj;
    if (ok) std::tie(a, me, d, h, mi, s) = *horaReloj;
    return ok;
  }
  std::string MotivoDeFalla(const std::string&) override { return motivo; }
  int32_t UltimoError() override { return ultimoError; }

 private:
  static std::string A(int32_t n) { return std::to_string(n); }
  static std::string A(bool b) { return b ? "True" : "False"; }
  static std::string A(const std::string& s) { return "\"" + s + "\""; }

  // Records the call, throws the scripted failure, and answers the forced result or `normal`.
  template <typename... T>
  bool Llamada(const std::string& miembro, bool normal, const T&... argumentos) {
    std::string texto;
    ((texto += (texto.empty() ? "" : ",") + A(argumentos)), ...);
    llamadas.push_back(miembro + "(" + texto + ")");
    if (miembro == caeEn) return conectado = false;
    if (auto f = fallas.find(miembro); f != fallas.end()) throw f->second;
    if (auto r = resultados.find(miembro); r != resultados.end()) return r->second;
    return normal;
  }
  static bool Da(bool ok, const std::string& valor, std::string& salida) {
    salida = ok ? valor : "";
    return ok;
  }
  // A stored text (template, face): true only when connected and the key is in the script.
  template <typename M, typename... T>
  bool Guardado(const char* miembro, const M& mapa, const typename M::key_type& clave,
                std::string& t, int32_t& largo, const T&... argumentos) {
    auto it = mapa.find(clave);
    bool ok = Llamada(miembro, conectado && it != mapa.end(), argumentos...) && it != mapa.end();
    t = ok ? it->second : "";
    largo = static_cast<int32_t>(t.size());
    return ok;
  }
  bool DaUsuario(const Usuario* u, std::string& nombre, std::string& clave, int32_t& privilegio,
                 bool& habilitado) {
    nombre = u ? u->nombre : "";
    clave = u ? u->clave : "";
    privilegio = u ? u->privilegio : 0;
    habilitado = u && u->habilitado;
    tarjetaActual_ = u ? u->tarjeta : "";
    return u;
  }

  bool registrosCargados_ = false, usuariosCargados_ = false;
  size_t siguienteRegistro_ = 0, siguienteUsuario_ = 0;
  std::string tarjetaActual_;
};

// The calls `miembro(1,"e",d)` for d from `desde` to `hasta`, as Recientes shows them.
inline std::string PorDedo(const std::string& miembro, const std::string& e, int desde, int hasta) {
  std::string r;
  for (int d = desde; d <= hasta; ++d)
    r += " " + miembro + "(1,\"" + e + "\"," + std::to_string(d) + ")";
  return r;
}

}  // namespace lector::test
