#pragma once
// service-sim: the web attendance service the reader talks to, over real HTTP on loopback.
// Accounts with their clocks and per-clock task queues, sessions that expire, the template
// store, month-file uploads; answers can be scripted and everything that arrives is kept for
// tests to read back. Driven in-process (this class) or through the /_sim/ HTTP admin API.
#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace httplib {
class Server;
}

namespace servicesim {

// The reader identification the service accepts at login.
constexpr const char* kNitValido = "3f9c07b2e1";
constexpr const char* kSerialValido = "a83c209hk5617";
// Answer to a service call without a valid session.
constexpr const char* kSinSesion = "error no session open";

struct Tarea {
  std::string id, codigo, sujeto, nombres;
  bool entregada = false;   // handed out by comm.read.one at least once
  bool respondida = false;  // answered through comm.read.reply
  std::string respuesta;    // the answer that closed it
};

// A clock of an account: the 14 fields the clock list carries, and its task queue.
struct RelojSim {
  std::array<std::string, 14> campos;
  std::deque<Tarea> tareas;
  std::string enCurso;  // id of the task last handed out and not yet answered
  const std::string& Serial() const { return campos[1]; }
  const std::string& RelojId() const { return campos[2]; }
};
// A clock with the usual fields; fields 7 to 12 empty.
RelojSim NuevoReloj(const std::string& numero, const std::string& serial,
                    const std::string& relojId, const std::string& nombre,
                    const std::string& etiqueta, const std::string& ip,
                    const std::string& conectado = "1", const std::string& intervalo = "5");

struct Plantilla {
  std::string usuario, empleadoId, dedo, plantilla;
};
struct RespuestaTarea {
  std::string usuario, relojId, tarea, respuesta, empleadoId;
  std::string tareaId;  // the queued task it answered, "" when none
};
struct Subida {
  std::string usuario, sesion, equipo, archivo, contenido;
};
struct Ping {
  std::string usuario, serial;
};

// One request as it arrived, and what was answered.
struct Peticion {
  std::string metodo, destino, version;  // destino: the request target exactly as sent
  std::vector<std::pair<std::string, std::string>> cabeceras;
  std::string cuerpo;  // the body bytes exactly as received
  std::string crudo;   // request line, headers, blank line and body
  int estado = 0;
  std::string respuesta;
};

// A scripted answer. Keys: a service function name ("lector.relojes", ...), "ss" (session
// probe), "login" (login2.php) or "subeback" (upload). Without texto the service answers as
// usual after the delay.
struct Guion {
  std::optional<std::string> texto;
  int estado = 200;
  int demoraMs = 0;
  int veces = 1;  // how many requests it answers; < 0 for all from now on
  // A web server's 500 error page, holding "error" and a link with "http://".
  static Guion PaginaError(int veces = 1);
};

// The pieces of a form body or query text, percent-decoded ("+" is a blank); the last value
// of a repeated key wins. Survives any bytes.
std::map<std::string, std::string> LeeFormulario(const std::string& texto);
std::string DecodificaPorciento(const std::string& texto);
// The first part named "file" of a multipart body: file name and content. Survives any bytes.
struct ParteArchivo {
  std::string nombre, archivo, contenido;
};
std::optional<ParteArchivo> LeeMultipart(const std::string& cuerpo, const std::string& frontera);

class ServiceSim {
 public:
  ServiceSim();
  // The starting state (the data-file format; see README.md).
  explicit ServiceSim(const nlohmann::json& datos);
  ~ServiceSim();
  ServiceSim(const ServiceSim&) = delete;
  ServiceSim& operator=(const ServiceSim&) = delete;

  // Starts serving on host:puerto (0 = any free port); returns the port. Throws when it cannot.
  int Inicia(int puerto = 0, const std::string& host = "127.0.0.1");
  void Detiene();
  int Puerto() const { return puerto_; }
  // "http://host:port/"
  std::string UrlBase() const;

  // The state in the data-file format, for --save.
  nlohmann::json Estado() const;

  void AgregaCuenta(const std::string& usuario, const std::string& clave);
  void AgregaReloj(const std::string& usuario, RelojSim reloj);
  // Queues a task for the clock with that id (in any account); returns the task id.
  std::string EncolaTarea(const std::string& relojId, const std::string& codigo,
                          const std::string& sujeto = "", const std::string& nombres = "");
  std::vector<Tarea> Tareas(const std::string& relojId) const;
  void AgregaPlantilla(const Plantilla& p);

  void Programa(const std::string& clave, Guion guion);
  void OlvidaGuiones();

  void FijaInactividad(std::chrono::milliseconds limite);
  void ExpiraSesiones();
  void ExpiraSesion(const std::string& id);
  // Ids of the sessions with a signed-in user.
  std::vector<std::string> Sesiones() const;

  void FijaMaxPeticiones(size_t n);
  std::vector<Peticion> Peticiones() const;
  // Requests whose target contains the text, in order.
  std::vector<Peticion> PeticionesA(const std::string& parte) const;
  void OlvidaPeticiones();
  std::vector<RespuestaTarea> Respuestas() const;
  std::vector<Subida> Subidas() const;
  std::vector<Plantilla> Plantillas() const;
  std::vector<Ping> Pings() const;

 private:
  struct Cuenta {
    std::string usuario, clave;
    std::vector<RelojSim> relojes;
    std::map<std::string, std::string> archivos;  // month files as last uploaded
  };
  struct Sesion {
    std::string usuario;  // "" until a login binds it
    std::string equipo;
    std::chrono::steady_clock::time_point ultimoUso;
  };
  struct Contestacion {
    int estado = 200;
    std::string texto;
  };

  void Carga(const nlohmann::json& datos);
  void Rutas();
  std::optional<Guion> TomaGuion(const std::string& clave);
  Cuenta* CuentaDe(const std::string& usuario);
  Cuenta* CuentaDeSesion(const std::string& ss);  // refreshes it; nullptr when invalid
  RelojSim* RelojDe(Cuenta& c, const std::string& relojId);
  std::string NuevoId();
  void Registra(Peticion p);

  Contestacion AtiendeSesion();
  Contestacion AtiendeLogin(const std::map<std::string, std::string>& q);
  Contestacion AtiendeFuncion(const std::map<std::string, std::string>& q,
                              const std::map<std::string, std::string>& form);
  Contestacion AtiendeSubida(const std::map<std::string, std::string>& q, const std::string& tipo,
                             const std::string& cuerpo);

  mutable std::mutex m_;
  std::vector<Cuenta> cuentas_;
  std::map<std::string, Sesion> sesiones_;
  std::chrono::milliseconds inactividad_{std::chrono::minutes(30)};
  std::map<std::string, std::deque<Guion>> guiones_;
  std::deque<Peticion> peticiones_;
  size_t maxPeticiones_ = 2000;
  std::vector<RespuestaTarea> respuestas_;
  std::vector<Subida> subidas_;
  std::vector<Plantilla> plantillas_;
  std::vector<Ping> pings_;
  long siguienteTarea_ = 1;
  unsigned long long semilla_;

  std::unique_ptr<httplib::Server> srv_;
  std::thread hilo_;
  std::string host_ = "127.0.0.1";
  int puerto_ = 0;
};

}  // namespace servicesim
