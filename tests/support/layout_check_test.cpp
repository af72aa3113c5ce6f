// The layout check on real widgets: a control its window does not show, below
// the window's edge or outside the panel it lies in, is found; the same
// control given room is not.
#include "tests/support/layout_check.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "tests/support/gui_harness.h"

namespace Zelvar_Core::testing_support {
namespace {

using namespace std::chrono_literals;

class LayoutCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    frame = new wxFrame(nullptr, wxID_ANY, "Out of sight", wxDefaultPosition, wxDefaultSize,
                        wxDEFAULT_FRAME_STYLE);
    panel = new wxPanel(frame);
  }
  void TearDown() override {
    frame->Destroy();
    flush_events();
  }
  // The frame shown with a client area of `client`, its panel laid out in it
  // (by the window manager too, when there is one).
  void show(const wxSize& client) {
    frame->SetClientSize(client);
    frame->Show();
    ASSERT_TRUE(pump_until(
        [&] {
          frame->Layout();
          return frame->GetClientSize() == client && panel->GetSize() == client;
        },
        5s))
        << "the frame has " << frame->GetClientSize().x << "x" << frame->GetClientSize().y;
  }
  // A label, then `gap` pixels, then an Apply button, in rows that keep
  // their heights when the window is too small (a box sizer would squash the
  // button instead, which the comparison with its best size finds).
  wxButton* apply_below(int gap) {
    auto* sizer = new wxFlexGridSizer(1);
    sizer->Add(new wxStaticText(panel, wxID_ANY, "Threshold"), 0, wxALL, 4);
    sizer->AddSpacer(gap);
    auto* apply = new wxButton(panel, wxID_APPLY, "Apply");
    sizer->Add(apply, 0, wxALL, 4);
    panel->SetSizer(sizer);
    return apply;
  }
  wxFrame* frame = nullptr;
  wxPanel* panel = nullptr;
};

TEST_F(LayoutCheck, AnApplyButtonPushedBelowTheWindowsEdgeIsFound) {
  apply_below(400);
  show(wxSize(300, 200));
  const auto found = clipped_controls(*frame);
  ASSERT_EQ(found.size(), 1u) << ::testing::PrintToString(found);
  EXPECT_EQ(found[0].rfind("Out of sight: wxButton \"Apply\" lies out of sight: ", 0), 0u)
      << found[0];
}

TEST_F(LayoutCheck, AnApplyButtonGivenRoomIsNotFound) {
  apply_below(400);
  show(wxSize(300, 500));
  EXPECT_EQ(clipped_controls(*frame), std::vector<std::string>{});
}

TEST_F(LayoutCheck, AControlOutsideThePanelItLiesInIsFoundThoughInsideTheWindow) {
  // A box of 200x40 whose button was put below its edge: the window has
  // room, the box does not show it.
  auto* box = new wxPanel(panel, wxID_ANY, wxPoint(10, 10), wxSize(200, 40));
  new wxButton(box, wxID_APPLY, "Apply", wxPoint(0, 50));
  show(wxSize(300, 300));
  const auto found = clipped_controls(*frame);
  ASSERT_EQ(found.size(), 1u) << ::testing::PrintToString(found);
  EXPECT_EQ(found[0].rfind("Out of sight: wxButton \"Apply\" lies out of sight: ", 0), 0u)
      << found[0];
}

TEST_F(LayoutCheck, AControlAScrolledWindowScrollsToIsNotFound) {
  auto* scrolled = new wxScrolledWindow(panel, wxID_ANY, wxPoint(0, 0), wxSize(200, 100));
  scrolled->SetVirtualSize(200, 400);
  scrolled->SetScrollRate(0, 10);
  new wxButton(scrolled, wxID_APPLY, "Apply", wxPoint(10, 300));
  show(wxSize(300, 300));
  EXPECT_EQ(clipped_controls(*frame), std::vector<std::string>{});
}

}  // namespace
}  // namespace Zelvar_Core::testing_support
