// Allocation failures on demand: the one that brings SinMemoria::faltan to zero fails, in the
// counting thread only (not the service's). Kept apart so no inlined delete looks mismatched.
#include <cstdlib>
#include <new>

#include "ConServicio.h"

thread_local long lector::test::SinMemoria::faltan = 0;

void* operator new(std::size_t n) {
  long& faltan = lector::test::SinMemoria::faltan;
  if (faltan > 0 && --faltan == 0) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
