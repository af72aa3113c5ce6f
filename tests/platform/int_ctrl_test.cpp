#include "platform/intctrl/int_ctrl.h"

#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/valnum.h>

#include "tests/support/gui_harness.h"

namespace Zelvar_Core {
namespace {

TEST(IntCtrl, IsATextFieldWithIntegerValidatorAndItsOwnClass) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "int");
  auto* field =
      new IntCtrl(frame, wxID_ANY, 42, wxDefaultPosition, wxDefaultSize, wxTE_PROCESS_ENTER);
  auto* plain = new wxTextCtrl(frame, wxID_ANY, "1");
  auto* box = new wxCheckBox(frame, wxID_ANY, "");
  EXPECT_EQ(field->GetValue(), "42");
  EXPECT_EQ(field->GetIntValue(), 42);
  EXPECT_NE(dynamic_cast<wxIntegerValidator<long long>*>(field->GetValidator()), nullptr);
  EXPECT_NE(dynamic_cast<IntCtrl*>(static_cast<wxWindow*>(field)), nullptr);
  EXPECT_EQ(dynamic_cast<IntCtrl*>(static_cast<wxWindow*>(plain)), nullptr);
  EXPECT_EQ(dynamic_cast<IntCtrl*>(static_cast<wxWindow*>(box)), nullptr);
  int texts = 0;
  field->Bind(wxEVT_TEXT, [&](wxCommandEvent&) { ++texts; });
  field->SetIntValue(-17);
  EXPECT_EQ(texts, 1);
  EXPECT_EQ(field->GetIntValue(), -17);
  field->ChangeValue("12a");
  EXPECT_FALSE(field->GetIntValue().has_value());
  field->ChangeValue("");
  EXPECT_FALSE(field->GetIntValue().has_value());
  frame->Destroy();
  testing_support::flush_events();
}

}  // namespace
}  // namespace Zelvar_Core
