// The host's chip-register editor: one-bit signals as check boxes, wider
// ones as integer fields, with the Apply button on the window.
#pragma once

#include <wx/panel.h>

#include <vector>

#include "Zelvar_Core/Host/windows.h"
#include "bench/board/registers.h"

namespace Zelvar_Core::bench {

class ChipSignalsPanel : public wxPanel, public EditorPanel {
 public:
  ChipSignalsPanel(wxWindow* parent, const std::vector<Register>& signals);
  void on_text_change(wxWindow* widget) override;
  void to_default_color() override;
  WidgetMap field_widgets() const override { return values_widgets; }
  wxButton* panel_apply_button() const override { return nullptr; }
  // Shows the signals' values without marking anything as edited.
  void show(const std::vector<Register>& signals);
  // Makes the rows anew for another board's signals; the old fields go.
  void rebuild(const std::vector<Register>& signals);

  WidgetMap values_widgets;

 private:
  void add_rows(const std::vector<Register>& signals);
};

class BenchChipEditor : public ChipRegisterEditor {
 public:
  BenchChipEditor(wxWindow* parent, const std::vector<Register>& signals);
  void open() override { Show(); }
  void close() override { Hide(); }
  // As the values editors: the fields and Apply follow the board's presence.
  void set_menus_state(bool state);
  // Another board's signals: their rows, and the window fitted to them.
  void rebuild(const std::vector<Register>& signals);

  ChipSignalsPanel* signals_panel;
};

}  // namespace Zelvar_Core::bench
