#pragma once
// The clocks' network protocol (TCP/UDP 4370) as pure functions on bytes: no sockets, no state.
// Both ends use it: ZkSdk (the client) and clock-sim (the device side).
//
// Vocabulary used throughout:
//   frame   = TCP prefix (8 bytes: 50 50 82 7D, u32 LE payload length) + payload. UDP has no
//             prefix: one payload per datagram.
//   payload = 8-byte header (command, checksum, session id, reply id; u16 LE each) + data.
//   data    = whatever follows the header.
// Every multi-byte integer on the wire is little-endian.
//
// Session and reply ids: the client sends CMD_CONNECT with session 0 and takes the session id
// from the header of the device's answer (even an ACK_UNAUTH one); every later request carries
// it. The client numbers its requests with the reply id (CMD_CONNECT goes out with 0, then +1
// per request, wrapping 65535 -> 0: SiguienteIdRespuesta). The device echoes the request's
// session and reply id in every packet of its answer, including each packet of a multi-packet
// answer (PREPARE_DATA, DATA..., ACK_OK), and never validates the reply id.
//
// Decoders never trust lengths from the wire: every one checks the size it is given and answers
// false / nullopt on anything short or inconsistent, so they survive any bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lector::clock::zk {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// Codes

enum Comando : uint16_t {
  CMD_DB_RRQ = 7,  // with FCT_FINGERTMP: all templates (bulk)
  CMD_USER_WRQ = 8,
  CMD_USERTEMP_RRQ = 9,  // one template (uid, finger); with FCT_USER: all users (bulk)
  CMD_USERTEMP_WRQ = 10,
  CMD_OPTIONS_RRQ = 11,
  CMD_OPTIONS_WRQ = 12,
  CMD_ATTLOG_RRQ = 13,
  CMD_CLEAR_DATA = 14,
  CMD_CLEAR_ATTLOG = 15,
  CMD_DELETE_USER = 18,
  CMD_DELETE_USERTEMP = 19,
  CMD_CLEAR_ADMIN = 20,
  CMD_CLEAR_OPLOG = 33,
  CMD_OPLOG_RRQ = 34,
  CMD_GET_FREE_SIZES = 50,
  CMD_STATE_RRQ = 64,
  CMD_TMP_WRITE = 87,
  CMD_GET_USERTEMP = 88,
  CMD_CHECKSUM_BUFFER = 119,
  CMD_DEL_FPTMP = 134,
  CMD_GET_TIME = 201,
  CMD_SET_TIME = 202,
  CMD_REG_EVENT = 500,
  CMD_CONNECT = 1000,
  CMD_EXIT = 1001,
  CMD_ENABLEDEVICE = 1002,
  CMD_DISABLEDEVICE = 1003,
  CMD_RESTART = 1004,
  CMD_POWEROFF = 1005,
  CMD_REFRESHDATA = 1013,
  CMD_REFRESHOPTION = 1014,
  CMD_TESTVOICE = 1017,
  CMD_GET_VERSION = 1100,
  CMD_AUTH = 1102,
  CMD_PREPARE_DATA = 1500,
  CMD_DATA = 1501,
  CMD_FREE_DATA = 1502,
  CMD_DATA_WRRQ = 1503,  // bulk read request (BuildBulkRequest)
  CMD_DATA_RDY = 1504,   // read one chunk of the prepared buffer (start, size)
  // One face as face clocks hand it over (DG288, iFace 702): data uid u16, index u8 (50);
  // answered like a single template read, a 2 576-byte record whose first u16 is the length
  // that holds the face.
  CMD_FACE_RRQ_DEVICE = 150,
  // Our own extension for faces; real devices answer ACK_UNKNOWN.
  CMD_FACE_RRQ = 32672,  // data: uid u16, face index u8 -> like a single template read
  CMD_FACE_WRQ = 32673,  // data: uid u16, face index u8, size u32, after PREPARE_DATA/DATA
};

enum Respuesta : uint16_t {
  CMD_ACK_OK = 2000,
  CMD_ACK_ERROR = 2001,
  CMD_ACK_DATA = 2002,
  CMD_ACK_RETRY = 2003,
  CMD_ACK_REPEAT = 2004,
  CMD_ACK_UNAUTH = 2005,
  // Newer firmware's answer to CMD_CONNECT: it wants an encrypted session we do not speak.
  CMD_ACK_SESION_CIFRADA = 6001,
  CMD_ACK_ERROR_DATA = 65531,
  CMD_ACK_ERROR_INIT = 65532,
  CMD_ACK_ERROR_CMD = 65533,
  CMD_ACK_UNKNOWN = 65535,
};

// Data-set codes (FCT) of bulk reads.
enum Fct : uint32_t {
  FCT_ATTLOG = 1,
  FCT_FINGERTMP = 2,
  FCT_OPLOG = 4,
  FCT_USER = 5,
};

constexpr std::array<uint8_t, 4> kMagiaTcp{0x50, 0x50, 0x82, 0x7D};
constexpr size_t kTamPrefijoTcp = 8;
constexpr size_t kTamCabecera = 8;
constexpr uint16_t kPuerto = 4370;
// Largest payload either side accepts in one packet; anything larger is garbage.
constexpr uint32_t kMaxPayload = 32u * 1024 * 1024;
// Chunk sizes of bulk reads (CMD_DATA_RDY) and the largest DATA datagram on UDP.
constexpr uint32_t kTrozoTcp = 65472;
constexpr uint32_t kTrozoUdp = 16384;
constexpr uint32_t kMaxDatosUdp = 1024;

// ---------------------------------------------------------------------------------------------
// Checksum, packets and frames

// One's-complement sum of 16-bit LE words (odd length: last byte as a low byte), folded with
// end-around carry, complemented. Give it the payload with the checksum field zeroed.
uint16_t Checksum(const uint8_t* p, size_t n);
// True when the checksum stored at payload offset 2 matches the rest of the payload.
bool ChecksumValido(const uint8_t* payload, size_t n);

struct Paquete {
  uint16_t comando = 0;  // command id, or reply code in an answer
  uint16_t checksum = 0;
  uint16_t sesion = 0;
  uint16_t idRespuesta = 0;
  Bytes datos;
};

// Header + data with its checksum: what goes in a UDP datagram.
Bytes ArmaPayload(uint16_t comando, uint16_t sesion, uint16_t idRespuesta,
                  const uint8_t* datos = nullptr, size_t n = 0);
inline Bytes ArmaPayload(uint16_t comando, uint16_t sesion, uint16_t idRespuesta,
                         const Bytes& datos) {
  return ArmaPayload(comando, sesion, idRespuesta, datos.data(), datos.size());
}
// The TCP prefix for a payload of n bytes.
std::array<uint8_t, 8> PrefijoTcp(uint32_t n);
// Prefix + payload: what goes on a TCP stream.
Bytes ArmaTramaTcp(uint16_t comando, uint16_t sesion, uint16_t idRespuesta,
                   const uint8_t* datos = nullptr, size_t n = 0);
inline Bytes ArmaTramaTcp(uint16_t comando, uint16_t sesion, uint16_t idRespuesta,
                          const Bytes& datos) {
  return ArmaTramaTcp(comando, sesion, idRespuesta, datos.data(), datos.size());
}

// Parses one payload (header + data). nullopt when shorter than a header or, with
// verificar = true, when the checksum is wrong.
std::optional<Paquete> LeePayload(const uint8_t* p, size_t n, bool verificar = true);

// Looks at the start of a TCP receive buffer.
enum class EstadoTrama {
  kIncompleta,  // more bytes needed (largo is set once the prefix is complete)
  kCompleta,    // a whole frame is there: prefix + largo payload bytes
  kInvalida,    // not a frame (bad magic, payload shorter than a header or above kMaxPayload)
};
EstadoTrama ExaminaTramaTcp(const uint8_t* p, size_t n, uint32_t& largo);

// Reply ids: the next request's id after `actual` (wraps 65535 -> 0).
inline uint16_t SiguienteIdRespuesta(uint16_t actual) {
  return static_cast<uint16_t>(actual + 1);
}
// A packet belongs to the answer of the request sent with idRespuesta.
inline bool EsRespuestaA(const Paquete& p, uint16_t idRespuesta) {
  return p.idRespuesta == idRespuesta;
}

// ---------------------------------------------------------------------------------------------
// Little-endian helpers (bounds are the caller's job; decoders below check them)

inline uint16_t LeeU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LeeU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PoneU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PoneU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
void AgregaU16(Bytes& b, uint16_t v);
void AgregaU32(Bytes& b, uint32_t v);

// ---------------------------------------------------------------------------------------------
// Comm key (CMD_AUTH)

// The 4 data bytes of CMD_AUTH for a numeric key and the session id the device gave;
// `ticks` is the scrambling byte (sent in clear as byte 2; clients commonly use 50).
std::array<uint8_t, 4> ClaveComm(uint32_t clave, uint16_t sesion, uint8_t ticks = 50);
// Device side: whether CMD_AUTH data (any ticks byte) matches the key for this session. Byte 2
// carries the ticks in place of a key byte, so that byte (mostly the session's low byte) is not
// checked: the protocol cannot tell keys that differ only there.
bool VerificaClaveComm(const uint8_t* datos, size_t n, uint32_t clave, uint16_t sesion);

// ---------------------------------------------------------------------------------------------
// Packed time (records, CMD_GET_TIME / CMD_SET_TIME): every month counted as 31 days, years
// 2000..2099, clock's local wall time, no zone.

struct FechaHora {
  int anio = 2000, mes = 1, dia = 1, hora = 0, minuto = 0, segundo = 0;
  bool operator==(const FechaHora&) const = default;
};
// nullopt when a field is out of range (year 2000..2099, month 1..12, day 1..31, hour 0..23,
// minute and second 0..59).
std::optional<uint32_t> CodificaHora(const FechaHora& f);
FechaHora DecodificaHora(uint32_t t);  // total: any u32 gives some date (year may pass 2099)

// ---------------------------------------------------------------------------------------------
// Attendance records: 8, 16, 40 or 49 bytes.
//   8:  uid u16, verify (low nibble) and state (high nibble) u8, 0, time u32 (no user id: map
//       uid via users). The manual puts the time at offset 3; the clocks that use this layout
//       (ZEM500, MA300) put it at 4, and read at 3 their punches of 2016 date from 2087.
//   16: user number u32, time u32, state u8, verify u8, 2 reserved, work code u32
//   40: uid u16, user id 24 bytes NUL-padded ASCII, verify u8, time u32, state u8, 8 bytes
//       (written 00 00 00 00 FF 00 00 00)
//   49: the 40-byte layout and 9 bytes of unknown meaning (newer face clocks)

struct Marcacion {
  uint16_t uid = 0;     // 8 and 40 bytes
  std::string usuario;  // 16 (decimal of the user number) and 40; empty for 8
  uint8_t verificacion = 0;
  uint8_t estado = 0;          // in/out state
  uint32_t hora = 0;           // packed time
  uint32_t codigoTrabajo = 0;  // 16 only
};

// Whether a record size is a layout devices use: 8, 16, 40 or 49.
bool TamMarcacionValido(size_t tam);
// Whether n bytes read as whole records of `tam` bytes that look like records: a packed time
// up to 2099 and, in 40/49 bytes, a user id of printable characters, not empty; in 16 bytes,
// zero reserved bytes; in 8, a zero byte 3. Used to tell the layout from the data when the
// record count cannot.
bool MarcacionesPlausibles(const uint8_t* p, size_t n, size_t tam);
// The record size n bytes of records hold: among the layouts that read plausibly, the one whose
// record count is nearest `cuenta` (the device's count; 0 when it gave none, or gave 0), and
// with no count the first in `orden`. 0 when none reads plausibly.
size_t LayoutDeMarcaciones(const uint8_t* p, size_t n, uint32_t cuenta,
                           std::initializer_list<size_t> orden);
// Decodes one record of `tam` bytes at p (p must hold tam bytes). False for a size we cannot
// read. The user id of a 40-byte record stops at its first NUL.
bool DecodificaMarcacion(const uint8_t* p, size_t tam, Marcacion& m);
// Appends one record of size 8, 16, 40 or 49. False (nothing appended) for another size, or for
// 16 bytes when the user id is not a decimal u32, or for 40/49 when it is longer than 24 bytes.
// In 8 bytes verify and state keep their low 4 bits.
bool CodificaMarcacion(const Marcacion& m, size_t tam, Bytes& destino);

// ---------------------------------------------------------------------------------------------
// Users: 28 or 72 bytes.
//   28: uid u16, privilege u8, password 5, name 8, card u32, pad u8, group u8, time zones u16,
//       user number u32 (the user id, numeric on these devices)
//   72: uid u16, privilege u8, password 8, name 24, card u32, group u8, 8 bytes (time-zone
//       flags and zones, kept as they are), user id 24
// Texts are the device's raw 8-bit bytes up to the first NUL; encoding them is the caller's job.
// The privilege byte: bit 0 set = disabled; bits 1..3 = level (0 user, 1 enroller, 3 admin,
// 7 super admin), i.e. bytes 0, 2, 6, 14 for SDK privilege 0..3 (PrivilegioAByte).

struct UsuarioZk {
  uint16_t uid = 0;
  uint8_t privilegio = 0;  // raw byte, disabled flag included
  std::string clave;
  std::string nombre;
  uint32_t tarjeta = 0;
  uint8_t grupo = 0;
  std::array<uint8_t, 8> zonas{};  // 72: bytes 40..47; 28: bytes 22..23 in zonas[0..1]
  std::string usuario;             // enrolment number (user id)
};

constexpr size_t kUsuario28 = 28;
constexpr size_t kUsuario72 = 72;
// The keypad password's field in a record of either size (the one secret a record carries).
constexpr size_t kInicioClaveUsuario = 3;
constexpr size_t LargoClaveUsuario(size_t tam) {
  return tam == kUsuario72 ? 8 : 5;
}
bool DecodificaUsuario(const uint8_t* p, size_t tam, UsuarioZk& u);
// False (nothing appended) for another size, for texts longer than their fields (a name may
// fill its field without a NUL in 28 bytes; in 72 bytes it needs room for one), or, in 28
// bytes, for a user id that is not a decimal u32.
bool CodificaUsuario(const UsuarioZk& u, size_t tam, Bytes& destino);

// SDK privilege 0..3 <-> privilege byte (disabled flag included).
uint8_t PrivilegioAByte(int32_t privilegio, bool habilitado);
int32_t PrivilegioDeByte(uint8_t b);
inline bool HabilitadoDeByte(uint8_t b) {
  return (b & 1) == 0;
}

// ---------------------------------------------------------------------------------------------
// Free sizes (CMD_GET_FREE_SIZES answer: 80, 92 or 112 bytes of u32 LE; the counts read the same)

struct Capacidades {
  uint32_t usuarios = 0;         // offset 16
  uint32_t huellas = 0;          // 24
  uint32_t registros = 0;        // 32
  uint32_t operaciones = 0;      // 40
  uint32_t admins = 0;           // 48
  uint32_t claves = 0;           // 52
  uint32_t capHuellas = 0;       // 56
  uint32_t capUsuarios = 0;      // 60
  uint32_t capRegistros = 0;     // 64
  uint32_t libresHuellas = 0;    // 68
  uint32_t libresUsuarios = 0;   // 72
  uint32_t libresRegistros = 0;  // 76
  uint32_t caras = 0;            // 80 (92-byte form)
  uint32_t capCaras = 0;         // 88
};
Bytes CodificaCapacidades(const Capacidades& c);                               // 92 bytes
std::optional<Capacidades> DecodificaCapacidades(const uint8_t* p, size_t n);  // >= 80 bytes

// ---------------------------------------------------------------------------------------------
// Bulk reads
//   > CMD_DATA_WRRQ(01, inner command u16, fct u32, extra u32)          11 bytes
//   < CMD_DATA(whole data set)   or   < CMD_ACK_OK / CMD_PREPARE_DATA(00, size u32, size u32,
//     u32)  13 bytes ("data stat")
//   > CMD_DATA_RDY(start u32, size u32) for each chunk
//   < CMD_PREPARE_DATA(chunk size u32, u32)  < CMD_DATA(chunk) [more DATA on UDP]  < CMD_ACK_OK
//   > CMD_FREE_DATA()  < CMD_ACK_OK
// The data set = u32 LE byte count of the records, then the records.

struct PeticionMasiva {
  uint16_t comando = 0;
  uint32_t fct = 0;
  uint32_t extra = 0;
  bool operator==(const PeticionMasiva&) const = default;
};
constexpr PeticionMasiva kMasivaMarcaciones{CMD_ATTLOG_RRQ, 0, 0};
constexpr PeticionMasiva kMasivaUsuarios{CMD_USERTEMP_RRQ, FCT_USER, 0};
constexpr PeticionMasiva kMasivaPlantillas{CMD_DB_RRQ, FCT_FINGERTMP, 0};

Bytes CodificaPeticionMasiva(const PeticionMasiva& p);
std::optional<PeticionMasiva> DecodificaPeticionMasiva(const uint8_t* p, size_t n);
// The 13-byte "data stat" announcing a buffered data set of `tam` bytes.
Bytes CodificaAnuncioMasivo(uint32_t tam);
// Size announced by the data stat (>= 5 bytes, first byte ignored).
std::optional<uint32_t> DecodificaAnuncioMasivo(const uint8_t* p, size_t n);
// CMD_DATA_RDY data.
Bytes CodificaPeticionTrozo(uint32_t inicio, uint32_t tam);
bool DecodificaPeticionTrozo(const uint8_t* p, size_t n, uint32_t& inicio, uint32_t& tam);
// CMD_PREPARE_DATA data before a chunk (or a single template/face): size u32, then u32 `extra`.
Bytes CodificaPreparacion(uint32_t tam, uint32_t extra = 0);
// The size in a PREPARE_DATA (>= 4 bytes; a 2-byte form is read as u16).
std::optional<uint32_t> DecodificaPreparacion(const uint8_t* p, size_t n);

// The data set: u32 byte count, then the records.
Bytes ArmaConjunto(const uint8_t* registros, size_t n);
// Where the records start and how many bytes they take: nullopt when the count exceeds what
// is there. A set of fewer than 4 bytes reads as empty.
struct CuerpoConjunto {
  size_t inicio = 0;
  size_t largo = 0;
};
std::optional<CuerpoConjunto> LeeConjunto(const uint8_t* p, size_t n);

// Record size from the byte count and the record count of CMD_GET_FREE_SIZES: 0 when they do
// not divide or the quotient is not a layout we read (attendance: 8, 16, 40, 49; users: 28, 72).
size_t TamRegistroMarcacion(size_t bytes, uint32_t cuenta);
size_t TamRegistroUsuario(size_t bytes, uint32_t cuenta);

// ---------------------------------------------------------------------------------------------
// Templates and faces
//   read one:    > CMD_USERTEMP_RRQ(uid u16, finger u8)  < PREPARE_DATA(size) DATA ACK_OK, or a
//                bare DATA, or ACK_ERROR when absent.   Faces: CMD_FACE_RRQ(uid, index) alike.
//   write one:   > PREPARE_DATA(size u32) > DATA(bytes) > CHECKSUM_BUFFER < ACK_OK(u32)
//                > CMD_TMP_WRITE(uid u16, finger u8, flag u8, size u16) > FREE_DATA
//                Faces: CMD_FACE_WRQ(uid u16, index u8, size u32) in place of TMP_WRITE.
//   delete:      > CMD_DELETE_USERTEMP(uid u16, finger u8); CMD_DELETE_USER(uid u16);
//                a face is deleted by CMD_FACE_WRQ with size 0 (no upload before it).

Bytes CodificaUidIndice(uint16_t uid, uint8_t indice);  // USERTEMP_RRQ, DELETE_USERTEMP, FACE_RRQ
bool DecodificaUidIndice(const uint8_t* p, size_t n, uint16_t& uid, uint8_t& indice);

struct EscrituraPlantilla {
  uint16_t uid = 0;
  uint8_t dedo = 0;
  uint8_t bandera = 0;
  uint16_t tam = 0;
  bool operator==(const EscrituraPlantilla&) const = default;
};
Bytes CodificaEscrituraPlantilla(const EscrituraPlantilla& e);  // 6 bytes
std::optional<EscrituraPlantilla> DecodificaEscrituraPlantilla(const uint8_t* p, size_t n);

struct EscrituraCara {
  uint16_t uid = 0;
  uint8_t indice = 0;
  uint32_t tam = 0;
  bool operator==(const EscrituraCara&) const = default;
};
Bytes CodificaEscrituraCara(const EscrituraCara& e);  // 7 bytes
std::optional<EscrituraCara> DecodificaEscrituraCara(const uint8_t* p, size_t n);

// One entry of the bulk template data set: size u16 (= template + 6), uid u16, finger u8,
// flag u8, template bytes.
struct EntradaPlantilla {
  uint16_t uid = 0;
  uint8_t dedo = 0;
  uint8_t bandera = 0;
  Bytes plantilla;
};
bool CodificaEntradaPlantilla(const EntradaPlantilla& e, Bytes& destino);
// Decodes the entries of a template data-set body; false on a malformed entry.
bool DecodificaPlantillas(const uint8_t* p, size_t n, std::vector<EntradaPlantilla>& salida);

// CMD_CHECKSUM_BUFFER's value over the bytes a device received (ELF-style hash mod 0xFEFFFF).
uint32_t ChecksumBuffer(const uint8_t* p, size_t n);

// ---------------------------------------------------------------------------------------------
// Options and texts

// CMD_OPTIONS_RRQ data: name + NUL.
Bytes CodificaNombreOpcion(std::string_view nombre);
// Option name in OPTIONS_RRQ data, with or without the trailing NUL.
std::string DecodificaNombreOpcion(const uint8_t* p, size_t n);
// "name=value\0" (an OPTIONS_WRQ, or the device's answer to an OPTIONS_RRQ).
Bytes CodificaOpcion(std::string_view nombre, std::string_view valor);
// The value in an option answer: the text after the first '=' up to the first NUL; the whole
// text up to the first NUL when there is no '='.
std::string ValorOpcion(const uint8_t* p, size_t n);
// Text up to the first NUL (firmware version and such).
std::string TextoHastaNul(const uint8_t* p, size_t n);

// ---------------------------------------------------------------------------------------------
// Base64 (standard alphabet, padded) for template and face texts.

std::string Base64(const uint8_t* p, size_t n);
// nullopt for characters outside the alphabet or a bad length; blanks and line breaks are
// skipped, missing padding is accepted.
std::optional<Bytes> DeBase64(std::string_view texto);

}  // namespace lector::clock::zk
