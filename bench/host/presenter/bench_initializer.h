// The self-test (Device ▸ Execute test): every step reported as passed,
// failed or not run, in the log, and the summary in the status bar.
#pragma once

#include <functional>
#include <vector>

#include "Zelvar_Core/Host/presenter.h"
#include "bench/board/bench_model.h"
#include "bench/board/self_test.h"
#include "bench/host/presenter/status_line.h"
#include "bench/results/test_record.h"

namespace Zelvar_Core::bench {

class BenchInitializer : public Initializer {
 public:
  BenchInitializer(BenchModel& model, Presenter& presenter, StatusLine& status)
      : model_(model), presenter_(presenter), status_(status) {}
  void on_test() override;
  std::vector<SelfTestStep> last_run;
  // Shows the run's steps in a window, where the host has one.
  std::function<void(const std::vector<SelfTestStep>&)> show;
  // The run's test record, where the host keeps them: its start, made
  // before the first step, and the whole record once the steps are done.
  std::function<results::TestRecord()> start_record;
  std::function<void(const std::vector<SelfTestStep>&, results::TestRecord)> keep_record;

 private:
  BenchModel& model_;
  Presenter& presenter_;
  StatusLine& status_;
};

}  // namespace Zelvar_Core::bench
