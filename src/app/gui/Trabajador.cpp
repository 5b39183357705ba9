#include "app/gui/Trabajador.h"

#include <algorithm>
#include <chrono>

namespace lector::app {

Trabajador::Trabajador() : hilo_([this] { Bucle(); }) {}

Trabajador::~Trabajador() {
  {
    std::lock_guard<std::mutex> g(m_);
    fin_ = true;
    cola_.clear();
  }
  cv_.notify_all();
  if (hilo_.joinable()) hilo_.join();
}

void Trabajador::Pon(std::function<void()> trabajo, std::string clase) {
  {
    std::lock_guard<std::mutex> g(m_);
    if (fin_) return;
    if (!clase.empty() &&
        std::any_of(cola_.begin(), cola_.end(), [&](const Trabajo& t) { return t.clase == clase; }))
      return;
    cola_.push_back({std::move(trabajo), std::move(clase)});
  }
  cv_.notify_all();
}

bool Trabajador::Libre() const {
  std::lock_guard<std::mutex> g(m_);
  return !ocupado_ && cola_.empty();
}

bool Trabajador::Termina(int ms) {
  std::unique_lock<std::mutex> g(m_);
  fin_ = true;
  cola_.clear();
  cv_.notify_all();
  if (!cv_.wait_for(g, std::chrono::milliseconds(ms), [this] { return terminado_; })) return false;
  g.unlock();
  if (hilo_.joinable()) hilo_.join();
  return true;
}

void Trabajador::Bucle() {
  std::unique_lock<std::mutex> g(m_);
  for (;;) {
    cv_.wait(g, [this] { return fin_ || !cola_.empty(); });
    if (fin_) break;
    Trabajo t = std::move(cola_.front());
    cola_.pop_front();
    ocupado_ = true;
    g.unlock();
    try {
      t.hacer();
    } catch (...) {
      // A job handles its own failures; one that escapes must not end the thread.
    }
    t.hacer = nullptr;  // what the job holds goes with it, outside the lock
    g.lock();
    ocupado_ = false;
  }
  terminado_ = true;
  cv_.notify_all();
}

}  // namespace lector::app
