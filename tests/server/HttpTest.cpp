#include "server/Http.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <unistd.h>

#include <fstream>
#include <thread>

#include "ConServicio.h"
#include "support/Ping.h"

namespace lector::test {
namespace {

using namespace lector::server;

// Serves on loopback from a thread of its own while it lives: a broken answer, a proxy, TLS.
struct EnHilo {
  explicit EnHilo(httplib::Server& s) : srv(s) {
    EXPECT_TRUE(EsperaHasta([this] { return srv.is_running(); }));
  }
  ~EnHilo() {
    srv.stop();
    hilo.join();
  }
  std::string Url(const std::string& esquema = "http") const {
    return esquema + "://127.0.0.1:" + std::to_string(puerto) + "/";
  }
  httplib::Server& srv;
  const int puerto = srv.bind_to_any_port("127.0.0.1");
  std::thread hilo{[this] { srv.listen_after_bind(); }};
};

class Transporte : public ConServicio {
 protected:
  void SetUp() override {
    l.estado.ModoLog = true;
    std::ofstream(carpeta.ruta() / "2603.txt", std::ios::binary) << "ABC";
  }
  std::string Sube(std::string url) {
    return HttpUploadFile(l, "2603.txt", url, carpeta.ruta(), "ss=1", "", "");
  }
};

// (The body of an error page is an answer: the failure scenarios of the cycle show it.)
TEST_F(Transporte, SinRespuestaErrorConUnaLineaYSinPausa) {
  std::string url = Inalcanzable();
  // Only http and https are spoken.
  EXPECT_EQ(HttpGet(l, url) + HttpPostForm(l, url, "a=1") + HttpGet(l, "file:///etc/passwd"),
            "ErrorErrorError");
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 3u);
  for (auto& x : log) EXPECT_EQ(x.rfind("Error en conexión con el servidor: ", 0), 0u) << x;
  EXPECT_TRUE(reloj.dormidas.empty());
  // In words, and in the activity list when the failure starts or changes.
  ASSERT_EQ(display.logs.size(), 2u);
  EXPECT_NE((display.logs[0] + display.logs[1]).find("el servidor rechazó la conexión"),
            std::string::npos);
}

// A proxy named by the environment serves every host but this machine's own addresses and the
// names of the environment's no_proxy. The host name must resolve to loopback here.
TEST_F(Transporte, ProxyDelEntornoSalvoLoopbackYNoProxy) {
  char nombre[256] = {};
  ::gethostname(nombre, sizeof nombre - 1);
  std::string ip;
  if (ResuelveNombre(nombre, ip) != 0 || ip.rfind("127.", 0) != 0)
    GTEST_SKIP() << "el nombre del equipo no es loopback";
  httplib::Server srv;
  srv.Get(".*", [](const httplib::Request&, httplib::Response& r) {
    r.set_content("proxy", "text/plain");
  });
  EnHilo proxy(srv);
  ::setenv("http_proxy", proxy.Url().c_str(), 1);
  ::setenv("no_proxy", (std::string("otro.ejemplo,") + nombre).c_str(), 1);
  const std::string ruta = l.urlBase.substr(l.urlBase.rfind(':')) + "main/ajax.php?call=ss";
  const std::string directo = HttpGet(l, "http://127.0.0.1" + ruta);
  const std::string porNombre = HttpGet(l, std::string("http://") + nombre + ruta);
  ::unsetenv("no_proxy");
  const std::string porProxy = HttpGet(l, std::string("http://") + nombre + ruta);
  ::unsetenv("http_proxy");
  for (const auto& r : {directo, porNombre}) EXPECT_TRUE(r != "proxy" && r != "Error") << r;
  EXPECT_EQ(porProxy, "proxy");
}

// (A whole upload: the month file's tests.)
TEST_F(Transporte, SubidaCortadaOSinRespuesta) {
  // A cut answer: "0" with what came; none at all: the failure goes up.
  httplib::Server srv;
  srv.Post(".*",
           [](const httplib::Request&, httplib::Response& r, const httplib::ContentReader& c) {
             c([](const httplib::MultipartFormData&) { return true; },
               [](const char*, size_t) { return true; });
             r.set_content_provider(100, "text/plain", [](size_t, size_t, httplib::DataSink& s) {
               s.write("parcial", 7);
               return false;
             });
           });
  EXPECT_EQ(Sube(EnHilo(srv).Url()), "0");
  EXPECT_EQ(NumeroDeFalla([&] { Sube(Inalcanzable()); }), kFallaSubida);
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("Error enviando archivo: ", 0), 0u);
  EXPECT_EQ(log[1], "Respuesta parcial: parcial");
  EXPECT_EQ(log[2].rfind("Error enviando archivo: ", 0), 0u);
  // A folder in the file's place is not read (the missing file is created: no caller gets there).
  EXPECT_EQ(NumeroDeFalla([&] { ReadWholeFile(carpeta.ruta()); }), kAccesoArchivo);
}

TEST_F(Transporte, HttpsVerificaElCertificado) {
  auto cert = carpeta.ruta() / "cert.pem", clave = carpeta.ruta() / "clave.pem";
  std::string cmd =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
      clave.string() + " -out " + cert.string() + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "openssl no disponible";
  // The handshake is as far as it goes: a certificate nobody vouches for is refused.
  httplib::SSLServer srv(cert.c_str(), clave.c_str());
  EXPECT_EQ(HttpGet(l, EnHilo(srv).Url("https") + "x"), "Error");
  EXPECT_NE(LineasLog().at(0).find("certificate"), std::string::npos) << LineasLog()[0];
  EXPECT_NE(l.estado.FallaConexion.find("el certificado del servidor"), std::string::npos);
}

TEST(Codificacion, HostDeLaUrl) {
  for (auto [url, host] : {std::pair{"https://servicio.ejemplo.com/app/", "servicio.ejemplo.com"},
                           {"http://u:p@host.ejemplo:81/x?y#z", "host.ejemplo"},
                           {"http://[::1]:8080/", "[::1]"},
                           {"host", "host"},
                           {"", ""}})
    EXPECT_EQ(HostDeUrl(url), host) << url;
}

}  // namespace
}  // namespace lector::test
