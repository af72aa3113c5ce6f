#include "bench/host/app/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
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
    {"--demo", "one scene at most", "--demo [SCENE]"}};

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
  std::string refusal() const {
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
    const std::tuple<const char*, CLI::Option*, CLI::Option*, const char*> belongs[] = {
        {"--busy", busy_, measure_, "--measure"},
        {"--all-tools", all_tools_, measure_, "--measure"},
        {"--adc-hours", hours_, measure_, "--measure"},
        {"--report", report_, run_, "--run"},
        {"--token-file", token_file_, board_, "--board"},
        {"--tls-ca", tls_ca_, board_, "--board"},
        {"--overwrite", overwrite_, export_, "--export"}};
    for (const auto& [name, option, mode, mode_name] : belongs)
      if (option->count() && !mode->count()) return std::string(name) + " goes with " + mode_name;
    // A served board takes the built-in one's place in the window and in a
    // run; the demo's scenes need the built-in board, the files no board.
    for (auto* without_board : {export_, demo_, sample_})
      if (board_->count() && without_board->count())
        return "--board does not go with " + without_board->get_name();
    // The sensor is the built-in board's: a served board has its own.
    if (sensor_->count() && board_->count())
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
            {"--sample-bitstream", sample_}};
  }
  std::vector<std::pair<const char*, CLI::Option*>> modes() const {
    return {{"--demo", demo_},
            {"--measure", measure_},
            {"--run", run_},
            {"--export", export_},
            {"--sample-bitstream", sample_}};
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
    board_ = app_.add_option("--board", o_.board,
                             "Work on the board served at HOST:PORT (pravel-board, or a real "
                             "board's server) instead of the built-in simulated board: in the "
                             "window, and with --run")
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
  }

  PravelOptions& o_;
  CLI::App app_;
  bool version_ = false;
  std::vector<std::string> export_files_;
  std::string sensor_text_;
  CLI::Option *demo_ = nullptr, *measure_ = nullptr, *run_ = nullptr, *export_ = nullptr,
              *sample_ = nullptr, *busy_ = nullptr, *all_tools_ = nullptr, *hours_ = nullptr,
              *report_ = nullptr, *board_ = nullptr, *token_file_ = nullptr, *overwrite_ = nullptr,
              *sensor_ = nullptr, *tls_ca_ = nullptr;
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
