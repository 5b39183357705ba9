#include "server/Http.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <netdb.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

#include "ConServicio.h"

namespace lector::test {
namespace {

using namespace lector::server;

// A one-shot server on loopback that reads a request and answers with fixed bytes (or just
// closes), for the transport's broken-answer paths.
class ServidorCrudo {
 public:
  explicit ServidorCrudo(std::string respuesta) : respuesta_(std::move(respuesta)) {
    s_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(s_, 1);
    socklen_t n = sizeof a;
    ::getsockname(s_, reinterpret_cast<sockaddr*>(&a), &n);
    puerto_ = ntohs(a.sin_port);
    hilo_ = std::thread([this] {
      for (int c; (c = ::accept(s_, nullptr, nullptr)) >= 0; ::close(c)) {
        std::string pedido;
        char buf[4096];
        auto completo = [&] {
          return pedido.find("\r\n\r\n") != std::string::npos &&
                 (pedido.find("multipart") == std::string::npos ||
                  pedido.find("--Xu02=$--") != std::string::npos);
        };
        while (!completo()) {
          ssize_t r = ::recv(c, buf, sizeof buf, 0);
          if (r <= 0) break;
          pedido.append(buf, static_cast<size_t>(r));
        }
        if (!respuesta_.empty())
          (void)!::send(c, respuesta_.data(), respuesta_.size(), MSG_NOSIGNAL);
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

class TransporteTest : public ConServicio {
 protected:
  void SetUp() override { l.estado.ModoLog = true; }
  std::filesystem::path Archivo(const std::string& contenido) {
    std::ofstream(carpeta.ruta() / "2603.txt", std::ios::binary) << contenido;
    return carpeta.ruta();
  }
};

TEST_F(TransporteTest, PaginaDeError500SeDevuelveComoTexto) {
  sim.Programa("ss", servicesim::Guion::PaginaError());
  sim.Programa("lector.relojes", servicesim::Guion::PaginaError());
  std::string pagina = *servicesim::Guion::PaginaError().texto;
  EXPECT_EQ(HttpGet(l, l.urlBase + "main/ajax.php?call=ss"), pagina);
  EXPECT_EQ(HttpPostForm(l, l.urlBase + "main/sync.php?ss=x&function=lector.relojes", "a=1"),
            pagina);
  EXPECT_EQ(reloj.dormidas, (std::vector<int>{1000, 1000}));
  EXPECT_FALSE(std::filesystem::exists(l.ArchivoLog()));
}

// A proxy named by the environment serves every host but this machine's own addresses and the
// names of the environment's no_proxy. The host name must resolve to loopback here.
TEST_F(TransporteTest, ProxyDelEntornoSalvoLoopbackYNoProxy) {
  char nombre[256] = {};
  ::gethostname(nombre, sizeof nombre - 1);
  addrinfo pista{}, *dir = nullptr;
  pista.ai_family = AF_INET;
  if (::getaddrinfo(nombre, nullptr, &pista, &dir) != 0) GTEST_SKIP() << "sin nombre propio";
  uint32_t ip = ntohl(reinterpret_cast<sockaddr_in*>(dir->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(dir);
  if (ip >> 24 != 127) GTEST_SKIP() << "el nombre del equipo no es loopback";
  ServidorCrudo proxy("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nproxy");
  ::setenv("http_proxy", proxy.Url().c_str(), 1);
  ::setenv("no_proxy", (std::string("otro.ejemplo,") + nombre).c_str(), 1);
  const std::string ruta = l.urlBase.substr(l.urlBase.rfind(':')) + "main/ajax.php?call=ss";
  const std::string directo = HttpGet(l, "http://127.0.0.1" + ruta);
  const std::string porNombre = HttpGet(l, std::string("http://") + nombre + ruta);
  ::unsetenv("no_proxy");
  const std::string porProxy = HttpGet(l, std::string("http://") + nombre + ruta);
  ::unsetenv("http_proxy");
  for (const auto& r : {directo, porNombre}) {
    EXPECT_NE(r, "proxy");
    EXPECT_NE(r, "Error");
  }
  EXPECT_EQ(porProxy, "proxy");
}

TEST_F(TransporteTest, ServidorInalcanzableDaErrorYUnaLinea) {
  std::string url = "http://127.0.0.1:" + std::to_string(PuertoLibre()) + "/";
  EXPECT_EQ(HttpGet(l, url), "Error");
  EXPECT_EQ(HttpPostForm(l, url, "a=1"), "Error");
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 2u);
  for (auto& x : log) EXPECT_EQ(x.rfind("Error en conexión con el servidor: ", 0), 0u) << x;
  EXPECT_TRUE(reloj.dormidas.empty());
  // Only http and https are spoken.
  EXPECT_EQ(HttpGet(l, "file:///etc/passwd"), "Error");
}

TEST_F(TransporteTest, SubidaAgregaLaConsultaALaUrlYNoPausa) {
  Ingresa();
  reloj.dormidas.clear();
  std::string url = l.urlBase + "subeback.php";
  std::string r = HttpUploadFile(l, "2603.txt", url, Archivo("X"),
                                 "ss=" + l.estado.IdSesion + "&vGId=1234", "ana", "");
  EXPECT_EQ(r, "Archivo recibido: 2603.txt (1 bytes)");
  EXPECT_EQ(url, l.urlBase + "subeback.php?slots=2603.txt&ss=" + l.estado.IdSesion + "&vGId=1234");
  EXPECT_TRUE(reloj.dormidas.empty());
  auto cabeceras = sim.PeticionesA("subeback").back().cabeceras;
  for (auto& [n, v] : cabeceras) {
    EXPECT_NE(n, "Authorization");
    EXPECT_NE(n, "Expect");
    EXPECT_NE(n, "Cookie");
  }
}

TEST_F(TransporteTest, RespuestaCortadaDaCeroConLaParteRecibida) {
  ServidorCrudo srv("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nparcial");
  std::string url = srv.Url() + "subeback.php";
  EXPECT_EQ(HttpUploadFile(l, "2603.txt", url, Archivo("ABC"), "ss=1", "", ""), "0");
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("Error enviando archivo: ", 0), 0u);
  EXPECT_EQ(log[1], "Respuesta parcial: parcial");
}

TEST_F(TransporteTest, SinNingunaRespuestaLaFallaSubeAlLlamador) {
  ServidorCrudo srv("");
  std::string url = srv.Url() + "subeback.php";
  try {
    HttpUploadFile(l, "2603.txt", url, Archivo("ABC"), "ss=1", "", "");
    FAIL() << "sin falla";
  } catch (const Falla& f) {
    EXPECT_EQ(f.numero, kFallaSubida);
  }
  EXPECT_EQ(LineasLog().size(), 1u);
}

TEST_F(TransporteTest, LeerArchivoCompletoCreaElQueFalta) {
  auto ruta = carpeta.ruta() / "nuevo.txt";
  EXPECT_EQ(ReadWholeFile(ruta), "");
  EXPECT_TRUE(std::filesystem::exists(ruta));
  std::string bytes("\0\x80\xff\r\n", 5);
  std::ofstream(ruta, std::ios::binary) << bytes;
  EXPECT_EQ(ReadWholeFile(ruta), bytes);
  try {
    ReadWholeFile(carpeta.ruta() / "no" / "existe.txt");
    FAIL() << "sin falla";
  } catch (const Falla& f) {
    EXPECT_EQ(f.numero, kAccesoArchivo);
  }
}

TEST_F(TransporteTest, HttpsVerificaElCertificado) {
  auto cert = carpeta.ruta() / "cert.pem", clave = carpeta.ruta() / "clave.pem";
  std::string cmd =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
      clave.string() + " -out " + cert.string() + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "openssl no disponible";
  httplib::SSLServer srv(cert.c_str(), clave.c_str());
  srv.Get("/main/ajax.php", [](const httplib::Request&, httplib::Response& r) {
    r.set_content("sesion", "text/plain");
  });
  int puerto = srv.bind_to_any_port("127.0.0.1");
  std::thread hilo([&] { srv.listen_after_bind(); });
  ASSERT_TRUE(EsperaHasta([&] { return srv.is_running(); }));
  // A certificate nobody vouches for is refused: the checks are on.
  EXPECT_EQ(HttpGet(l, "https://127.0.0.1:" + std::to_string(puerto) + "/main/ajax.php?call=ss"),
            "Error");
  srv.stop();
  hilo.join();
  auto log = LineasLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("certificate"), std::string::npos) << log[0];
}

// A certificate the system trusts is accepted. The test's own certificate becomes the system's
// trust list only inside a private mount namespace of a child process (root only).
TEST_F(TransporteTest, HttpsConCertificadoDeConfianzaFunciona) {
  const char* kLista = "/etc/ssl/certs/ca-certificates.crt";
  if (::geteuid() != 0 || !std::filesystem::exists(kLista)) GTEST_SKIP() << "requiere root";
  auto cert = carpeta.ruta() / "cert.pem", clave = carpeta.ruta() / "clave.pem";
  std::string cmd =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
      clave.string() + " -out " + cert.string() + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "openssl no disponible";
  pid_t pid = fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(cert.c_str(), kLista, nullptr, MS_BIND, nullptr) != 0)
      _exit(77);
    httplib::SSLServer srv(cert.c_str(), clave.c_str());
    srv.Get("/main/ajax.php", [](const httplib::Request&, httplib::Response& r) {
      r.set_content("sesion", "text/plain");
    });
    int puerto = srv.bind_to_any_port("127.0.0.1");
    std::thread hilo([&] { srv.listen_after_bind(); });
    EsperaHasta([&] { return srv.is_running(); });
    std::string r = HttpGet(l, "https://127.0.0.1:" + std::to_string(puerto) + "/main/ajax.php");
    srv.stop();
    hilo.join();
    _exit(r == "sesion" ? 0 : 1);
  }
  int estado = 0;
  ASSERT_EQ(waitpid(pid, &estado, 0), pid);
  ASSERT_TRUE(WIFEXITED(estado));
  if (WEXITSTATUS(estado) == 77) GTEST_SKIP() << "sin espacio de montaje propio";
  EXPECT_EQ(WEXITSTATUS(estado), 0);
}

TEST(Codificacion, SoloQuedanLasLetrasCifrasYCuatroSignos) {
  EXPECT_EQ(CodificaValor("ab+/cd=="), "ab%2B%2Fcd%3D%3D");
  EXPECT_EQ(CodificaValor("Az09-._~"), "Az09-._~");
  EXPECT_EQ(CodificaValor("a b&c#d%e"), "a%20b%26c%23d%25e");
  EXPECT_EQ(CodificaValor("ñ"), "%C3%B1");
  EXPECT_EQ(CodificaValor(std::string("\0\xff", 2)), "%00%FF");
  EXPECT_EQ(CodificaValor(""), "");
}

TEST(Codificacion, DominioDeLaUrlBase) {
  EXPECT_EQ(HostDeUrl("http://127.0.0.1:8080/"), "127.0.0.1");
  EXPECT_EQ(HostDeUrl("https://servicio.ejemplo.com/app/"), "servicio.ejemplo.com");
  EXPECT_EQ(HostDeUrl("http://u:p@host.ejemplo:81/x?y#z"), "host.ejemplo");
  EXPECT_EQ(HostDeUrl("http://[::1]:8080/"), "[::1]");
  EXPECT_EQ(HostDeUrl("host"), "host");
  EXPECT_EQ(HostDeUrl(""), "");
}

}  // namespace
}  // namespace lector::test
