// service-sim --port N --data FILE.json [--save] [--host ADDRESS]
// Serves the emulated service until SIGINT/SIGTERM; with --save writes the state back to FILE.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "ServiceSim.h"

namespace {

int Uso() {
  std::cerr << "uso: service-sim --port N --data ARCHIVO.json [--save] [--host DIRECCION]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int puerto = 8080;
  std::string datos, host = "127.0.0.1";
  bool guardar = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--port" && i + 1 < argc) {
      char* fin = nullptr;
      long p = std::strtol(argv[++i], &fin, 10);
      if (!fin || *fin || p < 0 || p > 65535) return Uso();
      puerto = static_cast<int>(p);
    } else if (a == "--data" && i + 1 < argc) {
      datos = argv[++i];
    } else if (a == "--host" && i + 1 < argc) {
      host = argv[++i];
    } else if (a == "--save") {
      guardar = true;
    } else {
      return Uso();
    }
  }

  nlohmann::json estado = nlohmann::json::object();
  if (!datos.empty()) {
    std::ifstream f(datos);
    if (!f) {
      std::cerr << "service-sim: no se puede leer " << datos << "\n";
      return 1;
    }
    estado = nlohmann::json::parse(f, nullptr, false);
    if (estado.is_discarded() || !estado.is_object()) {
      std::cerr << "service-sim: " << datos << " no es un objeto JSON válido\n";
      return 1;
    }
  }

  // Signals are taken by sigwait below, not by a handler, so stopping runs on this thread.
  sigset_t senales;
  sigemptyset(&senales);
  sigaddset(&senales, SIGINT);
  sigaddset(&senales, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &senales, nullptr);

  try {
    servicesim::ServiceSim sim(estado);
    sim.Inicia(puerto, host);
    std::cout << "service-sim escuchando en " << sim.UrlBase() << std::endl;
    int senal = 0;
    sigwait(&senales, &senal);
    sim.Detiene();
    if (guardar && !datos.empty()) {
      std::ofstream f(datos, std::ios::trunc);
      f << sim.Estado().dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
      if (!f) {
        std::cerr << "service-sim: no se pudo guardar " << datos << "\n";
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "service-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
