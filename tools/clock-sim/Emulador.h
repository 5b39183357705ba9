#pragma once
// An emulated attendance clock on ADDRESS:PORT (TCP, UDP or both), on a thread of its own.
// It serves clients one after another (a new one once the previous leaves or drops), keeps its
// state in memory, and writes it to the state file on request and when stopped.
//
//   clocksim::Emulador reloj(estado, {.direccion = "127.0.0.7"});
//   reloj.Inicia();                      // throws std::runtime_error when it cannot listen
//   ... the client talks to 127.0.0.7:reloj.Puerto() ...
//   reloj.Con([](EstadoReloj& e) { e.usuarios.push_back(...); });   // inspect or change
//   reloj.AgregaFalla({TipoFalla::kCorta, zk::CMD_DATA_RDY, 100000});
//   reloj.Detiene();
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "clock-sim/Estado.h"
#include "clock-sim/Fallas.h"
#include "clock-sim/Reproduccion.h"
#include "clock-sim/Sesion.h"

struct sockaddr_in;

namespace clocksim {

struct Opciones {
  std::string direccion = "127.0.0.2";
  uint16_t puerto = 4370;  // 0: any free port (see Puerto())
  bool tcp = true;         // listen on TCP (false: an old device that refuses TCP)
  bool udp = false;        // answer UDP on the same port number
  // Each packet of an answer waits until the client has read the previous one (on loopback
  // the emulator can see the client's receive queue). Real devices are slow enough that their
  // packets arrive one by one; some clients rely on it.
  bool pausado = true;
  // A client silent for this long is dropped, so that a hung client cannot block the next.
  std::chrono::milliseconds inactividad{60000};
  // Written by GrabaEstado() and by Detiene(); empty: no file.
  std::filesystem::path archivoEstado;
  // 0 nothing; 1 connections and one line per command; 2 also data in hex (first 64 bytes);
  // 3 also whole packets in hex.
  int verbosidad = 0;
  std::function<void(const std::string&)> bitacora;  // default: standard error
  // Set: the clock plays this capture back instead of answering from its state.
  std::shared_ptr<Reproduccion> reproduccion;
};

// One handled request, for tests to check what a client sent.
constexpr size_t kMaxDatosHistorial = 256;
struct Evento {
  uint16_t comando = 0;
  uint16_t respuesta = 0;  // code of the first answer packet; 0 when none was sent
  size_t bytes = 0;        // request data size
  zk::Bytes datos;         // request data (its first kMaxDatosHistorial bytes)
  int conexion = 0;        // 1 for the first client served, 2 for the next...
  Transporte transporte = Transporte::kTcp;
};

class Emulador {
 public:
  explicit Emulador(EstadoReloj estado, Opciones opciones = {});
  ~Emulador();
  Emulador(const Emulador&) = delete;
  Emulador& operator=(const Emulador&) = delete;

  void Inicia();
  // Stops serving, closes every socket and writes the state file (when there is one).
  void Detiene();
  bool Activo() const { return hilo_.joinable(); }

  const std::string& Direccion() const { return opciones_.direccion; }
  uint16_t Puerto() const { return puerto_; }

  // Runs f on the state under the emulator's lock, between two requests.
  template <class F>
  auto Con(F&& f) {
    std::lock_guard<std::mutex> l(mutex_);
    struct Invalida {
      EstadoReloj& e;
      ~Invalida() { e.InvalidaCaches(); }
    } invalida{estado_};
    return f(estado_);
  }
  EstadoReloj Copia() const;

  void AgregaFalla(const Falla& f);
  void QuitaFallas();

  // Writes the state to `archivo` (or to the state file); throws std::runtime_error.
  void GrabaEstado();
  void GrabaEstado(const std::filesystem::path& archivo);

  std::vector<Evento> Historial() const;
  void BorraHistorial();
  // Clients accepted so far (TCP connections and UDP sessions).
  int Conexiones() const { return conexiones_.load(); }
  // Whether a TCP client is being served right now.
  bool ConClienteTcp() const { return conClienteTcp_.load(); }

 private:
  struct Cliente;
  struct ParUdp {
    std::unique_ptr<Sesion> sesion;
    int conexion = 0;
    uint64_t bytesTransferencia = 0;
    std::chrono::steady_clock::time_point ultima;
  };
  void Hilo();
  void AtiendeTcp(Cliente& c);
  void AtiendeUdp();
  // Handles one payload and sends its answer; false when the connection must be closed.
  bool Procesa(Sesion& s, const zk::Bytes& payload, Cliente* tcp, const sockaddr_in* destino,
               int conexion, uint64_t& transferidos);
  bool EnviaTcp(Cliente& c, const uint8_t* p, size_t n);
  bool EsperaLectura(Cliente& c);
  bool Espera(std::chrono::milliseconds ms);
  void Registra(int nivel, const std::string& texto);

  EstadoReloj estado_;
  Opciones opciones_;
  mutable std::mutex mutex_;  // estado_, fallas_, historial_
  std::vector<Falla> fallas_;
  std::vector<Evento> historial_;
  std::map<uint64_t, ParUdp> paresUdp_;  // UDP sessions by client address
  std::thread hilo_;
  int evento_ = -1;  // eventfd: stop
  int escucha_ = -1;
  int udp_ = -1;
  int diag_ = -1;  // netlink socket to look at the client's receive queue
  uint16_t puerto_ = 0;
  uint16_t siguienteSesion_ = 0;
  std::atomic<int> conexiones_{0};
  std::atomic<bool> conClienteTcp_{false};
  std::atomic<bool> parar_{false};
};

}  // namespace clocksim
