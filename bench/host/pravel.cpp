// The bench program: the front end on a simulated sensor board.
//   pravel            the bench, main window only
//   pravel --version  the version
//   pravel --desktop ...  the same, in the user's data folder (the menu's way)
//   pravel --demo [SCENE]  every tool window open, acquisition running; or
//                     one scene: unplugged, refused, log
//   pravel --sample-bitstream PATH  write a 3 MB sample bitstream and quit
//   pravel --export REC.raw OUT.h5  export a recording to HDF5 and quit
//   pravel --run SEQUENCE.json [--report OUT.csv]  run a test sequence on the
//                     simulated board without a window: exit 0 when every
//                     expectation held, 1 when one failed, 2 when the sequence
//                     was refused or did not end
//   pravel --measure N [--busy] [--adc-hours H]  run the acquisition N seconds,
//                     log the rates and memory, quit; --busy sets thresholds that
//                     make about 20 Mev/s; --adc-hours fills the ADC history with
//                     H hours of samples at 10 ms and opens the monitor first
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <sys/resource.h>
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
#include "bench/events/hdf5_export.h"
#include "bench/events/recording_file.h"
#include "bench/host/bench_session.h"
#include "bench/host/log_book.h"
#include "bench/host/toolkit_log.h"
#include "bench/sequences/sequence.h"

namespace Zelvar_Core::bench {

namespace {

const auto kProcessStart = std::chrono::steady_clock::now();

// Resolved once in main, before anything can change the working folder.
BenchFolders& start_folders() {
  static BenchFolders folders;
  return folders;
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
  std::ofstream out(path, std::ios::binary);
  out << make_bitstream("aer640_sample", std::string(3 << 20, '\x5a'));
  out.close();
  if (out) return 0;
  std::fprintf(stderr, "Cannot write the sample bitstream %s: %s.\n", path.c_str(),
               std::strerror(errno));
  return 1;
}

int export_recording(const std::string& recording, const std::string& out, bool overwrite = false) {
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

int run_sequence_file(const std::string& path, std::string report_path) {
  const BenchFolders folders = BenchFolders::under(std::filesystem::current_path());
  try {
    prepare_folders(folders);
  } catch (const StartupError& e) {
    std::fprintf(stderr, "%s\n", e.what());
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
    std::fprintf(stderr, "Refused: %s.\n", e.what());
    return 2;
  }
  const auto settings = bench.settings();
  std::printf("Sequence %s: %zu steps on %s\n", sequence.name.c_str(), sequence.steps.size(),
              settings.at(1).second.c_str());
  SequenceObserver observer;
  observer.done = [&](const Step& step, const std::string& outcome) {
    std::printf("[%d/%zu] %s: %s\n", step.number, sequence.steps.size(), step.describe().c_str(),
                outcome.c_str());
    std::fflush(stdout);
  };
  const SequenceReport report = run_sequence(sequence, bench, observer);
  if (!report.completed)
    std::printf("Sequence %s: %s\n", sequence.name.c_str(), report.ended.c_str());
  if (report_path.empty()) {
    ensure_folder(folders.reports);
    report_path = (folders.reports / (std::filesystem::path(path).stem().string() + "_" +
                                      local_time("%Y%m%d_%H%M%S") + ".csv"))
                      .string();
  }
  std::ofstream out(report_path, std::ios::binary);
  out << report_csv(sequence, report, settings);
  out.close();
  if (!out) {
    std::fprintf(stderr, "Cannot write the report %s.\n", report_path.c_str());
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
    const wxString option = argc > 1 ? argv[1] : wxString();
    if (option == "--demo") session_->demo_scene(argc > 2 ? wxString(argv[2]).utf8_string() : "");
    if (option == "--measure") {
      // --adc-hours H: a history of H hours of ADC samples first, and the monitor open;
      // --busy: thresholds that make about 20 Mev/s. In either order.
      for (int i = 3; i < argc; ++i) {
        const wxString extra = argv[i];
        if (extra == "--adc-hours" && i + 1 < argc) {
          session_->presenter->fill_adc_history(wxAtof(argv[++i]));
          session_->choose_tool("ADCs");
        } else if (extra == "--busy") {
          for (auto [name, value] : {std::pair<const char*, const char*>{"VTH_ON", "1750"},
                                     {"VTH_OFF", "1450"},
                                     {"BIAS_GAIN", "7"}})
            session_->model.write_value(name, value);
        }
      }
      measure(argc > 2 ? wxAtof(argv[2]) : 5.0);
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
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("pravel %s (Zelvar_Core %s)\n", Zelvar_Core::kVersion, Zelvar_Core::kVersion);
    return 0;
  }
  // From the desktop menu: the bench's own folder under the user's data
  // folder, made on first start, instead of wherever the menu starts it.
  if (argc > 1 && std::string(argv[1]) == "--desktop") {
    try {
      const std::filesystem::path home =
          desktop_data_folder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
      ensure_folder(home);
      std::filesystem::current_path(home);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    argv[--argc] = nullptr;
  }
  // What needs no display is done before the toolkit starts.
  const std::string option = argc > 1 ? argv[1] : "";
  if (option == "--sample-bitstream") {
    if (argc != 3) {
      std::fprintf(stderr, "Usage: pravel --sample-bitstream PATH\n");
      return 2;
    }
    return write_sample_bitstream(argv[2]);
  }
  if (option == "--run") {
    if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--report")) {
      std::fprintf(stderr, "Usage: pravel --run SEQUENCE.json [--report OUT.csv]\n");
      return 2;
    }
    return run_sequence_file(argv[2], argc == 5 ? argv[4] : "");
  }
  if (option == "--export") {
    if (argc != 4) {
      std::fprintf(stderr, "Usage: pravel --export RECORDING.raw OUT.h5\n");
      return 2;
    }
    return export_recording(argv[2], argv[3]);
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
  return wxEntry(argc, argv);
}
