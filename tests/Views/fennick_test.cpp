#include "Zelvar_Core/Views/fennick.h"

#include <gtest/gtest.h>
#include <wx/app.h>

#include "tests/support/gui_harness.h"
#include "tests/support/log_capture.h"

namespace Zelvar_Core {
namespace {

using testing_support::LogCapture;
using testing_support::LogRecord;

constexpr const char* kFennick = "Zelvar_Core.Views.fennick";

TEST(AuxViewBase, ForwardsEveryFrameArgument) {
  auto* frame = new AuxViewBase(nullptr, 4242, "Tool", wxPoint(12, 34), wxSize(321, 123),
                                wxCAPTION | wxCLOSE_BOX, "tool_frame");
  EXPECT_EQ(frame->GetId(), 4242);
  EXPECT_EQ(frame->GetTitle(), "Tool");
  EXPECT_EQ(frame->GetSize(), wxSize(321, 123));
  EXPECT_EQ(frame->GetName(), "tool_frame");
  EXPECT_TRUE(frame->HasFlag(wxCAPTION));
  EXPECT_FALSE(frame->HasFlag(wxRESIZE_BORDER));
  EXPECT_FALSE(frame->IsShown());
  frame->Destroy();
}

TEST(AuxViewBase, OpenOnlyShowsAndCloseHidesWithDebugMessage) {
  LogCapture capture({kFennick});
  auto* frame =
      new AuxViewBase(nullptr, wxID_ANY, "ADC signals", wxDefaultPosition, wxSize(200, 100));
  const wxSize size = frame->GetSize();
  frame->open();
  EXPECT_TRUE(frame->IsShown());
  EXPECT_EQ(frame->GetSize(), size);
  EXPECT_TRUE(capture.records().empty());

  frame->close();
  EXPECT_FALSE(frame->IsShown());
  frame->close();  // already hidden: logs again, stays hidden
  EXPECT_FALSE(frame->IsShown());
  const LogRecord expected{kFennick, spdlog::level::debug, "On close frame ADC signals"};
  EXPECT_EQ(capture.records(), (std::vector<LogRecord>{expected, expected}));

  frame->open();
  frame->close(false);
  EXPECT_FALSE(frame->IsShown());
  EXPECT_EQ(capture.records().size(), 3u);
  frame->Destroy();
}

TEST(AuxViewBase, EmptyTitleLogsTheLiteralAlone) {
  LogCapture capture({kFennick});
  auto* frame = new AuxViewBase(nullptr, wxID_ANY, "");
  frame->close();
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].message, "On close frame ");
  frame->Destroy();
}

TEST(AuxViewBase, TitleIsLoggedAsItStands) {
  LogCapture capture({kFennick});
  auto* frame = new AuxViewBase(nullptr, wxID_ANY, "Tool {} %s");
  frame->close();
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].message, "On close frame Tool {} %s");
  frame->Destroy();
}

TEST(AuxViewBase, CloseTrueLogsThenDestroys) {
  LogCapture capture({kFennick});
  auto* frame = new AuxViewBase(nullptr, wxID_ANY, "Doomed");
  bool destroyed = false;
  frame->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == frame) destroyed = true;
    e.Skip();
  });
  frame->open();
  frame->close(true);
  EXPECT_EQ(capture.records().size(), 1u);
  testing_support::flush_events();
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(wxTopLevelWindows.Find(frame));
}

TEST(Logging, UnknownNameGivesAUsableLogger) {
  auto logger = get_logger("Zelvar_Core.tests.fresh_name");
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(logger, get_logger("Zelvar_Core.tests.fresh_name"));
  LogCapture capture({"Zelvar_Core.tests.fresh_name"});
  log_error(logger, "The file %s doesn't exist.", "/data/{}/%s.bit");
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].message, "The file /data/{}/%s.bit doesn't exist.");
  EXPECT_EQ(capture.records()[0].level, spdlog::level::err);
}

}  // namespace
}  // namespace Zelvar_Core
