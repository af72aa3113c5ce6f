// The bench program's presenter: what the front end asks of the host,
// carried out by the parts of one job each (the status line, the live
// image, the recording, the playback, the ADC monitor, the editors), and
// the board's notifications wired to them in one place, attach().
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/presenter.h"
#include "bench/board/folders.h"
#include "bench/board/lost_events.h"
#include "bench/host/presenter/adc_monitor.h"
#include "bench/host/presenter/editors.h"
#include "bench/host/presenter/gui_post.h"
#include "bench/host/presenter/live_view.h"
#include "bench/host/presenter/playback_control.h"
#include "bench/host/presenter/programming_progress.h"
#include "bench/host/presenter/recording_control.h"
#include "bench/host/presenter/status_line.h"
#include "bench/host/windows/main_window.h"
#include "bench/results/results_store.h"
#include "bench/sequences/rates.h"
#include "bench/sequences/run_record.h"

namespace Zelvar_Core::bench {

class BenchHistogramWindow;

class BenchPresenter : public Presenter {
 public:
  BenchPresenter(BenchModel& model, BenchFolders folders);
  ~BenchPresenter() override;
  // Connects the presenter to its window and every notification of the board.
  void attach(BenchMainWindow& window);

  // What the front end asks.
  void toggle_main_img_thread() override;
  void stop_main_img_thread() override;
  void capture() override;
  void set_mode(const std::string& mode) override;
  void update_view() override;
  void update_view(wxWindowID id) override;
  void update_image() override { live_.redraw(); }
  void process_img() override;
  void save_preset() override;
  void load_preset() override;
  void update_model(wxWindowID id) override { editors_.write(id); }
  void run_adc() override;
  void stop_adc() override;
  void update_adc_ts() override { adc_.apply_sample_time(); }
  void update_adc_panels() override { adc_.show_panels(); }
  void send_serial_data() override;
  void close() override;

  // Recording the board's events to recordings/rec_YYYYMMDD_HHMMSS.raw: it
  // starts the acquisition when needed and stops with it.
  void toggle_recording();
  void start_recording();
  void stop_recording(const std::string& why);
  bool recording() const { return recording_.active(); }
  const std::string& last_recording() const { return recording_.last_path(); }

  // A recording played back in the board's place.
  const RecordingInfo& open_recording(const std::string& path);
  void play_recording();
  void pause_recording();
  Playback& playback() { return playback_.playback(); }
  // The open recording as HDF5, behind a progress dialog that can cancel;
  // returns what was written.
  std::string export_recording(const std::string& out, wxWindow* over) {
    return playback_.export_to(out, over);
  }
  // The playback's line shows in the status bar while its window is open or
  // it plays.
  void show_playback_line(bool shown);

  void fill_adc_history(double hours) { adc_.fill_history(hours); }
  const std::string& last_capture() const { return last_capture_; }
  // Run when the bench closes, before its threads end: each stops a worker.
  std::vector<std::function<void()>> stop_hooks;
  // Run on the GUI thread once the editors' and the ADC monitor's rows were
  // made anew for a board that declared itself otherwise: the new fields
  // and check boxes are bound as the first ones were (the ADC monitor's
  // only when `adc` says its rows were made anew).
  std::function<void(bool adc)> on_rows_rebuilt;
  // Counts the stream's ON and OFF events per 100 ms for the Rates tool.
  RateMeter& rates() { return rates_; }
  // The stream as the display takes it, on a thread of its own: the live
  // image and the Rates tool.
  DisplayFeed& display() { return display_; }

  void report_error(const std::string& what) { status_.error(what); }
  void report_cancelled(const std::string& what);
  void show_message(const std::string& text) { status_.message(text); }
  StatusLine& status() { return status_; }

  Board& board() { return model_.board(); }
  bool acquiring() const { return model_.board().acquiring(); }
  bool sampling_adc() const { return adc_.sampling(); }
  AdcValuesMap& adc_channels() { return adc_.channels(); }
  double sample_time() const { return adc_.sample_time(); }
  SensorMode mode() const { return model_.board().mode(); }
  ProgrammingProgress& programming_progress() { return *progress_; }
  const BenchFolders& folders() const { return folders_; }
  double event_rate() const { return live_.event_rate(); }
  double frame_rate() const { return live_.frame_rate(); }
  FieldStates& editor_fields() { return editors_.fields(); }
  FieldStates& adc_fields() { return adc_.fields(); }
  // Where the runs' test records are kept: the session opens the store and
  // hands it over; null when it could not be opened (said in the log).
  void use_results(std::shared_ptr<results::ResultsStore> store) { results_ = std::move(store); }
  results::ResultsStore* results() const { return results_.get(); }
  // Keeps a running tool's record in place of its last, from any thread. A
  // store that cannot take it is told once per run (`told`), with what the
  // run does all the same (`goes_on`).
  void keep_record(const results::TestRecord& record, std::atomic<bool>& told,
                   const std::string& goes_on);
  // Who runs at this bench, and where: kept with each run's test record.
  RunSite run_site;

 private:
  void wire_board();
  void wire_windows();
  void on_board_connection();
  // The board declared itself anew: every window shaped by the declaration
  // (editors, ADC monitor, image, serial window) follows it.
  void on_declaration_change();
  void on_reset(const std::string& reset);
  void on_programming_end(const std::string& design, std::size_t bytes, double seconds);
  // The Start/Stop label, the frame timer, the stream line and a recording
  // whose stream ended follow the stream.
  void sync_stream_view();
  void update_stream_line();
  // "Acquisition started" once the board has started its stream.
  void tell_stream_start();
  // The controls, editors and ADC monitor follow the board's presence.
  void apply_connection_state();
  void update_status();
  // Logs what the board lost since the last look, as soon as it is seen.
  void log_losses();
  BenchHistogramWindow& histogram_window();
  // The hub gathers the frame at the size of the sensor whose events
  // stream: the board's, or the recording's while one plays (`playing`:
  // about to). `image_too` makes the shown image that size at once.
  void follow_geometry(bool image_too, bool playing = false);

  BenchModel& model_;
  BenchFolders folders_;
  BenchMainWindow* view_ = nullptr;
  StatusLine status_;
  GuiPost post_;
  DisplayFeed display_;
  LiveView live_;
  RecordingControl recording_;
  PlaybackControl playback_;
  AdcMonitor adc_;
  Editors editors_;
  RateMeter rates_;
  LossWatch losses_;        // the board's lost events, told as they rise
  LinkLosses link_losses_;  // and a served board's, on the way here
  std::unique_ptr<ProgrammingProgress> progress_;
  wxTimer stream_timer_;  // the recording's or playback's line, every second
  std::string last_capture_;
  SensorGeometry hub_geometry_;  // the size the hub gathers its frame at
  bool closed_ = false;
  bool start_to_tell_ = false;
  bool playback_line_shown_ = true;
  std::shared_ptr<results::ResultsStore> results_;
};

}  // namespace Zelvar_Core::bench
