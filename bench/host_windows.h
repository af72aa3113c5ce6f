// The bench program's own windows: the main window, the chip-register editor
// and the histogram window.
#pragma once

#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/textctrl.h>

#include <functional>

#include "Zelvar_Core/Host/main_window.h"
#include "Zelvar_Core/Host/presenter.h"
#include "bench/simulated_board.h"
#include "platform/intctrl/int_ctrl.h"

namespace Zelvar_Core::bench {

class ChipSignalsPanel : public wxPanel, public EditorPanel {
 public:
  ChipSignalsPanel(wxWindow* parent, const std::vector<Register>& signals);
  void on_text_change(wxWindow* widget) override;
  void to_default_color() override;
  WidgetMap field_widgets() const override { return values_widgets; }
  wxButton* panel_apply_button() const override { return nullptr; }
  void show(const std::vector<Register>& signals);

  WidgetMap values_widgets;
};

class BenchChipEditor : public ChipRegisterEditor {
 public:
  BenchChipEditor(wxWindow* parent, const std::vector<Register>& signals);
  void open() override { Show(); }
  void close() override { Hide(); }
  ChipSignalsPanel* signals_panel;
};

class BenchHistogramWindow : public HistogramWindow {
 public:
  explicit BenchHistogramWindow(wxWindow* parent, const SimulatedHistogram& settings);
  BinSettings get_bin_settings() override;
  void scale() override;
  void open() override { Show(); }
  void close() override { Hide(); }
  void show_histogram(const std::vector<std::uint16_t>& image);

  wxTextCtrl* max_field;
  wxTextCtrl* min_field;
  IntCtrl* bins_field;
  wxPanel* plot;
  std::vector<int> counts;

 private:
  const SimulatedHistogram& settings_;
};

class ImagePanel : public wxPanel {
 public:
  ImagePanel(wxWindow* parent, const BenchModel& model);
  const BenchModel& model;
  wxImage frame;
};

// A host tool: connects and disconnects the simulated board and makes the
// next programming fail, so every error path can be tried by hand.
class BoardSimulatorTool : public wxFrame, public Tool {
 public:
  BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device,
                     std::function<void()> on_connection);
  bool is_shown() override { return IsShown(); }
  void open() override { Show(); }

  wxCheckBox* connected;
  wxCheckBox* fail_programming;
};

class BenchMainWindow : public MainWindow {
 public:
  explicit BenchMainWindow(BenchModel& model);
  void close() override;

  ImagePanel* image_panel;
};

}  // namespace Zelvar_Core::bench
