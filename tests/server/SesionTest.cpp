// Signing in to the service and the commands around it (Execute): the requests, the answers
// told apart, the failure numbers and the repeats.
#include "server/Sesion.h"

#include <gtest/gtest.h>

#include "ConServicio.h"
#include "server/Execute.h"
#include "support/Ini.h"

namespace lector::test {
namespace {

using server::Execute;
using server::ServerLogin;

class Login : public ConServicio {};

TEST_F(Login, IngresoCorrectoAbreLaSesion) {
  l.estado.ModoLog = true;
  // The service's URL is read from the settings file at every sign-in (an edit needs no restart).
  const std::string url = sim.UrlBase();
  ASSERT_TRUE(GrabaIni(l.ArchivoIni(), "SERVIDOR", "URL", url.substr(0, url.size() - 1)));
  l.urlBase = Inalcanzable();
  EXPECT_TRUE(server::Reingresa(l) && l.estado.SesionAbierta && l.urlBase == url);
  auto p = sim.Peticiones();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].metodo + " " + p[0].destino, "GET /main/ajax.php?call=ss");
  EXPECT_EQ(p[1].destino, "/login2.php?ss=" + p[0].respuesta +
                              "&nit=3f9c07b2e1&serial=a83c209hk5617&usuario=ana&clave=clave1"
                              "&id=1234&dev=lector.exe&v=2.2.3");
  // The answer is the session, and the log's last line; the data signed in with are kept.
  EXPECT_EQ(l.estado.IdSesion + LineasLog().back() + l.estado.UltimoUsuario + l.estado.UltimaClave,
            p[1].respuesta + p[1].respuesta + "anaclave1");
  EXPECT_EQ(reloj.dormidas, (std::vector<int>{500, 100, 1000, 1000}));
  EXPECT_EQ(display.De("DoEvents").size(), 3u);
  // The same data with the session open ask nothing; empty data ask nothing either.
  EXPECT_TRUE(ServerLogin(l, "ana", "clave1", "1234"));
  EXPECT_FALSE(ServerLogin(l, "ana", "", "1234") || ServerLogin(l, "", "clave1", "1234"));
  EXPECT_EQ(sim.Peticiones().size(), 2u);
  EXPECT_EQ(l.estado.UltimaClave, "clave1");
  // Signs travel encoded and reach the service as they were.
  sim.AgregaCuenta("José & Cía", "a&b#c+d%e ñ=");
  EXPECT_TRUE(ServerLogin(l, "José & Cía", "a&b#c+d%e ñ=", "1234"));
}

TEST_F(Login, RespuestasDelServicio) {
  const std::string k26(26, 'k'), k27(27, 'k'), p26(26, 'p'), p27(27, 'p');
  const std::string acentos = Cp1252AUtf8(std::string(26, '\xF1'));  // 26 characters, not bytes
  // Answer, password, signed in, answer shown in a box.
  const std::tuple<std::string, std::string, bool, bool> casos[] = {
      {k26, p27, true, false},
      {k27, p26, true, false},
      {k27, p27, false, false},
      {k27, acentos, true, false},
      {"La CONTRASEÑA ingresada no es válida, intente otra vez", "c", false, true},
      {"Cuenta suspendida: hable con el Usuario administrador", "c", false, true},
      {"<html><title>400 Bad Request</title>usuario</html>", "c", false, false},
      {"<h1>¡OBJETO NO LOCALIZADO!</h1> el usuario pidió otra página", "c", false, false},
      {"incorrecta", "c", false, false},
      {"", "c", false, false},
      {"Su cuenta fue cancelada por falta de pago del servicio", "c", false, false},
      {"Error: lector no autorizado por el servicio", "c", false, false},
      // Bytes that are not UTF-8 do not hide the words from the search.
      {"\xC3USUARIO", "c", false, false},
      {"\xC3USUARIO o CONTRASE\321A no v\341lidos", "c", false, true},
  };
  for (const auto& [respuesta, clave, exito, mensaje] : casos) {
    display.mensajes.clear();
    l.estado.IdSesion = "x";
    sim.Programa("login", {respuesta});
    EXPECT_EQ(ServerLogin(l, "ana", clave, "1234"), exito) << respuesta;
    EXPECT_EQ(l.estado.IdSesion + "|" + l.estado.UltimaClave,
              (exito ? respuesta : "") + "|" + clave);
    EXPECT_EQ(display.mensajes, mensaje ? std::vector{respuesta} : std::vector<std::string>{});
  }
}

TEST_F(Login, UnaFallaPropiaReiniciaElIngresoUnaVez) {
  // The box of a refusal fails (out of memory): the login starts over, the second goes up as 7.
  struct CajaQueFalla : RecordingDisplay {
    void MensajeCritico(const std::string& t) override {
      RecordingDisplay::MensajeCritico(t);
      throw std::bad_alloc();
    }
  } caja;
  Lector otro{caja, reloj, carpeta.ruta()};
  otro.urlBase = l.urlBase;
  EXPECT_EQ(NumeroDeFalla([&] { ServerLogin(otro, "ana", "equivocada", "1234"); }), kSinMemoria);
  EXPECT_EQ(caja.mensajes.size(), 2u);
  EXPECT_EQ(sim.PeticionesA("login2.php").size(), 2u);
}

// A login refused by the service is an answer, not a failure: no repeat, caption untouched.
TEST_F(Login, ExecuteLoginAciertaOFallaSinTocarElTituloYFallasNueveYDieciseis) {
  display.SetCaption("otro");
  for (const std::string clave : {"equivocada", "clave1"}) {
    l.estado.Clave = clave;
    Execute(l, "Login");
    EXPECT_EQ(l.estado.SesionAbierta, clave == "clave1");
  }
  EXPECT_EQ(display.caption, "otro");
  EXPECT_EQ(sim.PeticionesA("login2.php").size(), 2u);
  l.estado.ModoLog = true;
  display.fallas = {kFueraDeRango};  // ends it without repeat or trace
  display.SetCaption("Cargando");
  display.llamadas.clear();
  Execute(l, "Login");
  EXPECT_TRUE(display.De("DoEvents").size() == 1u && l.estado.SesionAbierta);
  EXPECT_EQ(LineasLog().back() + "|" + display.caption,
            std::string("Execute Login|") + kTituloVentana);
  // Sixteen is repeated after a pause without counting, fifty times in a row; then it counts as
  // an ordinary failure, and four of those end it.
  display.siempre = kTransitoria;
  display.llamadas.clear();
  reloj.dormidas.clear();
  Execute(l, "Login");
  EXPECT_EQ(static_cast<long>(display.De("DoEvents").size()),
            4 * (server::kRepeticionesTransitoria + 1));
  EXPECT_EQ(std::count(reloj.dormidas.begin(), reloj.dormidas.end(), 100),
            4 * server::kRepeticionesTransitoria);
  auto log = LineasLog();
  EXPECT_EQ(log[log.size() - 2] + "|" + log.back(), "Error en Funcion Login|Falla de prueba (16)");
  EXPECT_FALSE(l.estado.SesionAbierta);
}

}  // namespace
}  // namespace lector::test
