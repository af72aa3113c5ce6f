// pravel's command line: every option, its meaning and its range, checked
// whole before anything is made. A refused line is one sentence and exit
// status 2; --help and --version print and exit 0.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bench/board/board_declaration.h"

namespace Zelvar_Core::bench {

struct PravelOptions {
  enum class Mode { Bench, Demo, Measure, Run, Export, SampleBitstream, ResultsExport };
  Mode mode = Mode::Bench;
  bool desktop = false;    // work in the user's data folder (the desktop menu's way)
  std::string demo_scene;  // "" for every tool window
  double measure_seconds = 5;
  bool busy = false;
  bool all_tools = false;  // --measure with the ADC monitor at 10 ms, Rates and a recording
  std::optional<double> adc_hours;
  std::string sequence;
  std::string report;  // "" for reports/<sequence>_<time>.csv
  std::string board;   // HOST:PORT of a board server; "" for the built-in simulated board
  SimulatedSensor sensor = SimulatedSensor::Aer640;  // the built-in board's sensor
  std::string token_file;                            // the board server's token, "" for none
  std::string tls_ca;  // the CA certificate of a board server over TLS, "" for a link in clear
  std::string recording, export_to;
  bool overwrite = false;
  std::string sample_path;
  // Every board a run works on, in the order given: each --board, then
  // each line of --boards; `board` is the first. None: the built-in board.
  std::vector<std::string> boards;
  // Who runs, where, on what: stored with each run's test record.
  std::string operator_name, dut, station;
  std::string results;  // a lab's database ("postgresql://..."), "" for the bench's file only
  // --results-export: the file, and the runs it takes (an empty field takes any).
  std::string results_export;
  std::string sequence_name;             // the sequence file's name
  std::string outcome;                   // "PASS", "FAIL", "ERROR", "ABORTED" or "INCOMPLETE"
  std::optional<std::int64_t> from, to;  // microseconds since 1970 UTC, started within [from, to)
};

struct ParsedCommandLine {
  PravelOptions options;
  // Set when the program ends here: 0 after --help or --version, 2 after a
  // refusal; `text` is what to print (stdout for 0, stderr for 2).
  std::optional<int> exit_status;
  std::string text;
};

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments);

// "2026-12-09", "2026-12-09T14:30" or "2026-12-09T14:30:05" in UTC, as
// microseconds since 1970; nullopt for any other text or a day that is none.
std::optional<std::int64_t> utc_micros_of(const std::string& text);
// The boards a --boards file lists: one HOST:PORT a line, "#" to the line's
// end a comment, blank lines skipped. Sets `problem` ("line 3: ...") and
// returns none when a line is no address or no line names a board.
std::vector<std::string> board_lines(const std::string& text, std::string& problem);

}  // namespace Zelvar_Core::bench
