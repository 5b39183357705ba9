// The whole system as a customer runs it: `lector` without a display, configured through
// `lector --configurar`, service-sim and clock-sim as processes of their own over loopback; only
// LECTOR_CICLO_MS (a shorter pause between cycles) differs from the shipped program.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "clock-sim/Genera.h"
#include "kit/Fixtures.h"

namespace lector::test {
namespace {

using json = nlohmann::json;
using std::chrono::seconds;
namespace zk = clock::zk;

// A program in a process group of its own, its input given at once, its output in a file; ended
// with its group if the test leaves it running (asked first, so a coverage build keeps its counts).
class Proceso {
 public:
  Proceso(std::vector<std::string> args, const std::filesystem::path& salida,
          const std::vector<std::string>& extra = {}, const std::string& entrada = "")
      : salida_(salida) {
    std::ofstream(salida.string() + ".in") << entrada;
    args[0] = std::string(LECTOR_BINARY_DIR) + "/" + args[0];
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    setpgid(pid_, pid_);  // in both (the child's is 0, 0): the group exists whichever runs first
    if (pid_ != 0) return;
    // The child, with no display (the program finds out by itself).
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(v);
    for (const auto& e : extra) putenv(const_cast<char*>(e.c_str()));
    dup2(open((salida.string() + ".in").c_str(), O_RDONLY), 0);
    dup2(open(salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(1, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ~Proceso() { Termina(SIGTERM); }
  // Signals the group (0: none), kills it after 30 s; the exit status, -1 when killed.
  int Termina(int senal = 0) {
    if (pid_ <= 0) return -1;
    int estado = 0;
    if (senal) kill(-pid_, senal);
    if (!EsperaHasta([&] { return waitpid(pid_, &estado, WNOHANG) == pid_; }, seconds(30))) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, &estado, 0);
    }
    pid_ = -1;
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
  }
  void Senal(int senal) const { kill(pid_, senal); }
  pid_t Pid() const { return pid_; }
  bool Dijo(const std::string& texto) const { return Salida().find(texto) != std::string::npos; }
  std::string Salida() const { return LeeArchivo(salida_); }

 private:
  std::filesystem::path salida_;
  pid_t pid_ = -1;
};

// A clock (serial "E2E" + id) and its device, which reports `dispositivo` (none when empty).
struct Reloj {
  std::string id, dispositivo;
  int usuarios = 0, marcaciones = 0;
  bool udp = false;
  int porMinuto = 0;       // records one a minute from March 2026 instead: every line differs
  std::string falla = "";  // clock-sim's --fault
};

// Polls the processes at most five times a second.
bool Hasta(const std::function<bool()>& cond, seconds limite = seconds(180)) {
  return EsperaHasta(cond, limite, std::chrono::milliseconds(200));
}

class Sistema : public ::testing::Test {
 protected:
  // Starts service-sim, the clocks' devices and lector, configured after a refused password if any.
  void Inicia(const std::vector<Reloj>& relojes, const std::string& primeraClave = "clave9") {
    json cuenta = {{"usuario", "e2e"}, {"clave", "clave9"}, {"relojes", json::array()}};
    for (const Reloj& r : relojes)
      cuenta["relojes"].push_back({{"numero", r.id},
                                   {"serial", "E2E" + r.id},
                                   {"relojid", r.id},
                                   {"nombre", "Puerta " + r.id},
                                   {"etiqueta", r.id},
                                   {"ip", Ip(r)},
                                   {"intervalo", "1"}});
    for (const auto& [empleado, dedo, plantilla] : kPlantillas)
      cuenta["plantillas"].push_back(
          {{"empleadoid", empleado}, {"dedo", dedo}, {"template", plantilla}});
    std::ofstream(Ruta("servicio.json")) << json{{"cuentas", {cuenta}}}.dump();
    IniciaServicio();
    for (const Reloj& r : relojes) {
      if (r.dispositivo.empty()) continue;
      clocksim::EstadoReloj& e = estados_[r.id];
      clocksim::Genera(e, {r.usuarios, r.marcaciones, std::stoull(r.id), std::nullopt});
      for (int i = 0; i < r.porMinuto; ++i)
        e.Marca(std::to_string(1 + i % 300), 0, 1,
                clocksim::SegundosCiviles({2026, 3, 1, 0, 0, 0}) + 60LL * i);
      e.serie = r.dispositivo;
      IniciaReloj(r);
    }
    for (const std::string& clave : {primeraClave, std::string("clave9")}) {
      Proceso configura(
          {"src/lector", "--configurar"}, Ruta("configura.log"), Entorno(),
          "http://127.0.0.1:" + std::to_string(puerto_) + "\ns\ne2e\n" + clave + "\n");
      const bool buena = clave == "clave9";
      ASSERT_EQ(configura.Termina(), buena ? 0 : 1) << configura.Salida();
      ASSERT_EQ(std::filesystem::exists(Ruta("Lector.ini")), buena);
      if (buena) break;
    }
    IniciaLector();
  }
  std::vector<std::string> Entorno() const {
    return {"LECTOR_CARPETA=" + carpeta_.ruta().string(), "LECTOR_CICLO_MS=300"};
  }
  void IniciaServicio() {
    servicio_ = std::make_unique<Proceso>(
        std::vector<std::string>{"tools/service-sim/service-sim", "--port", std::to_string(puerto_),
                                 "--data", Ruta("servicio.json"), "--save"},
        Ruta("servicio.log"));
    ASSERT_TRUE(Hasta([&] { return servicio_->Dijo("escuchando"); }, seconds(30)));
  }
  void IniciaReloj(const Reloj& r) {
    estados_[r.id].Graba(Ruta(r.id + ".json"));
    std::vector<std::string> args{"tools/clock-sim/clock-sim", "--address", Ip(r), "--state",
                                  Ruta(r.id + ".json")};
    if (r.udp) args.push_back("--udp");
    if (!r.falla.empty()) args.insert(args.end(), {"--fault", r.falla});
    auto& p = dispositivos_[r.id] = std::make_unique<Proceso>(args, Ruta(r.id + ".log"));
    ASSERT_TRUE(Hasta([&] { return p->Dijo("escuchando"); }, seconds(30))) << p->Salida();
  }
  void IniciaLector() {
    lector_ = std::make_unique<Proceso>(std::vector<std::string>{"src/lector"}, Ruta("lector.log"),
                                        Entorno());
  }
  std::string Ruta(const std::string& nombre) const { return (carpeta_.ruta() / nombre).string(); }
  static std::string Ip(const Reloj& r) { return DireccionPropia(std::stoi(r.id)); }

  json Admin(const std::string& ruta) {
    auto r = admin_.Get(ruta.c_str());
    return r && r->status == 200 ? json::parse(r->body, nullptr, false) : json::array();
  }
  // The month file of the last upload.
  std::string Recibido() {
    const json subidas = Admin("/_sim/subidas");
    if (subidas.empty()) return "";
    auto bytes = zk::DeBase64(subidas.back()["contenido_base64"].get<std::string>());
    return std::string(bytes->begin(), bytes->end());
  }
  // The record lines of these clocks' devices, as the month file holds them.
  std::string Lineas(const std::vector<std::string>& ids) {
    std::string r;
    for (const std::string& id : ids)
      for (const auto& m : estados_[id].marcaciones) {
        zk::FechaHora f = zk::DecodificaHora(m.hora);
        for (auto campo :
             {id, "E2E" + id, std::to_string(f.anio), std::to_string(f.mes), std::to_string(f.dia),
              std::to_string(f.hora), std::to_string(f.minuto), m.usuario,
              std::to_string(m.verificacion), std::to_string(m.estado), std::string("0")})
          r += campo + ",";
        r += id + "\r\n";
      }
    return r;
  }
  // Waits for an upload that holds exactly these lines (in any order, each as often).
  bool LlegaSubida(const std::string& lineas) {
    auto ordenadas = [](const std::string& t) {
      std::vector<std::string> v;
      std::istringstream lineas(t);
      for (std::string x; std::getline(lineas, x);) v.push_back(x);  // each keeps its "\r"
      std::sort(v.begin(), v.end());
      return v;
    };
    return Hasta([&] { return ordenadas(Recibido()) == ordenadas(lineas); });
  }
  // The last answer the service recorded for a clock's task code ("" when none).
  std::string Respuesta(const std::string& reloj, const std::string& tarea) {
    std::string r;
    for (const json& x : Admin("/_sim/respuestas"))
      if (x["relojid"] == reloj && x["tarea"] == tarea) r = x["respuesta"];
    return r;
  }

  static inline const std::vector<std::array<std::string, 3>> kPlantillas = {
      {"9001", "6", zk::Base64(zk::Bytes(1300, 0x5A).data(), 1300)},
      {"9001", "50", "RkFDRS8vKysvLw=="},
      {"9001", "20", "4123456789"},
      {"9002", "1", "U1MyMQAAA/8vLy8="}};

  CarpetaTemporal carpeta_;
  int puerto_ = PuertoLibre();
  httplib::Client admin_{"127.0.0.1", puerto_};
  std::map<std::string, clocksim::EstadoReloj> estados_;
  std::unique_ptr<Proceso> servicio_, lector_;
  std::map<std::string, std::unique_ptr<Proceso>> dispositivos_;
};

TEST_F(Sistema, UnCicloLeeCadaRelojAlcanzableYElSiguienteNoAgregaNada) {
  Inicia({{"21", "E2E21", 30, 3000},
          {"22", "E2E22", 20, 1500, true},
          {"23", "OTRO23", 10, 500},
          {"24", ""}},
         "otra");
  // The service received the two clocks' records line for line, and the same from the next cycle.
  for (size_t n : {1, 2}) {
    ASSERT_TRUE(Hasta([&] { return Admin("/_sim/subidas").size() >= n; })) << lector_->Salida();
    EXPECT_TRUE(Recibido() == Lineas({"21", "22"})) << Recibido().size() << " bytes";
  }
  for (const char* id : {"23", "24"}) EXPECT_EQ(Respuesta(id, "CO"), "0") << id;
  // Without a display every activity line goes to the standard output, and none about windows.
  for (const char* linea : {"Leyendo relojes: 4", "Reloj Puerta 21 leido: 3000, nuevos: 3000"})
    EXPECT_TRUE(lector_->Dijo(linea)) << linea;
  EXPECT_FALSE(lector_->Dijo("ventana")) << lector_->Salida();
  EXPECT_EQ(lector_->Termina(SIGTERM), 0);
}

// While a clock keeps the program waiting for its records: a second copy in the same folder ends
// at once naming the first, and SIGTERM ends the first long before the clock's minute is up.
TEST_F(Sistema, UnaCopiaPorCarpetaYSigtermNoEsperaAlRelojMudo) {
  Inicia({{"61", "E2E61", 5, 50, false, 0, "silent@CMD_DATA_WRRQ"}});
  ASSERT_TRUE(Hasta([&] { return lector_->Dijo("Conectando con reloj: Puerta 61"); }))
      << lector_->Salida();
  Proceso otra({"src/lector"}, Ruta("otra.log"), Entorno());
  EXPECT_EQ(otra.Termina(), 1);
  EXPECT_TRUE(otra.Dijo("ya hay un lector en ejecución en " + carpeta_.ruta().string() + " (pid " +
                        std::to_string(lector_->Pid()) + ")"))
      << otra.Salida();
  const auto inicio = std::chrono::steady_clock::now();
  EXPECT_EQ(lector_->Termina(SIGTERM), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, seconds(20));  // the clock waits 60 s
}

TEST_F(Sistema, CadaTareaSeRealizaYSeRespondeComoCorresponde) {
  Inicia({{"31", "E2E31", 40, 300}});
  // One with templates for "LU" and "UP", two others to delete and to make administrator. The
  // bytes of templates, faces and cards each way: ZkSdkRelojTest and OperacionesTest.
  const clocksim::EstadoReloj& e = estados_["31"];
  ASSERT_FALSE(e.plantillas.empty());
  const std::string subido = e.BuscaUid(e.plantillas.begin()->first.first)->id;
  std::vector<std::string> otros;
  for (const auto& u : e.usuarios)
    if (u.id != subido && u.uid > 1) otros.push_back(u.id);
  // code, subject, names, the answer (a pattern); the log and the month files go last
  std::vector<std::array<std::string, 4>> tareas = {
      {"LM", "", "", "^" + std::to_string(e.marcaciones.size()) + "$"},
      {"LP", "", "", "\"" + subido + "\""},
      {"LU", subido, "", "\"" + subido + "\""},
      {"DP", "9001;9002", "Ana Prueba;Beto Prueba", "^1$"},
      {"UP", subido, "", "^True$"},
      {"BP", otros[0], "", "^1$"},
      {"RA", "", "", "^True$"},
      {"SA", otros[1], "", "^True$"},
      {"PI", "", "", "^-?[0-9]+$"}};
  for (const char* codigo : {"CO", "TT", "EH", "BM", "RE", "BA"})
    tareas.push_back({codigo, "", "", "^1$"});
  for (const auto& [codigo, sujeto, nombres, _] : tareas) {
    const json t{{"relojid", "31"}, {"codigo", codigo}, {"sujeto", sujeto}, {"nombres", nombres}};
    admin_.Post("/_sim/tareas", t.dump(), "application/json");
  }
  json cola;
  ASSERT_TRUE(Hasta([&] {
    cola = Admin("/_sim/tareas?relojid=31");
    return cola.size() == tareas.size() &&
           std::ranges::all_of(cola, [](const json& t) { return t["respondida"] == true; });
  })) << cola.dump(1)
      << lector_->Salida();
  for (size_t i = 0; i < tareas.size(); ++i) {
    const std::string r = cola[i]["respuesta"];
    EXPECT_EQ(cola[i]["codigo"], tareas[i][0]);
    EXPECT_TRUE(std::regex_search(r, std::regex(tareas[i][3])))
        << tareas[i][0] << ": " << r.substr(0, 300);
  }
  // The people the tasks wrote, deleted and promoted (clock-sim writes its state on SIGUSR1).
  std::filesystem::remove(Ruta("31.json"));
  dispositivos_["31"]->Senal(SIGUSR1);
  ASSERT_TRUE(Hasta([&] { return std::filesystem::exists(Ruta("31.json")); }, seconds(30)));
  auto ahora = clocksim::EstadoReloj::Carga(Ruta("31.json"));
  const auto* ana = ahora.BuscaId("9001");
  ASSERT_TRUE(ana && ahora.BuscaId("9002") && ahora.BuscaId(otros[1]) && !ahora.BuscaId(otros[0]));
  EXPECT_EQ(ana->nombre + "|" + std::to_string(ana->tarjeta), "Ana Prueba|4123456789");
  EXPECT_TRUE(ahora.plantillas.count({ana->uid, 6}) && ahora.caras.count({ana->uid, 50}));
  EXPECT_TRUE(ahora.BuscaId(otros[1])->privilegio == 3 && ahora.marcaciones.empty());
}

TEST_F(Sistema, MatadoAMitadDeUnaLecturaGrandeSubeCadaMarcacionUnaVez) {
  Inicia({{"41", "E2E41", 5, 0, false, 40000}});
  ASSERT_TRUE(Hasta([&] {  // the clock's month file has its first lines
    std::error_code ec;
    return std::ranges::any_of(
        std::filesystem::directory_iterator(Ruta("Marcaciones"), ec),
        [&](const auto& f) { return f.path().string().ends_with(" 41.txt") && f.file_size(ec); });
  })) << lector_->Salida();
  lector_->Termina(SIGKILL);
  IniciaLector();
  EXPECT_TRUE(LlegaSubida(Lineas({"41"}))) << lector_->Salida().substr(0, 4000);
}

// Help and version end at once, a wrong option with the usage and 64; any other words start the
// program (without settings here, so it ends with 2).
TEST_F(Sistema, LaLineaDeOrdenes) {
  using Caso = std::tuple<std::vector<std::string>, int, std::string>;
  for (auto [args, estado, texto] : std::vector<Caso>{{{"--help"}, 0, "LECTOR_CARPETA"},
                                                      {{"--version"}, 0, "lector 1."},
                                                      {{"log", "--x"}, 64, "Uso: lector"},
                                                      {{"--configurar", "log"}, 64, "Uso:"},
                                                      {{"log", "x"}, 2, "lector --configurar"}}) {
    args.insert(args.begin(), "src/lector");
    Proceso p(args, Ruta("linea.log"), Entorno());
    EXPECT_EQ(p.Termina(), estado) << p.Salida();
    EXPECT_TRUE(p.Dijo(texto)) << p.Salida();
  }
}

// A piece of the system fails for a while; afterwards every record reaches the service once.
enum class Corte { kSesion, kServicio, kReloj };

class Cortes : public Sistema, public ::testing::WithParamInterface<Corte> {};

TEST_P(Cortes, NadaSePierdeNiSeDuplica) {
  const Corte corte = GetParam();
  const std::string id = std::to_string(50 + static_cast<int>(corte));
  const Reloj r{id, "E2E" + id, 10, 400};
  Inicia({r});
  ASSERT_TRUE(LlegaSubida(Lineas({id}))) << lector_->Salida().substr(0, 4000);
  if (corte == Corte::kSesion) admin_.Post("/_sim/expira", "{}", "application/json");
  if (corte == Corte::kServicio) servicio_->Termina(SIGTERM);
  // The clock is down for a moment and comes back with people who punched meanwhile.
  dispositivos_[id]->Termina(SIGTERM);
  for (int i = 1; i <= 25; ++i)
    estados_[id].Marca(estados_[id].usuarios[i % 10].id, 1, 1, estados_[id].Hora() - 61 * i);
  if (corte == Corte::kReloj) {  // the cycle finds it down and tells the service
    ASSERT_TRUE(Hasta([&] { return Respuesta(id, "CO") == "0"; })) << lector_->Salida();
  }
  IniciaReloj(r);
  if (corte == Corte::kServicio) {  // back after a cycle that could not reach it
    ASSERT_TRUE(Hasta([&] { return lector_->Dijo("No se ha "); })) << lector_->Salida();
    IniciaServicio();
  }
  // After the expiry only a new session gets an upload through.
  EXPECT_TRUE(LlegaSubida(Lineas({id}))) << lector_->Salida().substr(0, 4000);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, Cortes, ::testing::Values(Corte::kSesion, Corte::kServicio, Corte::kReloj),
    [](const auto& i) {
      return std::string(std::array{"Sesion", "Servicio", "Reloj"}[int(i.param)]);
    });

}  // namespace
}  // namespace lector::test
