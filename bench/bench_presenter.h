// The bench program's presenter: acquisition, the live image, the ADC,
// presets and the serial port of the simulated board, and its self-test.
#pragma once

#include <wx/timer.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/presenter.h"
#include "bench/acquisition.h"
#include "bench/adc_sampler.h"
#include "bench/gui_post.h"
#include "bench/host_windows.h"

namespace Zelvar_Core::bench {

// The chip's modes, in the order of the mode box.
const std::vector<std::string>& chip_modes();

class BenchPresenter : public Presenter {
 public:
  explicit BenchPresenter(BenchModel& model);
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

  // Logs an error and shows it in one line of the status bar.
  void report_error(const std::string& what);
  // Shows a message in the status bar's last field.
  void show_message(const std::string& text);

  bool acquiring() const { return acquisition_.running(); }
  bool sampling_adc() const { return sampler_.running(); }
  AdcValuesMap& adc_channels() { return adc_; }
  double sample_time() const { return sample_time_; }
  SensorMode mode() const { return mode_; }
  Acquisition& acquisition() { return acquisition_; }
  const AnalogFrontEnd& front_end() const { return front_end_; }
  ProgrammingProgress& programming_progress() { return *progress_; }
  // Events per second accumulated and frames per second drawn, over the last second.
  double event_rate() const { return event_rate_; }
  double frame_rate() const { return frame_rate_; }

 private:
  void on_frame_tick();
  void on_adc_reading(const AdcReading& reading);
  void sync_board();  // hands the biases and mode to the sensor and the ADC
  void update_status();
  // All: show the model; KeepEdits: and put back what the user typed but did not write.
  enum class Refresh { All, KeepEdits };
  void refresh_values(ValuesView& editor, const ValuesMap& values, Refresh how);
  void refresh_editors();
  void refresh_registers(Refresh how);
  void refresh_dacs(Refresh how);
  void refresh_signals(Refresh how);
  void write_fields(const WidgetMap& fields);

  BenchModel& model_;
  BenchMainWindow* view_ = nullptr;
  GuiPost post_;
  Acquisition acquisition_;
  AnalogFrontEnd front_end_;
  AdcSampler sampler_;
  std::unique_ptr<ProgrammingProgress> progress_;
  wxTimer frame_timer_;
  AdcValuesMap adc_;
  double sample_time_ = 0.1;
  double adc_time_base_ = 0;  // where the current sampling run's times start
  SensorMode mode_ = SensorMode::EventStream;
  int ticks_ = 0;
  bool closed_ = false;
  // For the rates in the status bar.
  std::chrono::steady_clock::time_point rate_since_;
  std::uint64_t events_since_ = 0;
  long frames_since_ = 0;
  double event_rate_ = 0, frame_rate_ = 0;
};

// The self-test: every step reports pass or fail, and the summary goes to
// the status bar.
class BenchInitializer : public Initializer {
 public:
  BenchInitializer(BenchModel& model, BenchPresenter& presenter)
      : model_(model), presenter_(presenter) {}
  void on_test() override;
  struct Step {
    std::string name;
    bool passed;
    std::string detail;
  };
  std::vector<Step> last_run;

 private:
  BenchModel& model_;
  BenchPresenter& presenter_;
};

}  // namespace Zelvar_Core::bench
