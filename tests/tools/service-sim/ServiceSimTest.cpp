// service-sim where no client test reaches it: odd form and multipart bodies, a state read back.
// Sessions, login, tasks, replies and uploads are checked from the client's side (tests/server,
// tests/clock, tests/app), the program, its data file and admin API by tests/e2e.
#include "ServiceSim.h"

#include <gtest/gtest.h>

namespace servicesim {
namespace {

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

// A state read back (what --save writes) does not reuse the task ids already given.
TEST(EstadoServiceSim, AlRecargarNoRepiteIdsDeTareas) {
  ServiceSim sim;
  sim.AgregaCuenta("ana", "clave1");
  sim.AgregaReloj("ana", NuevoReloj("1", "S1", "7", "Entrada", "2", "127.0.0.2"));
  sim.EncolaTarea("7", "LM");
  ServiceSim otro(nlohmann::json::parse(sim.Estado().dump()));
  EXPECT_EQ(otro.Tareas("7").at(0).codigo, "LM");
  EXPECT_NE(otro.EncolaTarea("7", "CO"), otro.Tareas("7")[0].id);
}

}  // namespace
}  // namespace servicesim
