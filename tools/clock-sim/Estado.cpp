#include "clock-sim/Estado.h"

#include "clock-sim/Perfil.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "support/CodePage.h"

namespace clocksim {

using json = nlohmann::ordered_json;

namespace {

constexpr std::chrono::sys_days kEpoca = std::chrono::sys_days{std::chrono::year_month_day{
    std::chrono::year{2000}, std::chrono::month{1}, std::chrono::day{1}}};

// Built-in options: what a TFT clock of this family answers; the file may override any.
const std::map<std::string, std::string>& OpcionesFijas() {
  static const std::map<std::string, std::string> fijas = {
      {"~OS", "1"},
      {"~ExtendFmt", "0"},
      {"ExtendOPLog", "1"},
      {"~ZKFPVersion", "10"},
      {"WorkCode", "0"},
      {"~SSR", "1"},
      {"~PIN2Width", "9"},
      {"~DeviceName", "F19"},
      {"~OEMVendor", "ZKTeco Inc."},
      {"ZKFaceVersion", "7"},
      {"~ZKFaceVersion", "7"},
      {"FaceFunOn", "1"},
      {"~FaceFunOn", "1"},
      {"FingerFunOn", "1"},
      {"~IsOnlyRFMachine", "0"},
      {"~RFCardOn", "1"},
      {"BiometricType", "0"},
      {"MAC", "00:17:61:12:34:56"},
      {"~ProductTime", "2012-10-29 10:00:00"},
      {"Language", "69"},
      {"CompatOldFirmware", "0"},
      {"~UserExtFmt", "1"},
  };
  return fijas;
}

// Cuts a device text to at most n bytes without splitting a UTF-8 sequence.
std::string Corta(std::string texto, size_t n, Codificacion c) {
  if (texto.size() <= n) return texto;
  size_t fin = n;
  if (c == Codificacion::kUtf8) {
    while (fin > 0 && (static_cast<uint8_t>(texto[fin]) & 0xC0) == 0x80) --fin;
  }
  texto.resize(fin);
  return texto;
}

bool EsNumeroU32(const std::string& s) {
  if (s.empty() || s.size() > 10) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v <= 0xFFFFFFFFull;
}

template <class T>
T Campo(const json& j, const char* nombre, T porDefecto) {
  auto it = j.find(nombre);
  if (it == j.end() || it->is_null()) return porDefecto;
  try {
    return it->get<T>();
  } catch (const json::exception&) {
    throw std::runtime_error(std::string("campo \"") + nombre + "\" con un valor de otro tipo");
  }
}

template <class T>
T Entero(const json& j, const char* nombre, T porDefecto, int64_t min, int64_t max) {
  auto it = j.find(nombre);
  if (it == j.end() || it->is_null()) return porDefecto;
  if (!it->is_number_integer()) {
    throw std::runtime_error(std::string("campo \"") + nombre + "\" no es un entero");
  }
  int64_t v =
      it->is_number_unsigned() ? static_cast<int64_t>(it->get<uint64_t>()) : it->get<int64_t>();
  if (v < min || v > max) {
    throw std::runtime_error(std::string("campo \"") + nombre + "\" fuera de rango");
  }
  return static_cast<T>(v);
}

zk::FechaHora FechaDeJson(const json& j, const char* nombre) {
  auto texto = Campo<std::string>(j, nombre, "");
  auto f = LeeFecha(texto);
  if (!f) throw std::runtime_error(std::string("campo \"") + nombre + "\" no es una fecha válida");
  return *f;
}

zk::Bytes DeBase64Campo(const json& j, const char* nombre) {
  auto b = zk::DeBase64(Campo<std::string>(j, nombre, ""));
  if (!b) throw std::runtime_error(std::string("campo \"") + nombre + "\" no es Base64");
  return *b;
}

}  // namespace

int64_t SegundosCiviles(const zk::FechaHora& f) {
  using namespace std::chrono;
  sys_days d{year_month_day{year{f.anio}, month{static_cast<unsigned>(f.mes)},
                            day{static_cast<unsigned>(f.dia)}}};
  return (d - kEpoca).count() * 86400LL + f.hora * 3600 + f.minuto * 60 + f.segundo;
}

zk::FechaHora FechaDeSegundos(int64_t s) {
  using namespace std::chrono;
  int64_t dias = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
  int64_t resto = s - dias * 86400;
  year_month_day ymd{kEpoca + days{dias}};
  zk::FechaHora f;
  f.anio = static_cast<int>(ymd.year());
  f.mes = static_cast<int>(static_cast<unsigned>(ymd.month()));
  f.dia = static_cast<int>(static_cast<unsigned>(ymd.day()));
  f.hora = static_cast<int>(resto / 3600);
  f.minuto = static_cast<int>(resto / 60 % 60);
  f.segundo = static_cast<int>(resto % 60);
  return f;
}

int64_t AhoraLocal() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return SegundosCiviles({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          std::min(tm.tm_sec, 59)});
}

std::string TextoFecha(const zk::FechaHora& f) {
  char b[64];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", f.anio, f.mes, f.dia, f.hora,
                f.minuto, f.segundo);
  return b;
}

std::optional<zk::FechaHora> LeeFecha(const std::string& texto) {
  if (texto.size() != 19) return std::nullopt;
  static const char kForma[] = "dddd-dd-dd dd:dd:dd";
  for (size_t i = 0; i < 19; ++i) {
    bool digito = texto[i] >= '0' && texto[i] <= '9';
    if ((kForma[i] == 'd') != digito) return std::nullopt;
    if (kForma[i] != 'd' && texto[i] != kForma[i]) return std::nullopt;
  }
  auto n = [&](size_t i, size_t largo) { return std::stoi(texto.substr(i, largo)); };
  zk::FechaHora f{n(0, 4), n(5, 2), n(8, 2), n(11, 2), n(14, 2), n(17, 2)};
  std::chrono::year_month_day ymd{std::chrono::year{f.anio},
                                  std::chrono::month{static_cast<unsigned>(f.mes)},
                                  std::chrono::day{static_cast<unsigned>(f.dia)}};
  if (!ymd.ok() || f.hora > 23 || f.minuto > 59 || f.segundo > 59) return std::nullopt;
  return f;
}

int64_t EstadoReloj::Hora() const {
  return horaFija ? *horaFija : AhoraLocal() + desfaseHora;
}

void EstadoReloj::PoneHora(int64_t civil) {
  if (horaFija) {
    horaFija = civil;
  } else {
    desfaseHora = civil - AhoraLocal();
  }
}

std::optional<std::string> EstadoReloj::Opcion(const std::string& nombre) const {
  if (auto it = opciones.find(nombre); it != opciones.end()) return it->second;
  if (nombre == "~SerialNumber") return serie;
  if (nombre == "~Platform") return plataforma;
  if (auto it = OpcionesFijas().find(nombre); it != OpcionesFijas().end()) return it->second;
  return std::nullopt;
}

Usuario* EstadoReloj::BuscaUid(uint16_t uid) {
  for (auto& u : usuarios) {
    if (u.uid == uid) return &u;
  }
  return nullptr;
}

const Usuario* EstadoReloj::BuscaUid(uint16_t uid) const {
  return const_cast<EstadoReloj*>(this)->BuscaUid(uid);
}

Usuario* EstadoReloj::BuscaId(const std::string& id) {
  for (auto& u : usuarios) {
    if (u.id == id) return &u;
  }
  return nullptr;
}

uint16_t EstadoReloj::UidNuevo() const {
  uint32_t mayor = 0;
  for (const auto& u : usuarios) mayor = std::max<uint32_t>(mayor, u.uid);
  return mayor >= 0xFFFF ? 0 : static_cast<uint16_t>(mayor + 1);
}

bool EstadoReloj::BorraUsuario(uint16_t uid) {
  auto it = std::find_if(usuarios.begin(), usuarios.end(),
                         [&](const Usuario& u) { return u.uid == uid; });
  if (it == usuarios.end()) return false;
  usuarios.erase(it);
  std::erase_if(plantillas, [&](const auto& p) { return p.first.first == uid; });
  std::erase_if(caras, [&](const auto& p) { return p.first.first == uid; });
  return true;
}

void EstadoReloj::Marca(const std::string& id, uint8_t estado, uint8_t verificacion,
                        std::optional<int64_t> hora) {
  Marcacion m;
  const Usuario* u = BuscaId(id);
  m.uid = u ? u->uid : 0;
  m.usuario = id;
  m.estado = estado;
  m.verificacion = verificacion;
  m.hora = zk::CodificaHora(FechaDeSegundos(hora ? *hora : Hora())).value_or(0);
  marcaciones.push_back(std::move(m));
  InvalidaCaches();
}

zk::Capacidades EstadoReloj::Capacidades() const {
  zk::Capacidades c;
  c.usuarios = static_cast<uint32_t>(usuarios.size());
  c.huellas = static_cast<uint32_t>(plantillas.size());
  c.registros = static_cast<uint32_t>(marcaciones.size());
  for (const auto& u : usuarios) {
    if (u.privilegio > 0) ++c.admins;
    if (!u.clave.empty()) ++c.claves;
  }
  c.capUsuarios = std::max<uint32_t>(3000, c.usuarios);
  c.capHuellas = std::max<uint32_t>(3000, c.huellas);
  c.capRegistros = std::max<uint32_t>(100000, c.registros);
  c.libresUsuarios = c.capUsuarios - c.usuarios;
  c.libresHuellas = c.capHuellas - c.huellas;
  c.libresRegistros = c.capRegistros - c.registros;
  c.caras = static_cast<uint32_t>(caras.size());
  c.capCaras = std::max<uint32_t>(400, c.caras);
  return c;
}

std::string EstadoReloj::TextoDispositivo(const std::string& utf8) const {
  return codificacion == Codificacion::kUtf8 ? utf8 : lector::Utf8ACp1252(utf8);
}

std::string EstadoReloj::TextoUtf8(const std::string& dispositivo) const {
  return codificacion == Codificacion::kUtf8 ? dispositivo : lector::Cp1252AUtf8(dispositivo);
}

zk::UsuarioZk EstadoReloj::AUsuarioZk(const Usuario& u) const {
  bool corto = formatoUsuario == zk::kUsuario28;
  zk::UsuarioZk z;
  z.uid = u.uid;
  z.privilegio = zk::PrivilegioAByte(u.privilegio, u.habilitado);
  z.clave = Corta(u.clave, corto ? 5 : 7, Codificacion::kCp1252);
  // 28 bytes: the name may fill its 8 bytes; 72 bytes: 23 and a NUL.
  z.nombre = Corta(TextoDispositivo(u.nombre), corto ? 8 : 23, codificacion);
  z.tarjeta = u.tarjeta;
  z.grupo = u.grupo;
  z.usuario = corto ? (EsNumeroU32(u.id) ? u.id : "0") : Corta(u.id, 23, Codificacion::kCp1252);
  return z;
}

Usuario EstadoReloj::DeUsuarioZk(const zk::UsuarioZk& z) const {
  Usuario u;
  u.uid = z.uid;
  u.id = z.usuario;
  u.nombre = TextoUtf8(z.nombre);
  u.clave = z.clave;
  u.privilegio = zk::PrivilegioDeByte(z.privilegio);
  u.habilitado = zk::HabilitadoDeByte(z.privilegio);
  u.tarjeta = z.tarjeta;
  u.grupo = z.grupo;
  return u;
}

std::shared_ptr<const zk::Bytes> EstadoReloj::ConjuntoMarcaciones() const {
  if (cacheMarcaciones_ && cacheFormato_ == formatoMarcacion) return cacheMarcaciones_;
  auto datos = std::make_shared<zk::Bytes>();
  datos->reserve(4 + marcaciones.size() * formatoMarcacion);
  zk::AgregaU32(*datos, 0);
  for (const auto& m : marcaciones) {
    if (zk::CodificaMarcacion(m, formatoMarcacion, *datos)) continue;
    // An id this layout cannot carry (not a number in 16 bytes, too long in 40).
    Marcacion copia = m;
    copia.usuario = formatoMarcacion == 16 ? "0" : copia.usuario.substr(0, 24);
    zk::CodificaMarcacion(copia, formatoMarcacion, *datos);
  }
  zk::PoneU32(datos->data(), static_cast<uint32_t>(datos->size() - 4));
  cacheMarcaciones_ = std::move(datos);
  cacheFormato_ = formatoMarcacion;
  return cacheMarcaciones_;
}

zk::Bytes EstadoReloj::ConjuntoUsuarios() const {
  zk::Bytes datos;
  datos.reserve(4 + usuarios.size() * formatoUsuario);
  zk::AgregaU32(datos, 0);
  const Perfil* p = BuscaPerfil(perfil);
  for (const auto& u : usuarios) {
    const size_t inicio = datos.size();
    zk::CodificaUsuario(AUsuarioZk(u), formatoUsuario, datos);
    // Firmware that leaves what was there before after the name's NUL.
    if (p && p->idsConLetras && formatoUsuario == zk::kUsuario72 && datos.size() > inicio)
      for (size_t i = inicio + 11 + AUsuarioZk(u).nombre.size() + 1; i < inicio + 34; ++i)
        datos[i] = static_cast<uint8_t>('A' + i % 26);
  }
  zk::PoneU32(datos.data(), static_cast<uint32_t>(datos.size() - 4));
  return datos;
}

zk::Bytes EstadoReloj::ConjuntoPlantillas() const {
  zk::Bytes datos;
  zk::AgregaU32(datos, 0);
  for (const auto& [clave, p] : plantillas) {
    zk::EntradaPlantilla e{clave.first, clave.second, p.bandera, p.datos};
    zk::CodificaEntradaPlantilla(e, datos);
  }
  zk::PoneU32(datos.data(), static_cast<uint32_t>(datos.size() - 4));
  return datos;
}

void EstadoReloj::InvalidaCaches() const {
  cacheMarcaciones_.reset();
  cacheFormato_ = 0;
}

json EstadoReloj::AJson(bool conMarcaciones) const {
  json j;
  j["serie"] = serie;
  j["firmware"] = firmware;
  j["plataforma"] = plataforma;
  j["opciones"] = opciones;
  j["clave_comm"] = claveComm;
  j["formato_usuarios"] = formatoUsuario;
  j["formato_marcaciones"] = formatoMarcacion;
  j["codificacion"] = codificacion == Codificacion::kUtf8 ? "utf8" : "cp1252";
  if (!perfil.empty()) j["perfil"] = perfil;
  j["desfase_hora"] = desfaseHora;
  if (horaFija) j["hora_fija"] = TextoFecha(FechaDeSegundos(*horaFija));
  json us = json::array();
  for (const auto& u : usuarios) {
    us.push_back({{"uid", u.uid},
                  {"id", u.id},
                  {"nombre", u.nombre},
                  {"clave", u.clave},
                  {"privilegio", u.privilegio},
                  {"habilitado", u.habilitado},
                  {"tarjeta", u.tarjeta},
                  {"grupo", u.grupo}});
  }
  j["usuarios"] = std::move(us);
  json ps = json::array();
  for (const auto& [clave, p] : plantillas) {
    ps.push_back({{"uid", clave.first},
                  {"dedo", clave.second},
                  {"bandera", p.bandera},
                  {"datos", zk::Base64(p.datos.data(), p.datos.size())}});
  }
  j["plantillas"] = std::move(ps);
  json cs = json::array();
  for (const auto& [clave, datos] : caras) {
    cs.push_back({{"uid", clave.first},
                  {"indice", clave.second},
                  {"datos", zk::Base64(datos.data(), datos.size())}});
  }
  j["caras"] = std::move(cs);
  json ms = json::array();
  for (size_t i = 0; conMarcaciones && i < marcaciones.size(); ++i) {
    const auto& m = marcaciones[i];
    ms.push_back({{"uid", m.uid},
                  {"id", m.usuario},
                  {"hora", TextoFecha(zk::DecodificaHora(m.hora))},
                  {"verificacion", m.verificacion},
                  {"estado", m.estado},
                  {"codigo", m.codigoTrabajo}});
  }
  j["marcaciones"] = std::move(ms);
  return j;
}

Marcacion EstadoReloj::MarcacionDeJson(const json& x) {
  if (!x.is_object()) throw std::runtime_error("una marcación no es un objeto");
  Marcacion m;
  m.usuario = Campo<std::string>(x, "id", "");
  m.uid = Entero<uint16_t>(x, "uid", 0, 0, 0xFFFF);
  auto hora = zk::CodificaHora(FechaDeJson(x, "hora"));
  if (!hora) throw std::runtime_error("marcación fuera de los años 2000 a 2099");
  m.hora = *hora;
  m.verificacion = Entero<uint8_t>(x, "verificacion", 1, 0, 255);
  m.estado = Entero<uint8_t>(x, "estado", 0, 0, 255);
  m.codigoTrabajo = Entero<uint32_t>(x, "codigo", 0, 0, 0xFFFFFFFFll);
  if (m.usuario.empty() && m.uid == 0) throw std::runtime_error("marcación sin \"id\" ni \"uid\"");
  return m;
}

void EstadoReloj::CompletaMarcaciones() {
  // A record may name its user by uid or by enrolment number; fill in the other from users.
  for (auto& m : marcaciones) {
    if (m.uid == 0 && !m.usuario.empty()) {
      if (auto* u = BuscaId(m.usuario)) m.uid = u->uid;
    } else if (m.usuario.empty()) {
      if (auto* u = BuscaUid(m.uid)) m.usuario = u->id;
    }
  }
  InvalidaCaches();
}

EstadoReloj EstadoReloj::DeJson(const json& j) {
  if (!j.is_object()) throw std::runtime_error("el estado no es un objeto JSON");
  EstadoReloj e;
  e.serie = Campo<std::string>(j, "serie", e.serie);
  e.firmware = Campo<std::string>(j, "firmware", e.firmware);
  e.plataforma = Campo<std::string>(j, "plataforma", e.plataforma);
  e.opciones = Campo<std::map<std::string, std::string>>(j, "opciones", {});
  e.claveComm = Entero<uint32_t>(j, "clave_comm", 0, 0, 0xFFFFFFFFll);
  e.formatoUsuario = Entero<size_t>(j, "formato_usuarios", 72, 0, 1000);
  if (e.formatoUsuario != 72 && e.formatoUsuario != 28) {
    throw std::runtime_error("formato_usuarios debe ser 72 o 28");
  }
  e.formatoMarcacion = Entero<size_t>(j, "formato_marcaciones", 40, 0, 1000);
  if (!zk::TamMarcacionValido(e.formatoMarcacion)) {
    throw std::runtime_error("formato_marcaciones debe ser 40, 49, 16 u 8");
  }
  e.perfil = Campo<std::string>(j, "perfil", "");
  if (!BuscaPerfil(e.perfil)) throw std::runtime_error("perfil desconocido: " + e.perfil);
  auto cod = Campo<std::string>(j, "codificacion", "cp1252");
  if (cod != "cp1252" && cod != "utf8") {
    throw std::runtime_error("codificacion debe ser cp1252 o utf8");
  }
  e.codificacion = cod == "utf8" ? Codificacion::kUtf8 : Codificacion::kCp1252;
  e.desfaseHora = Entero<int64_t>(j, "desfase_hora", 0, -4000000000ll, 4000000000ll);
  if (j.contains("hora_fija") && !j["hora_fija"].is_null()) {
    e.horaFija = SegundosCiviles(FechaDeJson(j, "hora_fija"));
  }

  auto lista = [&](const char* nombre) -> const json& {
    static const json vacia = json::array();
    auto it = j.find(nombre);
    if (it == j.end() || it->is_null()) return vacia;
    if (!it->is_array())
      throw std::runtime_error(std::string("\"") + nombre + "\" no es una lista");
    return *it;
  };
  // Templates, faces and records may name their user by uid or by enrolment number.
  auto uidDe = [&](const json& x) -> uint16_t {
    if (x.contains("uid")) return Entero<uint16_t>(x, "uid", 0, 0, 0xFFFF);
    auto id = Campo<std::string>(x, "id", "");
    if (auto* u = e.BuscaId(id)) return u->uid;
    throw std::runtime_error("referencia a un usuario inexistente: \"" + id + "\"");
  };

  for (const auto& x : lista("usuarios")) {
    Usuario u;
    u.id = Campo<std::string>(x, "id", "");
    if (u.id.empty()) throw std::runtime_error("usuario sin \"id\"");
    u.uid = x.contains("uid") ? Entero<uint16_t>(x, "uid", 0, 1, 0xFFFF) : e.UidNuevo();
    if (u.uid == 0) throw std::runtime_error("no quedan uid libres");
    if (e.BuscaUid(u.uid)) throw std::runtime_error("uid repetido: " + std::to_string(u.uid));
    u.nombre = Campo<std::string>(x, "nombre", "");
    u.clave = Campo<std::string>(x, "clave", "");
    u.privilegio = Entero<int>(x, "privilegio", 0, 0, 3);
    u.habilitado = Campo<bool>(x, "habilitado", true);
    u.tarjeta = Entero<uint32_t>(x, "tarjeta", 0, 0, 0xFFFFFFFFll);
    u.grupo = Entero<uint8_t>(x, "grupo", 1, 0, 255);
    e.usuarios.push_back(std::move(u));
  }
  for (const auto& x : lista("plantillas")) {
    uint16_t uid = uidDe(x);
    auto dedo = Entero<uint8_t>(x, "dedo", 0, 0, 9);
    e.plantillas[{uid, dedo}] =
        Plantilla{Entero<uint8_t>(x, "bandera", 1, 0, 255), DeBase64Campo(x, "datos")};
  }
  for (const auto& x : lista("caras")) {
    uint16_t uid = uidDe(x);
    e.caras[{uid, Entero<uint8_t>(x, "indice", 50, 0, 255)}] = DeBase64Campo(x, "datos");
  }
  const json& ms = lista("marcaciones");
  e.marcaciones.reserve(ms.size());
  for (const auto& x : ms) e.marcaciones.push_back(MarcacionDeJson(x));
  e.CompletaMarcaciones();
  return e;
}

EstadoReloj EstadoReloj::Carga(const std::filesystem::path& archivo) {
  std::ifstream f(archivo, std::ios::binary);
  if (!f) throw std::runtime_error("no se puede abrir " + archivo.string());
  // Records are taken out of the document as they are parsed: a file of 300 000 records would
  // otherwise become a tree of several hundred megabytes.
  std::vector<Marcacion> marcaciones;
  int profundidad = 0;
  std::string claveRaiz;
  bool marcacionesEsLista = true;
  auto alLeer = [&](int, json::parse_event_t evento, json& leido) {
    bool enMarcaciones = profundidad == 2 && claveRaiz == "marcaciones";
    switch (evento) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        if (profundidad == 1 && claveRaiz == "marcaciones") {
          marcacionesEsLista = evento == json::parse_event_t::array_start;
        }
        if (enMarcaciones && evento == json::parse_event_t::array_start) {
          throw std::runtime_error("una marcación no es un objeto");
        }
        ++profundidad;
        return true;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        --profundidad;
        if (evento == json::parse_event_t::object_end && profundidad == 2 &&
            claveRaiz == "marcaciones") {
          marcaciones.push_back(MarcacionDeJson(leido));
          return false;
        }
        return true;
      case json::parse_event_t::key:
        if (profundidad == 1) claveRaiz = leido.get<std::string>();
        return true;
      case json::parse_event_t::value:
        if (enMarcaciones) throw std::runtime_error("una marcación no es un objeto");
        return true;
    }
    return true;
  };
  try {
    json j = json::parse(f, alLeer);
    if (!j.is_object()) throw std::runtime_error("el estado no es un objeto JSON");
    if (!marcacionesEsLista || (j.contains("marcaciones") && !j["marcaciones"].is_array() &&
                                !j["marcaciones"].is_null())) {
      throw std::runtime_error("\"marcaciones\" no es una lista");
    }
    j.erase("marcaciones");
    EstadoReloj e = DeJson(j);
    e.marcaciones = std::move(marcaciones);
    e.CompletaMarcaciones();
    return e;
  } catch (const json::exception& ex) {
    throw std::runtime_error(archivo.string() + ": JSON inválido: " + ex.what());
  } catch (const std::runtime_error& ex) {
    throw std::runtime_error(archivo.string() + ": " + ex.what());
  }
}

void EstadoReloj::Graba(const std::filesystem::path& archivo) const {
  auto temporal = archivo;
  temporal += ".tmp";
  {
    std::ofstream f(temporal, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("no se puede escribir " + temporal.string());
    // Everything but the records through the JSON library; the records one a line, written
    // directly (see Carga).
    json j = AJson(false);
    j.erase("marcaciones");
    std::string cabeza = j.dump(1, ' ', false, json::error_handler_t::replace);
    cabeza.pop_back();  // the closing brace
    while (!cabeza.empty() && (cabeza.back() == '\n' || cabeza.back() == ' ')) cabeza.pop_back();
    f << cabeza << ",\n \"marcaciones\": [";
    std::string linea;
    for (size_t i = 0; i < marcaciones.size(); ++i) {
      const auto& m = marcaciones[i];
      json id = m.usuario;
      char resto[160];
      std::snprintf(resto, sizeof resto,
                    ", \"hora\": \"%s\", \"verificacion\": %u, \"estado\": %u, \"codigo\": %u}",
                    TextoFecha(zk::DecodificaHora(m.hora)).c_str(), m.verificacion, m.estado,
                    m.codigoTrabajo);
      linea = i ? ",\n  {\"uid\": " : "\n  {\"uid\": ";
      linea += std::to_string(m.uid);
      linea += ", \"id\": ";
      linea += id.dump(-1, ' ', false, json::error_handler_t::replace);
      linea += resto;
      f << linea;
    }
    f << (marcaciones.empty() ? "]\n}\n" : "\n ]\n}\n");
    f.flush();
    if (!f) throw std::runtime_error("falló la escritura de " + temporal.string());
  }
  std::filesystem::rename(temporal, archivo);
}

}  // namespace clocksim
