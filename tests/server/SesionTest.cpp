#include "server/Sesion.h"

#include <gtest/gtest.h>

#include "ConServicio.h"
#include "support/Ini.h"

namespace lector::test {
namespace {

using server::ServerLogin;

class Login : public ConServicio {};

TEST_F(Login, IngresoCorrectoAbreLaSesion) {
  l.estado.ModoLog = true;
  EXPECT_TRUE(server::Reingresa(l));
  EXPECT_TRUE(l.estado.SesionAbierta);
  auto p = sim.Peticiones();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].metodo + " " + p[0].destino, "GET /main/ajax.php?call=ss");
  EXPECT_EQ(p[1].destino, "/login2.php?ss=" + p[0].respuesta +
                              "&nit=3f9c07b2e1&serial=a83c209hk5617&usuario=ana&clave=clave1"
                              "&id=1234&dev=lector.exe&v=2.2.3");
  EXPECT_EQ(l.estado.IdSesion, p[1].respuesta);
  EXPECT_EQ(l.estado.UltimoUsuario + l.estado.UltimaClave, "anaclave1");
  EXPECT_EQ(reloj.dormidas, (std::vector<int>{500, 100, 1000, 1000}));
  EXPECT_EQ(LineasLog().back(), l.estado.IdSesion);
  EXPECT_EQ(display.De("DoEvents").size(), 3u);
  // The same data with the session open ask nothing; empty data ask nothing either.
  EXPECT_TRUE(ServerLogin(l, "ana", "clave1", "1234"));
  EXPECT_FALSE(ServerLogin(l, "ana", "", "1234"));
  EXPECT_FALSE(ServerLogin(l, "", "clave1", "1234"));
  EXPECT_EQ(sim.Peticiones().size(), 2u);
  EXPECT_EQ(l.estado.UltimaClave, "clave1");
  // Signs travel encoded.
  sim.AgregaCuenta("José & Cía", "a&b#c+d%e ñ=");
  EXPECT_TRUE(ServerLogin(l, "José & Cía", "a&b#c+d%e ñ=", "1234"));
  EXPECT_NE(sim.Peticiones().back().destino.find(
                "&usuario=Jos%C3%A9%20%26%20C%C3%ADa&clave=a%26b%23c%2Bd%25e%20%C3%B1%3D&"),
            std::string::npos);
}

TEST_F(Login, LaUrlDelServicioVieneDelArchivoDeConfiguracion) {
  std::string url = sim.UrlBase();
  ASSERT_TRUE(GrabaIni(l.ArchivoIni(), "SERVIDOR", "URL", url.substr(0, url.size() - 1)));
  l.urlBase = Inalcanzable();
  EXPECT_TRUE(server::Reingresa(l));
  EXPECT_EQ(l.urlBase, url);
  // Without the key the URL in use stays; nothing answers there: a failed login, no box.
  std::filesystem::remove(l.ArchivoIni());
  l.urlBase = Inalcanzable();
  l.estado.SesionAbierta = false;
  l.estado.ModoLog = true;
  EXPECT_FALSE(server::Reingresa(l));
  EXPECT_NE(l.urlBase, url);
  EXPECT_EQ(l.estado.IdSesion, "");
  EXPECT_TRUE(display.mensajes.empty());
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].rfind("Error en conexión con el servidor: ", 0), 0u);
  EXPECT_EQ(log[2], "Error");
}

TEST_F(Login, RespuestasDelServicio) {
  const std::string k26(26, 'k'), k27(27, 'k'), p26(26, 'p'), p27(27, 'p');
  std::string acentos;  // 26 characters, not bytes
  for (int i = 0; i < 13; ++i) acentos += "ñá";
  const struct {
    std::string respuesta, clave;
    bool exito, mensaje;
  } casos[] = {
      {k26, p27, true, false},
      {k27, p26, true, false},
      {k27, p27, false, false},
      {k27, acentos, true, false},
      {"La CONTRASEÑA ingresada no es válida, intente otra vez", "c", false, true},
      {"Cuenta suspendida: hable con el Usuario administrador", "c", false, true},
      {"<html><title>400 Bad Request</title>usuario</html>", "c", false, false},
      {"<h1>¡OBJETO NO LOCALIZADO!</h1> el usuario pidió otra página", "c", false, false},
      {"error", "c", false, false},
      {"incorrecta", "c", false, false},
      {"Error", "c", false, false},
      {"", "c", false, false},
      {"Su cuenta fue cancelada por falta de pago del servicio", "c", false, false},
      {"Error: lector no autorizado por el servicio", "c", false, false},
      // Bytes that are not UTF-8 do not hide the words from the search.
      {"\xC3USUARIO", "c", false, false},
      {"\xC3USUARIO o CONTRASE\xD1"
       "A no v\xE1lidos",
       "c", false, true},
  };
  for (const auto& c : casos) {
    display.mensajes.clear();
    l.estado.SesionAbierta = false;
    l.estado.IdSesion = "x";
    sim.Programa("login", Texto(c.respuesta));
    EXPECT_EQ(ServerLogin(l, "ana", c.clave, "1234"), c.exito) << c.respuesta;
    EXPECT_EQ(l.estado.IdSesion, c.exito ? c.respuesta : "") << c.respuesta;
    EXPECT_EQ(display.mensajes, c.mensaje ? std::vector{c.respuesta} : std::vector<std::string>{});
    EXPECT_EQ(l.estado.UltimaClave, c.clave);
  }
}

TEST_F(Login, UnaFallaPropiaReiniciaElIngresoUnaVez) {
  // The box of a refusal fails (out of memory): the login starts over, and the second failure
  // goes up as failure 7.
  class CajaQueFalla : public RecordingDisplay {
   public:
    void MensajeCritico(const std::string& t) override {
      RecordingDisplay::MensajeCritico(t);
      throw std::bad_alloc();
    }
  } caja;
  Lector otro{caja, reloj, carpeta.ruta()};
  otro.urlBase = l.urlBase;
  try {
    ServerLogin(otro, "ana", "equivocada", "1234");
    ADD_FAILURE() << "sin falla";
  } catch (const Falla& f) {
    EXPECT_EQ(f.numero, kSinMemoria);
  }
  EXPECT_EQ(caja.mensajes.size(), 2u);
  EXPECT_EQ(sim.PeticionesA("login2.php").size(), 2u);
}

}  // namespace
}  // namespace lector::test
