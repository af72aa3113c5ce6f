#include "bench/host/app/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

#include "Zelvar_Core/version.h"
#include "bench/remote/protocol/board_address.h"

namespace Zelvar_Core::bench {

namespace {

const std::vector<std::string> kDemoScenes = {"unplugged", "refused", "playback", "export",
                                              "rates",     "beside",  "sweep",    "sequence",
                                              "log",       "help",    "sensor"};

// A number of seconds or hours within lo..hi: "nan", "inf" and "1e400" are
// refused like any other value outside the range.
std::string number(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// A board server's address, HOST:PORT, checked before anything is made.
CLI::Validator board_address() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        try {
          remote::host_of(text);
          return "";
        } catch (const std::exception& e) {
          return e.what();
        }
      },
      "");
}

// A simulated sensor, "640x480" or "320x240".
CLI::Validator simulated_sensor() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        try {
          parse_simulated_sensor(text);
          return "";
        } catch (const std::invalid_argument& e) {
          // The parser names the option itself.
          const std::string what = e.what();
          const std::string named = "--sensor: ";
          return what.rfind(named, 0) == 0 ? what.substr(named.size()) : what;
        }
      },
      "");
}

// A name kept with each run (an operator, a chip, a station): printable,
// one line, at most 200 bytes.
CLI::Validator name_text(const std::string& what) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        if (text.empty()) return "an empty text is not " + what;
        if (text.size() > 200) return what + " is longer than 200 bytes";
        for (const unsigned char c : text)
          if (c < 0x20 || c == 0x7f) return what + " holds a control character";
        return "";
      },
      "");
}

// A lab's database: postgresql://[user[:password]@]host[:port]/database.
CLI::Validator database_address() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        for (const char* scheme : {"postgresql://", "postgres://"})
          if (text.rfind(scheme, 0) == 0 && text.size() > std::string(scheme).size()) return "";
        return "\"" + text.substr(0, 80) +
               "\" is not a database address: give postgresql://HOST/DATABASE";
      },
      "");
}

// PASS, FAIL, ERROR, ABORTED or INCOMPLETE, in any case; kept in capitals.
CLI::Validator outcome_word() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::string upper = text;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const char* word : {"PASS", "FAIL", "ERROR", "ABORTED", "INCOMPLETE"})
          if (upper == word) {
            text = upper;
            return "";
          }
        return "\"" + text.substr(0, 40) +
               "\" is no outcome: give PASS, FAIL, ERROR, ABORTED or INCOMPLETE";
      },
      "");
}

}  // namespace

std::optional<std::int64_t> utc_micros_of(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used);
  if (n != 3 || used != 10) return std::nullopt;
  if (text.size() > 10) {
    int more = 0;
    const std::string rest = text.substr(10);
    if (std::sscanf(rest.c_str(), "T%2d:%2d%n", &hour, &minute, &more) != 2 || more != 6)
      return std::nullopt;
    if (rest.size() > 6) {
      int last = 0;
      if (std::sscanf(rest.c_str() + 6, ":%2d%n", &second, &last) != 1 || last != 3 ||
          rest.size() != 9)
        return std::nullopt;
    }
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] - (month == 2 && !leap) || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return std::int64_t{::timegm(&tm)} * 1'000'000;
}

std::vector<std::string> board_lines(const std::string& text, std::string& problem) {
  std::vector<std::string> boards;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    line = line.substr(0, line.find('#'));
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    try {
      remote::host_of(line);
    } catch (const std::exception& e) {
      problem = "line " + std::to_string(number) + ": " + e.what();
      return {};
    }
    boards.push_back(line);
  }
  if (boards.empty()) problem = "it names no board";
  return boards;
}

namespace {

// A time in UTC: 2026-12-09, or 2026-12-09T14:30 or 2026-12-09T14:30:05.
CLI::Validator utc_time() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (utc_micros_of(text)) return "";
        return "\"" + text.substr(0, 40) +
               "\" is not a time: give YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], in UTC";
      },
      "");
}

CLI::Validator within(double lo, double hi, bool lo_included, const std::string& unit) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value))
          return "\"" + text + "\" is not a number of " + unit;
        if (value < lo || (value == lo && !lo_included) || value > hi)
          return text + " is out of range: it must be " + (lo_included ? "from " : "more than ") +
                 number(lo) + (lo_included ? " to " : " and at most ") + number(hi) + " " + unit;
        return "";
      },
      "");
}

// Each option with its value's name only ("--export REC.raw OUT.h5").
class Formatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    const std::string type = option->get_type_name();
    return type.empty() ? "" : " " + type;
  }
};

// A refusal, as one sentence that ends the line.
std::string sentence(std::string what) {
  while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
  if (!what.empty() && what.back() != '.') what += '.';
  return "pravel: " + what + " See pravel --help.\n";
}

// What each option that takes a value takes, for an option given without
// it or with more: what it is, and how it is written.
struct Takes {
  const char* option;
  const char* what;
  const char* usage;
};
const Takes kTakes[] = {
    {"--run", "the test sequence to run", "--run SEQUENCE.json"},
    {"--export", "the recording and the HDF5 file to write", "--export REC.raw OUT.h5"},
    {"--measure", "a number of seconds", "--measure SECONDS"},
    {"--adc-hours", "a number of hours", "--adc-hours HOURS"},
    {"--report", "the report's file", "--report OUT.csv"},
    {"--board", "the board server's address", "--board HOST:PORT"},
    {"--token-file", "the file that holds the token", "--token-file F"},
    {"--tls-ca", "the CA certificate's file", "--tls-ca F"},
    {"--sensor", "the simulated sensor's size", "--sensor 640x480|320x240"},
    {"--sample-bitstream", "the file to write", "--sample-bitstream PATH"},
    {"--demo", "one scene at most", "--demo [SCENE]"},
    {"--boards", "the file that lists the boards", "--boards FILE"},
    {"--operator", "the operator's name", "--operator NAME"},
    {"--dut", "the device's id", "--dut ID"},
    {"--station", "the station's name", "--station NAME"},
    {"--results", "the lab's database", "--results postgresql://HOST/DATABASE"},
    {"--results-export", "the CSV file to write", "--results-export FILE.csv"},
    {"--sequence", "the sequence file's name", "--sequence NAME.json"},
    {"--outcome", "an outcome", "--outcome PASS|FAIL|ERROR|ABORTED|INCOMPLETE"},
    {"--from", "a time", "--from YYYY-MM-DD[THH:MM[:SS]]"},
    {"--to", "a time", "--to YYYY-MM-DD[THH:MM[:SS]]"}};

// The first option a parser's message names ("--export: At least 2 ...",
// "Could not convert: --busy = maybe"), "" when none.
std::string option_named_in(const std::string& message) {
  const auto at = message.find("--");
  if (at == std::string::npos) return "";
  return message.substr(at, message.find_first_of(": =[", at + 2) - at);
}

// The parser's own refusals, said in the bench's words: an option without
// its value or with too many, a flag given a value. Anything else keeps its text.
std::string refusal_of(const CLI::ParseError& error) {
  const std::string what = error.what();
  const std::string name = option_named_in(what);
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    if (what.find("flag override") != std::string::npos) return name + " takes no value";
    for (const Takes& takes : kTakes)
      if (name == takes.option)
        return name + (what.find("At Most") != std::string::npos ? " takes only " : " needs ") +
               takes.what + ": " + takes.usage;
  }
  if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr && !name.empty())
    return name + " takes no value";
  return what;
}

// An option given twice ("--run a.json --run b.json"), before the parser
// keeps one of them or tells it in its own words: "" when none is.
std::string given_twice(const std::vector<std::string>& arguments) {
  std::vector<std::string> seen;
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument.rfind("--", 0) != 0) continue;
    const std::string name = argument.substr(0, argument.find('='));
    if (name == "--board") continue;  // a run works on every board given
    if (std::find(seen.begin(), seen.end(), name) != seen.end())
      return name + " is given twice: give it once";
    seen.push_back(name);
  }
  return "";
}

// pravel's options, declared on a CLI11 application, and the rules CLI11
// does not check: one mode at a time, each option with its mode.
class PravelCommandLine {
 public:
  explicit PravelCommandLine(PravelOptions& o)
      : o_(o),
        app_(
            "The AER sensor test bench on its simulated board. Without options it opens the "
            "bench; the options below run it in other ways, most of them without a display.",
            "pravel") {
    app_.formatter(std::make_shared<Formatter>());
    app_.allow_extras();  // told below, in the bench's words
    app_.get_formatter()->column_width(34);
    declare_modes();
    declare_details();
    app_.footer(
        "Files go under the folder the bench starts in: recordings/, reports/, captures/, "
        "presets/, logs/pravel.log and tmp/.");
  }

  // Parses; throws CLI11's errors, CallForHelp among them.
  void parse(const std::vector<std::string>& arguments) {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    app_.parse(reversed);
  }
  std::string help() const { return app_.help(); }
  bool version_asked() const { return version_; }

  // One way of running at a time, each option with the mode it belongs to,
  // a known scene: "" when the line holds together.
  std::string refusal() {
    // What no option took: an unknown option, or a value with no option before it.
    std::vector<std::string> extras = app_.remaining();
    extras.erase(std::remove(extras.begin(), extras.end(), "--"), extras.end());
    if (!extras.empty()) {
      const std::string& first = extras.front();
      if (first.rfind("-", 0) == 0 && first.size() > 1)
        return "there is no option " + first.substr(0, first.find('='));
      return "\"" + first + "\" is not an option, nor the value of one";
    }
    for (const auto& [name, option] : files())
      if (option->count() && option->as<std::string>().empty())
        return std::string(name) + " needs a file name, not an empty text";
    for (const std::string& file : export_files_)
      if (file.empty()) return "--export needs file names, not an empty text";
    std::vector<std::string> given;
    for (const auto& [name, option] : modes())
      if (option->count()) given.emplace_back(name);
    if (given.size() > 1)
      return given[0] + " and " + given[1] + " cannot be given together: choose one";
    // Several boards: each --board, then each line of --boards.
    if (boards_file_->count() && !run_->count()) return "--boards goes with --run";
    if (boards_file_->count()) {
      std::ifstream in(boards_file_text_);
      std::ostringstream text;
      text << in.rdbuf();
      if (!in.is_open() || in.bad()) return "--boards: " + boards_file_text_ + " cannot be read";
      std::string problem;
      const auto listed = board_lines(text.str(), problem);
      if (!problem.empty()) return "--boards " + boards_file_text_ + ": " + problem;
      o_.boards.insert(o_.boards.end(), listed.begin(), listed.end());
    }
    if (o_.boards.size() > 1 && !run_->count())
      return "several boards go with --run: the window works on one board";
    for (std::size_t i = 0; i < o_.boards.size(); ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (o_.boards[i] == o_.boards[j])
          return "the board " + o_.boards[i] + " is given twice: give each board once";
    // Who runs and where: kept with the runs of --run and of the window's tools.
    for (auto* of_runs : {operator_, station_, dut_})
      for (auto* without_runs : {export_, sample_, measure_})
        if (of_runs->count() && without_runs->count())
          return of_runs->get_name() + " goes with --run or the bench's window";
    for (auto* of_runs : {operator_, station_})
      if (of_runs->count() && results_export_->count())
        return of_runs->get_name() + " goes with --run or the bench's window";
    if (results_->count() &&
        (export_->count() || sample_->count() || demo_->count() || measure_->count()))
      return "--results goes with --run, --results-export or the bench's window";
    if (from_->count() && to_->count() && *o_.from >= *o_.to) return "--from must be before --to";
    const std::tuple<const char*, CLI::Option*, CLI::Option*, const char*> belongs[] = {
        {"--sequence", sequence_name_, results_export_, "--results-export"},
        {"--outcome", outcome_, results_export_, "--results-export"},
        {"--from", from_, results_export_, "--results-export"},
        {"--to", to_, results_export_, "--results-export"},
        {"--busy", busy_, measure_, "--measure"},
        {"--all-tools", all_tools_, measure_, "--measure"},
        {"--adc-hours", hours_, measure_, "--measure"},
        {"--report", report_, run_, "--run"},
        {"--overwrite", overwrite_, export_, "--export"}};
    for (const auto& [name, option, mode, mode_name] : belongs)
      if (option->count() && !mode->count()) return std::string(name) + " goes with " + mode_name;
    const bool served = !o_.boards.empty();
    for (auto* of_a_server : {token_file_, tls_ca_})
      if (of_a_server->count() && !served) return of_a_server->get_name() + " goes with --board";
    // A served board takes the built-in one's place in the window and in a
    // run; the demo's scenes need the built-in board, the files no board.
    for (auto* without_board : {export_, demo_, sample_, results_export_})
      if (served && without_board->count())
        return "--board does not go with " + without_board->get_name();
    // The sensor is the built-in board's: a served board has its own.
    if (sensor_->count() && served)
      return "--sensor does not go with --board: a served board has its own sensor";
    for (auto* without_board : {export_, sample_})
      if (sensor_->count() && without_board->count())
        return "--sensor does not go with " + without_board->get_name();
    if (demo_->count() && !o_.demo_scene.empty() &&
        std::find(kDemoScenes.begin(), kDemoScenes.end(), o_.demo_scene) == kDemoScenes.end())
      return "--demo: there is no scene \"" + o_.demo_scene +
             "\"; the scenes are unplugged, refused, playback, sweep, sequence, log and help";
    return "";
  }

  // The mode the line asks for, with the export's two files.
  void settle_mode() {
    if (demo_->count()) o_.mode = PravelOptions::Mode::Demo;
    if (measure_->count()) o_.mode = PravelOptions::Mode::Measure;
    if (run_->count()) o_.mode = PravelOptions::Mode::Run;
    if (sample_->count()) o_.mode = PravelOptions::Mode::SampleBitstream;
    if (results_export_->count()) o_.mode = PravelOptions::Mode::ResultsExport;
    if (!o_.boards.empty()) o_.board = o_.boards.front();
    if (export_->count()) {
      o_.mode = PravelOptions::Mode::Export;
      o_.recording = export_files_.at(0);
      o_.export_to = export_files_.at(1);
    }
    if (sensor_->count()) o_.sensor = parse_simulated_sensor(sensor_text_);
  }

 private:
  // The options whose value names one file.
  std::vector<std::pair<const char*, CLI::Option*>> files() const {
    return {{"--run", run_},
            {"--report", report_},
            {"--token-file", token_file_},
            {"--tls-ca", tls_ca_},
            {"--sample-bitstream", sample_},
            {"--boards", boards_file_},
            {"--results-export", results_export_}};
  }
  std::vector<std::pair<const char*, CLI::Option*>> modes() const {
    return {{"--demo", demo_},
            {"--measure", measure_},
            {"--run", run_},
            {"--export", export_},
            {"--sample-bitstream", sample_},
            {"--results-export", results_export_}};
  }

  void declare_modes() {
    app_.add_flag("--version", version_, "Print the version and exit");
    app_.add_flag("--desktop", o_.desktop,
                  "Work in the user's data folder ($XDG_DATA_HOME/pravel or "
                  "~/.local/share/pravel), as the desktop menu starts it");
    demo_ = app_.add_option("--demo", o_.demo_scene,
                            "Open the bench with every tool window and the acquisition running, "
                            "or one scene of it")
                ->expected(0, 1)
                ->type_name("[SCENE]");
    measure_ = app_.add_option("--measure", o_.measure_seconds,
                               "Run the acquisition SECONDS (0 < SECONDS <= 86400), log the "
                               "rates, the frames drawn and the memory used, and quit")
                   ->type_name("SECONDS")
                   ->check(within(0, 86400, false, "seconds"));
    run_ = app_.add_option("--run", o_.sequence,
                           "Run the test sequence SEQUENCE.json on the simulated board without "
                           "a window; exit 0 when every expectation held, 1 when one failed, 2 "
                           "when the sequence was refused or did not end")
               ->type_name("SEQUENCE.json");
    export_ = app_.add_option("--export", export_files_,
                              "Export the recording REC.raw to the HDF5 file OUT.h5 and quit; "
                              "exit 0 when the file is complete, 1 otherwise")
                  ->expected(2)
                  ->type_name("REC.raw OUT.h5");
    sample_ = app_.add_option("--sample-bitstream", o_.sample_path,
                              "Write a 3 MiB sample bitstream (design \"aer640_sample\") to PATH, "
                              "making its folder when missing, and quit")
                  ->type_name("PATH");
  }

  void declare_details() {
    busy_ = app_.add_flag("--busy", o_.busy,
                          "With --measure: thresholds that make about 20 M events/s");
    all_tools_ = app_.add_flag("--all-tools", o_.all_tools,
                               "With --measure: the ADC monitor (4 channels at 10 ms), Rates and "
                               "a recording running all the while");
    hours_ = app_.add_option("--adc-hours", o_.adc_hours,
                             "With --measure: fill the ADC history with HOURS (0..24) of "
                             "samples at 10 ms and open the ADC monitor first")
                 ->type_name("HOURS")
                 ->check(within(0, 24, true, "hours"));
    board_ = app_.add_option("--board", o_.boards,
                             "Work on the board served at HOST:PORT (pravel-board, or a real "
                             "board's server) instead of the built-in simulated board: in the "
                             "window, and with --run; given again with --run, the run works on "
                             "every board at once")
                 ->type_name("HOST:PORT")
                 ->check(board_address());
    sensor_ =
        app_.add_option("--sensor", sensor_text_,
                        "The built-in simulated board's sensor: 640x480 (the AER-640, "
                        "the default) or 320x240 (the AER-320, two ADC channels, no test "
                        "pattern, no serial port); in the window, --demo, --measure and --run")
            ->type_name("640x480|320x240")
            ->check(simulated_sensor());
    token_file_ = app_.add_option("--token-file", o_.token_file,
                                  "With --board: the board server's token, in the file F")
                      ->type_name("F");
    tls_ca_ = app_.add_option("--tls-ca", o_.tls_ca,
                              "With --board: reach the board server over TLS, its certificate "
                              "signed by the CA certificate in the file F")
                  ->type_name("F");
    report_ = app_.add_option("--report", o_.report,
                              "With --run: write the CSV report to OUT.csv (default: "
                              "reports/<sequence>_<date>_<time>.csv)")
                  ->type_name("OUT.csv");
    overwrite_ =
        app_.add_flag("--overwrite", o_.overwrite, "With --export: replace OUT.h5 when it exists");
    declare_results();
  }

  void declare_results() {
    boards_file_ = app_.add_option("--boards", boards_file_text_,
                                   "With --run: also work on every board the file F lists, one "
                                   "HOST:PORT a line (# starts a comment)")
                       ->type_name("F");
    operator_ =
        app_.add_option(
                "--operator", o_.operator_name,
                "The operator, kept with each run's test record (--run and the window's tools)")
            ->type_name("NAME")
            ->check(name_text("the operator's name"));
    dut_ = app_.add_option("--dut", o_.dut,
                           "The device under test, kept with each run when the board gives no "
                           "chip id; with --results-export: only its runs")
               ->type_name("ID")
               ->check(name_text("the device's id"));
    station_ = app_.add_option("--station", o_.station,
                               "The station's name kept with each run (default: the host's name)")
                   ->type_name("NAME")
                   ->check(name_text("the station's name"));
    results_ = app_.add_option("--results", o_.results,
                               "Keep every run's test record in the lab's PostgreSQL database "
                               "too, besides the bench's results.db")
                   ->type_name("postgresql://HOST/DATABASE")
                   ->check(database_address());
    results_export_ = app_.add_option("--results-export", o_.results_export,
                                      "Write the runs the results store keeps to FILE.csv and "
                                      "quit; --dut, --sequence, --outcome, --from and --to "
                                      "choose the runs")
                          ->type_name("FILE.csv");
    sequence_name_ = app_.add_option("--sequence", o_.sequence_name,
                                     "With --results-export: only the runs of this sequence file")
                         ->type_name("NAME.json")
                         ->check(name_text("the sequence file's name"));
    outcome_ = app_.add_option("--outcome", o_.outcome,
                               "With --results-export: only the runs that ended so")
                   ->type_name("PASS|FAIL|ERROR|ABORTED|INCOMPLETE")
                   ->transform(outcome_word());
    from_ = app_.add_option("--from", from_text_,
                            "With --results-export: only the runs started at or after this time "
                            "(UTC)")
                ->type_name("YYYY-MM-DD[THH:MM[:SS]]")
                ->check(utc_time())
                ->each([this](const std::string& text) { o_.from = utc_micros_of(text); });
    to_ = app_.add_option("--to", to_text_,
                          "With --results-export: only the runs started before this time (UTC)")
              ->type_name("YYYY-MM-DD[THH:MM[:SS]]")
              ->check(utc_time())
              ->each([this](const std::string& text) { o_.to = utc_micros_of(text); });
  }

  PravelOptions& o_;
  CLI::App app_;
  bool version_ = false;
  std::vector<std::string> export_files_;
  std::string sensor_text_, boards_file_text_, from_text_, to_text_;
  CLI::Option *demo_ = nullptr, *measure_ = nullptr, *run_ = nullptr, *export_ = nullptr,
              *sample_ = nullptr, *busy_ = nullptr, *all_tools_ = nullptr, *hours_ = nullptr,
              *report_ = nullptr, *board_ = nullptr, *token_file_ = nullptr, *overwrite_ = nullptr,
              *sensor_ = nullptr, *tls_ca_ = nullptr, *boards_file_ = nullptr, *operator_ = nullptr,
              *dut_ = nullptr, *station_ = nullptr, *results_ = nullptr, *results_export_ = nullptr,
              *sequence_name_ = nullptr, *outcome_ = nullptr, *from_ = nullptr, *to_ = nullptr;
};

}  // namespace

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments) {
  ParsedCommandLine parsed;
  PravelCommandLine line(parsed.options);
  if (const std::string twice = given_twice(arguments); !twice.empty()) {
    parsed.exit_status = 2;
    parsed.text = sentence(twice);
    return parsed;
  }
  try {
    line.parse(arguments);
  } catch (const CLI::CallForHelp&) {
    parsed.exit_status = 0;
    parsed.text = line.help();
    return parsed;
  } catch (const CLI::ParseError& e) {
    parsed.exit_status = 2;
    parsed.text = sentence(refusal_of(e));
    return parsed;
  }
  if (const std::string refusal = line.refusal(); !refusal.empty()) {
    parsed.exit_status = 2;
    parsed.text = sentence(refusal);
    return parsed;
  }
  if (line.version_asked()) {
    parsed.exit_status = 0;
    parsed.text = std::string("pravel ") + kVersion + " (Zelvar_Core " + kVersion + ")\n";
    return parsed;
  }
  line.settle_mode();
  return parsed;
}

}  // namespace Zelvar_Core::bench
