#include "server/Sesion.h"

#include <gtest/gtest.h>

#include "ConServicio.h"
#include "support/Ini.h"

namespace lector::test {
namespace {

using server::ServerLogin;
using servicesim::Guion;

Guion Texto(const std::string& t) {
  Guion g;
  g.texto = t;
  return g;
}

class LoginTest : public ConServicio {};

TEST_F(LoginTest, IngresoCorrectoAbreLaSesion) {
  l.estado.ModoLog = true;
  EXPECT_TRUE(server::Reingresa(l));
  EXPECT_TRUE(l.estado.SesionAbierta);
  auto p = sim.Peticiones();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].metodo, "GET");
  EXPECT_EQ(p[0].destino, "/main/ajax.php?call=ss");
  EXPECT_EQ(p[1].destino, "/login2.php?ss=" + p[0].respuesta +
                              "&nit=3f9c07b2e1&serial=a83c209hk5617&usuario=ana&clave=clave1"
                              "&id=1234&dev=lector.exe&v=2.2.3");
  EXPECT_EQ(l.estado.IdSesion, p[1].respuesta);
  EXPECT_EQ(l.estado.IdSesion.size(), 26u);
  EXPECT_EQ(l.estado.UltimoUsuario, "ana");
  EXPECT_EQ(l.estado.UltimaClave, "clave1");
  EXPECT_EQ(reloj.dormidas, (std::vector<int>{500, 100, 1000, 1000}));
  EXPECT_EQ(LineasLog().back(), l.estado.IdSesion);
  EXPECT_EQ(display.De("DoEvents").size(), 3u);
  EXPECT_TRUE(display.mensajes.empty());
}

TEST_F(LoginTest, LaUrlDelServicioVieneDelArchivoDeConfiguracion) {
  std::string url = sim.UrlBase();
  ASSERT_TRUE(GrabaIni(l.ArchivoIni(), "SERVIDOR", "URL", url.substr(0, url.size() - 1)));
  l.urlBase = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  EXPECT_TRUE(server::Reingresa(l));
  EXPECT_EQ(l.urlBase, url);
  // Without the key the URL in use stays.
  std::filesystem::remove(l.ArchivoIni());
  l.urlBase = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  l.estado.SesionAbierta = false;
  EXPECT_FALSE(server::Reingresa(l));
  EXPECT_NE(l.urlBase, url);
}

TEST_F(LoginTest, DatosVaciosNoPidenNada) {
  l.estado.IdSesion = "previa";
  l.estado.UltimoUsuario = "u";
  l.estado.UltimaClave = "c";
  EXPECT_FALSE(ServerLogin(l, "ana", "", "1234"));
  EXPECT_FALSE(ServerLogin(l, "", "clave1", "1234"));
  EXPECT_TRUE(sim.Peticiones().empty());
  EXPECT_EQ(l.estado.IdSesion, "previa");
  EXPECT_EQ(l.estado.UltimoUsuario, "u");
  EXPECT_EQ(l.estado.UltimaClave, "c");
}

TEST_F(LoginTest, MismosDatosConSesionAbiertaNoPidenNada) {
  Ingresa();
  size_t antes = sim.Peticiones().size();
  EXPECT_TRUE(ServerLogin(l, "ana", "clave1", "1234"));
  EXPECT_EQ(sim.Peticiones().size(), antes);
  // Another password does sign in again, and fails.
  EXPECT_FALSE(ServerLogin(l, "ana", "otra", "1234"));
  EXPECT_EQ(sim.Peticiones().size(), antes + 2);
}

TEST_F(LoginTest, RechazoDelServicioSeMuestraEnUnMensaje) {
  l.estado.Clave = "equivocada";
  EXPECT_FALSE(server::Reingresa(l));
  EXPECT_FALSE(l.estado.SesionAbierta);
  ASSERT_EQ(display.mensajes.size(), 1u);
  EXPECT_EQ(display.mensajes[0], sim.Peticiones().back().respuesta);
  EXPECT_NE(display.mensajes[0].find("contraseña"), std::string::npos);
  EXPECT_EQ(l.estado.IdSesion, "");
  EXPECT_EQ(l.estado.UltimaClave, "equivocada");
}

TEST_F(LoginTest, MensajeSoloParaTextosLargosQueNombranUsuarioOContrasena) {
  struct Caso {
    std::string respuesta;
    bool mensaje;
  };
  const Caso casos[] = {
      {"La CONTRASEÑA ingresada no es válida, intente otra vez", true},
      {"Cuenta suspendida: hable con el Usuario administrador", true},
      {"<html><title>400 Bad Request</title>usuario</html>", false},
      {"<h1>¡OBJETO NO LOCALIZADO!</h1> el usuario pidió otra página", false},
      {"error", false},
      {"incorrecta", false},
      {"Error", false},
      {"", false},
      {"Su cuenta fue cancelada por falta de pago del servicio", false},
      // Bytes that are not UTF-8 do not hide the words from the search.
      {"\xC3USUARIO", false},
      {"\xC3USUARIO o CONTRASE\xD1"
       "A no v\xE1lidos",
       true},
  };
  for (const Caso& c : casos) {
    display.mensajes.clear();
    l.estado.SesionAbierta = false;
    l.estado.IdSesion = "x";
    sim.Programa("login", Texto(c.respuesta));
    EXPECT_FALSE(ServerLogin(l, "ana", "clave1", "1234")) << c.respuesta;
    EXPECT_EQ(display.mensajes.size(), c.mensaje ? 1u : 0u) << c.respuesta;
    EXPECT_EQ(l.estado.IdSesion, "") << c.respuesta;
  }
}

TEST_F(LoginTest, ReglaDeLosVeintiseisCaracteres) {
  const std::string r26(26, 'k');
  const std::string r27(27, 'k');
  const std::string clave26(26, 'p'), clave27(27, 'p');
  auto prueba = [&](const std::string& respuesta, const std::string& clave) {
    sim.Programa("login", Texto(respuesta));
    l.estado.SesionAbierta = false;
    return ServerLogin(l, "ana", clave, "1234");
  };
  EXPECT_TRUE(prueba(r26, clave27));
  EXPECT_EQ(l.estado.IdSesion, r26);
  EXPECT_TRUE(prueba(r27, clave26));
  EXPECT_FALSE(prueba(r27, clave27));
  EXPECT_TRUE(display.mensajes.empty());
  // Characters, not bytes: 26 letters with accents are still 26.
  std::string acentos;
  for (int i = 0; i < 13; ++i) acentos += "ñá";
  EXPECT_TRUE(prueba(r27, acentos));
}

TEST_F(LoginTest, ClavesConSignosViajanCodificadas) {
  const std::string clave = "a&b#c+d%e ñ=";
  sim.AgregaCuenta("José & Cía", clave);
  EXPECT_TRUE(ServerLogin(l, "José & Cía", clave, "1234"));
  std::string destino = sim.Peticiones().back().destino;
  EXPECT_NE(
      destino.find("&usuario=Jos%C3%A9%20%26%20C%C3%ADa&clave=a%26b%23c%2Bd%25e%20%C3%B1%3D&"),
      std::string::npos)
      << destino;
}

TEST_F(LoginTest, IdentificacionDelLectorDesconocidaEsRechazada) {
  sim.Programa("login", Texto("Error: lector no autorizado por el servicio"));
  EXPECT_FALSE(server::Reingresa(l));
  EXPECT_TRUE(display.mensajes.empty());
}

TEST_F(LoginTest, ServidorInalcanzableEsUnIngresoFallido) {
  l.urlBase = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  l.estado.ModoLog = true;
  EXPECT_FALSE(server::Reingresa(l));
  EXPECT_TRUE(display.mensajes.empty());
  EXPECT_EQ(l.estado.IdSesion, "");
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("Error en conexión con el servidor: ", 0), 0u);
  EXPECT_EQ(log[1].rfind("Error en conexión con el servidor: ", 0), 0u);
  EXPECT_EQ(log[2], "Error");
}

TEST_F(LoginTest, UnaFallaPropiaReiniciaElIngresoUnaVez) {
  // The box of a refusal fails (out of memory): the login starts over, and the second failure
  // goes up as failure 7.
  class CajaQueFalla : public DisplayConFallas {
   public:
    void MensajeCritico(const std::string& t) override {
      DisplayConFallas::MensajeCritico(t);
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
