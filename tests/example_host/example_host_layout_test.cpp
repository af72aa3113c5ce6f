// The example host exactly as its users read it, started the way its own
// main starts it, with every one of its windows shown and each control's
// text checked (with and without a window manager, like the bench's).
#define main minimal_host_main  // the example's own main is not ours to run
#include "examples/minimal_host/main.cpp"
#undef main

#include <gtest/gtest.h>

#include "tests/support/gui_harness.h"
#include "tests/support/layout_check.h"

namespace {

TEST(ExampleHost, EveryWindowShowsTheWholeTextOfEveryControl) {
  std::vector<wxTopLevelWindow*> windows;
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* top = dynamic_cast<wxTopLevelWindow*>(w)) windows.push_back(top);
  ASSERT_GE(windows.size(), 8u) << "the main window, its seven tool windows and Notes";
  for (auto* top : windows) top->Show();
  Zelvar_Core::testing_support::wait_until_placed();
  std::string clipped;
  for (auto* top : windows)
    for (const auto& line : Zelvar_Core::testing_support::clipped_controls(*top))
      clipped += "\n  " + line;
  EXPECT_TRUE(clipped.empty()) << "clipped:" << clipped;
}

}  // namespace

int main(int argc, char** argv) { return Zelvar_Core::testing_support::run_gui_tests(argc, argv); }
