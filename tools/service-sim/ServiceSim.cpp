#include "ServiceSim.h"

#include <httplib.h>

#include <algorithm>
#include <random>
#include <stdexcept>

namespace servicesim {
namespace {

using nlohmann::json;

// Form and multipart Content-Types are set aside under this name before the body is read, so
// that the body is kept byte for byte instead of being taken apart (and form bodies over 8 KB
// refused) by the HTTP library.
constexpr const char* kTipoApartado = "X-Sim-Content-Type";
constexpr const char* kTipoTexto = "text/html; charset=UTF-8";

bool EmpiezaSinCaso(const std::string& texto, const std::string& prefijo) {
  if (texto.size() < prefijo.size()) return false;
  for (size_t i = 0; i < prefijo.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(texto[i])) !=
        std::tolower(static_cast<unsigned char>(prefijo[i])))
      return false;
  return true;
}

int ValorHex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Base64(const std::string& datos) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < datos.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(datos[i]) << 16) |
                 (static_cast<unsigned char>(datos[i + 1]) << 8) |
                 static_cast<unsigned char>(datos[i + 2]);
    out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], k[v & 63]};
  }
  if (i + 1 == datos.size()) {
    unsigned v = static_cast<unsigned char>(datos[i]) << 16;
    out += {k[v >> 18], k[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == datos.size()) {
    unsigned v = (static_cast<unsigned char>(datos[i]) << 16) |
                 (static_cast<unsigned char>(datos[i + 1]) << 8);
    out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], '='};
  }
  return out;
}

std::string DeBase64(const std::string& texto) {
  std::string out;
  unsigned v = 0;
  int bits = 0;
  for (char c : texto) {
    int d;
    if (c >= 'A' && c <= 'Z')
      d = c - 'A';
    else if (c >= 'a' && c <= 'z')
      d = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      d = c - '0' + 52;
    else if (c == '+')
      d = 62;
    else if (c == '/')
      d = 63;
    else
      continue;
    v = (v << 6) | static_cast<unsigned>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((v >> bits) & 0xFF);
    }
  }
  return out;
}

// A JSON value given as a string or a number, as text.
std::string Texto(const json& j, const char* clave, const std::string& porDefecto = "") {
  auto it = j.find(clave);
  if (it == j.end() || it->is_null()) return porDefecto;
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<long long>());
  if (it->is_boolean()) return it->get<bool>() ? "1" : "0";
  return it->dump();
}

json ATexto(const std::string& s) {
  // Texts from the wire may not be UTF-8; JSON output replaces what is not.
  return json(s);
}

std::string Volcado(const json& j) {
  return j.dump(2, ' ', false, json::error_handler_t::replace);
}

const char* kNombresCampos[] = {"numero", "serial", "relojid", "nombre", "etiqueta", "ip"};

json RelojAJson(const RelojSim& r) {
  json j;
  for (int i = 0; i < 6; ++i) j[kNombresCampos[i]] = r.campos[i];
  j["campos7a12"] = json::array();
  for (int i = 6; i < 12; ++i) j["campos7a12"].push_back(r.campos[i]);
  j["conectado"] = r.campos[12];
  j["intervalo"] = r.campos[13];
  j["tareas"] = json::array();
  for (const Tarea& t : r.tareas)
    j["tareas"].push_back({{"id", t.id},
                           {"codigo", t.codigo},
                           {"sujeto", t.sujeto},
                           {"nombres", t.nombres},
                           {"entregada", t.entregada},
                           {"respondida", t.respondida},
                           {"respuesta", t.respuesta}});
  return j;
}

RelojSim RelojDeJson(const json& j) {
  RelojSim r;
  for (int i = 0; i < 6; ++i) r.campos[i] = Texto(j, kNombresCampos[i]);
  if (auto it = j.find("campos7a12"); it != j.end() && it->is_array())
    for (size_t i = 0; i < 6 && i < it->size(); ++i)
      r.campos[6 + i] = (*it)[i].is_string() ? (*it)[i].get<std::string>() : (*it)[i].dump();
  r.campos[12] = Texto(j, "conectado", "1");
  r.campos[13] = Texto(j, "intervalo", "5");
  if (auto it = j.find("tareas"); it != j.end() && it->is_array())
    for (const json& t : *it) {
      Tarea tarea;
      tarea.id = Texto(t, "id");
      tarea.codigo = Texto(t, "codigo");
      tarea.sujeto = Texto(t, "sujeto");
      tarea.nombres = Texto(t, "nombres");
      tarea.entregada = t.value("entregada", false);
      tarea.respondida = t.value("respondida", false);
      tarea.respuesta = Texto(t, "respuesta");
      r.tareas.push_back(tarea);
    }
  return r;
}

std::string EscapaBarras(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

std::string Consulta(const std::string& destino) {
  size_t q = destino.find('?');
  return q == std::string::npos ? "" : destino.substr(q + 1);
}

std::string Valor(const std::map<std::string, std::string>& m, const std::string& clave) {
  auto it = m.find(clave);
  return it == m.end() ? "" : it->second;
}

}  // namespace

RelojSim NuevoReloj(const std::string& numero, const std::string& serial,
                    const std::string& relojId, const std::string& nombre,
                    const std::string& etiqueta, const std::string& ip,
                    const std::string& conectado, const std::string& intervalo) {
  RelojSim r;
  r.campos = {numero, serial, relojId, nombre, etiqueta, ip,        "",
              "",     "",     "",      "",     "",       conectado, intervalo};
  return r;
}

Guion Guion::PaginaError(int veces) {
  Guion g;
  g.estado = 500;
  g.veces = veces;
  g.texto =
      "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n"
      "<title>500 Internal Server Error</title>\n</head><body>\n<h1>Internal Server Error</h1>\n"
      "<p>The server encountered an internal error or\nmisconfiguration and was unable to "
      "complete\nyour request.</p>\n<p>Please contact the server administrator at "
      "<a href=\"http://127.0.0.1/\">http://127.0.0.1/</a></p>\n</body></html>\n";
  return g;
}

std::string DecodificaPorciento(const std::string& texto) {
  std::string out;
  out.reserve(texto.size());
  for (size_t i = 0; i < texto.size(); ++i) {
    char c = texto[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < texto.size() && ValorHex(texto[i + 1]) >= 0 &&
               ValorHex(texto[i + 2]) >= 0) {
      out += static_cast<char>(ValorHex(texto[i + 1]) * 16 + ValorHex(texto[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::map<std::string, std::string> LeeFormulario(const std::string& texto) {
  std::map<std::string, std::string> m;
  size_t inicio = 0;
  while (inicio <= texto.size()) {
    size_t fin = texto.find('&', inicio);
    if (fin == std::string::npos) fin = texto.size();
    std::string par = texto.substr(inicio, fin - inicio);
    if (!par.empty()) {
      size_t igual = par.find('=');
      if (igual == std::string::npos)
        m[DecodificaPorciento(par)] = "";
      else
        m[DecodificaPorciento(par.substr(0, igual))] = DecodificaPorciento(par.substr(igual + 1));
    }
    inicio = fin + 1;
  }
  return m;
}

std::optional<ParteArchivo> LeeMultipart(const std::string& cuerpo, const std::string& frontera) {
  if (frontera.empty()) return std::nullopt;
  const std::string marca = "--" + frontera;
  size_t p = cuerpo.find(marca);
  while (p != std::string::npos) {
    size_t inicioCabeceras = p + marca.size();
    if (cuerpo.compare(inicioCabeceras, 2, "--") == 0) return std::nullopt;  // closing boundary
    if (cuerpo.compare(inicioCabeceras, 2, "\r\n") != 0) return std::nullopt;
    inicioCabeceras += 2;
    size_t finCabeceras = cuerpo.find("\r\n\r\n", inicioCabeceras);
    if (finCabeceras == std::string::npos) return std::nullopt;
    size_t inicioContenido = finCabeceras + 4;
    size_t siguiente = cuerpo.find("\r\n" + marca, inicioContenido);
    if (siguiente == std::string::npos) return std::nullopt;
    ParteArchivo parte;
    std::string cabeceras = cuerpo.substr(inicioCabeceras, finCabeceras - inicioCabeceras);
    size_t l = 0;
    while (l <= cabeceras.size()) {
      size_t f = cabeceras.find("\r\n", l);
      if (f == std::string::npos) f = cabeceras.size();
      std::string linea = cabeceras.substr(l, f - l);
      if (EmpiezaSinCaso(linea, "content-disposition:")) {
        auto atributo = [&](const std::string& nombre) -> std::string {
          // name="..." / filename="..." (the first whose key stands alone)
          for (size_t a = linea.find(nombre + "=\""); a != std::string::npos;
               a = linea.find(nombre + "=\"", a + 1)) {
            char antes = a == 0 ? ' ' : linea[a - 1];
            if (antes != ' ' && antes != ';') continue;
            size_t v = a + nombre.size() + 2;
            size_t cierre = linea.find('"', v);
            if (cierre == std::string::npos) return "";
            return linea.substr(v, cierre - v);
          }
          return "";
        };
        parte.nombre = atributo("name");
        parte.archivo = atributo("filename");
      }
      l = f + 2;
    }
    if (parte.nombre == "file") {
      parte.contenido = cuerpo.substr(inicioContenido, siguiente - inicioContenido);
      return parte;
    }
    p = siguiente + 2;
  }
  return std::nullopt;
}

ServiceSim::ServiceSim() : semilla_(std::random_device{}()) {}

ServiceSim::ServiceSim(const nlohmann::json& datos) : ServiceSim() {
  Carga(datos);
}

ServiceSim::~ServiceSim() {
  Detiene();
}

void ServiceSim::Carga(const nlohmann::json& datos) {
  std::lock_guard<std::mutex> g(m_);
  if (datos.contains("inactividad_segundos"))
    inactividad_ = std::chrono::milliseconds(
        static_cast<long long>(datos["inactividad_segundos"].get<double>() * 1000));
  for (const json& c : datos.value("cuentas", json::array())) {
    Cuenta cuenta{Texto(c, "usuario"), Texto(c, "clave"), {}, {}};
    for (const json& r : c.value("relojes", json::array()))
      cuenta.relojes.push_back(RelojDeJson(r));
    if (auto it = c.find("archivos_base64"); it != c.end() && it->is_object())
      for (auto& [nombre, contenido] : it->items())
        cuenta.archivos[nombre] = DeBase64(contenido.get<std::string>());
    for (const json& p : c.value("plantillas", json::array()))
      plantillas_.push_back(
          {cuenta.usuario, Texto(p, "empleadoid"), Texto(p, "dedo"), Texto(p, "template")});
    cuentas_.push_back(std::move(cuenta));
  }
  for (const Cuenta& c : cuentas_)
    for (const RelojSim& r : c.relojes)
      for (const Tarea& t : r.tareas) {
        char* fin = nullptr;
        long n = std::strtol(t.id.c_str(), &fin, 10);
        if (fin && *fin == 0 && n >= siguienteTarea_) siguienteTarea_ = n + 1;
      }
}

nlohmann::json ServiceSim::Estado() const {
  std::lock_guard<std::mutex> g(m_);
  json j;
  j["inactividad_segundos"] = static_cast<double>(inactividad_.count()) / 1000.0;
  j["cuentas"] = json::array();
  for (const Cuenta& c : cuentas_) {
    json jc = {{"usuario", c.usuario}, {"clave", c.clave}, {"relojes", json::array()}};
    for (const RelojSim& r : c.relojes) jc["relojes"].push_back(RelojAJson(r));
    jc["plantillas"] = json::array();
    for (const Plantilla& p : plantillas_)
      if (p.usuario == c.usuario)
        jc["plantillas"].push_back(
            {{"empleadoid", p.empleadoId}, {"dedo", p.dedo}, {"template", p.plantilla}});
    jc["archivos_base64"] = json::object();
    for (const auto& [nombre, contenido] : c.archivos)
      jc["archivos_base64"][nombre] = Base64(contenido);
    j["cuentas"].push_back(jc);
  }
  j["respuestas"] = json::array();
  for (const RespuestaTarea& r : respuestas_)
    j["respuestas"].push_back({{"usuario", r.usuario},
                               {"relojid", r.relojId},
                               {"tarea", r.tarea},
                               {"respuesta", ATexto(r.respuesta)},
                               {"empleadoid", r.empleadoId},
                               {"tarea_id", r.tareaId}});
  j["pings"] = json::array();
  for (const Ping& p : pings_) j["pings"].push_back({{"usuario", p.usuario}, {"serial", p.serial}});
  return j;
}

void ServiceSim::AgregaCuenta(const std::string& usuario, const std::string& clave) {
  std::lock_guard<std::mutex> g(m_);
  cuentas_.push_back({usuario, clave, {}, {}});
}

void ServiceSim::AgregaReloj(const std::string& usuario, RelojSim reloj) {
  std::lock_guard<std::mutex> g(m_);
  Cuenta* c = CuentaDe(usuario);
  if (!c) throw std::invalid_argument("cuenta desconocida: " + usuario);
  c->relojes.push_back(std::move(reloj));
}

std::string ServiceSim::EncolaTarea(const std::string& relojId, const std::string& codigo,
                                    const std::string& sujeto, const std::string& nombres) {
  std::lock_guard<std::mutex> g(m_);
  for (Cuenta& c : cuentas_)
    if (RelojSim* r = RelojDe(c, relojId)) {
      std::string id = std::to_string(siguienteTarea_++);
      Tarea t;
      t.id = id;
      t.codigo = codigo;
      t.sujeto = sujeto;
      t.nombres = nombres;
      r->tareas.push_back(t);
      return id;
    }
  throw std::invalid_argument("reloj desconocido: " + relojId);
}

std::vector<Tarea> ServiceSim::Tareas(const std::string& relojId) const {
  std::lock_guard<std::mutex> g(m_);
  for (const Cuenta& c : cuentas_)
    for (const RelojSim& r : c.relojes)
      if (r.RelojId() == relojId) return {r.tareas.begin(), r.tareas.end()};
  return {};
}

void ServiceSim::AgregaPlantilla(const Plantilla& p) {
  std::lock_guard<std::mutex> g(m_);
  plantillas_.push_back(p);
}

void ServiceSim::Programa(const std::string& clave, Guion guion) {
  std::lock_guard<std::mutex> g(m_);
  guiones_[clave].push_back(std::move(guion));
}

void ServiceSim::OlvidaGuiones() {
  std::lock_guard<std::mutex> g(m_);
  guiones_.clear();
}

void ServiceSim::FijaInactividad(std::chrono::milliseconds limite) {
  std::lock_guard<std::mutex> g(m_);
  inactividad_ = limite;
}

void ServiceSim::ExpiraSesiones() {
  std::lock_guard<std::mutex> g(m_);
  sesiones_.clear();
}

void ServiceSim::ExpiraSesion(const std::string& id) {
  std::lock_guard<std::mutex> g(m_);
  sesiones_.erase(id);
}

std::vector<std::string> ServiceSim::Sesiones() const {
  std::lock_guard<std::mutex> g(m_);
  std::vector<std::string> ids;
  for (const auto& [id, s] : sesiones_)
    if (!s.usuario.empty()) ids.push_back(id);
  return ids;
}

void ServiceSim::FijaMaxPeticiones(size_t n) {
  std::lock_guard<std::mutex> g(m_);
  maxPeticiones_ = n;
  while (peticiones_.size() > maxPeticiones_) peticiones_.pop_front();
}

std::vector<Peticion> ServiceSim::Peticiones() const {
  std::lock_guard<std::mutex> g(m_);
  return {peticiones_.begin(), peticiones_.end()};
}

std::vector<Peticion> ServiceSim::PeticionesA(const std::string& parte) const {
  std::lock_guard<std::mutex> g(m_);
  std::vector<Peticion> v;
  for (const Peticion& p : peticiones_)
    if (p.destino.find(parte) != std::string::npos) v.push_back(p);
  return v;
}

void ServiceSim::OlvidaPeticiones() {
  std::lock_guard<std::mutex> g(m_);
  peticiones_.clear();
}

std::vector<RespuestaTarea> ServiceSim::Respuestas() const {
  std::lock_guard<std::mutex> g(m_);
  return respuestas_;
}

std::vector<Subida> ServiceSim::Subidas() const {
  std::lock_guard<std::mutex> g(m_);
  return subidas_;
}

std::vector<Plantilla> ServiceSim::Plantillas() const {
  std::lock_guard<std::mutex> g(m_);
  return plantillas_;
}

std::vector<Ping> ServiceSim::Pings() const {
  std::lock_guard<std::mutex> g(m_);
  return pings_;
}

std::string ServiceSim::UrlBase() const {
  return "http://" + host_ + ":" + std::to_string(puerto_) + "/";
}

ServiceSim::Cuenta* ServiceSim::CuentaDe(const std::string& usuario) {
  for (Cuenta& c : cuentas_)
    if (c.usuario == usuario) return &c;
  return nullptr;
}

ServiceSim::Cuenta* ServiceSim::CuentaDeSesion(const std::string& ss) {
  auto it = sesiones_.find(ss);
  if (it == sesiones_.end()) return nullptr;
  auto ahora = std::chrono::steady_clock::now();
  if (ahora - it->second.ultimoUso > inactividad_) {
    sesiones_.erase(it);
    return nullptr;
  }
  if (it->second.usuario.empty()) return nullptr;
  it->second.ultimoUso = ahora;
  return CuentaDe(it->second.usuario);
}

RelojSim* ServiceSim::RelojDe(Cuenta& c, const std::string& relojId) {
  for (RelojSim& r : c.relojes)
    if (r.RelojId() == relojId) return &r;
  return nullptr;
}

std::string ServiceSim::NuevoId() {
  // The shape of a PHP session id: 26 characters of [0-9a-v].
  static const char* k = "0123456789abcdefghijklmnopqrstuv";
  std::mt19937_64 gen(semilla_++);
  std::string id;
  do {
    id.clear();
    for (int i = 0; i < 26; ++i) id += k[gen() % 32];
  } while (sesiones_.count(id));
  return id;
}

std::optional<Guion> ServiceSim::TomaGuion(const std::string& clave) {
  std::lock_guard<std::mutex> g(m_);
  auto it = guiones_.find(clave);
  if (it == guiones_.end() || it->second.empty()) return std::nullopt;
  Guion guion = it->second.front();
  if (it->second.front().veces > 0 && --it->second.front().veces == 0) it->second.pop_front();
  return guion;
}

void ServiceSim::Registra(Peticion p) {
  std::lock_guard<std::mutex> g(m_);
  peticiones_.push_back(std::move(p));
  while (peticiones_.size() > maxPeticiones_) peticiones_.pop_front();
}

ServiceSim::Contestacion ServiceSim::AtiendeSesion() {
  std::lock_guard<std::mutex> g(m_);
  std::string id = NuevoId();
  sesiones_[id] = {"", "", std::chrono::steady_clock::now()};
  return {200, id};
}

ServiceSim::Contestacion ServiceSim::AtiendeLogin(const std::map<std::string, std::string>& q) {
  std::lock_guard<std::mutex> g(m_);
  if (Valor(q, "nit") != kNitValido || Valor(q, "serial") != kSerialValido)
    return {200, "Error: lector no autorizado por el servicio"};
  Cuenta* c = CuentaDe(Valor(q, "usuario"));
  if (!c || c->clave != Valor(q, "clave") || Valor(q, "usuario").empty())
    return {200, "El usuario o la contraseña no son correctos. Intente nuevamente."};
  std::string ss = Valor(q, "ss");
  auto it = sesiones_.find(ss);
  if (it == sesiones_.end()) {
    ss = NuevoId();
    it = sesiones_.emplace(ss, Sesion{}).first;
  }
  it->second = {c->usuario, Valor(q, "id"), std::chrono::steady_clock::now()};
  return {200, ss};
}

ServiceSim::Contestacion ServiceSim::AtiendeFuncion(const std::map<std::string, std::string>& q,
                                                    const std::map<std::string, std::string>& f) {
  std::lock_guard<std::mutex> g(m_);
  Cuenta* c = CuentaDeSesion(Valor(q, "ss"));
  if (!c) return {200, kSinSesion};
  const std::string funcion = Valor(q, "function");
  if (funcion == "lector.relojes") {
    std::string lista;
    for (const RelojSim& r : c->relojes) {
      for (size_t i = 0; i < r.campos.size(); ++i) lista += (i ? "|" : "") + r.campos[i];
      lista += "<br>";
    }
    return {200, lista};
  }
  if (funcion == "comm.read.has" || funcion == "comm.read.one") {
    RelojSim* r = RelojDe(*c, Valor(f, "relojid"));
    Tarea* pendiente = nullptr;
    if (r)
      for (Tarea& t : r->tareas)
        if (!t.respondida) {
          pendiente = &t;
          break;
        }
    if (funcion == "comm.read.has") return {200, pendiente ? "1" : "0"};
    if (!pendiente) return {200, ""};
    pendiente->entregada = true;
    r->enCurso = pendiente->id;
    std::string texto = pendiente->id + "|" + pendiente->codigo + "|" + pendiente->sujeto;
    if (!pendiente->nombres.empty() || pendiente->codigo == "DP") texto += "|" + pendiente->nombres;
    return {200, texto};
  }
  if (funcion == "comm.read.reply") {
    RespuestaTarea resp{c->usuario,
                        Valor(f, "relojid"),
                        Valor(f, "tarea"),
                        Valor(f, "respuesta"),
                        Valor(f, "empleadoid"),
                        ""};
    // The reply closes the task handed out last when it names the same code; other replies
    // (users sent while a "UP" runs, a clock that could not be connected) are only recorded.
    if (RelojSim* r = RelojDe(*c, resp.relojId); r && !r->enCurso.empty())
      for (Tarea& t : r->tareas)
        if (t.id == r->enCurso && !t.respondida && t.codigo == resp.tarea) {
          t.respondida = true;
          t.respuesta = resp.respuesta;
          resp.tareaId = t.id;
          r->enCurso.clear();
        }
    respuestas_.push_back(resp);
    return {200, "ok"};
  }
  if (funcion == "huellas.up") {
    Plantilla p{c->usuario, Valor(f, "empleadoid"), Valor(f, "dedo"), Valor(f, "template")};
    auto it = std::find_if(plantillas_.begin(), plantillas_.end(), [&](const Plantilla& x) {
      return x.usuario == p.usuario && x.empleadoId == p.empleadoId && x.dedo == p.dedo;
    });
    if (it != plantillas_.end())
      *it = p;
    else
      plantillas_.push_back(p);
    return {200, "ok"};
  }
  if (funcion == "huellas2.down") {
    std::string items;
    for (const Plantilla& p : plantillas_)
      if (p.usuario == c->usuario && p.empleadoId == Valor(f, "empleadoid"))
        items += std::string(items.empty() ? "" : ",") + "[\"" + p.empleadoId + "\",\"" + p.dedo +
                 "\",\"" + EscapaBarras(p.plantilla) + "\"]";
    return {200, items.empty() ? "null" : "[" + items + "]"};
  }
  if (funcion == "pingreloj.up") {
    pings_.push_back({c->usuario, Valor(f, "relojserial")});
    return {200, "ok"};
  }
  return {200, "error funcion desconocida: " + funcion};
}

ServiceSim::Contestacion ServiceSim::AtiendeSubida(const std::map<std::string, std::string>& q,
                                                   const std::string& tipo,
                                                   const std::string& cuerpo) {
  std::lock_guard<std::mutex> g(m_);
  Cuenta* c = CuentaDeSesion(Valor(q, "ss"));
  if (!c) return {200, "0"};
  std::string frontera;
  if (size_t b = tipo.find("boundary="); b != std::string::npos) {
    frontera = tipo.substr(b + 9);
    if (frontera.size() >= 2 && frontera.front() == '"' && frontera.back() == '"')
      frontera = frontera.substr(1, frontera.size() - 2);
  }
  auto parte = LeeMultipart(cuerpo, frontera);
  if (!parte) return {200, "0"};
  std::string nombre = Valor(q, "slots").empty() ? parte->archivo : Valor(q, "slots");
  c->archivos[nombre] = parte->contenido;
  subidas_.push_back({c->usuario, Valor(q, "ss"), Valor(q, "vGId"), nombre, parte->contenido});
  return {200, "Archivo recibido: " + nombre + " (" + std::to_string(parte->contenido.size()) +
                   " bytes)"};
}

int ServiceSim::Inicia(int puerto, const std::string& host) {
  if (srv_) throw std::logic_error("service-sim ya está en marcha");
  srv_ = std::make_unique<httplib::Server>();
  Rutas();
  host_ = host;
  int p =
      puerto == 0 ? srv_->bind_to_any_port(host) : (srv_->bind_to_port(host, puerto) ? puerto : -1);
  if (p <= 0) {
    srv_.reset();
    throw std::runtime_error("service-sim no pudo escuchar en " + host + ":" +
                             std::to_string(puerto));
  }
  puerto_ = p;
  hilo_ = std::thread([this] { srv_->listen_after_bind(); });
  auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!srv_->is_running() && std::chrono::steady_clock::now() < limite)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return puerto_;
}

void ServiceSim::Detiene() {
  if (!srv_) return;
  srv_->stop();
  if (hilo_.joinable()) hilo_.join();
  srv_.reset();
}

void ServiceSim::Rutas() {
  using httplib::Request;
  using httplib::Response;
  httplib::Server& s = *srv_;

  s.set_pre_routing_handler([](const Request& req, Response&) {
    // The request object is the server's own, not const; only this header is moved aside.
    auto& r = const_cast<Request&>(req);
    auto it = r.headers.find("Content-Type");
    if (it != r.headers.end() && (EmpiezaSinCaso(it->second, "multipart/") ||
                                  EmpiezaSinCaso(it->second, "application/x-www-form"))) {
      std::string valor = it->second;
      r.headers.erase(it);
      r.headers.emplace(kTipoApartado, valor);
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  // Every service request: the scripted answer if any, else the service's own; kept with its
  // bytes before the answer leaves, so a client never sees an answer its request is missing for.
  auto servicio =
      [this](const std::string& ruta,
             std::function<Contestacion(const Request&, const std::map<std::string, std::string>&)>
                 atiende) {
        return [this, ruta, atiende](const Request& req, Response& res) {
          auto q = LeeFormulario(Consulta(req.target));
          std::string clave = ruta == "sync" ? Valor(q, "function") : ruta;
          Contestacion c;
          std::optional<Guion> guion = TomaGuion(clave);
          if (guion && guion->demoraMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(guion->demoraMs));
          if (guion && guion->texto)
            c = {guion->estado, *guion->texto};
          else
            c = atiende(req, q);
          Peticion p;
          p.metodo = req.method;
          p.destino = req.target;
          p.version = req.version;
          p.crudo = req.method + " " + req.target + " " + req.version + "\r\n";
          for (const auto& [nombre, valor] : req.headers) {
            std::string n = nombre == kTipoApartado ? "Content-Type" : nombre;
            p.cabeceras.emplace_back(n, valor);
            p.crudo += n + ": " + valor + "\r\n";
          }
          p.crudo += "\r\n" + req.body;
          p.cuerpo = req.body;
          p.estado = c.estado;
          p.respuesta = c.texto;
          Registra(std::move(p));
          res.status = c.estado;
          res.set_content(c.texto, kTipoTexto);
        };
      };

  s.Get("/main/ajax.php", servicio("ss", [this](const Request&, const auto& q) {
          if (Valor(q, "call") != "ss") return Contestacion{200, ""};
          return AtiendeSesion();
        }));
  s.Get("/login2.php",
        servicio("login", [this](const Request&, const auto& q) { return AtiendeLogin(q); }));
  s.Post("/main/sync.php", servicio("sync", [this](const Request& req, const auto& q) {
           return AtiendeFuncion(q, LeeFormulario(req.body));
         }));
  s.Post("/subeback.php", servicio("subeback", [this](const Request& req, const auto& q) {
           return AtiendeSubida(q, req.get_header_value(kTipoApartado), req.body);
         }));

  // Admin API: JSON in and out.
  auto json_ = [](Response& res, const json& j) {
    res.set_content(Volcado(j), "application/json");
  };
  auto cuerpoJson = [](const Request& req) {
    json j = json::parse(req.body.empty() ? "{}" : req.body, nullptr, false);
    return j.is_object() ? j : json::object();
  };
  s.Get("/_sim/estado", [this, json_](const Request&, Response& res) { json_(res, Estado()); });
  s.Post("/_sim/cuentas", [this, json_, cuerpoJson](const Request& req, Response& res) {
    json j = cuerpoJson(req);
    AgregaCuenta(Texto(j, "usuario"), Texto(j, "clave"));
    json_(res, {{"ok", true}});
  });
  s.Post("/_sim/relojes", [this, json_, cuerpoJson](const Request& req, Response& res) {
    json j = cuerpoJson(req);
    try {
      AgregaReloj(Texto(j, "usuario"), RelojDeJson(j));
      json_(res, {{"ok", true}});
    } catch (const std::exception& e) {
      res.status = 400;
      json_(res, {{"error", e.what()}});
    }
  });
  s.Post("/_sim/tareas", [this, json_, cuerpoJson](const Request& req, Response& res) {
    json j = cuerpoJson(req);
    try {
      json_(res, {{"id", EncolaTarea(Texto(j, "relojid"), Texto(j, "codigo"), Texto(j, "sujeto"),
                                     Texto(j, "nombres"))}});
    } catch (const std::exception& e) {
      res.status = 400;
      json_(res, {{"error", e.what()}});
    }
  });
  s.Get("/_sim/tareas", [this, json_](const Request& req, Response& res) {
    json lista = json::array();
    for (const Tarea& t : Tareas(req.get_param_value("relojid")))
      lista.push_back({{"id", t.id},
                       {"codigo", t.codigo},
                       {"sujeto", t.sujeto},
                       {"nombres", t.nombres},
                       {"entregada", t.entregada},
                       {"respondida", t.respondida},
                       {"respuesta", t.respuesta}});
    json_(res, lista);
  });
  s.Post("/_sim/guion", [this, json_, cuerpoJson](const Request& req, Response& res) {
    json j = cuerpoJson(req);
    Guion g = j.value("pagina_error", false) ? Guion::PaginaError() : Guion{};
    if (j.contains("texto") && j["texto"].is_string()) g.texto = j["texto"].get<std::string>();
    g.estado = j.value("estado", g.estado);
    g.demoraMs = j.value("demora_ms", 0);
    g.veces = j.value("veces", 1);
    Programa(Texto(j, "clave"), g);
    json_(res, {{"ok", true}});
  });
  s.Post("/_sim/expira", [this, json_, cuerpoJson](const Request& req, Response& res) {
    json j = cuerpoJson(req);
    if (j.contains("inactividad_segundos"))
      FijaInactividad(std::chrono::milliseconds(
          static_cast<long long>(j.value("inactividad_segundos", 0.0) * 1000)));
    if (j.contains("ss"))
      ExpiraSesion(Texto(j, "ss"));
    else if (!j.contains("inactividad_segundos"))
      ExpiraSesiones();
    json_(res, {{"ok", true}});
  });
  s.Get("/_sim/sesiones", [this, json_](const Request&, Response& res) { json_(res, Sesiones()); });
  s.Get("/_sim/peticiones", [this, json_](const Request&, Response& res) {
    json lista = json::array();
    for (const Peticion& p : Peticiones())
      lista.push_back({{"metodo", p.metodo},
                       {"destino", ATexto(p.destino)},
                       {"cuerpo", ATexto(p.cuerpo)},
                       {"crudo_base64", Base64(p.crudo)},
                       {"estado", p.estado},
                       {"respuesta", ATexto(p.respuesta)}});
    json_(res, lista);
  });
  s.Post("/_sim/peticiones/olvida", [this, json_](const Request&, Response& res) {
    OlvidaPeticiones();
    json_(res, {{"ok", true}});
  });
  s.Get("/_sim/respuestas",
        [this, json_](const Request&, Response& res) { json_(res, Estado()["respuestas"]); });
  s.Get("/_sim/pings",
        [this, json_](const Request&, Response& res) { json_(res, Estado()["pings"]); });
  s.Get("/_sim/plantillas", [this, json_](const Request&, Response& res) {
    json lista = json::array();
    for (const Plantilla& p : Plantillas())
      lista.push_back({{"usuario", p.usuario},
                       {"empleadoid", p.empleadoId},
                       {"dedo", p.dedo},
                       {"template", ATexto(p.plantilla)}});
    json_(res, lista);
  });
  s.Get("/_sim/subidas", [this, json_](const Request&, Response& res) {
    json lista = json::array();
    for (const Subida& p : Subidas())
      lista.push_back({{"usuario", p.usuario},
                       {"archivo", p.archivo},
                       {"vGId", p.equipo},
                       {"bytes", p.contenido.size()},
                       {"contenido_base64", Base64(p.contenido)}});
    json_(res, lista);
  });

  // Anything else: a web server's "not found" page, recorded like any service request.
  auto noEncontrado = servicio("otro", [](const Request&, const auto&) {
    return Contestacion{404,
                        "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
                        "<p>The requested URL was not found on this server.</p></body></html>"};
  });
  s.Get(".*", noEncontrado);
  s.Post(".*", noEncontrado);
}

}  // namespace servicesim
