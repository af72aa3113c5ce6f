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
  enum class Mode { Bench, Demo, Measure, Run, Export, SampleBitstream };
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
};

struct ParsedCommandLine {
  PravelOptions options;
  // Set when the program ends here: 0 after --help or --version, 2 after a
  // refusal; `text` is what to print (stdout for 0, stderr for 2).
  std::optional<int> exit_status;
  std::string text;
};

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments);

}  // namespace Zelvar_Core::bench
