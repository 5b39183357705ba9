// Allocation failures on demand for this test program: the allocation that brings
// SinMemoria::faltan to zero fails. Only the counting thread is affected (the service runs on its
// own). Kept apart so that no inlined delete is taken for a mismatch.
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
