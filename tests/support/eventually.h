// Waits, without a toolkit, for a condition that another thread makes true:
// the test's limit on how long is generous and never a measure of speed.
#pragma once

#include <chrono>
#include <cstdlib>
#include <thread>

namespace Zelvar_Core::testing_support {

// How many times longer the tests' caps on a wait and their calls' deadlines
// are: a build with a sanitizer runs everything 5 to 20 times slower, and a
// cap that only bounds a failure must not turn into one. The environment's
// ZELVAR_TEST_TIME_SCALE (scripts that run such builds set it), 1 without it.
// The program's own deadlines never change.
inline double time_scale() {
  static const double scale = [] {
    const char* given = std::getenv("ZELVAR_TEST_TIME_SCALE");
    const double value = given ? std::strtod(given, nullptr) : 1.0;
    return value >= 1.0 && value <= 100.0 ? value : 1.0;
  }();
  return scale;
}
// `cap` stretched by time_scale().
template <typename Rep, typename Period>
std::chrono::milliseconds scaled(std::chrono::duration<Rep, Period> cap) {
  return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(
      std::chrono::duration<double, std::milli>(cap).count() * time_scale()));
}

template <typename Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + scaled(limit);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace Zelvar_Core::testing_support
