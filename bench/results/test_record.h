// What one run on the bench leaves behind for the lab: which chip it ran
// on, on which board and bench, what it ran, every step and measurement
// with its outcome, and every file it wrote. A sequence, a sweep and the
// self-test each make one record; the results store keeps them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Zelvar_Core::bench::results {

// How a run, a step or a measurement ended. Incomplete marks a run whose
// process ended before the run did: it holds what it completed.
enum class Outcome { Pass, Fail, Error, Aborted, Incomplete };

// "PASS", "FAIL", "ERROR", "ABORTED", "INCOMPLETE": the words the store,
// the summary table and the CSV export use.
const char* outcome_text(Outcome outcome);
// The outcome a word names; nullopt for any other text.
std::optional<Outcome> outcome_named(const std::string& text);

// Microseconds since 1970-01-01 00:00 UTC.
using UtcMicros = std::int64_t;

struct StepRecord {
  int number = 0;    // 1-based, in the run's order
  std::string kind;  // "program", "set", "measure", "sweep", "expect", ... or a self-test step
  std::string what;  // the sentence the run said when the step ended
  Outcome outcome = Outcome::Pass;
  UtcMicros started = 0, ended = 0;
};

struct MeasurementRecord {
  int step = 0;      // the step that measured it
  std::string name;  // "vdd_mean", "rate_on", a swept register's value ...
  double value = 0;
  std::string unit;                 // as the board declares it; "" for none
  std::optional<double> low, high;  // the limits an expect checked it against
  // Pass or Fail against the limits; Pass when it has none.
  Outcome outcome = Outcome::Pass;
};

struct FileRecord {
  std::string role;  // "report", "recording", "capture"
  std::string path;  // absolute
  std::uint64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits
};

struct TestRecord {
  std::string run_id;  // a UUID (version 4), the run's key everywhere
  std::string kind;    // "sequence", "sweep" or "self-test"
  UtcMicros started = 0, ended = 0;
  std::string station;        // the host name, or the name configured for the bench
  std::string operator_name;  // --operator or the setting
  // The device under test: the chip's id where the board gives one, else
  // the one the user entered (--dut); the board's identity and serial.
  std::string dut;
  std::string board_identity, board_serial;
  std::string design;                          // the design on the board when the run started
  std::string sequence_path, sequence_sha256;  // the sequence file; empty for a sweep or self-test
  std::string bench_version;
  std::vector<std::pair<std::string, std::string>>
      settings_before;  // name, value, in the bench's order
  std::vector<StepRecord> steps;
  std::vector<MeasurementRecord> measurements;
  std::vector<FileRecord> files;
  Outcome outcome = Outcome::Incomplete;
  std::string ended_because;  // why it did not pass, naming the step; "" when it passed
};

// A fresh version 4 UUID in its usual text form (8-4-4-4-12 lower-case hex).
std::string new_run_id();

// Now, in microseconds since 1970-01-01 00:00 UTC.
UtcMicros utc_now_micros();

// The station's name when none is configured: the machine's host name, or
// "unknown" when the system gives none.
std::string default_station_name();

// The SHA-256 of `bytes`, as 64 lower-case hex digits.
std::string sha256_hex(const std::string& bytes);
// The SHA-256 of a file's content, read in pieces; throws std::runtime_error
// with one sentence naming the file when it cannot be read whole.
std::string sha256_of_file(const std::string& path);

}  // namespace Zelvar_Core::bench::results
