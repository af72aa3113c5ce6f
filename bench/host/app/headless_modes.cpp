#include "bench/host/app/headless_modes.h"

#include <spdlog/spdlog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bench/board/bitstream.h"
#include "bench/board/text.h"
#include "bench/board/whole_file.h"
#include "bench/host/app/served_board.h"
#include "bench/host/presenter/hdf5_export_loader.h"
#include "bench/remote/protocol/board_address.h"
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

int run_sequence_file(const std::string& path, std::string report_path, const std::string& board,
                      const std::string& token_file, SimulatedSensor sensor,
                      const std::string& tls_ca) {
  // Everything is checked before anything is made: the folders, the file,
  // the board, the sequence against the board's registers, the report's place.
  const BenchFolders folders = BenchFolders::under(std::filesystem::current_path());
  try {
    check_folders(folders);
  } catch (const StartupError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  try {
    check_sequence_file(path);
  } catch (const SequenceError& e) {
    std::fprintf(stderr, "Refused: %s; nothing was run.\n", e.what());
    return 2;
  }
  spdlog::set_level(spdlog::level::warn);  // the steps speak for themselves
  std::atomic<bool> aborted{false};
  std::unique_ptr<BoardBench> chosen;
  try {
    chosen = board_bench(board, token_file, tls_ca, sensor, folders, aborted);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Refused: %s; nothing was run.\n", e.what());
    return 2;
  }
  // What the board loses is told when it is seen, between the steps' lines.
  chosen->on_loss = [](const std::string& news) {
    std::printf("%s %s\n", local_time("%H:%M:%S").c_str(), news.c_str());
    std::fflush(stdout);
  };

  BenchActions& bench = *chosen;
  Sequence sequence;
  try {
    sequence = load_sequence(path, bench);
  } catch (const SequenceError& e) {
    std::fprintf(stderr, "Refused: %s; nothing was run.\n", e.what());
    return 2;
  }
  if (report_path.empty()) {
    try {
      ensure_folder(folders.reports);
    } catch (const std::runtime_error& e) {
      std::fprintf(stderr, "Refused: %s; nothing was run.\n", e.what());
      return 2;
    }
    report_path =
        bench::report_path(folders.reports, std::filesystem::path(path).stem().string(), ".csv");
  }
  if (const std::string problem = report_problem(report_path, path); !problem.empty()) {
    std::fprintf(stderr, "Refused: %s; nothing was run.\n", problem.c_str());
    return 2;
  }
  const Settings settings = bench.settings();
  const BoardDeclaration declared = bench.declaration();
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
    write_whole_file(report_path, report_csv(sequence, report, settings, declared));
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "Cannot write the report %s: %s.\n", report_path.c_str(), e.what());
    return 2;
  }
  std::printf("%s; report %s\n", expectations_text(report).c_str(), report_path.c_str());
  return report.exit_code();
}

}  // namespace Zelvar_Core::bench
