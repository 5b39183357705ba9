#include "clock/zk/ZkProtocolo.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lector::clock::zk {

namespace {

// Text of a fixed field up to its first NUL.
std::string CampoTexto(const uint8_t* p, size_t n) {
  if (n == 0) return {};
  const auto* fin = static_cast<const uint8_t*>(std::memchr(p, 0, n));
  return std::string(reinterpret_cast<const char*>(p), fin ? static_cast<size_t>(fin - p) : n);
}

// Copies a text into a zero-filled field; false when it does not fit (with room for a NUL
// when conNul).
bool PoneCampoTexto(uint8_t* p, size_t n, const std::string& texto, bool conNul) {
  if (texto.size() > n || (conNul && texto.size() == n)) return false;
  std::memcpy(p, texto.data(), texto.size());
  return true;
}

// A decimal u32 without sign, blanks or leading '+'.
std::optional<uint32_t> DecimalU32(const std::string& texto) {
  if (texto.empty() || texto.size() > 10) return std::nullopt;
  uint64_t v = 0;
  for (char c : texto) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

constexpr char kAlfabeto[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

// ---------------------------------------------------------------------------------------------

namespace {
// Folded one's-complement sum of the 16-bit LE words; the word at `omitir` (if any) counts as 0.
uint32_t SumaPlegada(const uint8_t* p, size_t n, size_t omitir) {
  uint32_t s = 0;
  size_t i = 0;
  for (; i + 1 < n; i += 2) {
    if (i != omitir) s += LeeU16(p + i);
    // Fold as we go so the sum never overflows, whatever the length.
    if (s > 0xFFFF) s = (s & 0xFFFF) + (s >> 16);
  }
  if (i < n && i != omitir) s += p[i];
  while (s > 0xFFFF) s = (s & 0xFFFF) + (s >> 16);
  return s;
}
}  // namespace

uint16_t Checksum(const uint8_t* p, size_t n) {
  return static_cast<uint16_t>(~SumaPlegada(p, n, SIZE_MAX) & 0xFFFF);
}

bool ChecksumValido(const uint8_t* payload, size_t n) {
  if (n < kTamCabecera) return false;
  return static_cast<uint16_t>(~SumaPlegada(payload, n, 2) & 0xFFFF) == LeeU16(payload + 2);
}

Bytes ArmaPayload(uint16_t comando, uint16_t sesion, uint16_t idRespuesta, const uint8_t* datos,
                  size_t n) {
  Bytes b(kTamCabecera + n);
  PoneU16(b.data(), comando);
  PoneU16(b.data() + 4, sesion);
  PoneU16(b.data() + 6, idRespuesta);
  if (n) std::memcpy(b.data() + kTamCabecera, datos, n);
  PoneU16(b.data() + 2, Checksum(b.data(), b.size()));
  return b;
}

std::array<uint8_t, 8> PrefijoTcp(uint32_t n) {
  std::array<uint8_t, 8> p{kMagiaTcp[0], kMagiaTcp[1], kMagiaTcp[2], kMagiaTcp[3]};
  PoneU32(p.data() + 4, n);
  return p;
}

Bytes ArmaTramaTcp(uint16_t comando, uint16_t sesion, uint16_t idRespuesta, const uint8_t* datos,
                   size_t n) {
  Bytes b(kTamPrefijoTcp + kTamCabecera + n);
  std::copy(kMagiaTcp.begin(), kMagiaTcp.end(), b.begin());
  PoneU32(b.data() + 4, static_cast<uint32_t>(kTamCabecera + n));
  uint8_t* p = b.data() + kTamPrefijoTcp;
  PoneU16(p, comando);
  PoneU16(p + 4, sesion);
  PoneU16(p + 6, idRespuesta);
  if (n) std::memcpy(p + kTamCabecera, datos, n);
  PoneU16(p + 2, Checksum(p, kTamCabecera + n));
  return b;
}

std::optional<Paquete> LeePayload(const uint8_t* p, size_t n, bool verificar) {
  if (n < kTamCabecera) return std::nullopt;
  if (verificar && !ChecksumValido(p, n)) return std::nullopt;
  Paquete q;
  q.comando = LeeU16(p);
  q.checksum = LeeU16(p + 2);
  q.sesion = LeeU16(p + 4);
  q.idRespuesta = LeeU16(p + 6);
  q.datos.assign(p + kTamCabecera, p + n);
  return q;
}

EstadoTrama ExaminaTramaTcp(const uint8_t* p, size_t n, uint32_t& largo) {
  largo = 0;
  for (size_t i = 0; i < std::min<size_t>(n, 4); ++i)
    if (p[i] != kMagiaTcp[i]) return EstadoTrama::kInvalida;
  if (n < kTamPrefijoTcp) return EstadoTrama::kIncompleta;
  largo = LeeU32(p + 4);
  if (largo < kTamCabecera || largo > kMaxPayload) return EstadoTrama::kInvalida;
  return n - kTamPrefijoTcp >= largo ? EstadoTrama::kCompleta : EstadoTrama::kIncompleta;
}

void AgregaU16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void AgregaU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// ---------------------------------------------------------------------------------------------

namespace {
// Steps before the ticks byte: bit-reversed key + session, LE, XOR "ZKSO", halves swapped.
std::array<uint8_t, 4> ClaveCommSinTicks(uint32_t clave, uint16_t sesion) {
  uint32_t k = 0;
  for (int i = 0; i < 32; ++i) k = (k << 1) | ((clave >> i) & 1u);
  k += sesion;
  uint8_t b[4];
  PoneU32(b, k);
  b[0] ^= 'Z';
  b[1] ^= 'K';
  b[2] ^= 'S';
  b[3] ^= 'O';
  return {b[2], b[3], b[0], b[1]};
}
}  // namespace

std::array<uint8_t, 4> ClaveComm(uint32_t clave, uint16_t sesion, uint8_t ticks) {
  auto c = ClaveCommSinTicks(clave, sesion);
  return {static_cast<uint8_t>(c[0] ^ ticks), static_cast<uint8_t>(c[1] ^ ticks), ticks,
          static_cast<uint8_t>(c[3] ^ ticks)};
}

bool VerificaClaveComm(const uint8_t* datos, size_t n, uint32_t clave, uint16_t sesion) {
  if (n < 4) return false;
  auto c = ClaveCommSinTicks(clave, sesion);
  const uint8_t b = datos[2];
  return (datos[0] ^ b) == c[0] && (datos[1] ^ b) == c[1] && (datos[3] ^ b) == c[3];
}

// ---------------------------------------------------------------------------------------------

std::optional<uint32_t> CodificaHora(const FechaHora& f) {
  if (f.anio < 2000 || f.anio > 2099 || f.mes < 1 || f.mes > 12 || f.dia < 1 || f.dia > 31 ||
      f.hora < 0 || f.hora > 23 || f.minuto < 0 || f.minuto > 59 || f.segundo < 0 || f.segundo > 59)
    return std::nullopt;
  const uint32_t dias =
      static_cast<uint32_t>((f.anio % 100) * 12 * 31 + (f.mes - 1) * 31 + (f.dia - 1));
  return dias * 86400u + static_cast<uint32_t>((f.hora * 60 + f.minuto) * 60 + f.segundo);
}

FechaHora DecodificaHora(uint32_t t) {
  FechaHora f;
  f.segundo = static_cast<int>(t % 60);
  t /= 60;
  f.minuto = static_cast<int>(t % 60);
  t /= 60;
  f.hora = static_cast<int>(t % 24);
  t /= 24;
  f.dia = static_cast<int>(t % 31 + 1);
  t /= 31;
  f.mes = static_cast<int>(t % 12 + 1);
  t /= 12;
  f.anio = static_cast<int>(t + 2000);
  return f;
}

// ---------------------------------------------------------------------------------------------

bool TamMarcacionValido(size_t tam) {
  return tam == 8 || tam == 16 || tam == 40 || tam == 49;
}

bool MarcacionesPlausibles(const uint8_t* p, size_t n, size_t tam) {
  if (!TamMarcacionValido(tam) || n % tam) return false;
  constexpr uint32_t kUltimaHora = 3214079999u;  // 2099-12-31 23:59:59
  for (const uint8_t* r = p; r < p + n; r += tam) {
    if (tam == 8 && (r[3] || LeeU32(r + 4) > kUltimaHora)) return false;
    if (tam == 16 && (LeeU32(r + 4) > kUltimaHora || r[10] || r[11])) return false;
    if (tam >= 40) {
      // Stepping 49-byte records by 40 lands in their tail: an empty id, uid 0, time 0.
      if (LeeU32(r + 27) > kUltimaHora || !r[2]) return false;
      for (size_t i = 2; i < 26 && r[i]; ++i)
        if (r[i] < 0x20 || r[i] > 0x7E) return false;
    }
  }
  return true;
}

size_t LayoutDeMarcaciones(const uint8_t* p, size_t n, uint32_t cuenta,
                           std::initializer_list<size_t> orden) {
  size_t mejor = 0, distancia = SIZE_MAX;
  for (const size_t t : orden) {
    if (t == mejor || !MarcacionesPlausibles(p, n, t)) continue;
    if (!cuenta) return t;
    const size_t registros = n / t;
    const size_t d = registros > cuenta ? registros - cuenta : cuenta - registros;
    if (d < distancia) {
      mejor = t;
      distancia = d;
    }
  }
  return mejor;
}

bool DecodificaMarcacion(const uint8_t* p, size_t tam, Marcacion& m) {
  if (tam == 8) {
    m.uid = LeeU16(p);
    m.usuario.clear();
    m.verificacion = p[2] & 0x0F;
    m.estado = p[2] >> 4;
    m.hora = LeeU32(p + 4);
    m.codigoTrabajo = 0;
    return true;
  }
  if (tam == 16) {
    m.uid = 0;
    m.usuario = std::to_string(LeeU32(p));
    m.hora = LeeU32(p + 4);
    m.estado = p[8];
    m.verificacion = p[9];
    m.codigoTrabajo = LeeU32(p + 12);
    return true;
  }
  if (tam >= 40) {
    m.uid = LeeU16(p);
    const auto* fin = static_cast<const uint8_t*>(std::memchr(p + 2, 0, 24));
    m.usuario.assign(reinterpret_cast<const char*>(p + 2),
                     fin ? static_cast<size_t>(fin - (p + 2)) : 24);
    m.verificacion = p[26];
    m.hora = LeeU32(p + 27);
    m.estado = p[31];
    m.codigoTrabajo = 0;
    return true;
  }
  return false;
}

bool CodificaMarcacion(const Marcacion& m, size_t tam, Bytes& destino) {
  uint8_t r[49] = {};
  if (tam == 8) {
    PoneU16(r, m.uid);
    r[2] = static_cast<uint8_t>((m.verificacion & 0x0F) | (m.estado << 4));
    PoneU32(r + 4, m.hora);
  } else if (tam == 16) {
    auto pin = DecimalU32(m.usuario);
    if (!pin) return false;
    PoneU32(r, *pin);
    PoneU32(r + 4, m.hora);
    r[8] = m.estado;
    r[9] = m.verificacion;
    PoneU32(r + 12, m.codigoTrabajo);
  } else if (tam == 40 || tam == 49) {
    PoneU16(r, m.uid);
    if (!PoneCampoTexto(r + 2, 24, m.usuario, false)) return false;
    r[26] = m.verificacion;
    PoneU32(r + 27, m.hora);
    r[31] = m.estado;
    r[36] = 0xFF;
  } else {
    return false;
  }
  destino.insert(destino.end(), r, r + tam);
  return true;
}

// ---------------------------------------------------------------------------------------------

bool DecodificaUsuario(const uint8_t* p, size_t tam, UsuarioZk& u) {
  if (tam == kUsuario28) {
    u.uid = LeeU16(p);
    u.privilegio = p[2];
    u.clave = CampoTexto(p + kInicioClaveUsuario, LargoClaveUsuario(kUsuario28));
    u.nombre = CampoTexto(p + 8, 8);
    u.tarjeta = LeeU32(p + 16);
    u.grupo = p[21];
    u.zonas = {};
    u.zonas[0] = p[22];
    u.zonas[1] = p[23];
    u.usuario = std::to_string(LeeU32(p + 24));
    return true;
  }
  if (tam == kUsuario72) {
    u.uid = LeeU16(p);
    u.privilegio = p[2];
    u.clave = CampoTexto(p + kInicioClaveUsuario, LargoClaveUsuario(kUsuario72));
    u.nombre = CampoTexto(p + 11, 24);
    u.tarjeta = LeeU32(p + 35);
    u.grupo = p[39];
    std::copy(p + 40, p + 48, u.zonas.begin());
    u.usuario = CampoTexto(p + 48, 24);
    return true;
  }
  return false;
}

bool CodificaUsuario(const UsuarioZk& u, size_t tam, Bytes& destino) {
  uint8_t r[72] = {};
  if (tam == kUsuario28) {
    auto pin = DecimalU32(u.usuario);
    if (!pin) return false;
    PoneU16(r, u.uid);
    r[2] = u.privilegio;
    if (!PoneCampoTexto(r + kInicioClaveUsuario, LargoClaveUsuario(kUsuario28), u.clave, false) ||
        !PoneCampoTexto(r + 8, 8, u.nombre, false))
      return false;
    PoneU32(r + 16, u.tarjeta);
    r[21] = u.grupo;
    r[22] = u.zonas[0];
    r[23] = u.zonas[1];
    PoneU32(r + 24, *pin);
  } else if (tam == kUsuario72) {
    PoneU16(r, u.uid);
    r[2] = u.privilegio;
    if (!PoneCampoTexto(r + kInicioClaveUsuario, LargoClaveUsuario(kUsuario72), u.clave, false) ||
        !PoneCampoTexto(r + 11, 24, u.nombre, true) || !PoneCampoTexto(r + 48, 24, u.usuario, true))
      return false;
    PoneU32(r + 35, u.tarjeta);
    r[39] = u.grupo;
    std::copy(u.zonas.begin(), u.zonas.end(), r + 40);
  } else {
    return false;
  }
  destino.insert(destino.end(), r, r + tam);
  return true;
}

uint8_t PrivilegioAByte(int32_t privilegio, bool habilitado) {
  static constexpr uint8_t kNiveles[4] = {0, 2, 6, 14};
  const uint8_t b = kNiveles[std::clamp(privilegio, 0, 3)];
  return static_cast<uint8_t>(b | (habilitado ? 0 : 1));
}

int32_t PrivilegioDeByte(uint8_t b) {
  const int nivel = (b >> 1) & 7;
  if (nivel == 0) return 0;
  if (nivel == 1) return 1;
  if (nivel == 7) return 3;
  return 2;  // 3 is the common admin; other levels seen in the field (6) are managers too
}

// ---------------------------------------------------------------------------------------------

Bytes CodificaCapacidades(const Capacidades& c) {
  Bytes b(92, 0);
  PoneU32(&b[16], c.usuarios);
  PoneU32(&b[24], c.huellas);
  PoneU32(&b[32], c.registros);
  PoneU32(&b[40], c.operaciones);
  PoneU32(&b[48], c.admins);
  PoneU32(&b[52], c.claves);
  PoneU32(&b[56], c.capHuellas);
  PoneU32(&b[60], c.capUsuarios);
  PoneU32(&b[64], c.capRegistros);
  PoneU32(&b[68], c.libresHuellas);
  PoneU32(&b[72], c.libresUsuarios);
  PoneU32(&b[76], c.libresRegistros);
  PoneU32(&b[80], c.caras);
  PoneU32(&b[88], c.capCaras);
  return b;
}

std::optional<Capacidades> DecodificaCapacidades(const uint8_t* p, size_t n) {
  if (n < 80) return std::nullopt;
  Capacidades c;
  c.usuarios = LeeU32(p + 16);
  c.huellas = LeeU32(p + 24);
  c.registros = LeeU32(p + 32);
  c.operaciones = LeeU32(p + 40);
  c.admins = LeeU32(p + 48);
  c.claves = LeeU32(p + 52);
  c.capHuellas = LeeU32(p + 56);
  c.capUsuarios = LeeU32(p + 60);
  c.capRegistros = LeeU32(p + 64);
  c.libresHuellas = LeeU32(p + 68);
  c.libresUsuarios = LeeU32(p + 72);
  c.libresRegistros = LeeU32(p + 76);
  if (n >= 92) {
    c.caras = LeeU32(p + 80);
    c.capCaras = LeeU32(p + 88);
  }
  return c;
}

// ---------------------------------------------------------------------------------------------

Bytes CodificaPeticionMasiva(const PeticionMasiva& p) {
  Bytes b{0x01};
  AgregaU16(b, p.comando);
  AgregaU32(b, p.fct);
  AgregaU32(b, p.extra);
  return b;
}

std::optional<PeticionMasiva> DecodificaPeticionMasiva(const uint8_t* p, size_t n) {
  if (n < 11) return std::nullopt;
  return PeticionMasiva{LeeU16(p + 1), LeeU32(p + 3), LeeU32(p + 7)};
}

Bytes CodificaAnuncioMasivo(uint32_t tam) {
  Bytes b{0x00};
  AgregaU32(b, tam);
  AgregaU32(b, tam);
  AgregaU32(b, 0);
  return b;
}

std::optional<uint32_t> DecodificaAnuncioMasivo(const uint8_t* p, size_t n) {
  if (n < 5) return std::nullopt;
  return LeeU32(p + 1);
}

Bytes CodificaPeticionTrozo(uint32_t inicio, uint32_t tam) {
  Bytes b;
  AgregaU32(b, inicio);
  AgregaU32(b, tam);
  return b;
}

bool DecodificaPeticionTrozo(const uint8_t* p, size_t n, uint32_t& inicio, uint32_t& tam) {
  if (n < 8) return false;
  inicio = LeeU32(p);
  tam = LeeU32(p + 4);
  return true;
}

Bytes CodificaPreparacion(uint32_t tam, uint32_t extra) {
  Bytes b;
  AgregaU32(b, tam);
  AgregaU32(b, extra);
  return b;
}

std::optional<uint32_t> DecodificaPreparacion(const uint8_t* p, size_t n) {
  if (n >= 4) return LeeU32(p);
  if (n >= 2) return LeeU16(p);
  return std::nullopt;
}

Bytes ArmaConjunto(const uint8_t* registros, size_t n) {
  Bytes b;
  b.reserve(4 + n);
  AgregaU32(b, static_cast<uint32_t>(n));
  b.insert(b.end(), registros, registros + n);
  return b;
}

std::optional<CuerpoConjunto> LeeConjunto(const uint8_t* p, size_t n) {
  if (n < 4) return CuerpoConjunto{n, 0};
  const uint32_t largo = LeeU32(p);
  if (largo > n - 4) return std::nullopt;
  return CuerpoConjunto{4, largo};
}

size_t TamRegistroMarcacion(size_t bytes, uint32_t cuenta) {
  if (cuenta == 0 || bytes % cuenta) return 0;
  const size_t tam = bytes / cuenta;
  return TamMarcacionValido(tam) ? tam : 0;
}

size_t TamRegistroUsuario(size_t bytes, uint32_t cuenta) {
  if (cuenta == 0 || bytes % cuenta) return 0;
  const size_t tam = bytes / cuenta;
  return tam == kUsuario28 || tam == kUsuario72 ? tam : 0;
}

// ---------------------------------------------------------------------------------------------

Bytes CodificaUidIndice(uint16_t uid, uint8_t indice) {
  Bytes b;
  AgregaU16(b, uid);
  b.push_back(indice);
  return b;
}

bool DecodificaUidIndice(const uint8_t* p, size_t n, uint16_t& uid, uint8_t& indice) {
  if (n < 3) return false;
  uid = LeeU16(p);
  indice = p[2];
  return true;
}

Bytes CodificaEscrituraPlantilla(const EscrituraPlantilla& e) {
  Bytes b;
  AgregaU16(b, e.uid);
  b.push_back(e.dedo);
  b.push_back(e.bandera);
  AgregaU16(b, e.tam);
  return b;
}

std::optional<EscrituraPlantilla> DecodificaEscrituraPlantilla(const uint8_t* p, size_t n) {
  if (n < 6) return std::nullopt;
  return EscrituraPlantilla{LeeU16(p), p[2], p[3], LeeU16(p + 4)};
}

Bytes CodificaEscrituraCara(const EscrituraCara& e) {
  Bytes b;
  AgregaU16(b, e.uid);
  b.push_back(e.indice);
  AgregaU32(b, e.tam);
  return b;
}

std::optional<EscrituraCara> DecodificaEscrituraCara(const uint8_t* p, size_t n) {
  if (n < 7) return std::nullopt;
  return EscrituraCara{LeeU16(p), p[2], LeeU32(p + 3)};
}

bool CodificaEntradaPlantilla(const EntradaPlantilla& e, Bytes& destino) {
  if (e.plantilla.size() > 0xFFFF - 6) return false;
  AgregaU16(destino, static_cast<uint16_t>(e.plantilla.size() + 6));
  AgregaU16(destino, e.uid);
  destino.push_back(e.dedo);
  destino.push_back(e.bandera);
  destino.insert(destino.end(), e.plantilla.begin(), e.plantilla.end());
  return true;
}

bool DecodificaPlantillas(const uint8_t* p, size_t n, std::vector<EntradaPlantilla>& salida) {
  size_t i = 0;
  while (i < n) {
    if (n - i < 6) return false;
    const uint16_t tam = LeeU16(p + i);
    if (tam < 6 || tam > n - i) return false;
    EntradaPlantilla e;
    e.uid = LeeU16(p + i + 2);
    e.dedo = p[i + 4];
    e.bandera = p[i + 5];
    e.plantilla.assign(p + i + 6, p + i + tam);
    salida.push_back(std::move(e));
    i += tam;
  }
  return true;
}

uint32_t ChecksumBuffer(const uint8_t* p, size_t n) {
  uint32_t h = 0;
  for (size_t i = 0; i < n; ++i) {
    h = (h << 4) + p[i];
    const uint32_t g = h & 0xF0000000u;
    if (g) {
      // The reference shifts the signed value: the high bit spreads into the top byte.
      const uint32_t desplazado = (g >> 24) | ((g & 0x80000000u) ? 0xFFFFFF00u : 0u);
      h ^= g ^ desplazado;
    }
  }
  return h % 0xFEFFFFu;
}

// ---------------------------------------------------------------------------------------------

Bytes CodificaNombreOpcion(std::string_view nombre) {
  Bytes b(nombre.begin(), nombre.end());
  b.push_back(0);
  return b;
}

std::string DecodificaNombreOpcion(const uint8_t* p, size_t n) {
  return CampoTexto(p, n);
}

Bytes CodificaOpcion(std::string_view nombre, std::string_view valor) {
  Bytes b(nombre.begin(), nombre.end());
  b.push_back('=');
  b.insert(b.end(), valor.begin(), valor.end());
  b.push_back(0);
  return b;
}

std::string ValorOpcion(const uint8_t* p, size_t n) {
  std::string texto = CampoTexto(p, n);
  const auto igual = texto.find('=');
  return igual == std::string::npos ? texto : texto.substr(igual + 1);
}

std::string TextoHastaNul(const uint8_t* p, size_t n) {
  return CampoTexto(p, n);
}

// ---------------------------------------------------------------------------------------------

std::string Base64(const uint8_t* p, size_t n) {
  std::string s;
  s.reserve((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < n; i += 3) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    s += kAlfabeto[v >> 18];
    s += kAlfabeto[(v >> 12) & 63];
    s += kAlfabeto[(v >> 6) & 63];
    s += kAlfabeto[v & 63];
  }
  if (n - i == 1) {
    const uint32_t v = uint32_t{p[i]} << 16;
    s += kAlfabeto[v >> 18];
    s += kAlfabeto[(v >> 12) & 63];
    s += "==";
  } else if (n - i == 2) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8);
    s += kAlfabeto[v >> 18];
    s += kAlfabeto[(v >> 12) & 63];
    s += kAlfabeto[(v >> 6) & 63];
    s += '=';
  }
  return s;
}

std::optional<Bytes> DeBase64(std::string_view texto) {
  Bytes b;
  b.reserve(texto.size() / 4 * 3 + 3);
  uint32_t acumulado = 0;
  int bits = 0;
  size_t cifras = 0;
  size_t relleno = 0;
  for (char c : texto) {
    if (c == ' ' || c == '\r' || c == '\n' || c == '\t') continue;
    if (c == '=') {
      ++relleno;
      continue;
    }
    if (relleno) return std::nullopt;  // data after padding
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else
      return std::nullopt;
    acumulado = (acumulado << 6) | static_cast<uint32_t>(v);
    bits += 6;
    ++cifras;
    if (bits >= 8) {
      bits -= 8;
      b.push_back(static_cast<uint8_t>(acumulado >> bits));
      acumulado &= (1u << bits) - 1;
    }
  }
  if (cifras % 4 == 1 || relleno > 2 || (relleno && (cifras + relleno) % 4)) return std::nullopt;
  return b;
}

}  // namespace lector::clock::zk
