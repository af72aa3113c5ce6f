// MainInteractor: real events fired at real widgets reach the delegates.
#include "Zelvar_Core/Controllers/interactors.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "tests/support/gui_harness.h"
#include "tests/support/host_mocks.h"
#include "tests/support/test_main_window.h"

namespace Zelvar_Core::testing_support {
namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::StrictMock;

void fire_menu(wxWindow* frame, int id) {
  wxCommandEvent event(wxEVT_MENU, id);
  event.SetEventObject(frame);
  frame->ProcessWindowEvent(event);
}

bool fire_close(wxWindow* window) {
  wxCloseEvent event(wxEVT_CLOSE_WINDOW, window->GetId());
  event.SetEventObject(window);
  event.SetCanVeto(true);
  window->GetEventHandler()->ProcessEvent(event);
  return event.GetVeto();
}

class MainInteractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove_all("tmp");
    presenter.delegates_main = &delegates;
    window = new TestMainWindow();
    AdcValuesMap channels;
    channels["a"] = {0, "VDD", 1.8, true, {0}, {1.8}};
    channels["b"] = {1, "Temp", 25, true, {0}, {25}};
    window->adc_control_frame->update_values(channels, 0.1);
  }
  void TearDown() override {
    window->Destroy();
    flush_events();
  }
  void install() { interactor.install(presenter, *window); }

  StrictMock<MockMainDelegates> delegates;
  StrictMock<MockPresenter> presenter;
  TestMainWindow* window = nullptr;
  MainInteractor interactor;
};

TEST_F(MainInteractorTest, InstallKeepsItsThreeReferences) {
  install();
  EXPECT_EQ(interactor.presenter, &presenter);
  EXPECT_EQ(interactor.delegates, &delegates);
  EXPECT_EQ(interactor.view, window);
}

TEST_F(MainInteractorTest, EachOfTheEightClosesReachesOnCloseOnceWithItsWindow) {
  install();
  std::vector<wxWindow*> windows = {window,
                                    window->edit_register_device_frame,
                                    window->edit_register_chip_frame,
                                    window->edit_dac_frame,
                                    window->device_info_frame,
                                    window->image_histogram_frame,
                                    window->serial_control_frame,
                                    window->adc_control_frame};
  InSequence order;
  for (auto* w : windows) EXPECT_CALL(delegates, on_close(w));
  for (auto* w : windows) {
    w->Show();
    EXPECT_FALSE(fire_close(w));  // never vetoed
    EXPECT_TRUE(w->IsShown());    // no default processing destroyed or hid it
  }
  flush_events();
  for (auto* w : windows) EXPECT_TRUE(wxTopLevelWindows.Find(w)) << w->GetLabel();
  for (auto* w : windows) w->Hide();
}

TEST_F(MainInteractorTest, ControlButtonsEachReachTheirOneOperation) {
  install();
  auto* panel = window->panel_control;
  InSequence order;
  EXPECT_CALL(delegates, on_start_stop());
  EXPECT_CALL(delegates, on_capture());
  EXPECT_CALL(delegates, on_reset());
  EXPECT_CALL(delegates, on_reset_periphery());
  EXPECT_CALL(delegates, on_reset_chip());
  for (auto* button : {panel->button_start_stop, panel->button_capture, panel->button_reset,
                       panel->button_reset_periphery, panel->button_reset_chip}) {
    fire(button, wxEVT_BUTTON);
  }
}

TEST_F(MainInteractorTest, ModeChangePassesTheLabelOfTheChosenItem) {
  install();
  auto* modes = window->panel_control->modes_box;
  modes->SetSelection(2);
  EXPECT_CALL(delegates, on_mode_change("Event stream"));
  fire(modes, wxEVT_RADIOBOX);
}

TEST_F(MainInteractorTest, HistogramSerialAndAdcWidgetsReachTheirOperations) {
  install();
  InSequence order;
  EXPECT_CALL(delegates, on_scale_histogram());
  EXPECT_CALL(delegates, on_write_spi());
  EXPECT_CALL(delegates, on_update_adc_ts());
  EXPECT_CALL(delegates, on_update_adc_panels()).Times(2);
  fire(window->histogram->panel_histogram_plot->button_scale, wxEVT_BUTTON);
  fire(window->serial_control_frame->panel_serial_control->btn_write, wxEVT_BUTTON);
  fire(window->adc_control_frame->panel_menu->button_update, wxEVT_BUTTON);
  auto& boxes = window->adc_control_frame->panel_menu->enable_widgets;
  boxes.at("Temp")->SetValue(false);
  fire(boxes.at("Temp"), wxEVT_CHECKBOX);
  fire(boxes.at("VDD"), wxEVT_CHECKBOX);
}

TEST_F(MainInteractorTest, AdcCheckBoxAddedAfterInstallIsNotWired) {
  install();
  auto* late = new wxCheckBox(window->adc_control_frame->panel_menu, wxID_ANY, "");
  window->adc_control_frame->panel_menu->enable_widgets["late"] = late;
  fire(late, wxEVT_CHECKBOX);  // a strict mock fails on any call
}

TEST_F(MainInteractorTest, EmptyCheckBoxMapBindsNothing) {
  auto* fresh = new AdcView(window);
  window->adc_control_frame = fresh;
  install();
  EXPECT_CALL(delegates, on_update_adc_ts());
  fire(fresh->panel_menu->button_update, wxEVT_BUTTON);
}

TEST_F(MainInteractorTest, EveryMenuItemReachesItsOneOperation) {
  install();
  auto* bar = window->menu_bar;
  InSequence order;
  EXPECT_CALL(delegates, on_save_preset());
  EXPECT_CALL(delegates, on_load_preset());
  EXPECT_CALL(delegates, on_show_registers_device());
  EXPECT_CALL(delegates, on_show_registers_chip());
  EXPECT_CALL(delegates, on_show_dacs());
  EXPECT_CALL(delegates, on_program());
  EXPECT_CALL(delegates, on_show_device_info());
  EXPECT_CALL(delegates, on_show_histogram());
  EXPECT_CALL(delegates, on_show_write_spi());
  EXPECT_CALL(delegates, on_show_adcs());
  EXPECT_CALL(delegates, on_test());
  for (auto* item :
       {bar->menu_edit->item_save_preset, bar->menu_edit->item_load_preset,
        bar->menu_edit->item_reg_dev, bar->menu_edit->item_reg_chip, bar->menu_edit->item_dac,
        bar->menu_device->item_program, bar->menu_device->item_info,
        bar->menu_image->item_histogram, bar->menu_tools->items.at("Write SPI"),
        bar->menu_tools->items.at("ADCs"), bar->menu_tools->items.at("Execute test")}) {
    fire_menu(window, item->GetId());
  }
  fire_menu(window, wxNewId());  // matches nothing
}

TEST_F(MainInteractorTest, RecentFilesPassZeroBasedNumbers) {
  install();
  InSequence order;
  EXPECT_CALL(delegates, on_program_recent_file(0));
  EXPECT_CALL(delegates, on_program_recent_file(8));
  fire_menu(window, wxID_FILE1);
  fire_menu(window, wxID_FILE9);
}

TEST_F(MainInteractorTest, SecondToolEntryPassesTheSecondToolObject) {
  StrictMock<MockTool> first, second;
  presenter.tools["Simulator"] = &first;
  presenter.tools["Scope"] = &second;
  window->menu_bar->configure_tools({"Simulator", "Scope"});
  install();
  EXPECT_CALL(delegates, on_show_tools(&second));
  fire_menu(window, window->menu_bar->menu_tools->items.at("Scope")->GetId());
}

TEST_F(MainInteractorTest, ToolEntryAddedAfterInstallIsNotWired) {
  install();
  StrictMock<MockTool> late;
  presenter.tools["Late"] = &late;
  window->menu_bar->configure_tools({"Late"});
  fire_menu(window, window->menu_bar->menu_tools->items.at("Late")->GetId());
}

TEST_F(MainInteractorTest, ToolNameWithoutMenuEntryEndsTheDispatchAfterTheFixedTests) {
  StrictMock<MockTool> orphan;
  presenter.tools["Orphan"] = &orphan;
  install();
  EXPECT_CALL(delegates, on_test());
  EXPECT_THROW(fire_menu(window, window->menu_bar->menu_tools->items.at("Execute test")->GetId()),
               std::out_of_range);
}

TEST_F(MainInteractorTest, MissingWidgetStopsInstallAtThatBindingKeepingEarlierOnes) {
  wxButton* reset = window->panel_control->button_reset;
  window->panel_control->button_reset = nullptr;
  EXPECT_THROW(install(), std::logic_error);
  EXPECT_CALL(delegates, on_close(window));
  EXPECT_CALL(delegates, on_capture());
  fire_close(window);
  fire(window->panel_control->button_capture, wxEVT_BUTTON);
  fire(reset, wxEVT_BUTTON);
  fire(window->panel_control->button_reset_chip, wxEVT_BUTTON);  // after the gap: not bound
  fire_menu(window, window->menu_bar->menu_edit->item_dac->GetId());
}

TEST_F(MainInteractorTest, HostSlipsAreErrorsNamingWhatIsMissing) {
  presenter.delegates_main = nullptr;
  try {
    install();
    ADD_FAILURE() << "installed without delegates";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "the host did not provide presenter.delegates_main");
  }
  presenter.delegates_main = &delegates;
  install();
  // A radio-box event whose object is some other widget.
  wxCommandEvent event(wxEVT_RADIOBOX, window->panel_control->modes_box->GetId());
  event.SetEventObject(window->panel_control->button_reset);
  try {
    window->panel_control->modes_box->GetEventHandler()->ProcessEvent(event);
    ADD_FAILURE() << "a stranger's event was taken";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "the event's object is not the expected mode radio box");
  }
}

TEST_F(MainInteractorTest, ARealClickThroughTheDisplayTravelsFromTheButtonToTheDelegate) {
  install();
  window->SetSize(400, 300);
  window->Show();
  auto* button = window->panel_control->button_capture;
  button->SetSize(120, 40);
  button->Move(20, 20);
  for (int i = 0; i < 20; ++i) {
    wxYield();
    wxMilliSleep(10);
  }
  EXPECT_CALL(delegates, on_capture());
  wxUIActionSimulator simulator;
  simulator.MouseMove(button->GetScreenPosition() + wxPoint(60, 20));
  wxYield();
  simulator.MouseClick();
  for (int i = 0; i < 50; ++i) {
    wxYield();
    wxMilliSleep(10);
  }
  window->Hide();
}

}  // namespace
}  // namespace Zelvar_Core::testing_support
