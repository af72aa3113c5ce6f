// The bench program: the front end on a simulated sensor board. Its modes
// and options are in command_line.cpp (pravel --help lists them).
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "bench/host/app/bench_session.h"
#include "bench/host/app/command_line.h"
#include "bench/host/app/demo_scenes.h"
#include "bench/host/app/headless_modes.h"
#include "bench/host/app/log_book.h"
#include "bench/host/app/measure_mode.h"
#include "bench/host/app/served_board.h"
#include "bench/host/app/stop_signals.h"
#include "bench/host/app/toolkit_log.h"

namespace Zelvar_Core::bench {

namespace {

const auto kProcessStart = std::chrono::steady_clock::now();

// Resolved once in main, before anything can change the working folder.
BenchFolders& start_folders() {
  static BenchFolders folders;
  return folders;
}

// The board served at --board, reached in main before the toolkit starts.
std::unique_ptr<Board>& served_board() {
  static std::unique_ptr<Board> board;
  return board;
}

// The command line, read whole in main before the toolkit starts.
PravelOptions& options() {
  static PravelOptions parsed;
  return parsed;
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

// "SIGTERM" for the signals that stop pravel.
const char* signal_name(int signal) {
  switch (signal) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

}  // namespace

class PravelApp : public ReportingApp {
 public:
  // Heard on the signals' own thread: the window is closed on the toolkit's
  // thread as if its user closed it, once it stands (at once when it does).
  static void close_on_signal() {
    const std::lock_guard lock(live_mutex());
    if (PravelApp* app = live(); app != nullptr) app->CallAfter([app] { app->close_for_signal(); });
  }

  bool OnInit() override {
    route_toolkit_messages();  // before the first window
    try {
      session_ = std::make_unique<BenchSession>(start_folders(), std::move(served_board()),
                                                options().sensor);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Cannot start: %s.\n", e.what());
      return false;
    }
    session_->report_through(*this);
    const std::string results = session_->take_settings(
        {options().operator_name, options().station, options().dut, options().results});
    session_->show();
    // Once the window is up: on a first start the results file and its
    // schema are made, each commit waiting for the disk.
    session_->window->CallAfter([this, results] { session_->keep_results(results); });
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
    if (o.mode == PravelOptions::Mode::Demo) {
      demo_ = std::make_unique<DemoScenes>(*session_);
      demo_->show(o.demo_scene);
    }
    if (o.mode == PravelOptions::Mode::Measure) {
      measure_ = std::make_unique<MeasureMode>(*session_);
      try {
        measure_->start(o);
      } catch (const std::exception& e) {
        // A board that cannot stream (unplugged, no design) is told, and the window closes.
        std::fprintf(stderr, "Cannot measure: %s.\n", e.what());
        exit_status_ = 2;
        session_->window->Close();
      }
    }
    {
      const std::lock_guard lock(live_mutex());
      live() = this;
    }
    if (StopSignals::heard() != 0) close_on_signal();  // heard while the window was being made
    return true;
  }
  int OnRun() override {
    const int status = ReportingApp::OnRun();
    return exit_status_ != 0 ? exit_status_ : status;
  }
  int OnExit() override {
    {
      const std::lock_guard lock(live_mutex());
      live() = nullptr;
    }
    measure_.reset();
    demo_.reset();
    session_.reset();
    spdlog::default_logger()->flush();
    return ReportingApp::OnExit();
  }

 private:
  static std::mutex& live_mutex() {
    static std::mutex mutex;
    return mutex;
  }
  // The application while its window can be closed.
  static PravelApp*& live() {
    static PravelApp* app = nullptr;
    return app;
  }
  void close_for_signal() {
    if (closing_for_signal_ || !session_ || session_->window == nullptr) return;
    closing_for_signal_ = true;
    get_logger("pravel")->info("Closing on {}", signal_name(StopSignals::heard()));
    session_->window->Close();
  }

  std::unique_ptr<BenchSession> session_;
  std::unique_ptr<MeasureMode> measure_;
  std::unique_ptr<DemoScenes> demo_;
  bool closing_for_signal_ = false;
  int exit_status_ = 0;  // pravel's, when its mode failed
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
    case PravelOptions::Mode::Run: {
      // The bench's settings, each given on the command line used in its place.
      ResultsSettings saved;
      try {
        saved = load_results_settings(
            results_settings_file(BenchFolders::under(std::filesystem::current_path()).tmp));
      } catch (const std::exception& e) {
        std::fprintf(stderr, "pravel: %s.\n", e.what());
      }
      const ResultsSettings site =
          with_command_line(saved, {o.operator_name, o.station, o.dut, o.results});
      // A stop signal aborts the run: its record is kept ABORTED, its
      // recording whole, and each board stopped and given back.
      std::atomic<bool> aborted{false};
      const StopSignals signals([&aborted](int) { aborted = true; });
      const int status = run_sequence_file({o.sequence,
                                            o.report,
                                            o.boards,
                                            o.token_file,
                                            o.tls_ca,
                                            o.sensor,
                                            {site.station, site.operator_name, site.dut},
                                            site.results,
                                            &aborted});
      if (const int signal = StopSignals::heard(); signal != 0) {
        std::fprintf(stderr, "pravel: stopped on %s.\n", signal_name(signal));
        return 128 + signal;
      }
      return status;
    }
    case PravelOptions::Mode::ResultsExport: {
      results::RunFilter filter;
      filter.dut = o.dut;
      filter.sequence = o.sequence_name;
      filter.outcome = results::outcome_named(o.outcome);
      filter.from = o.from;
      filter.to = o.to;
      return export_results(o.results_export, filter, o.results);
    }
    case PravelOptions::Mode::Export:
      return export_recording(o.recording, o.export_to, o.overwrite);
    default:
      break;
  }
  // From here a stop signal closes the window as its user would: a recording
  // is finished whole, the settings kept, the board stopped and given back.
  const StopSignals signals([](int) { PravelApp::close_on_signal(); });
  if (!o.board.empty()) {
    // A served board must answer before the bench opens on it.
    try {
      // The toolkit's thread is this one: its calls never wait on the board.
      served_board() = open_served_board(
          {o.board, o.token_file, "pravel", std::this_thread::get_id(), o.tls_ca});
    } catch (const std::exception& e) {
      std::fprintf(stderr, "pravel: %s.\n", e.what());
      return 2;
    }
    if (const int signal = StopSignals::heard(); signal != 0) {
      served_board().reset();  // given back before the window was made
      return 128 + signal;
    }
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
  const int status = wxEntry(toolkit_argc, toolkit_argv);
  if (const int signal = StopSignals::heard(); signal != 0) return 128 + signal;
  return status;
}
