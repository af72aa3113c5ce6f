#include "bench/host/bench_presenter.h"

#include <fmt/format.h>
#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/progdlg.h>
#include <wx/utils.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "Zelvar_Core/Host/controller_api.h"
#include "bench/board/capture.h"
#include "bench/board/preset.h"
#include "bench/events/evt2.h"
#include "bench/events/hdf5_export.h"
#include "bench/host/chip_editor.h"
#include "bench/host/field_marks.h"
#include "bench/host/histogram_window.h"
#include "bench/sequences/bench_actions.h"

namespace Zelvar_Core::bench {

namespace {

constexpr int kFramePeriodMs = 30;  // a little above 30 frames per second

std::string text_of(wxWindow* field) {
  if (auto* box = dynamic_cast<wxCheckBox*>(field)) return box->GetValue() ? "1" : "0";
  if (auto* text = dynamic_cast<wxTextCtrl*>(field)) return text->GetValue().utf8_string();
  throw std::logic_error("a field that is neither a check box nor a text field");
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

}  // namespace

BenchPresenter::BenchPresenter(BenchModel& model, BenchFolders folders)
    : model_(model),
      folders_(std::move(folders)),
      post_([this](const std::string& what) { report_error(what); }),
      sampler_(
          model.simulated_device.adc(),
          [this](AdcReading reading) { post_([this, reading] { on_adc_reading(reading); }); },
          [this](const std::string& what, std::uint64_t run) {
            post_([this, what, run] { on_adc_failure(what, run); });
          }),
      playback_(model.simulated_device.events()) {
  logger = get_logger("pravel");
  const auto& labels = adc_channel_labels();
  const char* keys[] = {"vdd", "vddio", "temp", "ibias"};
  for (int i = 0; i < 4; ++i) history_.add_channel(keys[i], i, labels[i]);
  // One sample to show from the start.
  on_adc_reading({0.0, model.simulated_device.adc().read(0.0), 0});
}

BenchPresenter::~BenchPresenter() {
  // The threads post to the GUI thread through this object: end them first.
  playback_.on_end = nullptr;
  playback_.close();
  model_.simulated_device.events().unsubscribe(&rates_);
  if (recorder_.active()) recorder_.stop();
  auto& board = model_.simulated_device;
  board.stream_listener = nullptr;
  board.stream_failure = nullptr;
  board.register_listener = nullptr;
  board.stop_acquisition();
  sampler_.stop();
}

void BenchPresenter::attach(BenchMainWindow& window) {
  view_ = &window;
  auto& board = model_.simulated_device;
  progress_ = std::make_unique<ProgrammingProgress>(&window);
  board.programming_observer = progress_.get();
  progress_->on_begin = [this](const std::string& design, std::size_t) {
    view_->SetStatusText("Bitstream: writing " + wxString::FromUTF8(design) + "...",
                         kStatusBitstream);
  };
  progress_->on_end = [this](const std::string& design, std::size_t bytes, double seconds) {
    on_programming_end(design, bytes, seconds);
  };
  // Heard on whatever thread the board reports on; handled on the GUI thread.
  board.connection_listener = [this] { post_([this] { on_board_connection(); }); };
  board.stream_listener = [this] { post_([this] { sync_stream_view(); }); };
  board.stream_failure = [this](const std::string& what) {
    post_([this, what] {
      report_error(what);
      sync_stream_view();
    });
  };
  board.register_listener = [this](const std::string&) {
    if (wxIsMainThread()) return;  // the GUI's own writes refresh what they touch
    post_([this] {
      model_.refresh_from_board();
      refresh_registers(Refresh::KeepEdits);
      refresh_dacs(Refresh::KeepEdits);
      refresh_signals(Refresh::KeepEdits);
    });
  };
  board.simulated_actions.before_reset = [this](const std::string& reset) {
    // The device reset restarts the board's clock: a recording ends before it.
    if (reset == "reset_device" && recording())
      stop_recording("the device reset restarts the board's clock");
  };
  board.simulated_actions.on_reset = [this](const std::string& reset) {
    if (reset == "reset_ram" || reset == "reset_chip") {
      // The frame buffer and the pixels start over.
      model_.reset_image();
      model_.simulated_device.events().clear_frame();
      update_image();
    }
    logger->info("Board: {} done", reset);
    show_message("Board: " + reset + " done");
  };
  // Read before an editor opens: the board's values, and the user's unwritten edits kept.
  model_.on_registers_read = [this] { refresh_registers(Refresh::KeepEdits); };
  model_.on_signals_read = [this] { refresh_signals(Refresh::KeepEdits); };
  model_.on_signal_refused = [this](const std::string& label) { revert_signal(label); };
  histogram_window().on_scaled = [this] {
    const auto& h = model_.histogram;
    const std::string text =
        fmt::format("Histogram rescaled: {:g} to {:g} in {} bins", h.min, h.max, h.bins);
    logger->info("{}", text);
    show_message(text);
  };
  frame_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { on_frame_tick(); });
  stream_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { update_stream_status(); });
  view_->button_record->Bind(wxEVT_TOGGLEBUTTON, [this](wxCommandEvent&) { toggle_recording(); });
  playback_.on_end = [this] { post_([this] { sync_stream_view(); }); };
  board.events().subscribe(&rates_);
  bind_sample_time_field();
  apply_connection_state();
}

BenchChipEditor& BenchPresenter::chip_editor() {
  return dynamic_cast<BenchChipEditor&>(*view_->edit_register_chip_frame);
}

BenchHistogramWindow& BenchPresenter::histogram_window() {
  return dynamic_cast<BenchHistogramWindow&>(*view_->image_histogram_frame);
}

// ---- connection ------------------------------------------------------------------------

void BenchPresenter::on_board_connection() {
  if (closed_) return;
  const bool connected = model_.simulated_device.connected();
  if (!connected) sampler_.stop();
  if (delegates_main) delegates_main->on_connection_change();
  if (connected && adc_wanted_) start_sampling();
  apply_connection_state();
  if (connected) {
    show_message("Board connected");
  } else {
    const bool monitor = adc_wanted_;
    logger->info("Board disconnected: acquisition stopped{}",
                 monitor ? ", ADC sampling paused until it is back" : "");
    show_message(monitor ? "Board disconnected: acquisition stopped, ADC sampling paused"
                         : "Board disconnected: acquisition stopped");
  }
}

void BenchPresenter::apply_connection_state() {
  if (view_ == nullptr) return;
  const bool connected = model_.simulated_device.connected();
  view_->enable_board_controls(connected);
  view_->edit_register_device_frame->set_menus_state(connected);
  view_->edit_dac_frame->set_menus_state(connected);
  chip_editor().set_menus_state(connected);
  view_->adc_control_frame->set_menus_state(connected && sampler_.running());
  update_status();
}

// ---- acquisition and image ----------------------------------------------------------

void BenchPresenter::toggle_main_img_thread() {
  if (acquiring()) {
    stop_main_img_thread();
    return;
  }
  if (playback_.playing()) {
    playback_.pause();  // the board takes the recording's place again
    logger->info("Playback paused: the live board streams");
  }
  model_.simulated_device.start_acquisition();  // refused without a board or a design
  sync_stream_view();
  logger->info("Acquisition started");
  show_message("Acquisition started");
}

void BenchPresenter::stop_main_img_thread() {
  const bool was_running = acquiring();
  model_.simulated_device.stop_acquisition();
  if (was_running) {
    logger->info("Acquisition stopped");
    show_message("Acquisition stopped");
  }
  sync_stream_view();  // a recording ends here, and says so
}

void BenchPresenter::sync_stream_view() {
  if (view_ == nullptr || closed_) return;
  // A recording ends with the stream it records.
  if (recording() && !acquiring()) stop_recording("the acquisition stopped");
  const bool running = acquiring() || playback_.playing();
  if (running && !frame_timer_.IsRunning()) {
    frame_timer_.Start(kFramePeriodMs);
    rate_since_ = std::chrono::steady_clock::now();
    events_since_ = model_.simulated_device.events().published();
    frames_since_ = view_->image_panel->frames_drawn();
  } else if (!running && frame_timer_.IsRunning()) {
    frame_timer_.Stop();
    on_frame_tick();  // the events since the last frame are shown too
    event_rate_ = frame_rate_ = 0;
    const std::uint64_t lost = model_.simulated_device.acquisition().lost();
    if (lost > 0)
      logger->warn("{} events lost while acquiring: the host fell behind the board's stream",
                   count_text(lost));
  }
  view_->panel_control->button_start_stop->SetLabel(acquiring() ? "Stop" : "Start");
  const bool streaming = recording() || playback_.is_open();
  if (streaming && !stream_timer_.IsRunning()) stream_timer_.Start(1000);
  if (!streaming) stream_timer_.Stop();
  update_stream_status();
  update_status();
}

void BenchPresenter::on_frame_tick() {
  auto& hub = model_.simulated_device.events();
  hub.take_frame(model_.image);
  update_image();
  if (++ticks_ % 6 == 0 && view_->image_histogram_frame->IsShown()) process_img();
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - rate_since_).count();
  if (seconds >= 1.0) {
    const std::uint64_t events = hub.published();
    const long frames = view_->image_panel->frames_drawn();
    event_rate_ = static_cast<double>(events - events_since_) / seconds;
    frame_rate_ = static_cast<double>(frames - frames_since_) / seconds;
    events_since_ = events;
    frames_since_ = frames;
    rate_since_ = now;
    model_.simulated_device.adc().event_rate = event_rate_;
    update_status();
  }
}

void BenchPresenter::capture() {
  if (!model_.simulated_device.connected()) throw NoBoard("nothing captured");
  const std::string path = write_capture(model_.image, model_.histogram.min, model_.histogram.max,
                                         folders_.captures.string());
  last_capture_ = path;
  logger->info("Capture written to {}", path);
  show_message("Captured " + path);
}

void BenchPresenter::set_mode(const std::string& mode) {
  const auto& modes = chip_modes();
  const auto found = std::find(modes.begin(), modes.end(), mode);
  try {
    if (found == modes.end()) throw std::invalid_argument("Unknown chip mode \"" + mode + "\"");
    model_.simulated_device.set_mode(static_cast<SensorMode>(found - modes.begin()));
  } catch (...) {
    // The box shows the mode the chip is really in.
    if (view_) view_->panel_control->modes_box->SetSelection(static_cast<int>(this->mode()));
    throw;
  }
  logger->info("Chip mode: {}", mode);
  show_message("Mode: " + mode);
}

void BenchPresenter::update_image() {
  if (view_) view_->image_panel->Refresh(false);
}

void BenchPresenter::process_img() { histogram_window().show_histogram(model_.image); }

// ---- status --------------------------------------------------------------------------

void BenchPresenter::update_status() {
  if (view_ == nullptr || closed_) return;
  auto& board = model_.simulated_device;
  view_->SetStatusText(board.connected() ? "Connected" : "Disconnected", kStatusConnection);
  const std::string design = board.design();
  view_->SetStatusText("Bitstream: " + wxString::FromUTF8(design.empty() ? "none" : design),
                       kStatusBitstream);
  if (acquiring() || playback_.playing()) {
    const std::uint64_t lost = model_.simulated_device.acquisition().lost();
    view_->SetStatusText(
        rate_text(event_rate_) + (lost > 0 ? ", " + short_count_text(lost) + " lost" : ""),
        kStatusEvents);
    view_->SetStatusText(wxString::Format("%.1f fps", frame_rate_), kStatusFrames);
  } else {
    view_->SetStatusText("Stopped", kStatusEvents);
    view_->SetStatusText("", kStatusFrames);
  }
}

void BenchPresenter::show_message(const std::string& text) {
  if (view_ && !closed_) view_->SetStatusText(wxString::FromUTF8(text), kStatusMessage);
}

void BenchPresenter::report_error(const std::string& what) { logger->error("{}", what); }

void BenchPresenter::report_cancelled(const std::string& what) {
  logger->info("{}", what);
  show_message(what);
  update_status();
}

void BenchPresenter::on_programming_end(const std::string& design, std::size_t bytes,
                                        double seconds) {
  if (model_.simulated_device.design() == design) {
    const std::string text =
        fmt::format("Programmed {} ({}) in {:.1f} s", design, size_text(bytes), seconds);
    logger->info("{}", text);
    show_message(text);
  }
  update_status();
}

// ---- editors ---------------------------------------------------------------------------

namespace {

// The fields the user edited and has not yet written, with their texts.
std::vector<std::pair<wxTextCtrl*, wxString>> pending_edits(const WidgetMap& fields) {
  std::vector<std::pair<wxTextCtrl*, wxString>> pending;
  for (const auto& [label, widget] : fields) {
    auto* text = dynamic_cast<wxTextCtrl*>(widget);
    if (text && (text->GetBackgroundColour() == kEditedColour || is_refused(text)))
      pending.emplace_back(text, text->GetValue());
  }
  return pending;
}

void restore(const std::vector<std::pair<wxTextCtrl*, wxString>>& pending,
             const std::vector<wxColour>& colours) {
  for (std::size_t i = 0; i < pending.size(); ++i) {
    pending[i].first->ChangeValue(pending[i].second);
    pending[i].first->SetBackgroundColour(colours[i]);
  }
}

std::vector<wxColour> colours_of(const std::vector<std::pair<wxTextCtrl*, wxString>>& pending) {
  std::vector<wxColour> colours;
  for (const auto& [field, text] : pending) colours.push_back(field->GetBackgroundColour());
  return colours;
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
  const auto colours = colours_of(pending);
  editor.update_values(values);
  editor.panel_values->to_default_color();
  if (how == Refresh::All)
    for (const auto& [label, field] : editor.panel_values->values_widgets) clear_mark(field);
  restore(pending, colours);  // what the user typed and did not write stays, marked
}

void BenchPresenter::refresh_registers(Refresh how) {
  refresh_values(*view_->edit_register_device_frame, model_.registers_as_values(), how);
}

void BenchPresenter::refresh_dacs(Refresh how) {
  refresh_values(*view_->edit_dac_frame, model_.dacs_as_values(), how);
}

void BenchPresenter::refresh_signals(Refresh how) {
  auto* panel = chip_editor().signals_panel;
  const auto pending = how == Refresh::KeepEdits ? pending_edits(panel->values_widgets)
                                                 : decltype(pending_edits({})){};
  const auto colours = colours_of(pending);
  panel->show(model_.signals);
  panel->to_default_color();
  restore(pending, colours);
}

void BenchPresenter::refresh_editors() {
  refresh_registers(Refresh::All);
  refresh_dacs(Refresh::All);
  refresh_signals(Refresh::All);
}

void BenchPresenter::revert_signal(const std::string& label) {
  if (view_ == nullptr) return;
  auto& board = model_.simulated_device;
  const Register* copy = model_.find(label);
  const std::int64_t value =
      board.registers().has(label) ? board.registers().read(label) : (copy ? copy->value : 0);
  if (auto* box = dynamic_cast<wxCheckBox*>(chip_editor().signals_panel->values_widgets.at(label)))
    box->SetValue(value != 0);  // the board kept its value: so does the box
}

void BenchPresenter::update_view() {
  model_.refresh_from_board();
  refresh_editors();
  view_->panel_control->modes_box->SetSelection(static_cast<int>(mode()));
  sync_stream_view();
  apply_connection_state();
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
    view_->adc_control_frame->update_values(adc_channels(), sample_time_);
  } else if (id == view_->image_histogram_frame->GetId()) {
    process_img();
  } else {
    throw std::invalid_argument("No window to refresh with identifier " + std::to_string(id));
  }
}

void BenchPresenter::write_fields(const WidgetMap& fields) {
  std::vector<std::string> written, refused;
  for (const auto& [label, field] : fields) {
    const std::string text = text_of(field);
    const Register* copy = model_.find(label);
    if (copy != nullptr && trimmed(text) == std::to_string(copy->value)) {
      clear_mark(field);  // what the board already holds
      continue;
    }
    const WriteOutcome outcome = model_.write_value(label, text);
    if (outcome.written()) {
      clear_mark(field);
      written.push_back(
          fmt::format("{} {} \u2192 {}", label, outcome.old_value, outcome.new_value));
    } else {
      mark_refused(field, outcome.refused);
      refused.push_back(outcome.refused);
    }
  }
  if (!written.empty()) logger->info("Written to the board: {}", joined(written, ", "));
  if (!refused.empty()) {
    // The refused fields keep the user's text, marked; the rest is written.
    throw std::invalid_argument(
        refused.size() == 1
            ? "Not written: " + refused.front()
            : fmt::format("Not written ({}): {}", refused.size(), joined(refused, "; ")));
  }
  show_message(written.empty() ? "Nothing to write: the board holds these values"
                               : "Written to the board: " + joined(written, ", "));
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
}

// ---- presets -------------------------------------------------------------------------

void BenchPresenter::save_preset() {
  ensure_folder(folders_.presets);
  wxFileDialog dialog(view_, "Save preset", wxString::FromUTF8(folders_.presets.string()),
                      "preset.json", "Presets (*.json)|*.json", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  const std::string path = dialog.GetPath().utf8_string();
  save_preset_file(model_, path);
  logger->info("Preset saved to {}", path);
  show_message("Preset saved to " + path);
}

void BenchPresenter::load_preset() {
  ensure_folder(folders_.presets);
  wxFileDialog dialog(view_, "Load preset", wxString::FromUTF8(folders_.presets.string()), "",
                      "Presets (*.json)|*.json", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  const std::string path = dialog.GetPath().utf8_string();
  load_preset_file(model_, path);  // all or nothing
  refresh_editors();
  logger->info("Preset loaded from {}", path);
  show_message("Preset loaded from " + path);
}

// ---- ADC and serial ----------------------------------------------------------------------

void BenchPresenter::run_adc() {
  if (!model_.simulated_device.connected()) throw NoBoard("ADC sampling not started");
  adc_wanted_ = true;
  start_sampling();
  apply_connection_state();
}

void BenchPresenter::start_sampling() {
  const auto& times = adc_channels().begin().value().data_t;
  adc_time_base_ = times.empty() ? 0.0 : times.back();  // one time line across runs
  sampler_.start(sample_time_);
}

void BenchPresenter::stop_adc() {
  adc_wanted_ = false;
  sampler_.stop();
  apply_connection_state();
}

void BenchPresenter::on_adc_reading(const AdcReading& reading) {
  // A reading still queued when sampling stopped or restarted is dropped.
  if (reading.run != 0 && (reading.run != sampler_.run() || !sampler_.running())) return;
  history_.append(reading.time + adc_time_base_, reading.values);
  if (view_ && reading.run != 0)
    view_->adc_control_frame->update_values(adc_channels(), sample_time_);
}

void BenchPresenter::on_adc_failure(const std::string& what, std::uint64_t run) {
  if (run != sampler_.run() || closed_) return;  // a run that was stopped on purpose
  sampler_.stop();
  if (!model_.simulated_device.connected()) {
    // The board was unplugged: a pause, told as such, that ends on replug.
    apply_connection_state();
    return;
  }
  report_error(what);
  apply_connection_state();
}

void BenchPresenter::show_sample_time() {
  auto* field = view_->adc_control_frame->panel_menu->sampletime_textbox;
  field->ChangeValue(wxString::FromUTF8(to_text(sample_time_)));
  clear_mark(field);
}

void BenchPresenter::bind_sample_time_field() {
  auto* menu = view_->adc_control_frame->panel_menu;
  auto* field = menu->sampletime_textbox;
  field->Bind(wxEVT_KEY_DOWN, [this, menu](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) {
      // Enter applies as the Update button does, through the same request.
      wxCommandEvent click(wxEVT_BUTTON, menu->button_update->GetId());
      click.SetEventObject(menu->button_update);
      menu->button_update->GetEventHandler()->ProcessEvent(click);
    } else if (event.GetKeyCode() == WXK_ESCAPE) {
      show_sample_time();
    } else {
      event.Skip();
    }
  });
  // A corrected text is an edit again: leaving the field keeps it for Update.
  field->Bind(wxEVT_TEXT, [field](wxCommandEvent& event) {
    if (is_refused(field)) clear_mark(field);
    event.Skip();
  });
  field->Bind(wxEVT_KILL_FOCUS, [this, field](wxFocusEvent& event) {
    if (is_refused(field)) show_sample_time();
    event.Skip();
  });
}

void BenchPresenter::update_adc_ts() {
  auto* field = view_->adc_control_frame->panel_menu->sampletime_textbox;
  const std::string text = field->GetValue().utf8_string();
  double ts = 0;
  if (!wxString::FromUTF8(trimmed(text)).ToCDouble(&ts) || !(ts >= 0.01 && ts <= 10)) {
    const std::string reason =
        "Sample time \"" + text + "\" must be a number of seconds from 0.01 to 10";
    mark_refused(field, reason);
    throw std::invalid_argument(reason);
  }
  sample_time_ = ts;
  sampler_.set_period(ts);
  show_sample_time();
  logger->info("ADC sample time: {:g} s", ts);
  show_message(fmt::format("Sample time {:g} s", ts));
}

void BenchPresenter::fill_adc_history(double hours) {
  const double period = 0.01;
  const auto samples = static_cast<std::size_t>(hours * 3600 / period);
  auto& front_end = model_.simulated_device.adc();
  std::vector<double> values = front_end.read(0.0);
  for (std::size_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) * period;
    if (i % 100 == 0) values = front_end.read(t);  // the history's cost, not the ADC's
    history_.append(t, values);
  }
}

void BenchPresenter::update_adc_panels() {
  view_->adc_control_frame->update_panels(adc_channels());
}

void BenchPresenter::send_serial_data() {
  auto* panel = view_->serial_control_frame->panel_serial_control;
  if (!model_.simulated_device.connected()) throw NoBoard("nothing sent");
  const std::string sent = panel->serial_tx_box->GetValue().utf8_string();
  const DeviceInfo info = model_.simulated_device.read_identity();
  std::string answer;
  if (sent == "ID?")
    answer = info.product_name + " " + info.serial_number;
  else if (sent == "VER?")
    answer = info.dev_version;
  else if (sent.empty())
    answer = "ERR empty command";
  else
    answer = "ACK " + sent;
  panel->serial_rx_box->SetValue(wxString::FromUTF8(answer));
  logger->debug("SERIAL sent \"{}\", received \"{}\"", sent, answer);
  show_message("SERIAL: sent \"" + sent + "\", received \"" + answer + "\"");
}

void BenchPresenter::close() {
  // Runs on worker threads end first, once: a second close (the session's,
  // after the windows and the tools holding those runs are gone) finds none.
  const auto hooks = std::move(on_close);
  on_close.clear();
  for (const auto& stop : hooks) stop();
  if (recording()) stop_recording("the bench is closing");
  playback_.close();
  model_.simulated_device.stop_acquisition();
  frame_timer_.Stop();
  stream_timer_.Stop();
  sampler_.stop();
  if (!closed_) logger->info("Bench closed");
  closed_ = true;
}

// ---- recording and playback ----------------------------------------------------------

namespace {

std::string clock_text(double seconds) {
  const auto whole = static_cast<long>(seconds);
  return fmt::format("{}:{:02d}", whole / 60, whole % 60);
}

}  // namespace

void BenchPresenter::toggle_recording() {
  try {
    if (recording())
      stop_recording("stopped by the user");
    else
      start_recording();
  } catch (...) {
    view_->button_record->SetValue(recording());
    throw;
  }
  view_->button_record->SetValue(recording());
}

void BenchPresenter::start_recording() {
  auto& board = model_.simulated_device;
  if (!board.connected()) throw NoBoard("nothing recorded");
  if (playback_.playing())
    throw std::runtime_error("A playback is running: pause it to record the live board");
  const std::string path = bench::start_recording(recorder_, folders_.recordings, board);
  board.events().subscribe(&recorder_);  // before the stream starts: nothing is missed
  if (!acquiring()) {
    try {
      board.start_acquisition();
    } catch (...) {
      board.events().unsubscribe(&recorder_);
      recorder_.stop();
      std::filesystem::remove(path);
      throw;
    }
  }
  recording_path_ = path;
  // What the board loses from here on leaves gaps in the file: the summary says so.
  lost_before_recording_ = board.acquisition().lost();
  logger->info("Recording started: {}", recording_path_);
  show_message("Recording to " + recording_path_);
  sync_stream_view();
}

void BenchPresenter::stop_recording(const std::string& why) {
  if (!recorder_.active()) return;
  model_.simulated_device.events().unsubscribe(&recorder_);
  RecordingStats stats = recorder_.stop();
  const std::uint64_t lost_now = model_.simulated_device.acquisition().lost();
  stats.lost_by_board = lost_now > lost_before_recording_ ? lost_now - lost_before_recording_ : 0;
  if (view_) view_->button_record->SetValue(false);
  const std::string file = std::filesystem::path(stats.path).filename().string();
  const std::string lost =
      stats.lost_by_board > 0 ? "; " + lost_by_board_text(stats.lost_by_board) : "";
  logger->info("Recording stopped ({}): {}, {}, {} events, {} dropped, {:.1f} s{}", why, stats.path,
               size_text(stats.bytes), count_text(stats.events), count_text(stats.dropped),
               stats.seconds, lost);
  if (stats.dropped > 0)
    logger->error("Recording {}: {} events dropped, the disk did not keep up", file,
                  count_text(stats.dropped));
  if (stats.lost_by_board > 0)
    logger->warn("Recording {}: {} (the file has gaps there)", file,
                 lost_by_board_text(stats.lost_by_board));
  if (!stats.error.empty()) {
    report_error("Recording stopped: cannot write " + stats.path + ": " + stats.error +
                 "; what was written stays readable (" + count_text(stats.events) + " events)");
  } else {
    show_message(fmt::format("Recorded {}: {}, {} events, {} dropped{}", file,
                             size_text(stats.bytes), count_text(stats.events),
                             count_text(stats.dropped), lost));
  }
  update_stream_status();
}

void BenchPresenter::update_stream_status() {
  if (view_ == nullptr || closed_) return;
  if (recording() && recorder_.failed()) stop_recording("the disk failed");
  std::string line;
  if (recording()) {
    const RecordingStats stats = recorder_.progress();
    line = fmt::format("REC {} | {} | {} ev | {} dropped", clock_text(stats.seconds),
                       size_text(stats.bytes), count_text(stats.events), count_text(stats.dropped));
  } else if (playback_.is_open()) {
    line = fmt::format("Playback {} {} {:.1f} / {:.1f} s",
                       std::filesystem::path(playback_.info().path).filename().string(),
                       playback_.playing() ? "at" : "paused at", playback_.position(),
                       playback_.info().duration_seconds());
  }
  view_->SetStatusText(wxString::FromUTF8(line), kStatusStream);
}

const RecordingInfo& BenchPresenter::open_recording(const std::string& path) {
  wxBusyCursor busy;
  const RecordingInfo& info = playback_.open(path);  // says why when it cannot be played
  logger->info("Recording opened: {} ({:.1f} s, {} events)", path, info.duration_seconds(),
               count_text(info.events));
  for (const auto& warning : info.warnings()) logger->warn("{}: {}", path, warning);
  show_message(fmt::format("Opened {}: {:.1f} s, {} events{}",
                           std::filesystem::path(path).filename().string(), info.duration_seconds(),
                           count_text(info.events),
                           info.warnings().empty() ? "" : "; " + info.warnings().front()));
  sync_stream_view();
  return info;
}

void BenchPresenter::play_recording() {
  if (!playback_.is_open()) throw std::runtime_error("No recording is open: open one first");
  if (acquiring()) {
    stop_main_img_thread();  // the recording takes the board's place
    logger->info("Acquisition stopped: the playback takes the board's place");
  }
  model_.simulated_device.events().clear_frame();
  playback_.play();
  logger->info("Playback of {}", playback_.info().path);
  sync_stream_view();
}

void BenchPresenter::pause_recording() {
  playback_.pause();
  sync_stream_view();
}

void BenchPresenter::export_recording(const std::string& out) {
  if (!playback_.is_open()) throw std::runtime_error("No recording is open: open one first");
  const std::string source = playback_.info().path;
  wxProgressDialog progress("Exporting to HDF5", wxString::FromUTF8("Writing " + out), 1000, view_,
                            wxPD_APP_MODAL | wxPD_AUTO_HIDE | wxPD_CAN_ABORT | wxPD_ELAPSED_TIME);
  // The file dialog has asked before replacing a file.
  const ExportStats stats = export_hdf5(source, out, true, [&](double done) {
    return progress.Update(static_cast<int>(done * 1000));
  });
  const std::string text = fmt::format("Exported {} events to {} in {:.1f} s",
                                       count_text(stats.events), out, stats.seconds);
  logger->info("{}", text);
  show_message(text);
}

// ---- self-test ---------------------------------------------------------------------------

void BenchInitializer::on_test() {
  last_run = run_self_test(model_.simulated_device);
  for (const auto& step : last_run) {
    switch (step.result) {
      case StepResult::Passed:
        presenter_.logger->info("Test {}: pass", step.name);
        break;
      case StepResult::Failed:
        presenter_.logger->error("Test {}: FAIL ({})", step.name, step.detail);
        break;
      case StepResult::NotRun:
        presenter_.logger->warn("Test {}: {}", step.name, step.detail);
        break;
    }
  }
  const std::string summary = self_test_summary(last_run);
  presenter_.logger->info("{}", summary);
  presenter_.show_message(summary);
}

}  // namespace Zelvar_Core::bench
