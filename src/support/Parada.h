#pragma once
// A stop request ("Salir" answered Yes, SIGTERM, SIGINT): once asked, every wait that watches it
// ends at once, so the program ends within moments whatever the clocks or the service do.
#include <atomic>

namespace lector {

class Parada {
 public:
  Parada();
  ~Parada();
  Parada(const Parada&) = delete;
  Parada& operator=(const Parada&) = delete;

  // Safe from any thread and from a signal handler.
  void Pide();
  bool Pedida() const { return pedida_.load(std::memory_order_acquire); }
  // Readable once the stop is asked: for poll() beside a socket.
  int Descriptor() const { return fd_; }
  // Waits ms milliseconds; false when the stop came first (or had come).
  bool Espera(int ms) const;

 private:
  int fd_ = -1;
  std::atomic<bool> pedida_{false};
};

}  // namespace lector
