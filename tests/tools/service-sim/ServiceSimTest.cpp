// service-sim where no client test reaches it: odd form and multipart bodies, the program with its
// data file and the admin API. Sessions, login, tasks, replies and uploads are checked from the
// client's side (tests/server, tests/clock, tests/app).
#include "ServiceSim.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kit/Fixtures.h"

namespace servicesim {
namespace {

using lector::test::EsperaHasta;

TEST(Formulario, DecodificaPorcientoYMasYLeeLaParteFile) {
  EXPECT_EQ(
      LeeFormulario("a=1&b=x%26y%3D&d=uno+dos&e&=v&a=2&f=%zz%4"),
      (std::map<std::string, std::string>{
          {"a", "2"}, {"b", "x&y="}, {"d", "uno dos"}, {"e", ""}, {"", "v"}, {"f", "%zz%4"}}));
  const std::string bien =
      "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n1\r\n--b\r\n"  // another part first
      "Content-Disposition: form-data; name=\"file\";filename=\"2603.txt\" \r\n"
      "Content-type: file\r\n\r\nA\r\nB\r\n--b--";
  auto p = LeeMultipart(bien, "b");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->archivo + "|" + p->contenido, "2603.txt|A\r\nB");
  for (auto [cuerpo, frontera] :
       {std::pair{bien, ""}, {bien, "otra"}, {bien.substr(0, 90), "b"}, {"--b--", "b"}})
    EXPECT_FALSE(LeeMultipart(cuerpo, frontera)) << cuerpo << " " << frontera;
}

// The program serves its data file, is driven through the admin API and saves what changed.
TEST(ProgramaServiceSim, ApiDeAdministracionYArchivoGuardadoAlTerminar) {
  lector::test::CarpetaTemporal carpeta;
  auto datos = carpeta.ruta() / "datos.json";
  std::filesystem::copy_file(std::string(LECTOR_SOURCE_DIR) + "/tools/service-sim/demo.json",
                             datos);
  const std::string puerto = std::to_string(lector::test::PuertoLibre()), d = datos.string();
  const std::string exe = std::string(LECTOR_BINARY_DIR) + "/tools/service-sim/service-sim";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(::open("/dev/null", O_WRONLY), 1);
    execl(exe.c_str(), exe.c_str(), "--port", puerto.c_str(), "--data", d.c_str(), "--save",
          nullptr);
    _exit(127);
  }
  int estado = -1;
  struct Termina {  // the program never outlives the test
    pid_t pid;
    int& estado;
    ~Termina() {
      if (estado == -1 && kill(pid, SIGTERM) == 0) waitpid(pid, &estado, 0);
    }
  };
  httplib::Client cli("127.0.0.1", std::stoi(puerto));
  {
    Termina termina{pid, estado};
    ASSERT_TRUE(EsperaHasta([&] { return static_cast<bool>(cli.Get("/_sim/estado")); }));
    auto post = [&](const char* ruta, const std::string& cuerpo) {
      auto r = cli.Post(ruta, cuerpo, "application/json");
      return r ? r->status : 0;
    };
    EXPECT_EQ(post("/_sim/tareas", R"({"relojid":"7","codigo":"PI"})"), 200);
    EXPECT_EQ(post("/_sim/guion", R"({"clave":"comm.read.has","texto":"programada"})"), 200);
    EXPECT_EQ(post("/_sim/tareas", R"({"relojid":"99"})"), 400);
    EXPECT_EQ(post("/_sim/tareas", "no es json"), 400);
    auto cola = nlohmann::json::parse(cli.Get("/_sim/tareas?relojid=7")->body);
    EXPECT_EQ(cola.back()["codigo"], "PI");
  }
  ASSERT_TRUE(WIFEXITED(estado));
  EXPECT_EQ(WEXITSTATUS(estado), 0);
  auto tareas =
      nlohmann::json::parse(lector::test::LeeArchivo(datos))["cuentas"][0]["relojes"][0]["tareas"];
  ASSERT_EQ(tareas.size(), 1u);
  EXPECT_EQ(tareas[0]["codigo"], "PI");
  // A state read back does not reuse the task ids already given.
  ServiceSim otro(nlohmann::json::parse(lector::test::LeeArchivo(datos)));
  EXPECT_NE(otro.EncolaTarea("7", "CO"), otro.Tareas("7")[0].id);
}

}  // namespace
}  // namespace servicesim
