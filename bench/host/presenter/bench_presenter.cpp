#include "bench/host/presenter/bench_presenter.h"

#include <fmt/format.h>
#include <wx/filedlg.h>

#include <algorithm>
#include <stdexcept>

#include "Zelvar_Core/Host/controller_api.h"
#include "bench/board/capture.h"
#include "bench/board/preset.h"
#include "bench/host/windows/histogram_window.h"

namespace Zelvar_Core::bench {

BenchPresenter::BenchPresenter(BenchModel& model, BenchFolders folders)
    : model_(model),
      folders_(std::move(folders)),
      status_(get_logger("pravel")),
      post_([this](const std::string& what) { status_.error(what); }),
      display_(model.board().events()),
      live_(model, display_),
      recording_(model.board(), status_, get_logger("pravel")),
      playback_(model.board().events(), status_, get_logger("pravel")),
      adc_(model.board(), status_, get_logger("pravel")),
      editors_(model, status_, get_logger("pravel")) {
  logger = get_logger("pravel");
}

BenchPresenter::~BenchPresenter() {
  // The threads post to the GUI thread through this object: end them first.
  auto& board = model_.board();
  playback().on_end = nullptr;
  playback().close();
  display_.stop();
  board.clear_listeners();  // none runs from here on
  board.stop_acquisition();
  adc_.shutdown();
}

// ---- wiring: every notification of the board and what it leads to ---------------------

void BenchPresenter::attach(BenchMainWindow& window) {
  view_ = &window;
  status_.attach(window);
  live_.attach(
      window,
      [this] {
        if (view_->image_histogram_frame->IsShown()) process_img();
      },
      [this] {
        log_losses();
        update_status();
      });
  live_.tell_outside = [this](const std::string& text) {
    logger->warn("{}", text);
    status_.message(text);
  };
  adc_.attach(window);
  editors_.attach(window);
  follow_geometry(true);
  wire_board();
  wire_windows();
  apply_connection_state();
}

void BenchPresenter::wire_board() {
  auto& board = model_.board();
  // Heard on whatever thread the board reports on; handled on the GUI thread.
  // Set while the board's threads may already call them.
  const auto listening = board.listeners_lock();
  board.connection_listener = [this] { post_([this] { on_board_connection(); }); };
  board.declaration_listener = [this] { post_([this] { on_declaration_change(); }); };
  board.stream_listener = [this] { post_([this] { sync_stream_view(); }); };
  board.stream_failure = [this](const std::string& what) {
    post_([this, what] {
      status_.error(what);
      sync_stream_view();
    });
  };
  // A run's writes (sweeps, sequences) show in the editors, unwritten edits kept;
  // the GUI's own writes refresh what they touch.
  board.register_listener = [this](const std::string&) {
    if (wxIsMainThread()) return;
    post_([this] {
      model_.refresh_from_board();
      editors_.refresh(Editors::Refresh::KeepEdits);
    });
  };
  board.resets.before_reset = [this](const std::string& reset) {
    // The device reset restarts the board's clock: a recording ends before it.
    if (reset == "reset_device") stop_recording("the device reset restarts the board's clock");
  };
  board.resets.on_reset = [this](const std::string& reset) {
    if (wxIsMainThread())
      on_reset(reset);
    else
      post_([this, reset] { on_reset(reset); });
  };
  board.failure_listener = [this](const std::string& what) {
    post_([this, what] {
      if (closed_) return;
      status_.error(what);
      update_view();  // the editors and the stream show the board as it is
    });
  };
  progress_ = std::make_unique<ProgrammingProgress>(view_);
  board.programming_observer = progress_.get();
  progress_->on_begin = [this](const std::string& design, std::size_t) {
    status_.writing_bitstream(design);
  };
  progress_->on_end = [this](const std::string& design, std::size_t bytes, double seconds) {
    on_programming_end(design, bytes, seconds);
  };
  playback().on_end = [this] { post_([this] { sync_stream_view(); }); };
  rates_.follow(acquiring() || playback().playing());
  display_.add(&rates_);
}

void BenchPresenter::wire_windows() {
  // Read before an editor opens: the board's values, the user's unwritten edits kept.
  model_.on_registers_read = [this] { editors_.refresh_registers(Editors::Refresh::KeepEdits); };
  model_.on_signals_read = [this] { editors_.refresh_signals(Editors::Refresh::KeepEdits); };
  model_.on_signal_refused = [this](const std::string& label) { editors_.revert_signal(label); };
  // A signal's check box writes at once: logged and told as the editors' writes are.
  model_.on_signal_written = [this](const std::string& label, std::int64_t old, std::int64_t now) {
    const std::string text = fmt::format("Written to the board: {} {} \u2192 {}", label, old, now);
    logger->info("{}", text);
    status_.message(text);
  };
  histogram_window().on_scaled = [this] {
    const auto& h = model_.histogram;
    const std::string text =
        fmt::format("Histogram rescaled: {:g} to {:g} in {} bins", h.min, h.max, h.bins);
    logger->info("{}", text);
    status_.message(text);
  };
  stream_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { update_stream_line(); });
  view_->button_record->Bind(wxEVT_TOGGLEBUTTON, [this](wxCommandEvent&) { toggle_recording(); });
}

BenchHistogramWindow& BenchPresenter::histogram_window() {
  return dynamic_cast<BenchHistogramWindow&>(*view_->image_histogram_frame);
}

// ---- the board's presence, resets and programming ---------------------------------------

void BenchPresenter::on_board_connection() {
  if (closed_) return;
  auto& board = model_.board();
  const bool connected = board.connected();
  // What the front end's Device info shows.
  board.is_connected = connected;
  try {
    board.info = device_info_of(board);
  } catch (const NoBoard&) {
    board.info = DeviceInfo{};  // gone again meanwhile
  }
  adc_.board_changed(connected);
  if (connected) follow_geometry(!live_.following());
  if (delegates_main) delegates_main->on_connection_change();
  apply_connection_state();
  if (connected) {
    status_.message("Board connected");
    return;
  }
  const bool monitor = adc_.wanted();
  logger->info("Board disconnected: acquisition stopped{}",
               monitor ? ", ADC sampling paused until it is back" : "");
  status_.message(monitor ? "Board disconnected: acquisition stopped, ADC sampling paused"
                          : "Board disconnected: acquisition stopped");
}

void BenchPresenter::on_declaration_change() {
  if (closed_ || view_ == nullptr) return;
  auto& board = model_.board();
  const BoardDeclaration& declared = board.declaration();
  // The registers as the new board told them, whether or not it is plugged in.
  const auto& file = board.registers();
  model_.registers = file.bank(Bank::Device);
  model_.dacs = file.bank(Bank::Dac);
  model_.signals = file.bank(Bank::Chip);
  editors_.rebuild();
  const bool adc_rebuilt = adc_.rebuild_channels();
  follow_geometry(!live_.following());
  try {
    board.info = device_info_of(board);
  } catch (const NoBoard&) {
  }
  if (on_rows_rebuilt) on_rows_rebuilt(adc_rebuilt);
  apply_connection_state();
  const std::string text =
      fmt::format("The board is now {}: {}\u00d7{}, {} ADC channel{}", declared.sensor_name,
                  declared.geometry.width, declared.geometry.height, declared.adc_channels.size(),
                  declared.adc_channels.size() == 1 ? "" : "s");
  logger->info("{}", text);
  status_.message(text);
}

void BenchPresenter::apply_connection_state() {
  if (view_ == nullptr) return;
  const bool connected = model_.board().connected();
  view_->enable_board_controls(connected);
  view_->show_serial_port(model_.board().declaration().has_serial_port);
  editors_.enable(connected);
  adc_.draw_state(connected);
  update_status();
}

void BenchPresenter::on_reset(const std::string& reset) {
  if (reset == "reset_ram" || reset == "reset_chip") {
    // The frame buffer and the pixels start over.
    model_.reset_image();
    display_.clear_frame();
    live_.redraw();
  }
  logger->info("Board: {} done", reset);
  status_.message("Board: " + reset + " done");
}

void BenchPresenter::on_programming_end(const std::string& design, std::size_t bytes,
                                        double seconds) {
  if (model_.board().design() == design) {
    const std::string text =
        fmt::format("Programmed {} ({}) in {:.1f} s", design, size_text(bytes), seconds);
    logger->info("{}", text);
    status_.message(text);
  }
  update_status();
}

void BenchPresenter::update_status() {
  if (view_ == nullptr || closed_) return;
  auto& board = model_.board();
  status_.board(board.connected(), board.design(), board.address());
  status_.rates(acquiring() || playback().playing(), live_.event_rate(), live_.frame_rate(),
                board.lost_by_board());
}

void BenchPresenter::log_losses() {
  auto& board = model_.board();
  const std::string news = losses_.look(board.lost_by_board());
  if (!news.empty()) logger->warn("{}", news);
  // What a served board's stream lost on its way here, each kind apart.
  for (const std::string& lost :
       link_losses_.look(board.dropped_by_server(), board.batches_lost_in_transit())) {
    logger->warn("{}", lost);
    status_.message(lost);
  }
}

void BenchPresenter::report_cancelled(const std::string& what) {
  status_.cancelled(what);
  update_status();
}

// ---- the stream: live, recorded, played back ----------------------------------------------

void BenchPresenter::toggle_main_img_thread() {
  if (acquiring()) {
    stop_main_img_thread();
    return;
  }
  if (playback().playing()) {
    playback().pause();  // the board takes the recording's place again
    logger->info("Playback paused: the live board streams");
  }
  follow_geometry(false);
  model_.board().start_acquisition();  // refused without a board or a design
  start_to_tell_ = true;               // told once the board says so: a served board answers later
  sync_stream_view();
}

void BenchPresenter::tell_stream_start() {
  if (!start_to_tell_) return;
  if (!acquiring()) {
    start_to_tell_ = false;  // it did not start; the board's refusal is told on its own
    return;
  }
  if (!model_.board().stream_confirmed()) return;
  start_to_tell_ = false;
  logger->info("Acquisition started");
  status_.message("Acquisition started");
}

void BenchPresenter::stop_main_img_thread() {
  const bool was_running = acquiring();
  model_.board().stop_acquisition();
  if (was_running) {
    logger->info("Acquisition stopped");
    status_.message("Acquisition stopped");
  }
  sync_stream_view();  // a recording ends here, and says so
}

void BenchPresenter::sync_stream_view() {
  if (view_ == nullptr || closed_) return;
  // A recording ends with the stream it records.
  if (recording() && !acquiring()) stop_recording("the acquisition stopped");
  const bool was_following = live_.following();
  if (was_following) log_losses();
  const bool streaming_now = acquiring() || playback().playing();
  // A stopped stream's last events reach the image and the meter first.
  if (!streaming_now) display_.settle();
  live_.follow(streaming_now);
  follow_geometry(false);  // once the last frame of a stream that stopped is taken
  rates_.follow(streaming_now);
  const std::uint64_t lost = model_.board().lost_by_board();
  if (!was_following && live_.following()) {
    losses_.restart(lost);
    link_losses_.restart(model_.board().dropped_by_server(),
                         model_.board().batches_lost_in_transit());
  }
  if (was_following && !live_.following() && lost > 0)
    logger->warn("{} events lost while acquiring: the host fell behind the board's stream",
                 count_text(lost));
  view_->panel_control->button_start_stop->SetLabel(acquiring() ? "Stop" : "Start");
  tell_stream_start();
  const bool streaming = recording() || playback().is_open();
  if (streaming && !stream_timer_.IsRunning()) stream_timer_.Start(1000);
  if (!streaming) stream_timer_.Stop();
  update_stream_line();
  update_status();
}

void BenchPresenter::update_stream_line() {
  if (view_ == nullptr || closed_) return;
  if (recording() && recording_.failed()) stop_recording("the disk failed");
  // A playback's line goes once the live board streams again, or when its
  // window closes on a recording that does not play.
  const bool playback_line = !acquiring() && (playback_line_shown_ || playback().playing());
  status_.stream(recording()     ? recording_.line()
                 : playback_line ? playback_.line()
                                 : std::string());
}

void BenchPresenter::show_playback_line(bool shown) {
  playback_line_shown_ = shown;
  update_stream_line();
}

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
  auto& board = model_.board();
  if (!board.connected()) throw NoBoard("nothing recorded");
  if (playback().playing())
    throw std::runtime_error("A playback is running: pause it to record the live board");
  recording_.begin(folders_.recordings);
  follow_geometry(false);
  if (!acquiring()) {
    try {
      board.start_acquisition();
    } catch (...) {
      recording_.abandon();
      throw;
    }
  }
  recording_.streaming();
  sync_stream_view();
}

void BenchPresenter::stop_recording(const std::string& why) {
  if (!recording()) return;
  recording_.end(why);
  if (view_) view_->button_record->SetValue(false);
  update_stream_line();
}

const RecordingInfo& BenchPresenter::open_recording(const std::string& path) {
  const RecordingInfo& info = playback_.open(path);
  sync_stream_view();
  return info;
}

void BenchPresenter::play_recording() {
  if (!playback().is_open()) throw std::runtime_error("No recording is open: open one first");
  if (acquiring()) {
    stop_main_img_thread();  // the recording takes the board's place
    logger->info("Acquisition stopped: the playback takes the board's place");
  }
  display_.clear_frame();
  follow_geometry(false, true);
  playback().play();
  logger->info("Playback of {}", playback().info().path);
  sync_stream_view();
}

void BenchPresenter::pause_recording() {
  playback().pause();
  sync_stream_view();
}

void BenchPresenter::follow_geometry(bool image_too, bool playing) {
  // A playback draws the recording's sensor; otherwise the board's.
  SensorGeometry geometry = model_.board().declaration().geometry;
  if (playing || playback().playing())
    geometry = {static_cast<std::uint32_t>(playback().info().header.width),
                static_cast<std::uint32_t>(playback().info().header.height)};
  if (geometry != hub_geometry_) {
    model_.board().events().set_geometry(geometry);  // the frame gathered starts empty
    hub_geometry_ = geometry;
  }
  if (image_too && model_.image.geometry != geometry) {
    model_.image = EventFrame(geometry);
    live_.redraw();
  }
}

// ---- the image, the mode, captures ----------------------------------------------------------

void BenchPresenter::capture() {
  if (!model_.board().connected()) throw NoBoard("nothing captured");
  const std::string path = write_capture(model_.image, model_.histogram.min, model_.histogram.max,
                                         folders_.captures.string());
  last_capture_ = path;
  logger->info("Capture written to {}", path);
  status_.message("Captured " + path);
}

void BenchPresenter::set_mode(const std::string& mode) {
  const auto& modes = chip_modes();
  const auto found = std::find(modes.begin(), modes.end(), mode);
  try {
    if (found == modes.end()) throw std::invalid_argument("Unknown chip mode \"" + mode + "\"");
    model_.board().set_mode(static_cast<SensorMode>(found - modes.begin()));
  } catch (...) {
    // The box shows the mode the chip is really in.
    if (view_) view_->panel_control->modes_box->SetSelection(static_cast<int>(this->mode()));
    throw;
  }
  logger->info("Chip mode: {}", mode);
  status_.message("Mode: " + mode);
}

void BenchPresenter::process_img() { histogram_window().show_histogram(model_.image); }

// ---- the windows' values ----------------------------------------------------------------------

void BenchPresenter::update_view() {
  model_.refresh_from_board();
  editors_.refresh(Editors::Refresh::All);
  view_->panel_control->modes_box->SetSelection(static_cast<int>(mode()));
  sync_stream_view();
  apply_connection_state();
}

void BenchPresenter::update_view(wxWindowID id) {
  if (editors_.refresh(id)) return;
  if (id == view_->device_info_frame->GetId())
    view_->device_info_frame->update_info(model_.device->info);
  else if (id == view_->adc_control_frame->GetId())
    view_->adc_control_frame->update_values(adc_channels(), sample_time());
  else if (id == view_->image_histogram_frame->GetId())
    process_img();
  else
    throw std::invalid_argument("No window to refresh with identifier " + std::to_string(id));
}

void BenchPresenter::run_adc() {
  adc_.run();
  apply_connection_state();
}

void BenchPresenter::stop_adc() {
  adc_.stop();
  apply_connection_state();
}

// ---- presets and the serial port --------------------------------------------------------------

void BenchPresenter::save_preset() {
  ensure_folder(folders_.presets);
  wxFileDialog dialog(view_, "Save preset", wxString::FromUTF8(folders_.presets.string()),
                      "preset.json", "Presets (*.json)|*.json", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  const std::string path = dialog.GetPath().utf8_string();
  save_preset_file(model_, path);
  logger->info("Preset saved to {}", path);
  status_.message("Preset saved to " + path);
}

void BenchPresenter::load_preset() {
  ensure_folder(folders_.presets);
  wxFileDialog dialog(view_, "Load preset", wxString::FromUTF8(folders_.presets.string()), "",
                      "Presets (*.json)|*.json", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  const std::string path = dialog.GetPath().utf8_string();
  load_preset_file(model_, path);  // all or nothing
  editors_.refresh(Editors::Refresh::All);
  logger->info("Preset loaded from {}", path);
  status_.message("Preset loaded from " + path);
}

void BenchPresenter::send_serial_data() {
  auto* panel = view_->serial_control_frame->panel_serial_control;
  const std::string sent = panel->serial_tx_box->GetValue().utf8_string();
  // A served board answers later, on its own thread: the answer is shown there and then.
  auto show = [this, sent](const std::string& answer, const std::string& error) {
    if (closed_ || view_ == nullptr) return;
    if (!error.empty()) {
      status_.error(error);
      return;
    }
    view_->serial_control_frame->panel_serial_control->serial_rx_box->SetValue(
        wxString::FromUTF8(answer));
    logger->debug("SERIAL sent \"{}\", received \"{}\"", sent, answer);
    status_.message("SERIAL: sent \"" + sent + "\", received \"" + answer + "\"");
  };
  // The answer may come after the bench has closed (the board's command
  // thread ends its call while the board is let go): it holds nothing of
  // this presenter but what runs on the GUI thread while it lives.
  model_.board().serial_transact(
      sent, [post = post_.detached(), show](const std::string& answer, const std::string& error) {
        if (wxIsMainThread())
          show(answer, error);
        else
          post([show, answer, error] { show(answer, error); });
      });
}

// ---- closing ------------------------------------------------------------------------------------

void BenchPresenter::close() {
  // Runs on worker threads end first, once: a second close (the session's,
  // after the windows and the tools holding those runs are gone) finds none.
  const auto hooks = std::move(stop_hooks);
  stop_hooks.clear();
  for (const auto& stop : hooks) stop();
  stop_recording("the bench is closing");
  playback().close();
  model_.board().stop_acquisition();
  live_.stop();
  display_.stop();  // the display's thread ends with the stream
  stream_timer_.Stop();
  adc_.shutdown();
  if (!closed_) logger->info("Bench closed");
  closed_ = true;
  status_.close();
}

void BenchPresenter::keep_record(const results::TestRecord& record, std::atomic<bool>& told,
                                 const std::string& goes_on) {
  results::ResultsStore* store = results();
  if (store == nullptr) return;
  try {
    store->replace(record);
  } catch (const std::exception& e) {
    if (!told.exchange(true)) logger->error("{} {}", e.what(), goes_on);
  }
}

}  // namespace Zelvar_Core::bench
