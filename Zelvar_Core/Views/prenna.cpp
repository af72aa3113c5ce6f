#include "Zelvar_Core/Views/prenna.h"

#include <wx/stattext.h>

#include <algorithm>
#include <cctype>

namespace Zelvar_Core {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// "100,005": the digits in groups of three.
std::string grouped(std::size_t count) {
  std::string digits = std::to_string(count);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

}  // namespace

ValuesList::ValuesList(wxWindow* parent, const ValuesMap& values,
                       const std::vector<std::size_t>& rows)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxSize(360, 320),
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL),
      values_(values),
      rows_(rows) {
  AppendColumn("Register", wxLIST_FORMAT_LEFT, 220);
  AppendColumn("Value", wxLIST_FORMAT_RIGHT, 110);
}

const std::string& ValuesList::label(long row) const {
  return (values_.begin() + static_cast<std::ptrdiff_t>(rows_.at(row)))->second.label;
}

wxString ValuesList::OnGetItemText(long item, long column) const {
  if (item < 0 || static_cast<std::size_t>(item) >= rows_.size() || rows_[item] >= values_.size())
    return "";
  const ValueRecord& record = (values_.begin() + static_cast<std::ptrdiff_t>(rows_[item]))->second;
  return wxString::FromUTF8(column == 0 ? record.label : to_text(record.value));
}

ValuesPanel::ValuesPanel(wxWindow* parent) : wxPanel(parent) {
  create_layout();
  values_widgets.clear();
  init_flag = false;
}

void ValuesPanel::create_layout() {
  SetBackgroundColour(wxNullColour);
  hbox = new wxBoxSizer(wxHORIZONTAL);
  vbox = new wxBoxSizer(wxVERTICAL);
  hbox->Add(vbox, 0, wxALL, 1);
  grid_register = new wxGridSizer(2, 0, 0);
  vbox->Add(grid_register, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 5);
  sizer_buttons = new wxBoxSizer(wxHORIZONTAL);
  vbox->Add(sizer_buttons, 0, wxALIGN_RIGHT | wxALL, 5);
  button_apply = new wxButton(this, wxID_APPLY, "Apply");
  sizer_buttons->Add(button_apply, 0, wxALL, 5);
  SetSizer(hbox);
  Layout();
}

void ValuesPanel::update_values(const ValuesMap& values) {
  if (init_flag && large()) {
    set_values(values);
    if (const ValueRecord* now = record(chosen_))
      values_widgets.at(chosen_)->SetValue(wxString::FromUTF8(to_text(now->value)));
    values_list->Refresh();  // the rows in sight are drawn again, with the new values
  } else if (init_flag) {
    for (const auto& [key, record] : values) {
      values_widgets.at(record.label)->SetValue(wxString::FromUTF8(to_text(record.value)));
    }
  } else {
    init_values(values);
    init_flag = true;
  }
  to_default_color();
}

void ValuesPanel::init_values(const ValuesMap& values) {
  if (values.size() > kFieldsAtMost) {
    init_large(values);
    return;
  }
  for (const auto& [key, record] : values) {
    const wxString label = wxString::FromUTF8(record.label);
    auto* caption =
        new wxStaticText(this, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, wxCENTER);
    auto* field =
        new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(to_text(record.value)), wxDefaultPosition,
                       wxDefaultSize, wxTE_CENTRE | wxTE_PROCESS_ENTER);
    values_widgets[record.label] = field;
    grid_register->Add(caption, 0, wxALIGN_CENTER | wxTOP, 5);
    grid_register->Add(field, 0, wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxLEFT | wxTOP, 5);
  }
}

void ValuesPanel::set_values(const ValuesMap& values) {
  values_ = values;
  if (index_.size() == values_.size()) return;  // the same labels, in the same rows
  index_.clear();
  std::size_t row = 0;
  for (const auto& [key, record] : values_) index_.emplace(record.label, row++);
}

const ValueRecord* ValuesPanel::record(const std::string& label) const {
  const auto found = index_.find(label);
  if (found == index_.end()) return nullptr;
  return &(values_.begin() + static_cast<std::ptrdiff_t>(found->second))->second;
}

void ValuesPanel::init_large(const ValuesMap& values) {
  set_values(values);
  find_row_ = new wxBoxSizer(wxHORIZONTAL);
  find_field = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(240, -1));
  find_field->SetHint("Find a register");
  find_row_->Add(new wxStaticText(this, wxID_ANY, wxString(grouped(values_.size()) + " registers")),
                 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 10);
  find_row_->Add(find_field, 1, wxEXPAND);
  vbox->Insert(0, find_row_, 0, wxEXPAND | wxALL, 5);
  values_list = new ValuesList(this, values_, listed_);
  vbox->Insert(1, values_list, 0, wxEXPAND | wxLEFT | wxRIGHT, 5);
  // The one field, for the first register until another is chosen.
  const ValueRecord& first = values_.begin()->second;
  chosen_ = first.label;
  caption_ = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(first.label), wxDefaultPosition,
                              wxDefaultSize, wxCENTER);
  auto* field = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(to_text(first.value)),
                               wxDefaultPosition, wxDefaultSize, wxTE_CENTRE | wxTE_PROCESS_ENTER);
  values_widgets[chosen_] = field;
  grid_register->Add(caption_, 0, wxALIGN_CENTER | wxTOP, 5);
  grid_register->Add(field, 0, wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxLEFT | wxTOP, 5);
  find_field->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { filter(); });
  values_list->Bind(wxEVT_LIST_ITEM_SELECTED,
                    [this](wxListEvent& event) { choose(values_list->label(event.GetIndex())); });
  filter();
}

void ValuesPanel::filter() {
  const std::string part = lower(find_field->GetValue().utf8_string());
  listed_.clear();
  std::size_t row = 0;
  for (const auto& [key, record] : values_) {
    if (part.empty() || lower(record.label).find(part) != std::string::npos) listed_.push_back(row);
    ++row;
  }
  values_list->SetItemCount(static_cast<long>(listed_.size()));
  values_list->Refresh();
  const auto at = index_.find(chosen_);
  const auto listed = at == index_.end()
                          ? listed_.end()
                          : std::lower_bound(listed_.begin(), listed_.end(), at->second);
  if (listed != listed_.end() && *listed == at->second) {
    const long shown = static_cast<long>(listed - listed_.begin());
    values_list->SetItemState(shown, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                              wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    values_list->EnsureVisible(shown);
  } else if (!listed_.empty()) {
    choose(values_list->label(0));  // the chosen one is not found: the first that is
  }
}

void ValuesPanel::choose(const std::string& label) {
  if (!large() || label == chosen_) return;
  const ValueRecord* now = record(label);
  if (now == nullptr) return;
  wxTextCtrl* field = values_widgets.begin()->second;
  // A text typed and not applied stays with its register.
  if (const ValueRecord* before = record(chosen_);
      before && field->GetValue() != wxString::FromUTF8(to_text(before->value)))
    unapplied_[chosen_] = field->GetValue();
  chosen_ = label;
  values_widgets.clear();
  values_widgets[chosen_] = field;
  caption_->SetLabel(wxString::FromUTF8(label));
  field->ChangeValue(wxString::FromUTF8(to_text(now->value)));
  field->SetBackgroundColour(wxNullColour);
  const auto listed = std::lower_bound(listed_.begin(), listed_.end(), index_.at(label));
  if (listed != listed_.end() && *listed == index_.at(label)) {
    const long shown = static_cast<long>(listed - listed_.begin());
    values_list->SetItemState(shown, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                              wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    values_list->EnsureVisible(shown);
  }
  if (on_choice) on_choice();  // the owner shows the register's value and what it is
  if (const auto kept = unapplied_.find(label); kept != unapplied_.end()) {
    const wxString text = kept->second;
    unapplied_.erase(kept);
    field->SetValue(text);  // an edit again, as when it was typed
  }
  Layout();
}

void ValuesPanel::clear_rows() {
  grid_register->Clear(true);  // the captions and fields go
  values_widgets.clear();
  init_flag = false;
  if (!large()) return;
  find_row_->Clear(true);
  vbox->Remove(find_row_);
  vbox->Detach(values_list);
  values_list->Destroy();
  find_row_ = nullptr;
  find_field = nullptr;
  values_list = nullptr;
  caption_ = nullptr;
  values_.clear();
  index_.clear();
  listed_.clear();
  chosen_.clear();
  unapplied_.clear();
}

void ValuesPanel::on_text_change(wxWindow* widget) { widget->SetBackgroundColour(kEditedColour); }

void ValuesPanel::to_default_color() {
  for (const auto& [label, field] : values_widgets) field->SetBackgroundColour(wxNullColour);
  Refresh();
}

WidgetMap ValuesPanel::field_widgets() const {
  WidgetMap widgets;
  for (const auto& [label, field] : values_widgets) widgets[label] = field;
  return widgets;
}

ValuesView::ValuesView(wxWindow* parent, const wxString& title)
    : AuxViewBase(parent, wxNewId(), title, wxDefaultPosition, wxDefaultSize,
                  wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX) {
  SetMinSize(wxSize(0, 0));
  create_layout();
}

void ValuesView::create_layout() {
  SetBackgroundColour(wxNullColour);
  vsizer = new wxBoxSizer(wxVERTICAL);
  hsizer = new wxBoxSizer(wxHORIZONTAL);
  vsizer->Add(hsizer, 0, wxALL, 5);
  panel_values = new ValuesPanel(this);
  hsizer->Add(panel_values, 0, wxEXPAND);
  SetSizerAndFit(vsizer);
  Layout();
}

void ValuesView::update_values(const ValuesMap& values) {
  panel_values->update_values(values);
  // The rows are made on the first update: the window's size hints follow
  // them, or a window manager keeps the hints of the empty window and
  // squeezes the Apply button out of sight.
  GetSizer()->SetSizeHints(this);
}

void ValuesView::apply() { panel_values->to_default_color(); }

void ValuesView::set_menus_state(bool state) { panel_values->Enable(state); }

}  // namespace Zelvar_Core
