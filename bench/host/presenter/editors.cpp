#include "bench/host/presenter/editors.h"

#include <fmt/format.h>
#include <wx/checkbox.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

namespace {

WidgetMap widgets_of(const ValuesView& editor) {
  WidgetMap fields;
  for (const auto& [label, field] : editor.panel_values->values_widgets) fields[label] = field;
  return fields;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  return fmt::format("{}", fmt::join(parts, separator));
}

}  // namespace

Editors::Editors(BenchModel& model, StatusLine& status, std::shared_ptr<spdlog::logger> logger)
    : model_(model), status_(status), logger_(std::move(logger)) {}

void Editors::attach(BenchMainWindow& window) {
  view_ = &window;
  // A large bank's one field: another register chosen is shown as the board holds it.
  // Its tooltip is the new register's, also when the field is drawn anew.
  const auto chosen = [this](ValuesPanel* panel, void (Editors::*refresh)(Refresh)) {
    panel->on_choice = [this, panel, refresh] {
      for (const auto& [label, field] : panel->values_widgets) fields_.forget(field);
      (this->*refresh)(Refresh::All);
    };
  };
  chosen(view_->edit_register_device_frame->panel_values, &Editors::refresh_registers);
  chosen(view_->edit_dac_frame->panel_values, &Editors::refresh_dacs);
}

BenchChipEditor& Editors::chip_editor() {
  return dynamic_cast<BenchChipEditor&>(*view_->edit_register_chip_frame);
}

void Editors::refresh_fields(Refresh how, const std::function<WidgetMap()>& fields,
                             const std::function<void()>& update) {
  // What the user typed and did not write (or was refused) stays, as it was.
  std::map<wxWindow*, wxString> kept;
  if (how == Refresh::KeepEdits)
    for (const auto& [label, widget] : fields())
      if (auto* text = dynamic_cast<wxTextCtrl*>(widget))
        if (fields_.state(text) != FieldState::Clean) kept[text] = text->GetValue();
  update();  // the fields show the model (and are made on the first update)
  for (const auto& [label, field] : fields()) {
    const auto edit = kept.find(field);
    if (edit == kept.end()) {
      fields_.show(field, text_of(field));
      continue;
    }
    fields_.refresh(field, text_of(field));
    dynamic_cast<wxTextCtrl*>(field)->ChangeValue(edit->second);
    fields_.draw(field);
  }
}

void Editors::refresh_values(ValuesView& editor, const ValuesMap& values,
                             const std::vector<Register>& ranges, Refresh how) {
  refresh_fields(
      how, [&] { return widgets_of(editor); },
      [&] {
        editor.update_values(values);
        editor.panel_values->to_default_color();
        describe_fields(editor, ranges);
      });
}

void Editors::describe_fields(ValuesView& editor, const std::vector<Register>& ranges) {
  // The fields are made with the first values: each then says what its
  // register is, its range and unit (the unit in the caption too), and a
  // read-only one takes no typing. A large bank's one field says it of the
  // register chosen, each time it is shown.
  auto* panel = editor.panel_values;
  if (!panel->large() && described_.count(panel)) return;
  described_.insert(panel);
  std::map<wxWindow*, wxWindow*> captions;  // field -> its caption, the cell before it
  auto* grid = panel->grid_register;
  for (std::size_t i = 1; i < grid->GetItemCount(); i += 2)
    captions[grid->GetItem(i)->GetWindow()] = grid->GetItem(i - 1)->GetWindow();
  const auto describe = [&](const Register& r) {
    const auto field = panel->values_widgets.find(r.name);
    if (field == panel->values_widgets.end()) return;
    field->second->SetToolTip(wxString::FromUTF8(register_tip(r, "Apply writes it")));
    field->second->SetEditable(!r.read_only);
    const auto caption = captions.find(field->second);
    if (caption == captions.end() || caption->second == nullptr) return;
    // The captions keep the size they were made with: each takes its new text's.
    wxWindow* text = caption->second;
    text->SetLabel(wxString::FromUTF8(register_caption(r)));
    text->SetMinSize(wxDefaultSize);
    text->InvalidateBestSize();
    text->SetMinSize(text->GetBestSize());
  };
  if (panel->large()) {
    const auto chosen = std::find_if(ranges.begin(), ranges.end(),
                                     [&](const Register& r) { return r.name == panel->chosen(); });
    if (chosen != ranges.end()) describe(*chosen);
  } else {
    for (const auto& r : ranges) describe(r);
  }
  panel->Layout();
  editor.Fit();
}

void Editors::refresh_registers(Refresh how) {
  refresh_values(*view_->edit_register_device_frame, model_.registers_as_values(), model_.registers,
                 how);
}

void Editors::refresh_dacs(Refresh how) {
  refresh_values(*view_->edit_dac_frame, model_.dacs_as_values(), model_.dacs, how);
}

void Editors::refresh_signals(Refresh how) {
  auto* panel = chip_editor().signals_panel;
  refresh_fields(
      how, [&] { return panel->values_widgets; },
      [&] {
        panel->show(model_.signals);
        panel->to_default_color();
      });
}

void Editors::refresh(Refresh how) {
  refresh_registers(how);
  refresh_dacs(how);
  refresh_signals(how);
}

bool Editors::refresh(wxWindowID editor) {
  if (editor == view_->edit_dac_frame->GetId())
    refresh_dacs(Refresh::KeepEdits);
  else if (editor == view_->edit_register_device_frame->GetId())
    refresh_registers(Refresh::KeepEdits);
  else if (editor == view_->edit_register_chip_frame->GetId())
    refresh_signals(Refresh::KeepEdits);
  else
    return false;
  return true;
}

void Editors::write(wxWindowID editor) {
  // A large bank's list shows what the board holds after the write, refused or not.
  const auto write_values = [this](ValuesView& values, void (Editors::*refresh)(Refresh)) {
    if (!values.panel_values->large()) return write_fields(widgets_of(values));
    try {
      write_fields(widgets_of(values));
    } catch (...) {
      (this->*refresh)(Refresh::KeepEdits);
      throw;
    }
    (this->*refresh)(Refresh::KeepEdits);
  };
  if (editor == view_->edit_register_device_frame->GetId())
    write_values(*view_->edit_register_device_frame, &Editors::refresh_registers);
  else if (editor == view_->edit_dac_frame->GetId())
    write_values(*view_->edit_dac_frame, &Editors::refresh_dacs);
  else if (editor == view_->edit_register_chip_frame->GetId())
    write_fields(view_->edit_register_chip_frame->edit_panel().field_widgets());
  else
    throw std::invalid_argument("No editor with identifier " + std::to_string(editor));
}

void Editors::write_fields(const WidgetMap& fields) {
  std::vector<std::string> written, refused;
  for (const auto& [label, field] : fields) {
    const std::string text = text_of(field);
    const Register* copy = model_.find(label);
    if (copy != nullptr && trimmed(text) == std::to_string(copy->value)) {
      fields_.show(field, text);  // what the board already holds
      continue;
    }
    const WriteOutcome outcome = model_.write_value(label, text);
    if (outcome.written()) {
      fields_.show(field, text);
      written.push_back(
          fmt::format("{} {} \u2192 {}", label, outcome.old_value, outcome.new_value));
    } else {
      fields_.refuse(field, outcome.refused);
      refused.push_back(outcome.refused);
    }
  }
  if (!written.empty()) logger_->info("Written to the board: {}", joined(written, ", "));
  if (!refused.empty()) {
    // The refused fields keep the user's text, marked; the rest is written.
    throw std::invalid_argument(
        refused.size() == 1
            ? "Not written: " + refused.front()
            : fmt::format("Not written ({}): {}", refused.size(), joined(refused, "; ")));
  }
  status_.message(written.empty() ? "Nothing to write: the board holds these values"
                                  : "Written to the board: " + joined(written, ", "));
}

void Editors::revert_signal(const std::string& label) {
  if (view_ == nullptr) return;
  auto& board = model_.board();
  const Register* copy = model_.find(label);
  const std::int64_t value =
      board.registers().has(label) ? board.registers().read(label) : (copy ? copy->value : 0);
  if (auto* box = dynamic_cast<wxCheckBox*>(chip_editor().signals_panel->values_widgets.at(label)))
    box->SetValue(value != 0);  // the board kept its value: so does the box
}

void Editors::rebuild() {
  for (ValuesView* editor : {view_->edit_register_device_frame, view_->edit_dac_frame}) {
    auto* panel = editor->panel_values;
    for (const auto& [label, field] : panel->values_widgets) fields_.forget(field);
    panel->clear_rows();  // the next update makes the rows
    described_.erase(panel);
  }
  for (const auto& [label, field] : chip_editor().signals_panel->values_widgets)
    fields_.forget(field);
  chip_editor().rebuild(model_.signals);
  refresh(Refresh::All);
}

void Editors::enable(bool connected) {
  view_->edit_register_device_frame->set_menus_state(connected);
  view_->edit_dac_frame->set_menus_state(connected);
  chip_editor().set_menus_state(connected);
}

}  // namespace Zelvar_Core::bench
