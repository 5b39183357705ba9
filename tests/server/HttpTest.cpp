#include "server/Http.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "ConServicio.h"
#include "support/Ping.h"

namespace lector::test {
namespace {

using namespace lector::server;

// A server on loopback that answers every connection with fixed bytes, for a broken answer and
// as a proxy.
class ServidorCrudo {
 public:
  explicit ServidorCrudo(std::string respuesta) : respuesta_(std::move(respuesta)) {
    s_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(s_, reinterpret_cast<sockaddr*>(&a), n);
    ::listen(s_, 4);
    ::getsockname(s_, reinterpret_cast<sockaddr*>(&a), &n);
    puerto_ = ntohs(a.sin_port);
    hilo_ = std::thread([this] {
      for (int c; (c = ::accept(s_, nullptr, nullptr)) >= 0; ::close(c)) {
        (void)!::send(c, respuesta_.data(), respuesta_.size(), MSG_NOSIGNAL);
        ::shutdown(c, SHUT_WR);
        // The request is read to its end: closing with bytes unread would reset the answer.
        for (char buf[4096]; ::recv(c, buf, sizeof buf, 0) > 0;) {
        }
      }
    });
  }
  ~ServidorCrudo() {
    ::shutdown(s_, SHUT_RDWR);
    hilo_.join();
    ::close(s_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(puerto_) + "/"; }

 private:
  std::string respuesta_;
  int s_ = -1, puerto_ = 0;
  std::thread hilo_;
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

TEST_F(Transporte, CuerpoDeCualquierEstadoOErrorConUnaLinea) {
  sim.Programa("ss", servicesim::Guion::PaginaError());
  sim.Programa("lector.relojes", servicesim::Guion::PaginaError());
  std::string pagina = *servicesim::Guion::PaginaError().texto;
  EXPECT_EQ(HttpGet(l, l.urlBase + "main/ajax.php?call=ss"), pagina);
  EXPECT_EQ(HttpPostForm(l, l.urlBase + "main/sync.php?ss=x&function=lector.relojes", "a=1"),
            pagina);
  EXPECT_EQ(reloj.dormidas, (std::vector<int>{1000, 1000}));
  EXPECT_FALSE(std::filesystem::exists(l.ArchivoLog()));
  std::string url = Inalcanzable();
  // Only http and https are spoken.
  EXPECT_EQ(HttpGet(l, url) + HttpPostForm(l, url, "a=1") + HttpGet(l, "file:///etc/passwd"),
            "ErrorErrorError");
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 3u);
  for (auto& x : log) EXPECT_EQ(x.rfind("Error en conexión con el servidor: ", 0), 0u) << x;
  EXPECT_EQ(reloj.dormidas.size(), 2u);
}

// A proxy named by the environment serves every host but this machine's own addresses and the
// names of the environment's no_proxy. The host name must resolve to loopback here.
TEST_F(Transporte, ProxyDelEntornoSalvoLoopbackYNoProxy) {
  char nombre[256] = {};
  ::gethostname(nombre, sizeof nombre - 1);
  std::string ip;
  if (ResuelveNombre(nombre, ip) != 0 || ip.rfind("127.", 0) != 0)
    GTEST_SKIP() << "el nombre del equipo no es loopback";
  ServidorCrudo proxy("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nproxy");
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
  EXPECT_EQ(Sube(ServidorCrudo("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nparcial").Url()),
            "0");
  EXPECT_EQ(NumeroDeFalla([&] { Sube(Inalcanzable()); }), kFallaSubida);
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].rfind("Error enviando archivo: ", 0), 0u);
  EXPECT_EQ(log[1], "Respuesta parcial: parcial");
  EXPECT_EQ(log[2].rfind("Error enviando archivo: ", 0), 0u);
}

TEST_F(Transporte, LeerArchivoCompletoCreaElQueFalta) {
  auto ruta = carpeta.ruta() / "nuevo.txt";
  EXPECT_TRUE(ReadWholeFile(ruta).empty() && std::filesystem::exists(ruta));
  EXPECT_THROW(ReadWholeFile(carpeta.ruta() / "no" / "existe.txt"), Falla);
}

TEST_F(Transporte, HttpsVerificaElCertificado) {
  auto cert = carpeta.ruta() / "cert.pem", clave = carpeta.ruta() / "clave.pem";
  std::string cmd =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
      clave.string() + " -out " + cert.string() + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "openssl no disponible";
  httplib::SSLServer srv(cert.c_str(), clave.c_str());  // the handshake is as far as it goes
  int puerto = srv.bind_to_any_port("127.0.0.1");
  std::thread hilo([&] { srv.listen_after_bind(); });
  ASSERT_TRUE(EsperaHasta([&] { return srv.is_running(); }));
  // A certificate nobody vouches for is refused: the checks are on.
  EXPECT_EQ(HttpGet(l, "https://127.0.0.1:" + std::to_string(puerto) + "/x"), "Error");
  srv.stop();
  hilo.join();
  EXPECT_NE(LineasLog().at(0).find("certificate"), std::string::npos) << LineasLog()[0];
}

TEST(Codificacion, HostDeLaUrl) {
  for (auto [url, host] : {std::pair{"http://127.0.0.1:8080/", "127.0.0.1"},
                           {"https://servicio.ejemplo.com/app/", "servicio.ejemplo.com"},
                           {"http://u:p@host.ejemplo:81/x?y#z", "host.ejemplo"},
                           {"http://[::1]:8080/", "[::1]"},
                           {"host", "host"},
                           {"", ""}})
    EXPECT_EQ(HostDeUrl(url), host) << url;
}

}  // namespace
}  // namespace lector::test
