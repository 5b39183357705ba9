#include "support/Parada.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace lector {

Parada::Parada() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Parada::~Parada() {
  if (fd_ >= 0) ::close(fd_);
}

void Parada::Pide() {
  pedida_.store(true, std::memory_order_release);
  if (fd_ < 0) return;
  const uint64_t uno = 1;
  ssize_t r = ::write(fd_, &uno, sizeof uno);  // never read back: it stays readable
  (void)r;
}

bool Parada::Espera(int ms) const {
  // A descriptor that could not be made (-1) is skipped by poll(): then only the time counts.
  const auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!Pedida()) {
    const auto resta = std::chrono::duration_cast<std::chrono::milliseconds>(
                           fin - std::chrono::steady_clock::now())
                           .count();
    if (resta <= 0) return true;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(resta)) > 0) break;
  }
  return false;
}

}  // namespace lector
