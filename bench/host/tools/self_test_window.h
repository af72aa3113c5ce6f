// The self-test's window: every step with its result (passed, failed with
// the detail, or not run and why), and the summary.
#pragma once

#include <wx/listctrl.h>
#include <wx/stattext.h>

#include <vector>

#include "bench/board/self_test.h"
#include "bench/host/windows/tool_frame.h"

namespace Zelvar_Core::bench {

class SelfTestWindow : public ToolFrame {
 public:
  explicit SelfTestWindow(wxWindow* parent);
  void open() override { bring_up(); }
  // Shows a run's steps and brings the window up.
  void show(const std::vector<SelfTestStep>& steps);

  wxListCtrl* steps_list;
  wxStaticText* summary_text;
};

}  // namespace Zelvar_Core::bench
