// Waits, without a toolkit, for a condition that another thread makes true:
// the test's limit on how long is generous and never a measure of speed.
#pragma once

#include <chrono>
#include <thread>

namespace Zelvar_Core::testing_support {

template <typename Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace Zelvar_Core::testing_support
