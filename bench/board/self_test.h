// The bench's self-test: every step asks the board itself; a step that
// needs a board that is not there is reported as not run.
#pragma once

#include <string>
#include <vector>

#include "bench/board/board.h"

namespace Zelvar_Core::bench {

enum class StepResult { Passed, Failed, NotRun };

struct SelfTestStep {
  std::string name;
  StepResult result;
  std::string detail;  // what it measured when it passed; why it failed or did not run
};

std::vector<SelfTestStep> run_self_test(Board& board);
// "Self-test: 5 passed, 1 failed, 0 not run; event stream failed: ..."
std::string self_test_summary(const std::vector<SelfTestStep>& steps);

}  // namespace Zelvar_Core::bench
