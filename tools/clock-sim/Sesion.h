#pragma once
// The device side of one client's session, without sockets: a request packet in, the packets
// of its answer out. The server (Emulador) owns the sockets, the faults and the pacing; this
// part is what a fuzzer can drive directly.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clock-sim/Estado.h"

namespace clocksim {

enum class Transporte { kTcp, kUdp };

// Data sets up to this size are answered inline (CMD_DATA right after CMD_DATA_WRRQ), as
// devices do with small sets; larger ones are announced and read in chunks.
constexpr size_t kMaxConjuntoEnLinea = 1024;
// Most a client may upload into the device's buffer (templates and faces are a few KB).
constexpr size_t kMaxSubida = 16u * 1024 * 1024;
// Most one CMD_DATA_RDY chunk may ask for.
constexpr uint32_t kMaxTrozo = 4u * 1024 * 1024;

// One packet of an answer.
struct Salida {
  uint16_t codigo = 0;
  zk::Bytes datos;
  bool transferencia = false;  // part of a data transfer (bulk chunk, template, face)
  int32_t sesion = -1;         // the session field, when not the session's (-1)
  int32_t idRespuesta = -1;    // the reply id, when not the request's (-1)
  bool diferir = false;        // goes out only ahead of the answer to the next request
};

struct Respuesta {
  std::vector<Salida> paquetes;  // each goes out in its own write
  bool cerrar = false;           // close the connection once they are out
  std::string detalle;           // for the log: what the command did
};

// Command and reply names for the log ("CMD_OPTIONS_RRQ"); the number for unknown ones.
std::string NombreCodigo(uint16_t codigo);

class Sesion {
 public:
  Sesion(Transporte t, uint16_t id) : transporte_(t), id_(id) {}

  // Carries out one request against the device state (the caller holds its lock).
  Respuesta Atiende(EstadoReloj& e, const zk::Paquete& p);

  // The session id replies carry: the device's once connected, the request's before.
  uint16_t IdPara(const zk::Paquete& p) const { return conectada_ ? id_ : p.sesion; }
  uint16_t Id() const { return id_; }
  bool Conectada() const { return conectada_; }
  bool Autenticada() const { return autenticada_; }
  Transporte transporte() const { return transporte_; }

 private:
  Respuesta Responde(EstadoReloj& e, const zk::Paquete& p);
  Respuesta Comando(EstadoReloj& e, const zk::Paquete& p);
  Respuesta LecturaMasiva(EstadoReloj& e, const uint8_t* d, size_t n);
  Respuesta Trozo(const EstadoReloj& e, const uint8_t* d, size_t n);
  Respuesta Cara150(const EstadoReloj& e, const uint8_t* d, size_t n);
  Respuesta LecturaDirecta(std::shared_ptr<const zk::Bytes> conjunto, const std::string& que);
  Respuesta EscribeUsuario(EstadoReloj& e, const uint8_t* d, size_t n);
  Respuesta BorraPlantillas(EstadoReloj& e, uint16_t uid, int dedo);
  Respuesta EscribePlantilla(EstadoReloj& e, const uint8_t* d, size_t n);
  Respuesta EscribeCara(EstadoReloj& e, const uint8_t* d, size_t n);

  Transporte transporte_;
  uint16_t id_;
  bool conectada_ = false;
  bool autenticada_ = false;
  std::shared_ptr<const zk::Bytes> preparado_;  // data set of the bulk read in progress
  zk::Bytes recibido_;                          // what the client uploaded (PREPARE_DATA/DATA)
  std::vector<Salida> diferidos_;               // late packets of an earlier answer
};

// The packets of an answer as they go on the wire: TCP frames, or UDP datagrams (a DATA
// packet above 1024 bytes becomes several DATA datagrams, as devices send them).
struct PaqueteEnviado {
  zk::Bytes bytes;
  uint16_t codigo = 0;
  bool transferencia = false;
};
std::vector<PaqueteEnviado> Enmarca(const Respuesta& r, uint16_t sesion, uint16_t idRespuesta,
                                    Transporte t);

// Reassembles the TCP byte stream into payloads.
class LectorTramas {
 public:
  void Agrega(const uint8_t* p, size_t n) { buffer_.insert(buffer_.end(), p, p + n); }
  enum class Resultado { kPayload, kFalta, kInvalido };
  // The next whole payload (header + data), kFalta until one is complete, kInvalido when the
  // stream is not this protocol (the connection should be dropped).
  Resultado Siguiente(zk::Bytes& payload);
  size_t Pendientes() const { return buffer_.size() - inicio_; }

 private:
  zk::Bytes buffer_;
  size_t inicio_ = 0;
};

}  // namespace clocksim
