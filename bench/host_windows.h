// The bench program's own windows: the main window with the live image, the
// chip-register editor, the histogram window, the board-simulator tool and
// the programming progress dialog.
#pragma once

#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/progdlg.h>
#include <wx/textctrl.h>

#include <functional>
#include <memory>

#include "Zelvar_Core/Host/main_window.h"
#include "Zelvar_Core/Host/presenter.h"
#include "bench/simulated_board.h"
#include "platform/intctrl/int_ctrl.h"

namespace Zelvar_Core::bench {

// One-bit signals as check boxes, wider ones as integer fields.
class ChipSignalsPanel : public wxPanel, public EditorPanel {
 public:
  ChipSignalsPanel(wxWindow* parent, const std::vector<Register>& signals);
  void on_text_change(wxWindow* widget) override;
  void to_default_color() override;
  WidgetMap field_widgets() const override { return values_widgets; }
  wxButton* panel_apply_button() const override { return nullptr; }
  // Shows the signals' values without marking anything as edited.
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
  BenchHistogramWindow(wxWindow* parent, const SimulatedHistogram& settings);
  BinSettings get_bin_settings() override;
  void scale() override;
  void open() override { Show(); }
  void close() override { Hide(); }
  // Counts the image's pixels per bin of the current settings and redraws.
  void show_histogram(const EventFrame& image);

  wxTextCtrl* max_field;
  wxTextCtrl* min_field;
  IntCtrl* bins_field;
  wxPanel* plot;
  std::vector<int> counts;

 private:
  void paint_plot();
  const SimulatedHistogram& settings_;
};

// Net event counts drawn through the histogram range: OFF towards blue, ON
// towards warm white, no events dark.
class ImagePanel : public wxPanel {
 public:
  ImagePanel(wxWindow* parent, const BenchModel& model);
  // Fills `rgb` (3 bytes per pixel) from the model's image.
  void render(unsigned char* rgb) const;
  long frames_drawn() const { return frames_drawn_; }

 private:
  const BenchModel& model_;
  wxImage frame_;
  long frames_drawn_ = 0;
};

// A host tool: plugs and unplugs the simulated board and makes the next
// programming, register read or event stream fail, so every error path can
// be tried by hand.
class BoardSimulatorTool : public wxFrame, public Tool {
 public:
  BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device, std::function<void()> break_stream);
  bool is_shown() override { return IsShown(); }
  void open() override;

  wxCheckBox* connected;
  wxCheckBox* fail_programming;
  wxCheckBox* fail_register_read;
  wxButton* button_break_stream;

 private:
  SimulatedDevice& device_;
};

// The progress of a programming run in an application-modal dialog that
// can cancel it.
class ProgrammingProgress : public ProgrammingObserver {
 public:
  explicit ProgrammingProgress(wxWindow* parent) : parent_(parent) {}
  void begin(const std::string& design, std::size_t bytes) override;
  bool advance(std::size_t bytes_done) override;
  void end() override;
  wxProgressDialog* dialog() const { return dialog_.get(); }
  std::function<void(int percent)> on_advance;       // for whoever watches
  std::function<void(const std::string&)> on_begin;  // the design being written
  std::function<void()> on_end;                      // however the run ended

 private:
  wxWindow* parent_;
  std::unique_ptr<wxProgressDialog> dialog_;
  std::string design_;
  std::size_t bytes_ = 0;
};

// Fields of the main window's status bar.
enum StatusField {
  kStatusConnection,
  kStatusBitstream,
  kStatusEvents,
  kStatusFrames,
  kStatusMessage
};

class BenchMainWindow : public MainWindow {
 public:
  BenchMainWindow(BenchModel& model, const std::vector<std::string>& modes);
  // Ends the window without another close event; the program ends with it.
  void close() override { Destroy(); }
  wxString status(StatusField field) const { return GetStatusBar()->GetStatusText(field); }

  ImagePanel* image_panel;
};

}  // namespace Zelvar_Core::bench
