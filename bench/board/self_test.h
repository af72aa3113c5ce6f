// The bench's self-test: every step asks the board itself; a step that
// needs a board that is not there is reported as not run.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "bench/board/board.h"

namespace Zelvar_Core::bench {

enum class StepResult { Passed, Failed, NotRun };

// A value a step read from the board, with its unit ("" for a count) and
// the limits it was held to, where it has them.
struct SelfTestValue {
  std::string name;
  double value = 0;
  std::string unit;
  std::optional<double> low, high;
};

struct SelfTestStep {
  std::string name;
  StepResult result = StepResult::NotRun;
  std::string detail;  // what it measured when it passed; why it failed or did not run
  std::vector<SelfTestValue> values;  // what it measured, whether it passed or not
  std::chrono::system_clock::time_point started{}, ended{};
};

std::vector<SelfTestStep> run_self_test(Board& board);
// "Self-test: 5 passed, 1 failed, 0 not run; event stream failed: ..."
std::string self_test_summary(const std::vector<SelfTestStep>& steps);

}  // namespace Zelvar_Core::bench
