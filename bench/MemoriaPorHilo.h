#pragma once
// Peak memory per thread for the benchmarks: the global allocator is replaced so that every
// live byte is counted against the Cuenta its allocating thread points at (tCuenta). A thread
// counts against gOtrosHilos until it says otherwise. Include from exactly one source file of a
// benchmark program: it defines the replacement operators new and delete.
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace medicion {

struct Cuenta {
  std::atomic<int64_t> vivo{0};
  std::atomic<int64_t> pico{0};
  void Suma(int64_t n) {
    const int64_t v = vivo.fetch_add(n, std::memory_order_relaxed) + n;
    int64_t p = pico.load(std::memory_order_relaxed);
    while (v > p && !pico.compare_exchange_weak(p, v, std::memory_order_relaxed)) {
    }
  }
  void Resta(int64_t n) { vivo.fetch_sub(n, std::memory_order_relaxed); }
  void ReiniciaPico() { pico.store(vivo.load()); }
};

inline Cuenta gOtrosHilos;
inline thread_local Cuenta* tCuenta = &gOtrosHilos;

inline void* Reserva(size_t n, size_t alineacion = 0) {
  void* p = alineacion
                ? std::aligned_alloc(alineacion, (n + alineacion - 1) / alineacion * alineacion)
                : std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  tCuenta->Suma(static_cast<int64_t>(malloc_usable_size(p)));
  return p;
}

inline void Libera(void* p) noexcept {
  if (!p) return;
  tCuenta->Resta(static_cast<int64_t>(malloc_usable_size(p)));
  std::free(p);
}

}  // namespace medicion

void* operator new(size_t n) {
  return medicion::Reserva(n);
}
void* operator new[](size_t n) {
  return medicion::Reserva(n);
}
void* operator new(size_t n, std::align_val_t a) {
  return medicion::Reserva(n, static_cast<size_t>(a));
}
void* operator new[](size_t n, std::align_val_t a) {
  return medicion::Reserva(n, static_cast<size_t>(a));
}
void operator delete(void* p) noexcept {
  medicion::Libera(p);
}
void operator delete[](void* p) noexcept {
  medicion::Libera(p);
}
void operator delete(void* p, size_t) noexcept {
  medicion::Libera(p);
}
void operator delete[](void* p, size_t) noexcept {
  medicion::Libera(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  medicion::Libera(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  medicion::Libera(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
  medicion::Libera(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  medicion::Libera(p);
}
