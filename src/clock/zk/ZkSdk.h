#pragma once
// ZkSdk: the clock SDK surface spoken over the clocks' own protocol (ZkProtocolo.h).
//
// Transport: TCP to the given port first; when the TCP connection is refused, or taken and never
// answered (that clock then goes straight to UDP from then on), the same exchange over UDP. One
// connection at a time. Every request waits for its answer up to the time-out
// given to the constructor (5 s by default), except the preparation of a bulk read (up to 60 s:
// a full log takes a clock a while) and our face commands (1 s, and no answer leaves the
// connection up: real clocks may ignore them). Bulk reads (records, users) ask for one chunk at
// a time (65 472 bytes on TCP, 16 KiB on UDP), each chunk with its own time-out and up to three
// tries; a chunk must come whole: a UDP datagram lost, repeated or overtaken makes that try
// fail, and a chunk that three tries cannot complete fails the whole read. A broken connection
// (closed, reset, garbage, no answer) makes every later call answer false (or empty) until the
// next Connect_Net; nothing throws for a device or network refusal. Checksums are computed on
// what we send; on what we receive a mismatch is only reported (once per connection), as the
// clients used with real clocks do not check it at all.
//
// Transport quirks of real clocks: a TCP connection taken but never answered is tried again
// over UDP; chunks may come as many DATA packets (of 1 008 bytes) in small TCP segments, with
// their session field counting packets and the closing ACK_OK late or carrying anything: only
// reply ids tie answers to requests.
//
// Record layout: the record count is read with the clock disabled, and the layout (40, 49, 16
// or 8 bytes) is the one the records read as, the count choosing among those that do (a count
// of 0, none, or one that a clock taking punches while disabled got wrong); when none reads,
// the read fails. Never records decoded across their boundaries.
//
// Failures worth a line for the user (an encrypted session, a refused comm key, a clock that
// answers on neither transport, records in no known layout) are kept for MotivoDeFalla.
//
// Memory: the records of ReadGeneralLogData stay as the device's raw bytes and are decoded one
// at a time by SSR_GetGeneralLogData, so a read takes little more than the data set itself
// (32 MiB at most); they are released when the last record has been given.
// Users (a few thousand at most) are decoded once and kept for the lookups of this connection.
//
// Text: in memory every text is UTF-8. Names and passwords on the device are 8-bit bytes. On
// reading, bytes that form valid UTF-8 are taken as UTF-8 (firmware set to a Unicode language
// stores them so), anything else as Windows-1252. On writing, texts go to the device in
// Windows-1252 (as the vendor SDK does on a Spanish Windows system; characters without a
// Windows-1252 form become "?"), unless the users read from this clock show it keeps its
// non-ASCII names in UTF-8, in which case they go in UTF-8. Either way the text is cut to the
// field: 23 bytes of name and 8 of password in 72-byte user records, 8 and 5 in 28-byte ones.
//
// Enrolment numbers are compared as text; when no user has exactly that text, a decimal number
// matches the user with the same value ("0042" finds "42"), since clocks hold numbers.
//
// Templates and faces travel as Base64 text of the device's bytes; their length out values are
// the byte counts. Faces are read as face clocks give them (cmd 150, a 2 576-byte record), else
// by our extension (CMD_FACE_RRQ), and written by our extension (CMD_FACE_WRQ); a clock that
// knows neither answers ACK_UNKNOWN, which reads as "no face" / false.
//
// The card number is one value, as in the vendor SDK: user reads set it to the card of the user
// returned (0 when they return none), SetStrCardNumber sets it, SSR_SetUserInfo writes it. It
// starts unset at each Connect_Net; unset, SSR_SetUserInfo keeps the user's card (0 for a new
// user).
//
// Wire: every unit sent and received goes to the optional Escucha (a capture), and its last
// 4 KiB stay for UltimoIntercambio, so that a failed reading can leave its evidence in the log.
#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "clock/ClockSdk.h"
#include "clock/zk/Captura.h"
#include "clock/zk/ZkProtocolo.h"
#include "support/Parada.h"

namespace lector::clock::zk {

class ZkSdk : public ClockSdk {
 public:
  explicit ZkSdk(std::chrono::milliseconds espera = std::chrono::seconds(5));
  ~ZkSdk() override;
  ZkSdk(const ZkSdk&) = delete;
  ZkSdk& operator=(const ZkSdk&) = delete;

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
  bool Conectado() const override { return conectado_; }
  bool DisableDeviceWithTimeOut(int32_t maquina, int32_t segundos) override;
  bool EnableDevice(int32_t maquina, bool habilitar) override;
  bool GetDeviceTime(int32_t maquina, int32_t& anio, int32_t& mes, int32_t& dia, int32_t& hora,
                     int32_t& minuto, int32_t& segundo) override;
  std::string MotivoDeFalla(const std::string& ip) override;
  int32_t UltimoError() override { return ultimoError_; }
  std::string UltimoIntercambio() override { return ultimos_.Texto(); }

  // Where the one warning per connection about a received checksum goes (standard error when
  // unset).
  void PoneBitacora(std::function<void(const std::string&)> f) { bitacora_ = std::move(f); }

  // Sees every unit on the wire from now on (nullptr: none); not owned.
  void PoneEscucha(Escucha* e) { escucha_ = e; }
  // The clock's counts as last read (with a bulk read), for a capture's summary.
  const std::optional<Capacidades>& CapacidadesLeidas() const { return capacidades_; }

  // State, for tests and tools.
  bool PorUdp() const { return udp_; }
  size_t CuentaMarcaciones() const { return tamMarcacion_ ? largoMarcaciones_ / tamMarcacion_ : 0; }
  size_t TamMarcacion() const { return tamMarcacion_; }
  size_t TamUsuario() const { return tamUsuario_; }
  // Every wait for the device also ends on this stop request, as a time-out does.
  void FijaParada(const Parada* parada) { parada_ = parada; }

 private:
  // Transport.
  bool AbreTcp(uint32_t ip, uint16_t puerto, bool& rechazado);
  bool AbreUdp(uint32_t ip, uint16_t puerto);
  bool Saluda();
  void Rompe();
  void LiberaMarcaciones();
  // Keeps the first reason of a failure worth telling, for MotivoDeFalla.
  void AnotaMotivo(std::string motivo);
  bool EnviaTodo(const uint8_t* p, size_t n);
  std::optional<uint16_t> Envia(uint16_t comando, const Bytes& datos);
  // The next packet answering request `id`, or nullopt at the deadline (the connection stays)
  // or on a broken connection (closed first).
  std::optional<Paquete> Recibe(uint16_t id, std::chrono::steady_clock::time_point limite);
  std::optional<Paquete> SiguientePaquete(std::chrono::steady_clock::time_point limite);
  // After a read that brought nothing: waits for more until the limit. False on a time-out, or
  // on a socket error (the connection is then broken).
  bool EsperaMas(std::chrono::steady_clock::time_point limite);
  // poll() on the socket and the stop request: > 0 when the socket is ready, 0 at the limit or
  // on a stop, < 0 on an error (errno set).
  int EsperaSocket(short eventos, std::chrono::steady_clock::time_point limite);
  // One request and its (first) answer; no answer in time breaks the connection (unless not
  // `rompe`).
  std::optional<Paquete> Pide(uint16_t comando, const Bytes& datos,
                              std::chrono::milliseconds espera, bool rompe = true);
  std::optional<Paquete> Pide(uint16_t comando, const Bytes& datos = {}) {
    return Pide(comando, datos, espera_);
  }
  bool PideOk(uint16_t comando, const Bytes& datos = {});
  // The lock around a bulk read or write; nothing to do while the caller holds the device locked.
  bool Deshabilita() { return bloqueado_ || PideOk(CMD_DISABLEDEVICE); }
  bool Habilita() { return bloqueado_ || PideOk(CMD_ENABLEDEVICE); }
  // A face command: ACK_OK within a second; no answer leaves the connection as it was.
  bool PideCara(uint16_t comando, const Bytes& datos);
  void RevisaChecksum(const uint8_t* payload, size_t n);
  void Anota(bool enviado, const uint8_t* p, size_t n) {
    ultimos_.Unidad(enviado, udp_, p, n);
    if (escucha_) escucha_->Unidad(enviado, udp_, p, n);
  }

  // Transfers.
  std::optional<Bytes> LeeMasivo(const PeticionMasiva& peticion);
  // Appends one whole chunk of tam bytes to destino; false after three tries that lost, repeated
  // or reordered a packet, or got no answer (the connection is then broken).
  bool LeeTrozo(uint32_t inicio, uint32_t tam, Bytes& destino);
  // A single item (template, face) within `espera`; no answer breaks the connection when `rompe`.
  std::optional<Bytes> LeeUnico(uint16_t comando, const Bytes& datos,
                                std::chrono::milliseconds espera, bool rompe);
  bool Sube(const Bytes& datos);
  std::optional<Capacidades> LeeCapacidades();

  // Users.
  bool LeeUsuarios();
  bool AseguraUsuarios();
  const UsuarioZk* BuscaUsuario(const std::string& enrolamiento) const;
  bool EscribeUsuario(const UsuarioZk& u);
  void EntregaUsuario(const UsuarioZk& u, std::string& nombre, std::string& clave,
                      int32_t& privilegio, bool& habilitado);
  // A single template or face of a user (uid from the user table, one index byte), as Base64.
  bool LeePorIndice(uint16_t comando, const std::string& enrolamiento, int32_t indice,
                    std::string& texto, int32_t& largo);
  bool EscribePlantilla(const std::string& enrolamiento, int32_t dedo, int32_t bandera,
                        const std::string& plantilla);
  bool BorraCara(uint16_t uid, uint8_t indice);
  bool Borra(const std::string& enrolamiento, int32_t respaldo);

  std::chrono::milliseconds espera_;
  const Parada* parada_ = nullptr;
  std::function<void(const std::string&)> bitacora_;
  Escucha* escucha_ = nullptr;
  UltimosBytes ultimos_;
  std::optional<Capacidades> capacidades_;
  bool avisoChecksum_ = false;
  std::string motivo_, ipMotivo_;
  bool recibioAlgo_ = false;  // some byte came from the device since Connect_Net began
  std::set<std::pair<uint32_t, uint16_t>> soloUdp_;  // clocks whose TCP port never answers
  int32_t ultimoError_ = 0;  // why the last Connect_Net failed, when the clock said
  uint32_t claveComm_ = 0;
  int fd_ = -1;
  bool udp_ = false;
  bool conectado_ = false;
  bool bloqueado_ = false;  // locked by DisableDeviceWithTimeOut until EnableDevice
  uint16_t sesion_ = 0;
  uint16_t idRespuesta_ = 0;
  Bytes rx_;             // TCP bytes received and not yet taken
  size_t rxInicio_ = 0;  // first byte of rx_ not yet taken

  // Attendance records as the device sent them: the data set, its records from byte 4.
  Bytes marcaciones_;
  size_t largoMarcaciones_ = 0;
  size_t tamMarcacion_ = 0;
  size_t cursorMarcacion_ = 0;

  std::vector<UsuarioZk> usuarios_;
  std::vector<int32_t> indiceUid_;  // uid -> position in usuarios_ (-1 none); empty = not built
  bool usuariosLeidos_ = false;
  bool utf8Dispositivo_ = false;  // the users read keep non-ASCII names in UTF-8
  size_t tamUsuario_ = 0;
  size_t cursorUsuario_ = 0;
  std::optional<uint32_t> tarjeta_;
};

}  // namespace lector::clock::zk
