#include "ServiceSim.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "kit/Fixtures.h"

namespace servicesim {
namespace {

using lector::test::CarpetaTemporal;
using lector::test::EsperaHasta;
using lector::test::PuertoLibre;

TEST(Formulario, DecodificaPorcientoYMasYLeeLaParteFile) {
  auto f = LeeFormulario("a=1&b=x%26y%3D&c=ab%2B%2Fcd%3D%3D&d=uno+dos&e&=v&a=2&f=%zz%4");
  EXPECT_EQ(f, (std::map<std::string, std::string>{{"a", "2"},
                                                   {"b", "x&y="},
                                                   {"c", "ab+/cd=="},
                                                   {"d", "uno dos"},
                                                   {"e", ""},
                                                   {"", "v"},
                                                   {"f", "%zz%4"}}));
  EXPECT_EQ(LeeFormulario("&relojserial=S1")["relojserial"], "S1");

  const std::string bien =
      "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n1\r\n--b\r\n"  // another part first
      "Content-Disposition: form-data; name=\"file\";filename=\"2603.txt\" \r\n"
      "Content-type: file\r\n\r\nA\r\nB\r\n--b--";
  auto p = LeeMultipart(bien, "b");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->archivo, "2603.txt");
  EXPECT_EQ(p->contenido, "A\r\nB");
  for (auto [cuerpo, frontera] :
       {std::pair{bien, ""}, {bien, "otra"}, {bien.substr(0, 90), "b"}, {"--b--", "b"}})
    EXPECT_FALSE(LeeMultipart(cuerpo, frontera)) << cuerpo << " " << frontera;
}

class ServiceSimTest : public ::testing::Test {
 protected:
  int Arranca() {
    sim.AgregaCuenta("ana", "clave1");
    sim.AgregaReloj("ana", NuevoReloj("1", "S1", "7", "Entrada", "2", "127.0.0.2"));
    return sim.Inicia();
  }
  std::string Get(const std::string& ruta) { return Texto(cli.Get(ruta)); }
  std::string Post(const std::string& ruta, const std::string& cuerpo,
                   const char* tipo = "application/x-www-form-urlencoded") {
    return Texto(cli.Post(ruta, cuerpo, tipo));
  }
  static std::string Texto(const httplib::Result& r) { return r ? r->body : "<sin respuesta>"; }
  std::string Ingresa() {
    std::string ss = Get("/main/ajax.php?call=ss");
    return Get("/login2.php?ss=" + ss +
               "&nit=3f9c07b2e1&serial=a83c209hk5617&usuario=ana&clave=clave1&id=9&dev=lector.exe"
               "&v=2.2.3");
  }
  std::string Funcion(const std::string& ss, const std::string& f, const std::string& cuerpo) {
    return Post("/main/sync.php?ss=" + ss + "&appid=9&function=" + f, cuerpo);
  }

  ServiceSim sim;
  int puerto = Arranca();
  httplib::Client cli{"127.0.0.1", puerto};
};

TEST_F(ServiceSimTest, SesionesIngresoYVencimiento) {
  std::string ss = Get("/main/ajax.php?call=ss");
  EXPECT_EQ(ss.size(), 26u);
  EXPECT_EQ(Funcion(ss, "lector.relojes", "appid=9"), kSinSesion);  // probed, not signed in
  std::string base = "/login2.php?ss=" + ss + "&dev=lector.exe&v=2.2.3&id=9";
  std::string malNit = Get(base + "&nit=x&serial=a83c209hk5617&usuario=ana&clave=clave1");
  EXPECT_NE(malNit.find("Error"), std::string::npos);
  std::string malaClave = Get(base + "&nit=3f9c07b2e1&serial=a83c209hk5617&usuario=ana&clave=otra");
  EXPECT_GT(malaClave.size(), 26u);
  EXPECT_NE(malaClave.find("usuario"), std::string::npos);
  EXPECT_EQ(Get(base + "&nit=3f9c07b2e1&serial=a83c209hk5617&usuario=ana&clave=clave1"), ss);
  EXPECT_EQ(Funcion(ss, "lector.relojes", "appid=9"), "1|S1|7|Entrada|2|127.0.0.2|||||||1|5<br>");
  EXPECT_EQ(sim.Sesiones(), std::vector<std::string>{ss});
  sim.FijaInactividad(std::chrono::milliseconds(0));
  EXPECT_EQ(Funcion(ss, "lector.relojes", "appid=9"), kSinSesion);
  EXPECT_TRUE(sim.Sesiones().empty());
  EXPECT_EQ(Funcion("desconocida", "lector.relojes", "appid=9"), kSinSesion);
}

TEST_F(ServiceSimTest, GuardaLasUltimasPeticionesConSusBytes) {
  sim.FijaMaxPeticiones(3);
  for (int i = 0; i < 5; ++i) Get("/main/ajax.php?call=ss&n=" + std::to_string(i));
  Post("/main/sync.php?ss=x&function=f", "a=%C3%B1");
  auto p = sim.Peticiones();
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].destino, "/main/ajax.php?call=ss&n=3");
  EXPECT_EQ(p[2].cuerpo, "a=%C3%B1");
  EXPECT_EQ(p[2].crudo.rfind("POST /main/sync.php?ss=x&function=f HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(p[2].crudo.substr(p[2].crudo.size() - 12), "\r\n\r\na=%C3%B1");
  EXPECT_EQ(Get("/otra/ruta"), Get("/no/existe"));
  EXPECT_EQ(sim.Peticiones().back().estado, 404);
}

TEST_F(ServiceSimTest, ApiDeAdministracion) {
  std::string ss = Ingresa();
  EXPECT_NE(
      Post("/_sim/tareas", R"({"relojid":"7","codigo":"UP"})", "application/json").find("\"id\""),
      std::string::npos);
  EXPECT_EQ(Funcion(ss, "comm.read.has", "relojid=7"), "1");
  // The users a "UP" sends are recorded but do not close it; its own reply does.
  const std::string una = Funcion(ss, "comm.read.one", "relojid=7");
  Funcion(ss, "comm.read.reply", "relojid=7&tarea=LU&respuesta=%5B%5D&empleadoid=15");
  EXPECT_EQ(Funcion(ss, "comm.read.one", "relojid=7"), una);
  Funcion(ss, "comm.read.reply", "relojid=7&tarea=UP&respuesta=True");
  EXPECT_EQ(Funcion(ss, "comm.read.has", "relojid=7"), "0");
  EXPECT_TRUE(sim.Tareas("7")[0].respondida);
  Post("/_sim/guion", R"({"clave":"comm.read.has","texto":"programada"})", "application/json");
  EXPECT_EQ(Funcion(ss, "comm.read.has", "relojid=7"), "programada");
  auto peticiones = nlohmann::json::parse(Get("/_sim/peticiones"));
  EXPECT_EQ(peticiones.back()["respuesta"], "programada");
  Post("/_sim/relojes", R"({"usuario":"ana","numero":2,"serial":"S2","relojid":"8"})",
       "application/json");
  EXPECT_NE(Funcion(ss, "lector.relojes", "").find("2|S2|8|"), std::string::npos);
  Post("/_sim/expira", "{}", "application/json");
  EXPECT_EQ(Funcion(ss, "comm.read.has", "relojid=7"), kSinSesion);
  EXPECT_EQ(cli.Post("/_sim/tareas", R"({"relojid":"99"})", "application/json")->status, 400);
  EXPECT_EQ(cli.Post("/_sim/tareas", "no es json", "application/json")->status, 400);
}

TEST_F(ServiceSimTest, ElEstadoSeConservaAlRecargar) {
  std::string ss = Ingresa();
  sim.EncolaTarea("7", "LM");
  Funcion(ss, "huellas.up", "empleadoid=1&dedo=0&template=T");
  Post("/subeback.php?slots=2603.txt&ss=" + ss,
       "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n\xff\x80\r\n--b--",
       "multipart/form-data; boundary=b");
  ServiceSim otro(nlohmann::json::parse(sim.Estado().dump()));
  auto e = otro.Estado();
  EXPECT_EQ(e["cuentas"][0]["relojes"][0]["tareas"][0]["codigo"], "LM");
  EXPECT_EQ(e["cuentas"][0]["plantillas"][0]["template"], "T");
  EXPECT_EQ(e["cuentas"][0]["archivos_base64"]["2603.txt"], "/4A=");
  // New tasks do not reuse the ids already given.
  EXPECT_NE(otro.EncolaTarea("7", "CO"), otro.Tareas("7")[0].id);
}

TEST(ProgramaServiceSim, SirveElArchivoYLoGuardaAlTerminar) {
  CarpetaTemporal carpeta;
  auto datos = carpeta.ruta() / "datos.json";
  std::filesystem::copy_file(std::string(LECTOR_SOURCE_DIR) + "/tools/service-sim/demo.json",
                             datos);
  int puerto = PuertoLibre();
  std::string exe = std::string(LECTOR_BINARY_DIR) + "/tools/service-sim/service-sim";
  ASSERT_TRUE(std::filesystem::exists(exe)) << exe;
  pid_t pid = fork();
  if (pid == 0) {
    std::string p = std::to_string(puerto), d = datos.string();
    int nulo = ::open("/dev/null", O_WRONLY);
    dup2(nulo, 1);
    execl(exe.c_str(), exe.c_str(), "--port", p.c_str(), "--data", d.c_str(), "--save", nullptr);
    _exit(127);
  }
  // The program never outlives the test, whatever happens below.
  struct Termina {
    pid_t pid;
    int estado = -1;
    void operator()() {
      if (estado == -1 && kill(pid, SIGTERM) == 0) waitpid(pid, &estado, 0);
    }
    ~Termina() { (*this)(); }
  } termina{pid};
  httplib::Client cli("127.0.0.1", puerto);
  ASSERT_TRUE(EsperaHasta([&] { return static_cast<bool>(cli.Get("/_sim/estado")); }));
  cli.Post("/_sim/tareas", R"({"relojid":"7","codigo":"PI"})", "application/json");
  termina();
  ASSERT_TRUE(WIFEXITED(termina.estado));
  EXPECT_EQ(WEXITSTATUS(termina.estado), 0);
  std::ifstream f(datos);
  auto j = nlohmann::json::parse(f);
  auto tareas = j["cuentas"][0]["relojes"][0]["tareas"];
  ASSERT_EQ(tareas.size(), 1u);
  EXPECT_EQ(tareas[0]["codigo"], "PI");
}

}  // namespace
}  // namespace servicesim
