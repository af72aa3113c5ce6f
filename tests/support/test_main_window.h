// A main window as a host would build it: the real menu bar and tool windows
// of the front end, and mocks for the host's own windows and close().
#pragma once

#include <gmock/gmock.h>

#include "Zelvar_Core/Host/main_window.h"
#include "tests/support/host_mocks.h"

namespace Zelvar_Core::testing_support {

class TestMainWindow : public MainWindow {
 public:
  TestMainWindow() : MainWindow(nullptr, wxID_ANY, "Main") {
    menu_bar = new MainMenuBar(this);
    SetMenuBar(menu_bar);
    panel_control = new ControlPanel(this);
    panel_control->button_start_stop = new wxButton(panel_control, wxID_ANY, "Start");
    panel_control->button_capture = new wxButton(panel_control, wxID_ANY, "Capture");
    panel_control->button_reset = new wxButton(panel_control, wxID_ANY, "Reset");
    panel_control->button_reset_periphery = new wxButton(panel_control, wxID_ANY, "Periphery");
    panel_control->button_reset_chip = new wxButton(panel_control, wxID_ANY, "Chip");
    const wxString modes[] = {"Idle", "Frame", "Event stream"};
    panel_control->modes_box =
        new wxRadioBox(panel_control, wxID_ANY, "Mode", wxDefaultPosition, wxDefaultSize, 3, modes);
    edit_register_device_frame = new ValuesView(this, "Device registers");
    chip_editor = new ::testing::NiceMock<MockChipEditor>(this);
    edit_register_chip_frame = chip_editor;
    edit_dac_frame = new ValuesView(this, "DACs");
    device_info_frame = new DeviceInfoView(this);
    histogram = new ::testing::NiceMock<MockHistogramWindow>(this);
    image_histogram_frame = histogram;
    serial_control_frame = new SerialView(this);
    adc_control_frame = new AdcView(this);
  }
  MOCK_METHOD(void, close, (), (override));

  ::testing::NiceMock<MockChipEditor>* chip_editor;
  ::testing::NiceMock<MockHistogramWindow>* histogram;
};

}  // namespace Zelvar_Core::testing_support
