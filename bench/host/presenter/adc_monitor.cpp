#include "bench/host/presenter/adc_monitor.h"

#include <fmt/format.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>

#include <cctype>
#include <stdexcept>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

AdcMonitor::AdcMonitor(Board& board, StatusLine& status, std::shared_ptr<spdlog::logger> logger)
    : board_(board),
      status_(status),
      logger_(std::move(logger)),
      post_([this](const std::string& what) { status_.error(what); }),
      sampler_([&board](double t) { return board.read_adc(t); },
               [this](AdcReading reading) { post_([this, reading] { on_reading(reading); }); },
               [this](const std::string& what, std::uint64_t run) {
                 post_([this, what, run] { on_failure(what, run); });
               }) {
  follow_channels();
  // One sample to show from the start, when the board is there to give it.
  try {
    on_reading({0.0, board.read_adc(0.0), 0});
  } catch (const std::runtime_error&) {
    // the first sample comes with the first sampling run instead
  }
}

AdcMonitor::~AdcMonitor() { sampler_.stop(); }

void AdcMonitor::follow_channels() {
  // The board's channels in its order, each labelled with its unit: "VDD (V)".
  const auto& declared = board_.declaration().adc_channels;
  std::vector<std::string> labels;
  for (const auto& [key, channel] : history_.channels()) labels.push_back(channel.label);
  if (labels == board_.declaration().adc_labels()) return;
  // The monitor's rows are made once, with its first samples: a board that
  // says otherwise after that keeps the rows it was shown with.
  if (view_ != nullptr && view_->adc_control_frame->panel_menu->init_flag) return;
  history_ = AdcHistory(history_.capacity());
  for (std::size_t i = 0; i < declared.size(); ++i) {
    std::string key;
    for (const char c : declared[i].name)
      key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    history_.add_channel(key, static_cast<int>(i), declared[i].label());
  }
}

void AdcMonitor::attach(BenchMainWindow& window) {
  view_ = &window;
  auto* menu = view_->adc_control_frame->panel_menu;
  bind_setting_field(fields_, menu->sampletime_textbox, menu->button_update,
                     [this] { show_sample_time(); });
  // The unit beside the number, and what it is.
  menu->sizer_sampletime->Insert(1, new wxStaticText(menu, wxID_ANY, "s"), 0,
                                 wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
  menu->sampletime_textbox->SetToolTip(
      "Seconds between two ADC samples, 0.01 to 10 (Enter applies, Escape puts back)");
  menu->button_update->SetToolTip("Apply the sample time");
  menu->Layout();
  // A line of its own under the panels, for what Update came to: the main
  // window's status bar is often behind this window.
  auto* frame = view_->adc_control_frame;
  frame->CreateStatusBar(1);
  frame->Fit();
  show_sample_time();
}

void AdcMonitor::tell(const std::string& text) {
  if (view_ != nullptr) view_->adc_control_frame->SetStatusText(wxString::FromUTF8(text));
}

void AdcMonitor::run() {
  if (!board_.connected()) throw NoBoard("ADC sampling not started");
  wanted_ = true;
  start_sampling();
}

void AdcMonitor::stop() {
  wanted_ = false;
  sampler_.stop();
}

void AdcMonitor::board_changed(bool connected) {
  if (!connected) sampler_.stop();
  if (connected && !sampler_.running()) follow_channels();
  if (connected && wanted_) start_sampling();
}

void AdcMonitor::draw_state(bool connected) {
  if (view_) view_->adc_control_frame->set_menus_state(connected && sampler_.running());
}

bool AdcMonitor::rebuild_channels() {
  std::vector<std::string> labels;
  for (const auto& [key, channel] : history_.channels()) labels.push_back(channel.label);
  if (labels == board_.declaration().adc_labels()) return false;
  const bool was_sampling = sampler_.running();
  sampler_.stop();  // a reading of the old channels still queued is dropped
  if (view_ != nullptr) {
    // The old board's rows and plots go, with their check boxes.
    auto* menu = view_->adc_control_frame->panel_menu;
    menu->grid_register->Clear(true);
    menu->values_widgets.clear();
    menu->enable_widgets.clear();
    menu->init_flag = false;
    auto* plots = view_->adc_control_frame->panel_plot;
    plots->vbox->Clear(true);
    plots->canvas_list.clear();
    plots->init_flag = false;
  }
  follow_channels();
  try {
    history_.append(0.0, board_.read_adc(0.0));  // a first sample to show, as at the start
  } catch (const std::runtime_error&) {
  }
  if (view_ != nullptr) {
    view_->adc_control_frame->update_values(channels(), sample_time_);
    view_->adc_control_frame->Layout();
  }
  if (was_sampling && board_.connected()) start_sampling();
  return true;
}

void AdcMonitor::start_sampling() {
  time_base_ = 0.0;  // one time line across runs
  if (!channels().empty() && !channels().begin().value().data_t.empty())
    time_base_ = channels().begin().value().data_t.back();
  sampler_.start(sample_time_);
}

void AdcMonitor::on_reading(const AdcReading& reading) {
  // A reading still queued when sampling stopped or restarted is dropped.
  if (reading.run != 0 && (reading.run != sampler_.run() || !sampler_.running())) return;
  // Read from a board that declared other channels since, before the rows followed it.
  if (reading.values.size() != channels().size()) return;
  history_.append(reading.time + time_base_, reading.values);
  if (view_ == nullptr || reading.run == 0) return;
  view_->adc_control_frame->update_values(channels(), sample_time_);
  // The channels' boxes are made with the first samples.
  for (auto& [label, box] : view_->adc_control_frame->panel_menu->enable_widgets)
    if (box->GetToolTipText().empty())
      box->SetToolTip(wxString::FromUTF8("Show " + label + " in the plot"));
}

void AdcMonitor::on_failure(const std::string& what, std::uint64_t run) {
  if (run != sampler_.run() || view_ == nullptr || closed_)
    return;  // a run that was stopped on purpose
  sampler_.stop();
  draw_state(board_.connected());
  // Unplugged: a pause, told as such with the unplug, that ends on replug.
  if (board_.connected()) status_.error(what);
}

void AdcMonitor::show_sample_time() {
  auto* field = view_->adc_control_frame->panel_menu->sampletime_textbox;
  const std::string text = to_text(sample_time_);
  field->ChangeValue(wxString::FromUTF8(text));
  fields_.show(field, text);
}

void AdcMonitor::apply_sample_time() {
  auto* field = view_->adc_control_frame->panel_menu->sampletime_textbox;
  const std::string text = field->GetValue().utf8_string();
  double ts = 0;
  if (!wxString::FromUTF8(trimmed(text)).ToCDouble(&ts) || !(ts >= 0.01 && ts <= 10)) {
    const std::string reason =
        "Sample time \"" + text + "\" must be a number of seconds from 0.01 to 10";
    fields_.refuse(field, reason);
    tell(reason);
    throw std::invalid_argument(reason);  // and the log and the main window have it too
  }
  sample_time_ = ts;
  sampler_.set_period(ts);
  show_sample_time();
  logger_->info("ADC sample time: {:g} s", ts);
  const std::string said = fmt::format("Sample time {:g} s", ts);
  status_.message(said);
  tell(said);
}

void AdcMonitor::show_panels() { view_->adc_control_frame->update_panels(channels()); }

void AdcMonitor::fill_history(double hours) {
  const double period = 0.01;
  const auto samples = static_cast<std::size_t>(hours * 3600 / period);
  std::vector<double> values = board_.read_adc(0.0);
  for (std::size_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) * period;
    if (i % 100 == 0) values = board_.read_adc(t);  // the history's cost, not the ADC's
    history_.append(t, values);
  }
}

}  // namespace Zelvar_Core::bench
