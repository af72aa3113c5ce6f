// The bench program's presenter: the live image, the ADC monitor, the
// editors, presets and the serial port of the simulated board, every
// outcome told in the status bar and the log.
#pragma once

#include <wx/timer.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/presenter.h"
#include "bench/board/adc.h"
#include "bench/board/folders.h"
#include "bench/board/self_test.h"
#include "bench/events/playback.h"
#include "bench/events/recorder.h"
#include "bench/host/gui_post.h"
#include "bench/host/main_window.h"
#include "bench/host/programming_progress.h"
#include "bench/sequences/bench_actions.h"
#include "bench/sequences/rates.h"

namespace Zelvar_Core::bench {

class BenchChipEditor;
class BenchHistogramWindow;

class BenchPresenter : public Presenter {
 public:
  BenchPresenter(BenchModel& model, BenchFolders folders);
  ~BenchPresenter() override;
  // Connects the presenter to its window and the board's notifications.
  void attach(BenchMainWindow& window);

  void toggle_main_img_thread() override;
  void stop_main_img_thread() override;
  void capture() override;
  void set_mode(const std::string& mode) override;
  void update_view() override;
  void update_view(wxWindowID id) override;
  void update_image() override;
  void process_img() override;
  void save_preset() override;
  void load_preset() override;
  void update_model(wxWindowID id) override;
  void run_adc() override;
  void stop_adc() override;
  void update_adc_ts() override;
  void update_adc_panels() override;
  void send_serial_data() override;
  void close() override;

  // Recording the board's events to recordings/rec_YYYYMMDD_HHMMSS.raw: it
  // starts the acquisition when needed and stops with it.
  void toggle_recording();
  void start_recording();
  void stop_recording(const std::string& why);
  bool recording() const { return recorder_.active(); }
  const std::string& last_recording() const { return recording_path_; }

  // A recording played back in the board's place.
  const RecordingInfo& open_recording(const std::string& path);
  void play_recording();
  void pause_recording();
  Playback& playback() { return playback_; }
  // The open recording as HDF5, behind a progress dialog that can cancel.
  void export_recording(const std::string& out);

  // For measurements: `hours` of ADC samples at the fastest sample time, as
  // a day-long run would leave them in the history.
  void fill_adc_history(double hours);
  // The absolute path of the last capture written.
  const std::string& last_capture() const { return last_capture_; }
  // Run when the bench closes, before its threads end (workers stop here).
  std::vector<std::function<void()>> on_close;
  // Counts the stream's ON and OFF events per 100 ms for the Rates tool.
  RateMeter& rates() { return rates_; }

  // Logs an error; the log book puts every error in the status bar.
  void report_error(const std::string& what);
  // Something the user stopped: information, not an error.
  void report_cancelled(const std::string& what);
  // The status bar's message field: the outcome of the last action.
  void show_message(const std::string& text);

  SimulatedDevice& board() { return model_.simulated_device; }
  bool acquiring() const { return model_.simulated_device.acquiring(); }
  bool sampling_adc() const { return sampler_.running(); }
  AdcValuesMap& adc_channels() { return history_.channels(); }
  double sample_time() const { return sample_time_; }
  SensorMode mode() const { return model_.simulated_device.mode(); }
  ProgrammingProgress& programming_progress() { return *progress_; }
  const BenchFolders& folders() const { return folders_; }
  // Events per second published and frames per second drawn, over the last second.
  double event_rate() const { return event_rate_; }
  double frame_rate() const { return frame_rate_; }

 private:
  void on_frame_tick();
  void on_adc_reading(const AdcReading& reading);
  void on_adc_failure(const std::string& what, std::uint64_t run);
  void on_board_connection();
  void start_sampling();
  // The Start/Stop label, the frame timer and the rates follow the stream.
  void sync_stream_view();
  // The controls, editors and ADC monitor follow the board's presence.
  void apply_connection_state();
  void update_status();
  void bind_sample_time_field();
  void show_sample_time();
  void on_programming_end(const std::string& design, std::size_t bytes, double seconds);
  void update_stream_status();
  // All: show the model; KeepEdits: and put back what the user typed but did not write.
  enum class Refresh { All, KeepEdits };
  void refresh_values(ValuesView& editor, const ValuesMap& values, Refresh how);
  void refresh_editors();
  void refresh_registers(Refresh how);
  void refresh_dacs(Refresh how);
  void refresh_signals(Refresh how);
  void write_fields(const WidgetMap& fields);
  void revert_signal(const std::string& label);
  BenchChipEditor& chip_editor();
  BenchHistogramWindow& histogram_window();

  BenchModel& model_;
  BenchFolders folders_;
  BenchMainWindow* view_ = nullptr;
  GuiPost post_;
  AdcSampler sampler_;
  AdcHistory history_;
  std::unique_ptr<ProgrammingProgress> progress_;
  wxTimer frame_timer_;
  wxTimer stream_timer_;  // the recording's or playback's line, every second
  Recorder recorder_;
  std::string recording_path_;
  std::uint64_t lost_before_recording_ = 0;  // the board's losses when the recording began
  Playback playback_;
  RateMeter rates_;
  std::string last_capture_;
  double sample_time_ = 0.1;
  double adc_time_base_ = 0;  // where the current sampling run's times start
  bool adc_wanted_ = false;   // the monitor is open: sample whenever the board is there
  int ticks_ = 0;
  bool closed_ = false;
  // For the rates in the status bar.
  std::chrono::steady_clock::time_point rate_since_;
  std::uint64_t events_since_ = 0;
  long frames_since_ = 0;
  double event_rate_ = 0, frame_rate_ = 0;
};

// The self-test: every step reported as passed, failed or not run, and the
// summary in the status bar.
class BenchInitializer : public Initializer {
 public:
  BenchInitializer(BenchModel& model, BenchPresenter& presenter)
      : model_(model), presenter_(presenter) {}
  void on_test() override;
  std::vector<SelfTestStep> last_run;

 private:
  BenchModel& model_;
  BenchPresenter& presenter_;
};

}  // namespace Zelvar_Core::bench
