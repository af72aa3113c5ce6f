// Edit-window delegates: marking, applying, closing and the chip check boxes.
#include <wx/checkbox.h>

#include "platform/intctrl/int_ctrl.h"
#include "tests/Controllers/delegates_fixture.h"

namespace Zelvar_Core::testing_support {
namespace {

using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Throw;

class EditDelegatesTest : public DelegatesTest {
 protected:
  void SetUp() override {
    DelegatesTest::SetUp();
    registers = window->edit_register_device_frame;
    ValuesMap values;
    values["a"] = {"Bias", std::int64_t{12}};
    values["b"] = {"Threshold", std::int64_t{300}};
    registers->update_values(values);
  }
  wxTextCtrl* field(const std::string& label) {
    return registers->panel_values->values_widgets.at(label);
  }
  ValuesView* registers = nullptr;
};

TEST_F(EditDelegatesTest, TextChangeOnlyMarksTheField) {
  DelegatesEditMenuBase edit(presenter, *registers, model);
  edit.on_text_change(field("Threshold"));
  EXPECT_EQ(field("Threshold")->GetBackgroundColour(), wxColour(128, 255, 0, 50));
  EXPECT_NE(field("Bias")->GetBackgroundColour(), wxColour(128, 255, 0, 50));
}

TEST_F(EditDelegatesTest, ApplyUpdatesTheModelByIdentifierThenClearsMarks) {
  DelegatesEditMenuBase edit(presenter, *registers, model);
  edit.on_text_change(field("Bias"));
  EXPECT_CALL(presenter, update_model(registers->GetId())).WillOnce(Invoke([&](wxWindowID) {
    EXPECT_EQ(field("Bias")->GetBackgroundColour(), wxColour(128, 255, 0, 50));
  }));
  edit.on_apply();
  EXPECT_NE(field("Bias")->GetBackgroundColour(), wxColour(128, 255, 0, 50));
}

TEST_F(EditDelegatesTest, FailedApplyKeepsTheMarks) {
  DelegatesEditMenuBase edit(presenter, *registers, model);
  edit.on_text_change(field("Bias"));
  EXPECT_CALL(presenter, update_model).WillOnce(Throw(std::out_of_range("Bias")));
  EXPECT_THROW(edit.on_apply(), std::out_of_range);
  EXPECT_EQ(field("Bias")->GetBackgroundColour(), wxColour(128, 255, 0, 50));
}

TEST_F(EditDelegatesTest, CloseHidesWithoutApplying) {
  DelegatesEditMenuBase edit(presenter, *registers, model);
  registers->open();
  field("Bias")->ChangeValue("99");
  edit.on_text_change(field("Bias"));
  edit.on_close();
  EXPECT_FALSE(registers->IsShown());
  EXPECT_EQ(field("Bias")->GetValue(), "99");
  EXPECT_EQ(field("Bias")->GetBackgroundColour(), wxColour(128, 255, 0, 50));
}

class ChipDelegatesTest : public DelegatesTest {
 protected:
  void SetUp() override {
    DelegatesTest::SetUp();
    chip = window->chip_editor;
    auto* panel = chip->mock_panel;
    enable = new wxCheckBox(panel, wxID_ANY, "");
    width = new IntCtrl(panel, wxID_ANY, 3, wxDefaultPosition, wxDefaultSize, wxTE_PROCESS_ENTER);
    reset = new wxCheckBox(panel, wxID_ANY, "");
    panel->values_widgets["EN_AER"] = enable;
    panel->values_widgets["BIAS_WIDTH"] = width;
    panel->values_widgets["RST_N"] = reset;
  }
  MockChipEditor* chip = nullptr;
  wxCheckBox* enable = nullptr;
  IntCtrl* width = nullptr;
  wxCheckBox* reset = nullptr;
};

TEST_F(ChipDelegatesTest, CheckBoxWritesItsSignalAtOnceByName) {
  DelegatesEditRegisterChip edit(presenter, *chip, model);
  InSequence order;
  EXPECT_CALL(model, write_signal("RST_N", 1));
  EXPECT_CALL(model, write_signal("RST_N", 0));
  reset->SetValue(true);
  edit.on_check_box_change(reset);
  reset->SetValue(false);
  edit.on_check_box_change(reset);
}

TEST_F(ChipDelegatesTest, UnknownCheckBoxWritesNothing) {
  DelegatesEditRegisterChip edit(presenter, *chip, model);
  auto* stray = new wxCheckBox(chip, wxID_ANY, "stray");
  stray->SetValue(true);
  edit.on_check_box_change(stray);
}

TEST_F(ChipDelegatesTest, SharedIdentifierWritesOnlyTheFirstInMapOrder) {
  DelegatesEditRegisterChip edit(presenter, *chip, model);
  auto* twin = new wxCheckBox(chip->mock_panel, enable->GetId(), "");
  chip->mock_panel->values_widgets["EN_TWIN"] = twin;
  EXPECT_CALL(model, write_signal("EN_AER", 1));
  twin->SetValue(true);
  edit.on_check_box_change(twin);
}

TEST_F(ChipDelegatesTest, FailingWriteEndsTheWalkAndKeepsTheBoxState) {
  DelegatesEditRegisterChip edit(presenter, *chip, model);
  EXPECT_CALL(model, write_signal("EN_AER", 1)).WillOnce(Throw(std::runtime_error("spi")));
  enable->SetValue(true);
  EXPECT_THROW(edit.on_check_box_change(enable), std::runtime_error);
  EXPECT_TRUE(enable->GetValue());
}

TEST_F(ChipDelegatesTest, ChipEditorSharesTheMarkingAndApplyOperations) {
  DelegatesEditRegisterChip edit(presenter, *chip, model);
  InSequence order;
  EXPECT_CALL(*chip->mock_panel, on_text_change(width));
  EXPECT_CALL(presenter, update_model(chip->GetId()));
  EXPECT_CALL(*chip->mock_panel, to_default_color());
  EXPECT_CALL(*chip, close());
  edit.on_text_change(width);
  edit.on_apply();
  edit.on_close();
}

}  // namespace
}  // namespace Zelvar_Core::testing_support
