// GoogleMock stand-ins for the host's objects, shared by the test programs.
#pragma once

#include <gmock/gmock.h>

#include "Zelvar_Core/Host/controller_api.h"
#include "Zelvar_Core/Host/main_model.h"
#include "Zelvar_Core/Host/presenter.h"
#include "Zelvar_Core/Host/windows.h"

namespace Zelvar_Core::testing_support {

class MockDeviceActions : public DeviceActions {
 public:
  MOCK_METHOD(void, reset_device, (), (override));
  MOCK_METHOD(void, reset_fifo, (), (override));
  MOCK_METHOD(void, reset_ram, (), (override));
  MOCK_METHOD(void, reset_aer, (), (override));
  MOCK_METHOD(void, reset_chip, (), (override));
};

class MockDevice : public Device {
 public:
  MOCK_METHOD(void, program, (const std::string& path), (override));
};

class MockImageHistogram : public ImageHistogram {
 public:
  MOCK_METHOD(void, set_settings, (double max, double min, int bins), (override));
};

class MockModel : public MainModel {
 public:
  MOCK_METHOD(void, read_dev_registers, (), (override));
  MOCK_METHOD(void, read_signals, (), (override));
  MOCK_METHOD(void, write_signal, (const std::string& label, int value), (override));
  MOCK_METHOD(void, reset_image, (), (override));
};

class MockTool : public Tool {
 public:
  MOCK_METHOD(bool, is_shown, (), (override));
  MOCK_METHOD(void, open, (), (override));
};

class MockInitializer : public Initializer {
 public:
  MOCK_METHOD(void, on_test, (), (override));
};

class MockPresenter : public Presenter {
 public:
  MockPresenter() { logger = get_logger("test.presenter"); }
  MOCK_METHOD(void, toggle_main_img_thread, (), (override));
  MOCK_METHOD(void, stop_main_img_thread, (), (override));
  MOCK_METHOD(void, capture, (), (override));
  MOCK_METHOD(void, set_mode, (const std::string& mode), (override));
  MOCK_METHOD(void, update_view, (), (override));
  MOCK_METHOD(void, update_view, (wxWindowID id), (override));
  MOCK_METHOD(void, update_image, (), (override));
  MOCK_METHOD(void, process_img, (), (override));
  MOCK_METHOD(void, save_preset, (), (override));
  MOCK_METHOD(void, load_preset, (), (override));
  MOCK_METHOD(void, update_model, (wxWindowID id), (override));
  MOCK_METHOD(void, run_adc, (), (override));
  MOCK_METHOD(void, stop_adc, (), (override));
  MOCK_METHOD(void, update_adc_ts, (), (override));
  MOCK_METHOD(void, update_adc_panels, (), (override));
  MOCK_METHOD(void, send_serial_data, (), (override));
  MOCK_METHOD(void, close, (), (override));
};

class MockMainDelegates : public MainDelegatesApi {
 public:
  MOCK_METHOD(void, on_start_stop, (), (override));
  MOCK_METHOD(void, on_capture, (), (override));
  MOCK_METHOD(void, on_reset, (), (override));
  MOCK_METHOD(void, on_reset_periphery, (), (override));
  MOCK_METHOD(void, on_reset_chip, (), (override));
  MOCK_METHOD(void, on_mode_change, (const std::string& mode), (override));
  MOCK_METHOD(void, on_connection_change, (), (override));
  MOCK_METHOD(void, on_program, (), (override));
  MOCK_METHOD(void, on_program_recent_file, (int idx), (override));
  MOCK_METHOD(void, on_save_preset, (), (override));
  MOCK_METHOD(void, on_load_preset, (), (override));
  MOCK_METHOD(void, on_show_device_info, (), (override));
  MOCK_METHOD(void, on_show_registers_device, (), (override));
  MOCK_METHOD(void, on_show_registers_chip, (), (override));
  MOCK_METHOD(void, on_show_dacs, (), (override));
  MOCK_METHOD(void, on_show_histogram, (), (override));
  MOCK_METHOD(void, on_scale_histogram, (), (override));
  MOCK_METHOD(void, on_show_write_spi, (), (override));
  MOCK_METHOD(void, on_show_adcs, (), (override));
  MOCK_METHOD(void, on_write_spi, (), (override));
  MOCK_METHOD(void, on_update_adc_ts, (), (override));
  MOCK_METHOD(void, on_update_adc_panels, (), (override));
  MOCK_METHOD(void, on_show_tools, (Tool * tool), (override));
  MOCK_METHOD(void, on_test, (), (override));
  MOCK_METHOD(void, on_close, (wxWindow * window), (override));
};

class MockEditDelegates : public EditDelegatesApi {
 public:
  MOCK_METHOD(void, on_text_change, (wxWindow * widget), (override));
  MOCK_METHOD(void, on_apply, (), (override));
  MOCK_METHOD(void, on_close, (), (override));
};

class MockChipEditDelegates : public ChipEditDelegatesApi {
 public:
  MOCK_METHOD(void, on_text_change, (wxWindow * widget), (override));
  MOCK_METHOD(void, on_apply, (), (override));
  MOCK_METHOD(void, on_close, (), (override));
  MOCK_METHOD(void, on_check_box_change, (wxCheckBox * evt_widget), (override));
};

// The panel of a host chip-register editor: its fields are whatever a test
// puts into `values_widgets`; the marking operations are mocked.
class MockEditorPanel : public wxPanel, public EditorPanel {
 public:
  explicit MockEditorPanel(wxWindow* parent) : wxPanel(parent) {}
  MOCK_METHOD(void, on_text_change, (wxWindow * widget), (override));
  MOCK_METHOD(void, to_default_color, (), (override));
  WidgetMap field_widgets() const override { return values_widgets; }
  wxButton* panel_apply_button() const override { return button_apply; }

  WidgetMap values_widgets;
  wxButton* button_apply = nullptr;
};

class MockChipEditor : public ChipRegisterEditor {
 public:
  explicit MockChipEditor(wxWindow* parent) : ChipRegisterEditor(parent, wxID_ANY, "Chip") {
    auto* panel = new MockEditorPanel(this);
    panel_values = panel;
    mock_panel = panel;
    button_apply = new wxButton(this, wxID_APPLY, "Apply");
  }
  MOCK_METHOD(void, open, (), (override));
  MOCK_METHOD(void, close, (), (override));

  MockEditorPanel* mock_panel;
};

class MockHistogramWindow : public HistogramWindow {
 public:
  explicit MockHistogramWindow(wxWindow* parent) : HistogramWindow(parent, wxID_ANY, "Histogram") {
    panel_histogram_plot = new HistogramPlotPanel(this);
    panel_histogram_plot->button_scale = new wxButton(panel_histogram_plot, wxID_ANY, "Scale");
  }
  MOCK_METHOD(BinSettings, get_bin_settings, (), (override));
  MOCK_METHOD(void, scale, (), (override));
  MOCK_METHOD(void, open, (), (override));
  MOCK_METHOD(void, close, (), (override));
};

}  // namespace Zelvar_Core::testing_support
