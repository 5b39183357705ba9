#pragma once
// Wire captures: every unit a ZkSdk connection sends and receives, with its time, as text.
//
// A capture file ("lector --capturar" writes it, "clock-sim --reproducir" plays it back):
//
//   lector-captura 1
//   # any line starting with "#" is a comment (the clock, the date, what was read)
//   > 0 tcp 5050827d08000000e80317fc00000000
//   < 3 tcp 5050827d08000000d0075ec1a52b0000
//   < 9 tcp -
//
// The first line names the format and its version. Then one line per unit on the wire: ">" sent
// by us, "<" received from the clock; milliseconds since the capture began; "tcp" or "udp"; the
// bytes in lowercase hex exactly as they went: one send() or one recv() each, so TCP segments
// keep the cuts the clock made (a header may start in the middle of a line), UDP datagrams are
// whole. "-" instead of bytes: the clock closed the TCP connection. No password goes to the file:
// the CMD_AUTH request's data (the comm key) and the password field of every user record in a
// users data set the clock sent are written as "**" pairs (read back as zeros), and so is the
// checksum of every packet holding a masked byte, since the checksum alone would narrow a short
// key down to a few guesses.
#include <chrono>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clock/zk/ZkProtocolo.h"

namespace lector::clock::zk {

constexpr std::string_view kCabeceraCaptura = "lector-captura 1";

// Sees every unit on the wire of a ZkSdk (ZkSdk::PoneEscucha). n == 0 on a received unit: the
// clock closed the TCP connection.
class Escucha {
 public:
  virtual ~Escucha() = default;
  virtual void Unidad(bool enviado, bool udp, const uint8_t* p, size_t n) = 0;
};

struct UnidadCaptura {
  bool enviado = false;
  bool udp = false;
  uint32_t ms = 0;
  Bytes bytes;
  bool cierre = false;       // the clock closed the connection (no bytes)
  std::vector<bool> oculto;  // per byte: written "**" (empty: none beyond the comm key)
  bool operator==(const UnidadCaptura&) const = default;
};

// The unit's line (without its end), with the comm key and the bytes in `oculto` masked.
std::string LineaDeCaptura(const UnidadCaptura& u);
// One line back; nullopt for a comment or a line that is not a unit (error says which, empty
// for a comment or a blank line).
std::optional<UnidadCaptura> LeeLineaCaptura(std::string_view linea, std::string& error);
// A whole capture; throws std::runtime_error naming the line that is wrong.
std::vector<UnidadCaptura> LeeCaptura(std::istream& entrada);

// Marks in `oculto` the password field of every user record in every users data set the clock
// sent in these units (read as ZkSdk reads them: TCP streams cut into frames, requests paired
// with their answers), and the checksum of every packet holding such a byte. Any bytes at all:
// what it cannot make out it leaves as it is.
void EnmascaraClaves(std::vector<UnidadCaptura>& unidades);
// A whole capture's text again, with EnmascaraClaves applied; header, comments and lines that
// are not units stay as they are.
std::string EnmascaraCaptura(std::string_view texto);

// Writes each unit as it comes, so that a capture cut short still holds what happened.
class GrabadorCaptura : public Escucha {
 public:
  explicit GrabadorCaptura(std::ostream& salida);
  void Unidad(bool enviado, bool udp, const uint8_t* p, size_t n) override;
  size_t Unidades() const { return unidades_; }

 private:
  std::ostream& salida_;
  std::chrono::steady_clock::time_point inicio_;
  size_t unidades_ = 0;
};

// The last bytes on the wire (at most `maximo`, the comm key masked), kept for the log after a
// failed reading. A unit keeps at most its last `porUnidad` bytes, so that a big transfer leaves
// room for the requests that led to it.
class UltimosBytes : public Escucha {
 public:
  explicit UltimosBytes(size_t maximo = 4096, size_t porUnidad = 512)
      : maximo_(maximo), porUnidad_(porUnidad) {}
  void Unidad(bool enviado, bool udp, const uint8_t* p, size_t n) override;
  void Limpia();
  // One capture line per unit; a unit cut to fit starts its bytes with "..".
  std::string Texto() const;

 private:
  struct Guardada {
    UnidadCaptura u;
    bool cortada = false;
  };
  size_t maximo_, porUnidad_, total_ = 0;
  std::deque<Guardada> unidades_;
  std::chrono::steady_clock::time_point inicio_ = std::chrono::steady_clock::now();
};

}  // namespace lector::clock::zk
