#include "Zelvar_Core/Views/prenna.h"

#include <gtest/gtest.h>
#include <wx/stattext.h>

#include "tests/support/gui_harness.h"

namespace Zelvar_Core {
namespace {

const wxColour kEdited(128, 255, 0, 50);

ValuesMap registers(std::int64_t bias, const std::string& mode) {
  ValuesMap values;
  values["r1"] = {"Bias", bias};
  values["r2"] = {"Mode", mode};
  values["r3"] = {"Gain", 1.5};
  return values;
}

class ValuesViewTest : public ::testing::Test {
 protected:
  void SetUp() override { view = new ValuesView(nullptr, "Device registers"); }
  void TearDown() override {
    view->Destroy();
    testing_support::flush_events();
  }
  wxTextCtrl* field(const std::string& label) {
    return view->panel_values->values_widgets.at(label);
  }
  ValuesView* view = nullptr;
};

TEST_F(ValuesViewTest, NewEditorIsHiddenEmptyAndFixedInSize) {
  EXPECT_FALSE(view->IsShown());
  EXPECT_EQ(view->GetTitle(), "Device registers");
  EXPECT_FALSE(view->HasFlag(wxRESIZE_BORDER));
  EXPECT_FALSE(view->HasFlag(wxMAXIMIZE_BOX));
  EXPECT_TRUE(view->HasFlag(wxCLOSE_BOX));
  auto* panel = view->panel_values;
  EXPECT_TRUE(panel->values_widgets.empty());
  EXPECT_FALSE(panel->init_flag);
  EXPECT_EQ(panel->button_apply->GetId(), wxID_APPLY);
  EXPECT_EQ(panel->button_apply->GetLabel(), "Apply");
  EXPECT_EQ(panel->grid_register->GetCols(), 2);
  EXPECT_EQ(panel->grid_register->GetItemCount(), 0u);
  ValuesView other(nullptr, "DACs");
  EXPECT_NE(other.GetId(), view->GetId());
}

TEST_F(ValuesViewTest, FirstUpdateBuildsRowsInOrderUnhighlighted) {
  view->update_values(registers(12, "fast"));
  auto* panel = view->panel_values;
  EXPECT_TRUE(panel->init_flag);
  ASSERT_EQ(panel->grid_register->GetItemCount(), 6u);
  const char* captions[] = {"Bias", "Mode", "Gain"};
  const char* texts[] = {"12", "fast", "1.5"};
  for (size_t row = 0; row < 3; ++row) {
    auto* caption =
        dynamic_cast<wxStaticText*>(panel->grid_register->GetItem(2 * row)->GetWindow());
    auto* text = dynamic_cast<wxTextCtrl*>(panel->grid_register->GetItem(2 * row + 1)->GetWindow());
    ASSERT_NE(caption, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(caption->GetLabel(), captions[row]);
    EXPECT_EQ(text->GetValue(), texts[row]);
    EXPECT_EQ(text, field(captions[row]));
    EXPECT_TRUE(text->HasFlag(wxTE_PROCESS_ENTER));
    EXPECT_EQ(panel->grid_register->GetItem(2 * row + 1)->GetFlag(),
              wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxLEFT | wxTOP);
    EXPECT_NE(text->GetBackgroundColour(), kEdited);
  }
  EXPECT_EQ(std::vector<std::string>({panel->values_widgets.begin()->first}),
            std::vector<std::string>{"Bias"});
}

TEST_F(ValuesViewTest, LaterUpdateOnlyChangesTextsAndClearsEveryHighlight) {
  view->update_values(registers(12, "fast"));
  int text_events = 0;
  field("Bias")->Bind(wxEVT_TEXT, [&](wxCommandEvent& e) {
    ++text_events;
    view->panel_values->on_text_change(field("Bias"));
    e.Skip();
  });
  view->panel_values->on_text_change(field("Mode"));
  view->update_values(registers(40, "slow"));
  EXPECT_EQ(view->panel_values->grid_register->GetItemCount(), 6u);
  EXPECT_EQ(field("Bias")->GetValue(), "40");
  EXPECT_EQ(field("Mode")->GetValue(), "slow");
  EXPECT_EQ(text_events, 1);  // set texts emit a text event
  for (const char* label : {"Bias", "Mode", "Gain"})
    EXPECT_NE(field(label)->GetBackgroundColour(), kEdited);
}

TEST_F(ValuesViewTest, UnknownLabelLaterFailsAndKeepsEarlierTextsAndMarks) {
  view->update_values(registers(12, "fast"));
  view->panel_values->on_text_change(field("Gain"));
  ValuesMap values = registers(77, "x");
  values["r9"] = {"Missing", std::int64_t{1}};
  values["r2"] = {"Mode", std::string("late")};
  EXPECT_THROW(view->update_values(values), std::out_of_range);
  EXPECT_EQ(field("Bias")->GetValue(), "77");
  EXPECT_EQ(field("Gain")->GetBackgroundColour(), kEdited);
}

TEST_F(ValuesViewTest, EmptyFirstUpdateMakesLaterRecordsFail) {
  view->update_values({});
  EXPECT_TRUE(view->panel_values->init_flag);
  EXPECT_THROW(view->update_values(registers(1, "a")), std::out_of_range);
}

TEST_F(ValuesViewTest, DuplicateLabelsGiveTwoRowsAndKeepTheLaterField) {
  ValuesMap values;
  values["a"] = {"Bias", std::int64_t{1}};
  values["b"] = {"Bias", std::int64_t{2}};
  view->update_values(values);
  EXPECT_EQ(view->panel_values->grid_register->GetItemCount(), 4u);
  EXPECT_EQ(view->panel_values->values_widgets.size(), 1u);
  EXPECT_EQ(field("Bias")->GetValue(), "2");
}

TEST_F(ValuesViewTest, MarkingColoursOneFieldAndApplyClearsIt) {
  view->update_values(registers(12, "fast"));
  view->panel_values->on_text_change(field("Mode"));
  EXPECT_EQ(field("Mode")->GetBackgroundColour(), kEdited);
  EXPECT_NE(field("Bias")->GetBackgroundColour(), kEdited);
  view->apply();
  EXPECT_NE(field("Mode")->GetBackgroundColour(), kEdited);
}

TEST_F(ValuesViewTest, MenusStateEnablesThePanelNotTheFrame) {
  view->update_values(registers(12, "fast"));
  view->set_menus_state(false);
  EXPECT_FALSE(field("Bias")->IsEnabled());
  EXPECT_FALSE(view->panel_values->button_apply->IsEnabled());
  EXPECT_TRUE(view->IsEnabled());
  view->set_menus_state(true);
  EXPECT_TRUE(field("Bias")->IsEnabled());
  EXPECT_TRUE(view->panel_values->button_apply->IsEnabled());
}

TEST_F(ValuesViewTest, UpdateRefitsTheFrameToItsRows) {
  const wxSize empty = view->GetSize();
  view->update_values(registers(12, "fast"));
  EXPECT_GT(view->GetSize().y, empty.y);
}

TEST_F(ValuesViewTest, EditorInterfaceReachesThePanel) {
  view->update_values(registers(12, "fast"));
  EditorWindow& editor = *view;
  EXPECT_EQ(editor.GetId(), view->GetId());
  EXPECT_EQ(editor.edit_panel().panel_apply_button(), view->panel_values->button_apply);
  EXPECT_EQ(editor.window_apply_button(), nullptr);
  const WidgetMap widgets = editor.edit_panel().field_widgets();
  ASSERT_EQ(widgets.size(), 3u);
  EXPECT_EQ(widgets.begin()->second, field("Bias"));
  view->open();
  editor.close();
  EXPECT_FALSE(view->IsShown());
}

}  // namespace
}  // namespace Zelvar_Core
