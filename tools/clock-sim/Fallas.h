#pragma once
// Faults the emulated clock can be told to show, to test how clients cope.
#include <cstdint>
#include <optional>
#include <string>

namespace clocksim {

enum class TipoFalla {
  kCorta,         // drop the connection after `valor` bytes of a data transfer
  kRetrasa,       // wait `valor` ms before answering
  kBasura,        // answer `valor` bytes (16 when 0) of noise instead of the answer
  kRechaza,       // answer CMD_ACK_ERROR without carrying the command out
  kChecksumMalo,  // answer with a wrong checksum
  kMudo,          // never answer (the connection stays open)
  // Datagrams lost, repeated or overtaken on the way: `valor` is the packet of the answer it
  // hits, counting from 1 (PREPARE_DATA, each DATA datagram, ACK_OK). On TCP a whole frame.
  kPierde,    // the packet is not sent
  kDuplica,   // the packet is sent twice
  kReordena,  // the packet goes after the one that follows it
  kMarca,     // a user punches right after the command is carried out (a record is added)
};

struct Falla {
  TipoFalla tipo = TipoFalla::kRechaza;
  uint16_t comando = 0;  // only requests with this command; 0 = any
  uint32_t valor = 0;
  int veces = -1;  // how many requests it applies to; -1 = always
};

// Command-line form: KIND[=VALUE][@COMMAND][*TIMES], KIND one of drop-after, delay, garbage,
// refuse, bad-checksum, silent, drop, duplicate, reorder, punch; COMMAND a number or a name such as
// CMD_DATA_RDY or data_rdy. Examples: "drop-after=100000", "delay=300@CMD_GET_TIME",
// "refuse@1503*1", "silent".
std::optional<Falla> LeeFalla(const std::string& texto, std::string& error);
std::string DescribeFalla(const Falla& f);

// A command's number from its name ("CMD_DATA_RDY", "data_rdy") or decimal text.
std::optional<uint16_t> ComandoDeTexto(const std::string& texto);

}  // namespace clocksim
