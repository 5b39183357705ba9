#pragma once
// What an emulated clock holds: identity, options, time, users, cards, templates, faces and
// attendance records, plus the JSON file they are kept in. Texts are UTF-8 here; they become
// the device's 8-bit bytes only on the wire.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "clock/zk/ZkProtocolo.h"

namespace clocksim {

namespace zk = lector::clock::zk;

// Wall-clock seconds counted from 2000-01-01 00:00:00 on a calendar without zones: the clock
// keeps local time and so does this count.
int64_t SegundosCiviles(const zk::FechaHora& f);
zk::FechaHora FechaDeSegundos(int64_t s);
// The host's local time now.
int64_t AhoraLocal();
// "yyyy-mm-dd hh:mm:ss" both ways; the reader answers nullopt for anything else.
std::string TextoFecha(const zk::FechaHora& f);
std::optional<zk::FechaHora> LeeFecha(const std::string& texto);

struct Usuario {
  uint16_t uid = 0;        // the device's internal number
  std::string id;          // enrolment number
  std::string nombre;      // UTF-8
  std::string clave;       // password
  int privilegio = 0;      // SDK level: 0 user, 1 enroller, 2 manager, 3 super admin
  bool habilitado = true;  // false: the disabled bit is set
  uint32_t tarjeta = 0;    // card number, 0 = none
  uint8_t grupo = 1;
  bool operator==(const Usuario&) const = default;
};

struct Plantilla {
  uint8_t bandera = 1;  // 0 invalid, 1 valid, 3 duress
  zk::Bytes datos;
  bool operator==(const Plantilla&) const = default;
};

using Marcacion = zk::Marcacion;
using Clave = std::pair<uint16_t, uint8_t>;  // (uid, finger) or (uid, face index)

// How the device encodes texts (names) on the wire.
enum class Codificacion { kCp1252, kUtf8 };

class EstadoReloj {
 public:
  // Identity and options.
  std::string serie = "CSIM0000001";
  std::string firmware = "Ver 6.60 Oct 29 2012";
  std::string plataforma = "ZEM560";
  std::map<std::string, std::string> opciones;  // override or add to the built-in options
  uint32_t claveComm = 0;                       // 0: no CMD_AUTH needed
  size_t formatoUsuario = 72;                   // 72 or 28
  size_t formatoMarcacion = 40;                 // 40, 49, 16 or 8
  Codificacion codificacion = Codificacion::kCp1252;
  std::string perfil;  // firmware profile (Perfil.h); "" the default

  // Time: the host's local time plus desfaseHora, or horaFija when set (tests freeze it).
  int64_t desfaseHora = 0;
  std::optional<int64_t> horaFija;

  std::vector<Usuario> usuarios;  // in storage order; bulk reads give this order
  std::map<Clave, Plantilla> plantillas;
  std::map<Clave, zk::Bytes> caras;
  std::vector<Marcacion> marcaciones;  // in time order

  // What clients did to the device (not kept in the file).
  bool habilitado = true;  // false between DISABLEDEVICE and ENABLEDEVICE (or its time limit)
  std::optional<std::chrono::steady_clock::time_point> habilitaEn;  // DISABLEDEVICE's time limit
  // Enabled again once the time limit of the last DISABLEDEVICE has passed.
  void VenceBloqueo() {
    if (!habilitado && habilitaEn && std::chrono::steady_clock::now() >= *habilitaEn)
      habilitado = true;
  }
  int reinicios = 0;
  std::vector<uint32_t> voces;  // CMD_TESTVOICE indexes, in order
  int refrescos = 0;            // CMD_REFRESHDATA count

  // The device's time now (civil seconds) and setting it.
  int64_t Hora() const;
  void PoneHora(int64_t civil);

  // An option's value: the file's first, then the built-in ones (serial, platform...).
  std::optional<std::string> Opcion(const std::string& nombre) const;

  Usuario* BuscaUid(uint16_t uid);
  Usuario* BuscaId(const std::string& id);
  const Usuario* BuscaUid(uint16_t uid) const;
  // The smallest uid above every one in use (1 for an empty device); 0 when none is left.
  uint16_t UidNuevo() const;
  // Removes a user with its templates and face. False when there is no such uid.
  bool BorraUsuario(uint16_t uid);
  // A new record now (or at `hora`) for a user, as if they had punched.
  void Marca(const std::string& id, uint8_t estado = 0, uint8_t verificacion = 1,
             std::optional<int64_t> hora = std::nullopt);

  zk::Capacidades Capacidades() const;

  // Wire forms. A text longer than its field is cut; an id that the layout needs as a number
  // but is not one goes out as 0.
  zk::UsuarioZk AUsuarioZk(const Usuario& u) const;
  Usuario DeUsuarioZk(const zk::UsuarioZk& z) const;
  std::string TextoDispositivo(const std::string& utf8) const;
  std::string TextoUtf8(const std::string& dispositivo) const;

  // Data sets of bulk reads (u32 byte count + records). The records' is encoded once and
  // kept until the records or the layout change: a 300 000-record set is served many times.
  std::shared_ptr<const zk::Bytes> ConjuntoMarcaciones() const;
  zk::Bytes ConjuntoUsuarios() const;
  zk::Bytes ConjuntoPlantillas() const;
  // Drops the kept encodings; call after changing records, users or layouts directly.
  void InvalidaCaches() const;

  // JSON file. DeJson throws std::runtime_error naming the bad field.
  nlohmann::ordered_json AJson(bool conMarcaciones = true) const;
  static EstadoReloj DeJson(const nlohmann::ordered_json& j);
  static EstadoReloj Carga(const std::filesystem::path& archivo);
  // Writes through a temporary file and a rename, so a crash never leaves half a file.
  void Graba(const std::filesystem::path& archivo) const;

 private:
  static Marcacion MarcacionDeJson(const nlohmann::ordered_json& x);
  void CompletaMarcaciones();

  mutable std::shared_ptr<const zk::Bytes> cacheMarcaciones_;
  mutable size_t cacheFormato_ = 0;
};

}  // namespace clocksim
