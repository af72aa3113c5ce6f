#include "bench/host/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <tuple>

#include "Zelvar_Core/version.h"

namespace Zelvar_Core::bench {

namespace {

const std::vector<std::string> kDemoScenes = {"unplugged", "refused",  "playback",
                                              "sweep",     "sequence", "log"};

// A number of seconds or hours within lo..hi: "nan", "inf" and "1e400" are
// refused like any other value outside the range.
std::string number(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
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

// CLI11's refusals, as one sentence that ends the line.
std::string sentence(std::string what) {
  while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
  if (!what.empty() && what.back() != '.') what += '.';
  return "pravel: " + what + " See pravel --help.\n";
}

}  // namespace

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments) {
  ParsedCommandLine parsed;
  PravelOptions& o = parsed.options;
  CLI::App app{
      "The AER sensor test bench on its simulated board. Without options it opens the bench; "
      "the options below run it in other ways, most of them without a display.",
      "pravel"};
  app.formatter(std::make_shared<Formatter>());
  app.get_formatter()->column_width(34);
  bool version = false;
  app.add_flag("--version", version, "Print the version and exit");
  app.add_flag("--desktop", o.desktop,
               "Work in the user's data folder ($XDG_DATA_HOME/pravel or "
               "~/.local/share/pravel), as the desktop menu starts it");
  auto* demo = app.add_option("--demo", o.demo_scene,
                              "Open the bench with every tool window and the acquisition running, "
                              "or one scene of it")
                   ->expected(0, 1)
                   ->type_name("[SCENE]");
  auto* measure =
      app.add_option("--measure", o.measure_seconds,
                     "Run the acquisition SECONDS (0 < SECONDS <= 86400), log the rates, the "
                     "frames drawn and the memory used, and quit")
          ->type_name("SECONDS")
          ->check(within(0, 86400, false, "seconds"));
  auto* busy =
      app.add_flag("--busy", o.busy, "With --measure: thresholds that make about 20 M events/s");
  auto* hours = app.add_option("--adc-hours", o.adc_hours,
                               "With --measure: fill the ADC history with HOURS (0..24) of "
                               "samples at 10 ms and open the ADC monitor first")
                    ->type_name("HOURS")
                    ->check(within(0, 24, true, "hours"));
  auto* run = app.add_option("--run", o.sequence,
                             "Run the test sequence SEQUENCE.json on the simulated board without "
                             "a window; exit 0 when every expectation held, 1 when one failed, 2 "
                             "when the sequence was refused or did not end")
                  ->type_name("SEQUENCE.json");
  auto* report = app.add_option("--report", o.report,
                                "With --run: write the CSV report to OUT.csv (default: "
                                "reports/<sequence>_<date>_<time>.csv)")
                     ->type_name("OUT.csv");
  std::vector<std::string> export_files;
  auto* exported = app.add_option("--export", export_files,
                                  "Export the recording REC.raw to the HDF5 file OUT.h5 and quit; "
                                  "exit 0 when the file is complete, 1 otherwise")
                       ->expected(2)
                       ->type_name("REC.raw OUT.h5");
  auto* overwrite =
      app.add_flag("--overwrite", o.overwrite, "With --export: replace OUT.h5 when it exists");
  auto* sample = app.add_option("--sample-bitstream", o.sample_path,
                                "Write a 3 MB sample bitstream (design \"aer640_sample\") to PATH, "
                                "making its folder when missing, and quit")
                     ->type_name("PATH");
  app.footer(
      "Files go under the folder the bench starts in: recordings/, reports/, captures/, "
      "presets/, logs/pravel.log and tmp/.");

  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    parsed.exit_status = 0;
    parsed.text = app.help();
    return parsed;
  } catch (const CLI::ParseError& e) {
    parsed.exit_status = 2;
    parsed.text = sentence(e.what());
    return parsed;
  }
  // One way of running at a time, and each option with the mode it belongs to.
  const std::vector<std::pair<const char*, CLI::Option*>> modes = {{"--demo", demo},
                                                                   {"--measure", measure},
                                                                   {"--run", run},
                                                                   {"--export", exported},
                                                                   {"--sample-bitstream", sample}};
  std::vector<std::string> given;
  for (const auto& [name, option] : modes)
    if (option->count()) given.emplace_back(name);
  const std::vector<std::tuple<const char*, CLI::Option*, CLI::Option*, const char*>> belongs = {
      {"--busy", busy, measure, "--measure"},
      {"--adc-hours", hours, measure, "--measure"},
      {"--report", report, run, "--run"},
      {"--overwrite", overwrite, exported, "--export"}};
  std::string refusal;
  if (given.size() > 1)
    refusal = given[0] + " and " + given[1] + " cannot be given together: choose one";
  for (const auto& [name, option, mode, mode_name] : belongs)
    if (refusal.empty() && option->count() && !mode->count())
      refusal = std::string(name) + " goes with " + mode_name;
  if (refusal.empty() && demo->count() && !o.demo_scene.empty() &&
      std::find(kDemoScenes.begin(), kDemoScenes.end(), o.demo_scene) == kDemoScenes.end())
    refusal = "--demo: there is no scene \"" + o.demo_scene +
              "\"; the scenes are unplugged, "
              "refused, playback, sweep, sequence and log";
  if (!refusal.empty()) {
    parsed.exit_status = 2;
    parsed.text = sentence(refusal);
    return parsed;
  }
  if (version) {
    parsed.exit_status = 0;
    parsed.text = std::string("pravel ") + kVersion + " (Zelvar_Core " + kVersion + ")\n";
    return parsed;
  }
  if (demo->count()) o.mode = PravelOptions::Mode::Demo;
  if (measure->count()) o.mode = PravelOptions::Mode::Measure;
  if (run->count()) o.mode = PravelOptions::Mode::Run;
  if (sample->count()) o.mode = PravelOptions::Mode::SampleBitstream;
  if (exported->count()) {
    o.mode = PravelOptions::Mode::Export;
    o.recording = export_files.at(0);
    o.export_to = export_files.at(1);
  }
  return parsed;
}

}  // namespace Zelvar_Core::bench
