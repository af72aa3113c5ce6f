// Edit-window interactors on a values editor and on a chip-register editor.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wx/stattext.h>

#include "Zelvar_Core/Controllers/interactors.h"
#include "platform/intctrl/int_ctrl.h"
#include "tests/support/gui_harness.h"
#include "tests/support/host_mocks.h"

namespace Zelvar_Core::testing_support {
namespace {

using ::testing::InSequence;
using ::testing::StrictMock;

TEST(InteractorEditMenuBase, FieldsReportTheirChangesAndEnterOrApplyApplies) {
  auto* view = new ValuesView(nullptr, "DACs");
  ValuesMap values;
  values["a"] = {"VREF", std::int64_t{512}};
  values["b"] = {"VTH", std::int64_t{128}};
  view->update_values(values);
  StrictMock<MockEditDelegates> delegates;
  InteractorEditMenuBase interactor;
  interactor.install(delegates, *view);
  EXPECT_EQ(interactor.delegates, &delegates);
  EXPECT_EQ(interactor.view, view);
  auto* vth = view->panel_values->values_widgets.at("VTH");
  InSequence order;
  EXPECT_CALL(delegates, on_text_change(vth)).Times(2);
  EXPECT_CALL(delegates, on_apply()).Times(2);
  vth->SetValue("130");  // a set text reports like a typed one
  fire(vth, wxEVT_TEXT);
  fire(vth, wxEVT_TEXT_ENTER);
  fire(view->panel_values->button_apply, wxEVT_BUTTON);
  view->Destroy();
}

TEST(InteractorEditMenuBase, EmptyEditorBindsOnlyTheApplyButton) {
  auto* view = new ValuesView(nullptr, "Empty");
  view->update_values({});
  StrictMock<MockEditDelegates> delegates;
  InteractorEditMenuBase interactor;
  interactor.install(delegates, *view);
  EXPECT_CALL(delegates, on_apply());
  fire(view->panel_values->button_apply, wxEVT_BUTTON);
  view->Destroy();
}

class ChipInteractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    editor = new ::testing::NiceMock<MockChipEditor>(nullptr);
    auto* panel = editor->mock_panel;
    check = new wxCheckBox(panel, wxID_ANY, "");
    integer = new IntCtrl(panel, wxID_ANY, 4, wxDefaultPosition, wxDefaultSize, wxTE_PROCESS_ENTER);
    plain = new wxTextCtrl(panel, wxID_ANY, "7");
    caption = new wxStaticText(panel, wxID_ANY, "note");
    panel->button_apply = new wxButton(panel, wxID_ANY, "Panel apply");
    panel->values_widgets["EN"] = check;
    panel->values_widgets["WIDTH"] = integer;
    panel->values_widgets["PLAIN"] = plain;
    panel->values_widgets["NOTE"] = caption;
  }
  void TearDown() override {
    editor->Destroy();
    flush_events();
  }
  ::testing::NiceMock<MockChipEditor>* editor = nullptr;
  wxCheckBox* check = nullptr;
  IntCtrl* integer = nullptr;
  wxTextCtrl* plain = nullptr;
  wxStaticText* caption = nullptr;
};

TEST_F(ChipInteractorTest, CheckBoxesIntegerFieldsAndTheWindowsApplyAreBound) {
  StrictMock<MockChipEditDelegates> delegates;
  InteractorEditRegisterChip interactor;
  interactor.install(delegates, *editor);
  InSequence order;
  EXPECT_CALL(delegates, on_check_box_change(check));
  EXPECT_CALL(delegates, on_text_change(integer));
  EXPECT_CALL(delegates, on_apply()).Times(2);
  check->SetValue(true);
  fire(check, wxEVT_CHECKBOX);
  fire(integer, wxEVT_TEXT);
  fire(integer, wxEVT_TEXT_ENTER);
  fire(editor->button_apply, wxEVT_BUTTON);
}

TEST_F(ChipInteractorTest, OtherWidgetsAndThePanelsButtonGetNoBinding) {
  StrictMock<MockChipEditDelegates> delegates;
  InteractorEditRegisterChip interactor;
  interactor.install(delegates, *editor);
  fire(plain, wxEVT_TEXT);
  fire(plain, wxEVT_TEXT_ENTER);
  fire(caption, wxEVT_TEXT);
  fire(editor->mock_panel->button_apply, wxEVT_BUTTON);
  fire(check, wxEVT_TEXT);  // a check box is never a text field here
}

TEST_F(ChipInteractorTest, InstalledThroughItsBaseItStillReachesTheCheckBoxOperation) {
  StrictMock<MockChipEditDelegates> chip_delegates;
  InteractorEditRegisterChip interactor;
  InteractorEditMenuBase& base = interactor;
  base.install(chip_delegates, *editor);
  EXPECT_CALL(chip_delegates, on_check_box_change(check));
  fire(check, wxEVT_CHECKBOX);

  StrictMock<MockEditDelegates> plain_delegates;  // no check-box operation at all
  InteractorEditRegisterChip wrong;
  InteractorEditMenuBase& wrong_base = wrong;
  try {
    wrong_base.install(plain_delegates, *editor);
    ADD_FAILURE() << "installed without a check-box operation";
  } catch (const std::logic_error& e) {
    EXPECT_NE(std::string(e.what()).find("on_check_box_change"), std::string::npos);
  }
}

TEST_F(ChipInteractorTest, MissingApplyButtonStopsInstall) {
  editor->button_apply = nullptr;
  StrictMock<MockChipEditDelegates> delegates;
  InteractorEditRegisterChip interactor;
  EXPECT_THROW(interactor.install(delegates, *editor), std::logic_error);
  fire(check, wxEVT_CHECKBOX);
}

}  // namespace
}  // namespace Zelvar_Core::testing_support
