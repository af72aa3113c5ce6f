#include "bench/host/app/headless_modes.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "bench/board/bitstream.h"
#include "bench/board/text.h"
#include "bench/board/whole_file.h"
#include "bench/host/app/served_board.h"
#include "bench/host/presenter/hdf5_export_loader.h"
#include "bench/remote/protocol/board_address.h"
#include "bench/results/csv_export.h"
#include "bench/results/results_store.h"
#include "bench/sequences/csv.h"
#include "bench/sequences/sequence_report.h"

namespace Zelvar_Core::bench {

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
    const std::string bitstream = make_bitstream("aer640_sample", std::string(3 << 20, '\x5a'));
    write_whole_file(path, bitstream);
    std::printf("Wrote the sample bitstream %s (%s, design aer640_sample).\n",
                fs::absolute(path).lexically_normal().c_str(), size_text(bitstream.size()).c_str());
    return 0;
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "Cannot write the sample bitstream %s: %s.\n", path.c_str(), e.what());
    return 1;
  }
}

int export_recording(const std::string& recording, const std::string& out, bool overwrite) {
  try {
    const ExportStats stats = export_hdf5_when_loaded(recording, out, overwrite);
    for (const auto& note : stats.notes)
      std::fprintf(stderr, "Note: %s: %s.\n", recording.c_str(), note.c_str());
    std::printf("Exported %llu events from %s to %s in %.1f s.\n",
                static_cast<unsigned long long>(stats.events), recording.c_str(), out.c_str(),
                stats.seconds);
    return 0;
  } catch (const ExportExists&) {
    std::fprintf(stderr,
                 "%s exists; choose another name for the export, or give --overwrite to "
                 "replace it.\n",
                 out.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s.\n", e.what());
    return 1;
  }
}

namespace {

// The built-in simulated board with the bench that works on it (the board
// made first, so that it outlives the bench).
struct SimulatedBoardHolder {
  explicit SimulatedBoardHolder(SimulatedSensor sensor) : device(sensor) {}
  SimulatedDevice device;
};
class SimulatedBench : private SimulatedBoardHolder, public BoardBench {
 public:
  SimulatedBench(SimulatedSensor sensor, const BenchFolders& folders,
                 const std::atomic<bool>& aborted)
      : SimulatedBoardHolder(sensor), BoardBench(device, folders, aborted) {}
};

// A board served at HOST:PORT, claimed for the run, with the bench that works
// on it; the run's worker thread waits for each of the board's answers.
struct ServedBoardHolder {
  std::unique_ptr<Board> board;
};
class ServedBench : private ServedBoardHolder, public BoardBench {
 public:
  ServedBench(const std::string& address, const std::string& token_file, const std::string& tls_ca,
              const BenchFolders& folders, const std::atomic<bool>& aborted)
      : ServedBoardHolder{open_served_board({address, token_file, "pravel --run", {}, tls_ca})},
        BoardBench(*board, folders, aborted) {
    // A stream that breaks off fails the step that waits on it.
    board->stream_failure = stream_break_listener();
  }
};

// The bench a run works on: the built-in board, or the one served at `board`.
std::unique_ptr<BoardBench> board_bench(const std::string& board, const std::string& token_file,
                                        const std::string& tls_ca, SimulatedSensor sensor,
                                        const BenchFolders& folders,
                                        const std::atomic<bool>& aborted) {
  if (board.empty()) return std::make_unique<SimulatedBench>(sensor, folders, aborted);
  remote::host_of(board);  // refuses what is not HOST:PORT
  return std::make_unique<ServedBench>(board, token_file, tls_ca, folders, aborted);
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

}  // namespace

namespace {

// The console of a run on several boards at once: whole lines, one at a time.
class Console {
 public:
  explicit Console(bool several) : several_(several) {}
  // A line of the run on `board` ("" for the built-in board).
  void line(const std::string& board, const std::string& text, FILE* to = stdout) {
    const std::lock_guard lock(mutex_);
    if (several_ && !board.empty())
      std::fprintf(to, "[%s] %s\n", board.c_str(), text.c_str());
    else
      std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
  }

 private:
  std::mutex mutex_;
  bool several_;
};

// The bench's results store shared by the boards' runs: opened when the
// first record is kept (a refused run leaves nothing behind), one call at
// a time; a store that cannot be opened is told once.
class RunStore {
 public:
  RunStore(const BenchFolders& folders, std::string shared, Console& console)
      : folder_(folders.root.string()), shared_(std::move(shared)), console_(console) {}
  // Keeps the record in place of the run's last; "" or the sentence that says why it could not.
  std::string keep(const results::TestRecord& record) {
    const std::lock_guard lock(mutex_);
    if (!opened()) return "";
    try {
      store_->replace(record);
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
  // Where the records go, "" when they go nowhere.
  std::string where() {
    const std::lock_guard lock(mutex_);
    return opened() ? store_->where() : "";
  }
  // Where the run kept last is now: a lab's database only once it took it.
  std::string where_kept(const std::string& run_id) {
    const std::lock_guard lock(mutex_);
    return opened() ? store_->where_kept(run_id) : "";
  }

 private:
  bool opened() {
    if (store_ || tried_) return store_ != nullptr;
    tried_ = true;
    try {
      Console& console = console_;
      store_ = results::open_bench_results(
          folder_, shared_, [&console](const std::string& news) { console.line("", news); });
    } catch (const std::exception& e) {
      console_.line("", std::string(e.what()) + " The reports are written all the same.", stderr);
    }
    return store_ != nullptr;
  }

  std::mutex mutex_;
  const std::string folder_, shared_;
  Console& console_;
  bool tried_ = false;
  std::unique_ptr<results::ResultsStore> store_;
};

// How one board's run ended, for the table and the exit status.
struct BoardResult {
  std::string board, dut;
  std::string outcome = "ERROR";
  std::string checks;  // the failing checks, or why the run did not end
  int exit_code = 2;
};

// A board's own folder for its recordings and captures, "127.0.0.1_50051".
std::string folder_name_of(const std::string& board) {
  std::string name = board;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  return name;
}

// The sequence on one board: checked against its registers, run, reported
// and kept. Everything that can go wrong ends this board's run only.
BoardResult run_on_board(const RunRequest& request, const std::string& board, BenchFolders folders,
                         std::string report_path, bool several, RunStore& store, Console& console) {
  BoardResult result;
  result.board = board.empty() ? "built-in" : board;
  result.dut = request.site.dut;
  auto refuse = [&](const std::string& why) {
    console.line(board, "Refused: " + why + "; nothing was run.", stderr);
    result.checks = "refused: " + why;
    return result;
  };
  if (several) {
    // Each board its own recordings and captures, and its own report.
    folders.recordings /= folder_name_of(board);
    folders.captures /= folder_name_of(board);
  }
  const std::atomic<bool> never{false};
  const std::atomic<bool>& aborted = request.aborted ? *request.aborted : never;
  std::unique_ptr<BoardBench> chosen;
  try {
    chosen =
        board_bench(board, request.token_file, request.tls_ca, request.sensor, folders, aborted);
  } catch (const std::exception& e) {
    return refuse(e.what());
  }
  // What the board loses is told when it is seen, between the steps' lines.
  chosen->on_loss = [&console, board](const std::string& news) {
    console.line(board, local_time("%H:%M:%S") + " " + news);
  };
  FileNotingBench bench(*chosen);
  Sequence sequence;
  try {
    sequence = load_sequence(request.sequence, bench);
  } catch (const SequenceError& e) {
    return refuse(e.what());
  }
  if (report_path.empty()) {
    try {
      ensure_folder(folders.reports);
    } catch (const std::runtime_error& e) {
      return refuse(e.what());
    }
    const std::string stem = std::filesystem::path(request.sequence).stem().string();
    report_path = bench::report_path(folders.reports,
                                     several ? stem + "_" + folder_name_of(board) : stem, ".csv");
  } else if (several) {
    const std::filesystem::path given(report_path);
    report_path = (given.parent_path() / (given.stem().string() + "_" + folder_name_of(board) +
                                          given.extension().string()))
                      .string();
  }
  if (const std::string problem = report_problem(report_path, request.sequence); !problem.empty())
    return refuse(problem);

  const Settings settings = bench.settings();
  const BoardDeclaration declared = bench.declaration();
  console.line(board, "Sequence " + sequence.name + ": " + std::to_string(sequence.steps.size()) +
                          " steps on " + setting(settings, "board"));
  // The record is kept INCOMPLETE from the start and replaced after each
  // step: a run that never ends leaves what it completed.
  bool store_told = false;
  auto keep = [&](const results::TestRecord& record) {
    const std::string problem = store.keep(record);
    if (!problem.empty() && !store_told) {
      store_told = true;
      console.line(board, problem + " The run goes on; its report is written all the same.",
                   stderr);
    }
    return problem;
  };
  SequenceRecord record(record_start(results::new_run_id(), "sequence", bench, request.site),
                        sequence, [&](const results::TestRecord& r) { keep(r); });
  result.dut = record.record().dut;
  SequenceObserver observer;
  observer.done = [&](const Step& step, const std::string& outcome) {
    console.line(board, "[" + std::to_string(step.number) + "/" +
                            std::to_string(sequence.steps.size()) + "] " + step.describe() + ": " +
                            outcome);
  };
  const SequenceReport report = run_sequence(sequence, bench, record.observer(observer));
  if (!report.completed) console.line(board, "Sequence " + sequence.name + ": " + report.ended);
  result.exit_code = report.exit_code();
  std::vector<std::pair<std::string, std::string>> files;
  try {
    write_whole_file(report_path, report_csv(sequence, report, settings, declared));
    files.emplace_back("report", report_path);
    console.line(board, expectations_text(report) + "; report " + report_path);
  } catch (const std::runtime_error& e) {
    console.line(board, "Cannot write the report " + report_path + ": " + e.what() + ".", stderr);
    result.exit_code = 2;
  }
  for (const auto& file : bench.files()) files.push_back(file);
  const results::TestRecord& whole = record.finish(report, files);
  if (keep(whole).empty() && !store.where().empty())
    console.line(board, "Test record " + whole.run_id + " (" +
                            results::outcome_text(whole.outcome) + ") kept in " +
                            store.where_kept(whole.run_id));
  result.outcome = results::outcome_text(whole.outcome);
  result.checks = whole.ended_because;
  if (result.exit_code == 2 && whole.outcome == results::Outcome::Pass) result.outcome = "ERROR";
  return result;
}

// The table that ends a run on several boards.
std::string summary_table(const std::vector<BoardResult>& ended) {
  std::size_t board = 5, dut = 3, outcome = 7;
  for (const BoardResult& r : ended) {
    board = std::max(board, r.board.size());
    dut = std::max(dut, r.dut.size());
    outcome = std::max(outcome, r.outcome.size());
  }
  auto row = [&](const std::string& a, const std::string& b, const std::string& c,
                 const std::string& d) {
    return fmt::format("{:<{}}  {:<{}}  {:<{}}  {}\n", a, board, b, dut, c, outcome, d);
  };
  std::string table = row("BOARD", "DUT", "OUTCOME", "FAILING CHECKS");
  for (const BoardResult& r : ended)
    table +=
        row(r.board, r.dut.empty() ? "-" : r.dut, r.outcome, r.checks.empty() ? "-" : r.checks);
  return table;
}

}  // namespace

int export_results(const std::string& path, const results::RunFilter& filter,
                   const std::string& shared) {
  const BenchFolders folders = BenchFolders::under(std::filesystem::current_path());
  if (!std::filesystem::exists(folders.results) && shared.empty()) {
    std::fprintf(stderr, "There are no runs to export: %s does not exist.\n",
                 folders.results.c_str());
    return 1;
  }
  try {
    const auto store =
        results::open_bench_results(folders.root.string(), shared, [](const std::string& news) {
          std::printf("%s\n", news.c_str());
          std::fflush(stdout);
        });
    const results::CsvExported exported = results::export_runs_csv(*store, filter, path);
    std::printf("Exported %zu %s (%zu %s) from %s to %s.\n", exported.runs,
                exported.runs == 1 ? "run" : "runs", exported.rows,
                exported.rows == 1 ? "row" : "rows", store->read_from().c_str(), path.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

int run_sequence_file(const RunRequest& request) {
  // Everything is checked before anything is made: the folders, the file,
  // each board, the sequence against each board's registers, the report's place.
  const BenchFolders folders = BenchFolders::under(std::filesystem::current_path());
  try {
    check_folders(folders);
  } catch (const StartupError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  try {
    check_sequence_file(request.sequence);
  } catch (const SequenceError& e) {
    std::fprintf(stderr, "Refused: %s; nothing was run.\n", e.what());
    return 2;
  }
  spdlog::set_level(spdlog::level::warn);  // the steps speak for themselves
  const bool several = request.boards.size() > 1;
  Console console(several);
  RunStore store(folders, request.results, console);
  const std::vector<std::string> boards =
      request.boards.empty() ? std::vector<std::string>{""} : request.boards;
  std::vector<BoardResult> ended(boards.size());
  if (!several) {
    return run_on_board(request, boards[0], folders, request.report, false, store, console)
        .exit_code;
  }
  // A thread for each board: nothing shared but the console and the store,
  // each of which takes one call at a time.
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < boards.size(); ++i)
    runs.emplace_back([&, i] {
      try {
        ended[i] = run_on_board(request, boards[i], folders, request.report, true, store, console);
      } catch (const std::exception& e) {
        ended[i].board = boards[i];
        ended[i].checks = e.what();
        console.line(boards[i], std::string("The run ended: ") + e.what(), stderr);
      }
    });
  for (std::thread& run : runs) run.join();
  std::fputs(summary_table(ended).c_str(), stdout);
  int status = 0;
  for (const BoardResult& r : ended) status = std::max(status, r.exit_code);
  return status;
}

}  // namespace Zelvar_Core::bench
