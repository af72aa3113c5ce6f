#include "bench/host/presenter/bench_initializer.h"

namespace Zelvar_Core::bench {

void BenchInitializer::on_test() {
  results::TestRecord start;
  if (start_record) start = start_record();
  last_run = run_self_test(model_.board());
  auto& log = *presenter_.logger;
  for (const auto& step : last_run) {
    switch (step.result) {
      case StepResult::Passed:
        log.info("Test {}: pass", step.name);
        break;
      case StepResult::Failed:
        log.error("Test {}: FAIL ({})", step.name, step.detail);
        break;
      case StepResult::NotRun:
        log.warn("Test {}: {}", step.name, step.detail);
        break;
    }
  }
  const std::string summary = self_test_summary(last_run);
  log.info("{}", summary);
  status_.message(summary);
  if (keep_record) keep_record(last_run, std::move(start));
  if (show) show(last_run);
}

}  // namespace Zelvar_Core::bench
