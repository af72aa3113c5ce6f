#include "bench/bench_presenter.h"

#include <wx/filedlg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Zelvar_Core/Host/controller_api.h"
#include "bench/capture.h"
#include "bench/preset.h"

namespace Zelvar_Core::bench {

namespace {

constexpr int kFramePeriodMs = 30;            // a little above 30 frames per second
constexpr std::size_t kAdcHistory = 1000000;  // samples kept per channel

std::string text_of(wxWindow* field) {
  if (auto* box = wxDynamicCast(field, wxCheckBox)) return box->GetValue() ? "1" : "0";
  if (auto* text = wxDynamicCast(field, wxTextCtrl)) return text->GetValue().utf8_string();
  throw std::logic_error("a field that is neither a check box nor a text field");
}

std::string format_rate(double events_per_second) {
  char text[32];
  if (events_per_second >= 1e6)
    std::snprintf(text, sizeof text, "%.2f Mev/s", events_per_second / 1e6);
  else
    std::snprintf(text, sizeof text, "%.1f kev/s", events_per_second / 1e3);
  return text;
}

}  // namespace

const std::vector<std::string>& chip_modes() {
  static const std::vector<std::string> modes = {"Event stream", "Test pattern", "Standby"};
  return modes;
}

BenchPresenter::BenchPresenter(BenchModel& model)
    : model_(model),
      post_([this](const std::string& what) { report_error(what); }),
      acquisition_([this](const std::string& what) {
        post_([this, what] {
          stop_main_img_thread();
          report_error(what);
        });
      }),
      sampler_(
          front_end_,
          [this](AdcReading reading) { post_([this, reading] { on_adc_reading(reading); }); },
          [this](const std::string& what) { post_([this, what] { report_error(what); }); }) {
  logger = get_logger("pravel");
  auto channel = [this](const char* key, int number, const char* label) {
    adc_[key] = {number, label, 0.0, true, {}, {}};
  };
  channel("vdd", 0, "VDD (V)");
  channel("vddio", 1, "VDDIO (V)");
  channel("temp", 2, "Temperature (C)");
  channel("ibias", 3, "Ibias (uA)");
  on_adc_reading({0.0, front_end_.read(0.0), 0});  // one sample to show from the start
}

BenchPresenter::~BenchPresenter() {
  // The threads post to the GUI thread through this object: end them first.
  acquisition_.stop();
  sampler_.stop();
}

void BenchPresenter::attach(BenchMainWindow& window) {
  view_ = &window;
  progress_ = std::make_unique<ProgrammingProgress>(&window);
  model_.simulated_device.programming_observer = progress_.get();
  progress_->on_begin = [this](const std::string& design) {
    view_->SetStatusText("Bitstream: writing " + wxString::FromUTF8(design) + "...",
                         kStatusBitstream);
  };
  progress_->on_end = [this] { update_status(); };  // the design now on the board
  model_.simulated_device.connection_listener = [this] {
    // Heard on whatever thread the board reports on; handled on the GUI thread.
    post_([this] {
      front_end_.powered = model_.device->is_connected;
      if (delegates_main) delegates_main->on_connection_change();
      update_status();
    });
  };
  model_.simulated_device.simulated_actions.on_reset = [this](const std::string& reset) {
    if (reset == "reset_ram" || reset == "reset_chip") {
      // The frame buffer and the pixels start over.
      model_.reset_image();
      update_image();
    }
    show_message("Board: " + reset);
  };
  // Read before an editor opens: the board's values, and the user's unwritten edits kept.
  model_.on_registers_read = [this] { refresh_registers(Refresh::KeepEdits); };
  model_.on_signals_read = [this] { refresh_signals(Refresh::KeepEdits); };
  frame_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { on_frame_tick(); });
  sync_board();
  update_status();
}

// ---- acquisition and image ----------------------------------------------------------

void BenchPresenter::toggle_main_img_thread() {
  if (acquisition_.running()) {
    stop_main_img_thread();
    return;
  }
  if (!model_.device->is_connected)
    throw std::runtime_error("Cannot start the acquisition: no board is connected");
  sync_board();
  acquisition_.start();
  frame_timer_.Start(kFramePeriodMs);
  rate_since_ = std::chrono::steady_clock::now();
  events_since_ = 0;
  frames_since_ = view_->image_panel->frames_drawn();
  view_->panel_control->button_start_stop->SetLabel("Stop");
  update_status();
}

void BenchPresenter::stop_main_img_thread() {
  acquisition_.stop();
  frame_timer_.Stop();
  event_rate_ = frame_rate_ = 0;
  if (view_ == nullptr) return;
  view_->panel_control->button_start_stop->SetLabel("Start");
  update_status();
}

void BenchPresenter::on_frame_tick() {
  sync_board();
  acquisition_.take_frame(model_.image);
  update_image();
  if (++ticks_ % 6 == 0 && view_->image_histogram_frame->IsShown()) process_img();
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - rate_since_).count();
  if (seconds >= 1.0) {
    const std::uint64_t events = acquisition_.events();
    const long frames = view_->image_panel->frames_drawn();
    event_rate_ = static_cast<double>(events - events_since_) / seconds;
    frame_rate_ = static_cast<double>(frames - frames_since_) / seconds;
    events_since_ = events;
    frames_since_ = frames;
    rate_since_ = now;
    front_end_.event_rate = event_rate_;
    update_status();
  }
}

void BenchPresenter::capture() {
  const std::string path =
      write_capture(model_.image, model_.histogram.min, model_.histogram.max, "captures");
  show_message("Captured " + path);
}

void BenchPresenter::set_mode(const std::string& mode) {
  const auto& modes = chip_modes();
  const auto found = std::find(modes.begin(), modes.end(), mode);
  if (found == modes.end()) throw std::invalid_argument("Unknown chip mode \"" + mode + "\"");
  mode_ = static_cast<SensorMode>(found - modes.begin());
  sync_board();
  logger->info("Chip mode: {}", mode);
  show_message("Mode: " + mode);
}

void BenchPresenter::update_image() {
  if (view_) view_->image_panel->Refresh(false);
}

void BenchPresenter::process_img() {
  static_cast<BenchHistogramWindow*>(view_->image_histogram_frame)->show_histogram(model_.image);
}

void BenchPresenter::sync_board() {
  acquisition_.set_settings(sensor_settings(model_.bias_point(), mode_));
  front_end_.ibias_ua = static_cast<double>(model_.value_of("IBIAS")) / 100.0;
}

// ---- views ---------------------------------------------------------------------------

void BenchPresenter::update_status() {
  if (view_ == nullptr) return;
  const bool connected = model_.device->is_connected;
  view_->SetStatusText(connected ? "Connected" : "Disconnected", kStatusConnection);
  const std::string& design = model_.simulated_device.loaded_design;
  view_->SetStatusText("Bitstream: " + wxString::FromUTF8(design.empty() ? "none" : design),
                       kStatusBitstream);
  if (acquisition_.running()) {
    view_->SetStatusText(format_rate(event_rate_), kStatusEvents);
    view_->SetStatusText(wxString::Format("%.1f fps", frame_rate_), kStatusFrames);
  } else {
    view_->SetStatusText("Stopped", kStatusEvents);
    view_->SetStatusText("", kStatusFrames);
  }
}

void BenchPresenter::show_message(const std::string& text) {
  if (view_) view_->SetStatusText(wxString::FromUTF8(text), kStatusMessage);
}

void BenchPresenter::report_error(const std::string& what) {
  logger->error("{}", what);
  show_message("Error: " + what);
}

namespace {

// The fields the user edited and has not yet written, with their texts.
std::vector<std::pair<wxTextCtrl*, wxString>> pending_edits(const WidgetMap& fields) {
  std::vector<std::pair<wxTextCtrl*, wxString>> pending;
  for (const auto& [label, widget] : fields) {
    auto* text = wxDynamicCast(widget, wxTextCtrl);
    if (text && text->GetBackgroundColour() == kEditedColour)
      pending.emplace_back(text, text->GetValue());
  }
  return pending;
}

void restore(const std::vector<std::pair<wxTextCtrl*, wxString>>& pending) {
  for (const auto& [field, text] : pending) {
    field->ChangeValue(text);
    field->SetBackgroundColour(kEditedColour);
  }
}

WidgetMap widgets_of(const ValuesView& editor) {
  WidgetMap fields;
  for (const auto& [label, field] : editor.panel_values->values_widgets) fields[label] = field;
  return fields;
}

}  // namespace

void BenchPresenter::refresh_values(ValuesView& editor, const ValuesMap& values, Refresh how) {
  const auto pending =
      how == Refresh::KeepEdits ? pending_edits(widgets_of(editor)) : decltype(pending_edits({})){};
  editor.update_values(values);
  editor.panel_values->to_default_color();
  restore(pending);  // what the user typed and did not write stays, marked
}

void BenchPresenter::refresh_registers(Refresh how) {
  refresh_values(*view_->edit_register_device_frame, model_.registers_as_values(), how);
}

void BenchPresenter::refresh_dacs(Refresh how) {
  refresh_values(*view_->edit_dac_frame, model_.dacs_as_values(), how);
}

void BenchPresenter::refresh_signals(Refresh how) {
  auto* panel = static_cast<BenchChipEditor*>(view_->edit_register_chip_frame)->signals_panel;
  const auto pending = how == Refresh::KeepEdits ? pending_edits(panel->values_widgets)
                                                 : decltype(pending_edits({})){};
  panel->show(model_.signals);
  panel->to_default_color();
  restore(pending);
}

void BenchPresenter::refresh_editors() {
  refresh_registers(Refresh::All);
  refresh_dacs(Refresh::All);
  refresh_signals(Refresh::All);
}

void BenchPresenter::update_view() {
  refresh_editors();
  view_->panel_control->modes_box->SetSelection(static_cast<int>(mode_));
  view_->panel_control->button_start_stop->SetLabel(acquisition_.running() ? "Stop" : "Start");
  update_status();
}

void BenchPresenter::update_view(wxWindowID id) {
  if (id == view_->edit_dac_frame->GetId()) {
    refresh_dacs(Refresh::KeepEdits);
  } else if (id == view_->edit_register_device_frame->GetId()) {
    refresh_registers(Refresh::KeepEdits);
  } else if (id == view_->edit_register_chip_frame->GetId()) {
    refresh_signals(Refresh::KeepEdits);
  } else if (id == view_->device_info_frame->GetId()) {
    view_->device_info_frame->update_info(model_.device->info);
  } else if (id == view_->adc_control_frame->GetId()) {
    view_->adc_control_frame->update_values(adc_, sample_time_);
  } else if (id == view_->image_histogram_frame->GetId()) {
    process_img();
  } else {
    throw std::invalid_argument("No window to refresh with identifier " + std::to_string(id));
  }
}

// ---- editors ---------------------------------------------------------------------------

void BenchPresenter::write_fields(const WidgetMap& fields) {
  std::string problems;
  int refused = 0;
  for (const auto& [label, field] : fields) {
    const std::string text = text_of(field);
    if (text == std::to_string(model_.value_of(label))) {
      continue;  // unchanged
    }
    const std::string problem = model_.write_value(label, text);
    if (problem.empty()) {
      field->SetBackgroundColour(wxNullColour);  // written: no longer pending
      field->Refresh();
    } else {
      problems += (refused++ ? "; " : "") + problem;
    }
  }
  sync_board();
  if (refused) {
    // The refused fields keep the user's text and their mark; the rest is written.
    throw std::invalid_argument(std::string(refused == 1 ? "Not written: " : "Not written (") +
                                (refused == 1 ? "" : std::to_string(refused) + "): ") + problems);
  }
}

void BenchPresenter::update_model(wxWindowID id) {
  if (id == view_->edit_register_device_frame->GetId()) {
    write_fields(widgets_of(*view_->edit_register_device_frame));
  } else if (id == view_->edit_dac_frame->GetId()) {
    write_fields(widgets_of(*view_->edit_dac_frame));
  } else if (id == view_->edit_register_chip_frame->GetId()) {
    write_fields(view_->edit_register_chip_frame->edit_panel().field_widgets());
  } else {
    throw std::invalid_argument("No editor with identifier " + std::to_string(id));
  }
  show_message("Written to the board");
}

// ---- presets -------------------------------------------------------------------------

void BenchPresenter::save_preset() {
  std::filesystem::create_directories("presets");
  wxFileDialog dialog(view_, "Save preset", "presets", "preset.json", "Presets (*.json)|*.json",
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  const std::string path = dialog.GetPath().utf8_string();
  save_preset_file(model_, path);
  logger->info("Preset saved to {}", path);
  show_message("Preset saved to " + path);
}

void BenchPresenter::load_preset() {
  wxFileDialog dialog(view_, "Load preset", "presets", "", "Presets (*.json)|*.json",
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  const std::string path = dialog.GetPath().utf8_string();
  if (!model_.device->is_connected)
    throw std::runtime_error("Cannot load the preset: no board is connected");
  load_preset_file(model_, path);  // all or nothing
  refresh_editors();
  sync_board();
  logger->info("Preset loaded from {}", path);
  show_message("Preset loaded from " + path);
}

// ---- ADC and serial ----------------------------------------------------------------------

void BenchPresenter::run_adc() {
  if (!model_.device->is_connected)
    throw std::runtime_error("Cannot sample the ADC: no board is connected");
  const auto& times = adc_.begin().value().data_t;
  adc_time_base_ = times.empty() ? 0.0 : times.back();
  sampler_.start(sample_time_);
}

void BenchPresenter::stop_adc() { sampler_.stop(); }

void BenchPresenter::on_adc_reading(const AdcReading& reading) {
  // A reading still queued when sampling stopped or restarted is dropped.
  if (reading.run != 0 && (reading.run != sampler_.run() || !sampler_.running())) return;
  for (auto it = adc_.begin(); it != adc_.end(); ++it) {
    AdcChannel& c = it.value();
    const double y = reading.values.at(static_cast<std::size_t>(c.channel));
    if (c.data_t.size() >= kAdcHistory) {
      c.data_t.erase(c.data_t.begin(), c.data_t.begin() + kAdcHistory / 2);
      c.data_y.erase(c.data_y.begin(), c.data_y.begin() + kAdcHistory / 2);
    }
    // One time line across runs: a restart continues after the last sample.
    c.data_t.push_back(reading.time + adc_time_base_);
    c.data_y.push_back(y);
    c.value = y;
  }
  if (view_ && reading.run != 0) view_->adc_control_frame->update_values(adc_, sample_time_);
}

void BenchPresenter::update_adc_ts() {
  const wxString text = view_->adc_control_frame->panel_menu->sampletime_textbox->GetValue();
  double ts = 0;
  if (!text.ToCDouble(&ts) || !(ts >= 0.01 && ts <= 10))
    throw std::invalid_argument("Sample time \"" + text.utf8_string() +
                                "\" must be a number of seconds from 0.01 to 10");
  sample_time_ = ts;
  sampler_.set_period(ts);
  show_message(wxString::Format("Sample time %g s", ts).utf8_string());
}

void BenchPresenter::update_adc_panels() { view_->adc_control_frame->update_panels(adc_); }

void BenchPresenter::send_serial_data() {
  auto* panel = view_->serial_control_frame->panel_serial_control;
  if (!model_.device->is_connected)
    throw std::runtime_error("Cannot write SERIAL: no board is connected");
  const std::string sent = panel->serial_tx_box->GetValue().utf8_string();
  std::string answer;
  if (sent == "ID?")
    answer = model_.device->info.product_name + " " + model_.device->info.serial_number;
  else if (sent == "VER?")
    answer = model_.device->info.dev_version;
  else if (sent.empty())
    answer = "ERR empty command";
  else
    answer = "ACK " + sent;
  panel->serial_rx_box->SetValue(wxString::FromUTF8(answer));
  logger->debug("SERIAL sent \"{}\", received \"{}\"", sent, answer);
}

void BenchPresenter::close() {
  acquisition_.stop();
  frame_timer_.Stop();
  sampler_.stop();
  if (!closed_) logger->info("Bench closed");
  closed_ = true;
}

// ---- self-test ---------------------------------------------------------------------------

void BenchInitializer::on_test() {
  last_run.clear();
  auto step = [this](const std::string& name, const std::function<std::string()>& check) {
    std::string problem;
    try {
      problem = check();
    } catch (const std::exception& e) {
      problem = e.what();
    }
    last_run.push_back({name, problem.empty(), problem});
    if (problem.empty())
      presenter_.logger->info("Test {}: pass", name);
    else
      presenter_.logger->error("Test {}: FAIL ({})", name, problem);
  };
  step("connection", [&] { return model_.device->is_connected ? "" : "no board is connected"; });
  step("identity", [&] {
    return model_.device->info.serial_number.empty() ? "the board has no serial number" : "";
  });
  step("register read", [&] {
    model_.read_dev_registers();
    return std::string();
  });
  step("register range", [&]() -> std::string {
    // A value past the range must be refused and leave the register as it was.
    const auto before = model_.value_of("FIFO_THRESHOLD");
    if (model_.write_value("FIFO_THRESHOLD", "99999").empty()) return "a bad value was written";
    return model_.value_of("FIFO_THRESHOLD") == before ? "" : "the register changed";
  });
  step("event stream", [&]() -> std::string {
    const auto settings = sensor_settings(model_.bias_point(), presenter_.mode());
    if (settings.total_rate() <= 0) return "the biases or the mode give no events";
    EventSensor sensor;
    std::vector<AerWord> events;
    sensor.generate(0.5, 10000, 0.1, settings.mode, events);
    return events.empty() ? "the sensor gave no events" : "";
  });
  step("ADC supplies", [&]() -> std::string {
    const auto values = presenter_.front_end().read(1.0);
    return std::abs(values[0] - 1.8) < 0.09 && std::abs(values[1] - 3.3) < 0.17
               ? ""
               : "a supply is off by more than 5%";
  });
  int passed = 0;
  for (const auto& s : last_run) passed += s.passed;
  std::string summary = "Self-test: " + std::to_string(passed) + " of " +
                        std::to_string(last_run.size()) + " steps passed";
  for (const auto& s : last_run)
    if (!s.passed) summary += "; " + s.name + " failed: " + s.detail;
  presenter_.show_message(summary);
}

}  // namespace Zelvar_Core::bench
