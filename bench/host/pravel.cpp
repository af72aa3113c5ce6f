// The bench program: the front end on a simulated sensor board. Its modes
// and options are in command_line.cpp (pravel --help lists them).
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <sys/resource.h>
#include <unistd.h>
#include <wx/timer.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Zelvar_Core/version.h"
#include "bench/board/bitstream.h"
#include "bench/board/whole_file.h"
#include "bench/events/hdf5_export.h"
#include "bench/events/recording_file.h"
#include "bench/host/bench_session.h"
#include "bench/host/command_line.h"
#include "bench/host/log_book.h"
#include "bench/host/toolkit_log.h"
#include "bench/sequences/csv.h"
#include "bench/sequences/sequence_report.h"

namespace Zelvar_Core::bench {

namespace {

const auto kProcessStart = std::chrono::steady_clock::now();

// Resolved once in main, before anything can change the working folder.
BenchFolders& start_folders() {
  static BenchFolders folders;
  return folders;
}

// The command line, read whole in main before the toolkit starts.
PravelOptions& options() {
  static PravelOptions parsed;
  return parsed;
}

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void setup_logging(const BenchFolders& folders) {
  auto console = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
  auto file = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
      (folders.logs / "pravel.log").string(), 1 << 20, 3);
  auto logger = std::make_shared<spdlog::logger>("", spdlog::sinks_init_list{console, file});
  logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %-5l %n: %v");
  spdlog::set_default_logger(logger);
  spdlog::set_level(spdlog::level::debug);
  spdlog::flush_every(std::chrono::seconds(1));
  LogBook::attach();
}

int write_sample_bitstream(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path parent = fs::absolute(path).parent_path();
  std::error_code error;
  fs::create_directories(parent, error);
  if (!fs::is_directory(parent)) {
    std::fprintf(stderr, "Cannot write the sample bitstream: the folder %s cannot be made (%s).\n",
                 parent.c_str(), error ? error.message().c_str() : "it is in the way");
    return 1;
  }
  try {
    write_whole_file(path, make_bitstream("aer640_sample", std::string(3 << 20, '\x5a')));
    return 0;
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "Cannot write the sample bitstream %s: %s.\n", path.c_str(), e.what());
    return 1;
  }
}

int export_recording(const std::string& recording, const std::string& out, bool overwrite) {
  try {
    const ExportStats stats = export_hdf5(recording, out, overwrite);
    for (const auto& note : stats.notes)
      std::fprintf(stderr, "Note: %s: %s.\n", recording.c_str(), note.c_str());
    std::printf("Exported %llu events from %s to %s in %.1f s.\n",
                static_cast<unsigned long long>(stats.events), recording.c_str(), out.c_str(),
                stats.seconds);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s.\n", e.what());
    return 1;
  }
}

// Where the report goes: checked before the run, so that a run of an hour
// does not end in "cannot write". "" when it can be written.
std::string report_problem(const std::filesystem::path& report, const std::string& sequence) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::absolute(report).parent_path();
  if (fs::is_directory(report, error)) return "the report " + report.string() + " is a folder";
  if (!fs::is_directory(folder, error))
    return "the folder of the report " + report.string() + " does not exist";
  if (::access(folder.c_str(), W_OK) != 0)
    return "the report cannot be written in " + folder.string() + ": " + std::strerror(errno);
  if (fs::exists(report, error) && fs::equivalent(report, sequence, error))
    return "the report " + report.string() + " is the sequence itself";
  return "";
}

int run_sequence_file(const std::string& path, std::string report_path) {
  const BenchFolders folders = BenchFolders::under(std::filesystem::current_path());
  try {
    prepare_folders(folders);
    if (report_path.empty()) {
      ensure_folder(folders.reports);
      report_path =
          bench::report_path(folders.reports, std::filesystem::path(path).stem().string(), ".csv");
    }
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  if (const std::string problem = report_problem(report_path, path); !problem.empty()) {
    std::fprintf(stderr, "Refused: %s; nothing was run.\n", problem.c_str());
    return 2;
  }
  spdlog::set_level(spdlog::level::warn);  // the steps speak for themselves
  SimulatedDevice board;
  std::atomic<bool> aborted{false};
  BoardBench bench(board, folders, aborted);
  Sequence sequence;
  try {
    sequence = load_sequence(path, bench);
  } catch (const SequenceError& e) {
    std::fprintf(stderr, "Refused: %s; nothing was run.\n", e.what());
    return 2;
  }
  const Settings settings = bench.settings();
  std::printf("Sequence %s: %zu steps on %s\n", sequence.name.c_str(), sequence.steps.size(),
              setting(settings, "board").c_str());
  SequenceObserver observer;
  observer.done = [&](const Step& step, const std::string& outcome) {
    std::printf("[%d/%zu] %s: %s\n", step.number, sequence.steps.size(), step.describe().c_str(),
                outcome.c_str());
    std::fflush(stdout);
  };
  const SequenceReport report = run_sequence(sequence, bench, observer);
  if (!report.completed)
    std::printf("Sequence %s: %s\n", sequence.name.c_str(), report.ended.c_str());
  try {
    write_whole_file(report_path, report_csv(sequence, report, settings));
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "Cannot write the report %s: %s.\n", report_path.c_str(), e.what());
    return 2;
  }
  std::printf("%d of %d expectations held; report %s\n", report.expects - report.failed,
              report.expects, report_path.c_str());
  return report.exit_code();
}

}  // namespace

class PravelApp : public ReportingApp {
 public:
  bool OnInit() override {
    route_toolkit_messages();  // before the first window
    try {
      session_ = std::make_unique<BenchSession>(start_folders());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Cannot start: %s.\n", e.what());
      return false;
    }
    session_->report_through(*this);
    session_->show();
    session_->window->Bind(wxEVT_PAINT, [](wxPaintEvent& event) {
      static bool first = true;
      if (first) {
        first = false;
        get_logger("pravel")->info("Main window shown {:.0f} ms after start",
                                   std::chrono::duration<double, std::milli>(
                                       std::chrono::steady_clock::now() - kProcessStart)
                                       .count());
      }
      event.Skip();
    });
    const PravelOptions& o = options();
    if (o.mode == PravelOptions::Mode::Demo) session_->demo_scene(o.demo_scene);
    if (o.mode == PravelOptions::Mode::Measure) {
      if (o.adc_hours) {
        // A history of that many hours of ADC samples first, and the monitor open.
        session_->presenter->fill_adc_history(*o.adc_hours);
        session_->choose_tool("ADCs");
      }
      if (o.busy) {
        for (auto [name, value] : {std::pair<const char*, const char*>{"VTH_ON", "1750"},
                                   {"VTH_OFF", "1450"},
                                   {"BIAS_GAIN", "7"}})
          session_->model.write_value(name, value);
      }
      measure(o.measure_seconds);
    }
    return true;
  }
  int OnExit() override {
    session_.reset();
    spdlog::default_logger()->flush();
    return ReportingApp::OnExit();
  }

 private:
  // Runs the acquisition for `seconds`, then logs what the program kept up with.
  void measure(double seconds) {
    session_->presenter->toggle_main_img_thread();
    const double cpu_start = cpu_seconds();
    const long frames_start = session_->window->image_panel->frames_drawn();
    const auto events_start = session_->model.simulated_device.events().published();
    const auto start = std::chrono::steady_clock::now();
    measure_timer_.Bind(wxEVT_TIMER, [=](wxTimerEvent&) {
      const double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double cpu = cpu_seconds() - cpu_start;
      const long frames = session_->window->image_panel->frames_drawn() - frames_start;
      const auto events = session_->model.simulated_device.events().published() - events_start;
      rusage usage{};
      getrusage(RUSAGE_SELF, &usage);
      get_logger("pravel")->info(
          "Measured over {:.2f} s: {:.2f} M events/s accumulated, {:.1f} frames/s drawn, "
          "{:.2f} ms CPU per frame (all threads), {:.0f}% of one core, {:.0f} MB peak resident, "
          "{} events lost",
          wall, events / wall / 1e6, frames / wall, frames ? cpu * 1000 / frames : 0.0,
          cpu / wall * 100, usage.ru_maxrss / 1024.0,
          session_->model.simulated_device.acquisition().lost());
      session_->window->Close();
    });
    measure_timer_.StartOnce(static_cast<int>(seconds * 1000));
  }

  std::unique_ptr<BenchSession> session_;
  wxTimer measure_timer_;
};

}  // namespace Zelvar_Core::bench

wxIMPLEMENT_APP_NO_MAIN(Zelvar_Core::bench::PravelApp);

int main(int argc, char** argv) {
  using namespace Zelvar_Core::bench;
  // The whole line is checked before anything is made: a refused option
  // leaves no folder behind and opens no window.
  const ParsedCommandLine parsed =
      parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.exit_status) {
    std::fputs(parsed.text.c_str(), *parsed.exit_status == 0 ? stdout : stderr);
    return *parsed.exit_status;
  }
  const PravelOptions& o = options() = parsed.options;
  // From the desktop menu: the bench's own folder under the user's data
  // folder, made on first start, instead of wherever the menu starts it.
  if (o.desktop) {
    try {
      const std::filesystem::path home =
          desktop_data_folder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
      ensure_folder(home);
      std::filesystem::current_path(home);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  // What needs no display is done before the toolkit starts.
  switch (o.mode) {
    case PravelOptions::Mode::SampleBitstream:
      return write_sample_bitstream(o.sample_path);
    case PravelOptions::Mode::Run:
      return run_sequence_file(o.sequence, o.report);
    case PravelOptions::Mode::Export:
      return export_recording(o.recording, o.export_to, o.overwrite);
    default:
      break;
  }
  start_folders() = BenchFolders::under(std::filesystem::current_path());
  try {
    prepare_folders(start_folders());
  } catch (const StartupError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  setup_logging(start_folders());
  route_toolkit_messages();
  // The toolkit sees no option of ours.
  int toolkit_argc = 1;
  char* toolkit_argv[] = {argv[0], nullptr};
  return wxEntry(toolkit_argc, toolkit_argv);
}
