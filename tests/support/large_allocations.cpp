#include "tests/support/large_allocations.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// Constant-initialised, so safe from operator new on any thread at any time.
thread_local std::size_t counted_from = SIZE_MAX;
thread_local std::size_t counted = 0;

}  // namespace

void* operator new(std::size_t bytes) {
  if (bytes >= counted_from) ++counted;
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace Zelvar_Core::testing_support {

LargeAllocations::LargeAllocations(std::size_t bytes) {
  counted_from = bytes;
  counted = 0;
}

LargeAllocations::~LargeAllocations() { counted_from = SIZE_MAX; }

std::size_t LargeAllocations::count() const { return counted; }

}  // namespace Zelvar_Core::testing_support
