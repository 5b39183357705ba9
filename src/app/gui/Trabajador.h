#pragma once
// The worker thread: it runs, one at a time and in the order asked, the jobs that block (the
// cycles, the login's service calls), so that the windows' event loop never waits for a clock or
// the service.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace lector::app {

class Trabajador {
 public:
  Trabajador();
  ~Trabajador();  // waits for the running job
  Trabajador(const Trabajador&) = delete;
  Trabajador& operator=(const Trabajador&) = delete;

  // Queues a job. A job with a class ("cargar") is not queued again while one of its class waits.
  void Pon(std::function<void()> trabajo, std::string clase = "");
  // Nothing is running and nothing waits.
  bool Libre() const;
  // Takes no more jobs, drops those waiting and waits up to `ms` for the running one: true when
  // the thread has ended (it is then joined).
  bool Termina(int ms);

 private:
  void Bucle();

  struct Trabajo {
    std::function<void()> hacer;
    std::string clase;
  };
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<Trabajo> cola_;
  bool ocupado_ = false, fin_ = false, terminado_ = false;
  std::thread hilo_;
};

}  // namespace lector::app
