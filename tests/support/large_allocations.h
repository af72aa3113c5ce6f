// Counts the allocations of at least a given size that one thread makes
// while a counter lives: a batch of events copied into fresh memory shows
// here. Only test binaries that link large_allocations.cpp count; it
// replaces the global operator new of the whole binary.
#pragma once

#include <cstddef>

namespace Zelvar_Core::testing_support {

class LargeAllocations {
 public:
  // Counts the calling thread's allocations of `bytes` or more from now on.
  explicit LargeAllocations(std::size_t bytes);
  ~LargeAllocations();
  LargeAllocations(const LargeAllocations&) = delete;
  LargeAllocations& operator=(const LargeAllocations&) = delete;
  // Counted so far; call it from the thread that made the counter.
  std::size_t count() const;
};

}  // namespace Zelvar_Core::testing_support
