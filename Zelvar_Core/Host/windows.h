// What the controllers use of a window, whoever builds it: the front end's
// tool windows implement these, and so do the host's own windows. The bases
// are virtual so that a window reached as a tool window and as an editor
// window is one object with one open() and one close().
#pragma once

#include <tsl/ordered_map.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include <string>

namespace Zelvar_Core {

class Closable {
 public:
  virtual ~Closable() = default;
  virtual void close() = 0;
};

class ToolWindow : public virtual Closable {
 public:
  virtual void open() = 0;
};

// Label -> field widget of an editor, in row order.
using WidgetMap = tsl::ordered_map<std::string, wxWindow*>;

// The `panel_values` of an editor window.
class EditorPanel {
 public:
  virtual ~EditorPanel() = default;
  virtual void on_text_change(wxWindow* widget) = 0;
  virtual void to_default_color() = 0;
  // The panel's `values_widgets`, each field seen as a window.
  virtual WidgetMap field_widgets() const = 0;
  // The panel's `button_apply`, or null when the panel has none.
  virtual wxButton* panel_apply_button() const = 0;
};

// A values editor window: the front end's `ValuesView` and the host's
// chip-register editor alike.
class EditorWindow : public virtual ToolWindow {
 public:
  virtual wxWindowID GetId() const = 0;
  // The window's `panel_values`.
  virtual EditorPanel& edit_panel() = 0;
  // The `button_apply` on the window itself, or null when it has none.
  virtual wxButton* window_apply_button() const = 0;
};

// The host's chip-register editor: check boxes and integer fields in its
// panel, the Apply button on the window.
class ChipRegisterEditor : public wxFrame, public EditorWindow {
 public:
  using wxFrame::wxFrame;
  wxWindowID GetId() const override { return wxFrame::GetId(); }
  EditorPanel& edit_panel() override { return *panel_values; }
  wxButton* window_apply_button() const override { return button_apply; }

  EditorPanel* panel_values = nullptr;  // a child of this window
  wxButton* button_apply = nullptr;     // a child of this window
};

// The histogram settings in the order the histogram window gives them.
struct BinSettings {
  double max = 0.0;
  double min = 0.0;
  int bins = 0;
};

class HistogramPlotPanel : public wxPanel {
 public:
  using wxPanel::wxPanel;
  wxButton* button_scale = nullptr;
};

// The host's image histogram window.
class HistogramWindow : public wxFrame, public virtual ToolWindow {
 public:
  using wxFrame::wxFrame;
  virtual BinSettings get_bin_settings() = 0;
  virtual void scale() = 0;

  HistogramPlotPanel* panel_histogram_plot = nullptr;  // a child of this window
};

}  // namespace Zelvar_Core
