#include "kit/Fixtures.h"

#include "support/Falla.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace lector::test {

CarpetaTemporal::CarpetaTemporal() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  do {
    ruta_ = base / ("lector-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
  } while (!std::filesystem::create_directory(ruta_));
}

CarpetaTemporal::~CarpetaTemporal() {
  std::error_code ec;
  std::filesystem::remove_all(ruta_, ec);
}

int32_t TablaAlcance::MidePing(const std::string& direccion) {
  consultas.push_back(direccion);
  auto it = tabla.find(direccion);
  return it == tabla.end() ? otras : it->second;
}

bool EsperaHasta(const std::function<bool()>& cond, std::chrono::milliseconds limite,
                 std::chrono::milliseconds paso) {
  auto fin = std::chrono::steady_clock::now() + limite;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > fin) return false;
    std::this_thread::sleep_for(paso);
  }
  return true;
}

int PuertoLibre() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(s);
  return ntohs(a.sin_port);
}

std::string DireccionPropia(int ultimo) {
  const int pid = static_cast<int>(getpid());
  return "127." + std::to_string(10 + pid % 200) + "." + std::to_string(pid / 200 % 250) + "." +
         std::to_string(ultimo);
}

int NumeroDeFalla(const std::function<void()>& accion) {
  try {
    accion();
  } catch (const Falla& f) {
    return f.numero;
  }
  return 0;
}

std::string LeeArchivo(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> LineasDe(const std::filesystem::path& ruta) {
  const std::string bytes = LeeArchivo(ruta);
  std::vector<std::string> r;
  for (size_t i = 0, p; (p = bytes.find("\r\n", i)) != std::string::npos; i = p + 2)
    r.push_back(bytes.substr(i, p - i));
  return r;
}

}  // namespace lector::test
