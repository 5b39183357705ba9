#pragma once
// Firmware profiles: the ways real clocks in the field differ from the manual, each played on
// top of the emulator (--perfil NAME, "perfil" in the state file). A profile changes how the
// clock answers (Sesion, Emulador) and, once, what it holds (AplicaPerfil).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace clocksim {

class EstadoReloj;

struct Perfil {
  const char* nombre = "";
  const char* filas = "";  // the behaviours of the field reports it plays
  const char* descripcion = "";
  size_t formatoMarcacion = 0;  // 0: the state's
  size_t formatoUsuario = 0;
  // A chunk as many DATA packets of at most 1 008 bytes whose session field counts them, in TCP
  // writes of 256 bytes, the closing ACK_OK carrying the byte count and sent only after the
  // client's next request.
  bool trozosDeDispositivo = false;
  size_t tamCapacidades = 92;   // CMD_GET_FREE_SIZES answer: 80, 92 or 112 bytes
  bool cuentaCero = false;      // ... counting no records
  int cuentaDesfasada = 0;      // ... or this many more than there are
  bool tcpMudo = false;         // takes TCP connections, answers only UDP
  bool pideClave = false;       // a comm key (1234 unless the state has one)
  bool cifrado = false;         // CMD_CONNECT answered 6001
  bool sigueMarcando = false;   // someone punches between the count and the data, disabled or not
  bool registrosRaros = false;  // an identical duplicate, 30 February, 2000-01-01 00:00:00
  bool idsConLetras = false;    // some ids end in letters; names have bytes after their NUL
  int64_t horaPerdida = 0;      // seconds the clock's time is behind (a power cut)
  bool caras150 = false;        // faces by cmd 150 in 2 576-byte records; ours unknown
};

const std::vector<Perfil>& Perfiles();
// nullptr for an unknown name; "" is the default profile.
const Perfil* BuscaPerfil(const std::string& nombre);

// What the profile changes in the clock's contents (layouts, key, ids, odd records, time);
// once, when the clock is made.
void AplicaPerfil(EstadoReloj& e);

// Face records of cmd 150: valid length u16, then the face, zero-padded to this size.
constexpr size_t kRegistroCara150 = 2576;

}  // namespace clocksim
