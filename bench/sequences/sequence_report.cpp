#include "bench/sequences/sequence_report.h"

#include <fmt/format.h>

#include <cmath>

#include "bench/sequences/csv.h"

namespace Zelvar_Core::bench {

namespace {

std::string cell(double value, const char* format) {
  return std::isfinite(value) ? fmt::format(fmt::runtime(format), value) : "";
}

}  // namespace

std::string expectations_text(const SequenceReport& report) {
  return fmt::format("{} of {} expectations held ({} of {} rows in range)",
                     report.expect_steps - report.failed_steps, report.expect_steps,
                     report.expects - report.failed, report.expects);
}

std::string report_csv(const Sequence& sequence, const SequenceReport& report,
                       const Settings& settings, const BoardDeclaration& board) {
  std::string csv = "# sequence " + sequence.path + "\n";
  // Before the run; every row below carries the settings in force for it.
  std::vector<std::string> keys, before;
  for (const auto& [key, value] : settings) {
    if (key == "date" || key == "board") {
      csv += "# " + key + " " + value + "\n";
    } else {
      keys.push_back(key);
      before.push_back(key + " " + value);
    }
  }
  csv += "# before the run: " + fmt::format("{}", fmt::join(before, ", ")) + "\n";
  csv += fmt::format("# result {}\n", report.completed ? expectations_text(report) : report.ended);
  csv += "step,kind,parameter,value";
  const std::vector<std::string> columns = measurement_columns(board.adc_channels);
  for (const auto& column : columns) csv += "," + csv_text(column);
  csv += ",expect,min,max,measured,unit,result,note";
  for (const auto& key : keys) csv += "," + csv_text(setting_column(key, board));
  csv += "\n";
  for (const ReportRow& row : report.rows) {
    csv += fmt::format("{},{},{},{}", row.step, row.kind, row.parameter,
                       row.value ? std::to_string(*row.value) : "");
    if (row.measurement && row.kind != "expect")
      csv += measurement_cells(*row.measurement);
    else
      csv += std::string(columns.size(), ',');
    if (row.kind == "expect")
      csv +=
          fmt::format(",{},{:g},{:g},{},{},{}", row.expected, row.min, row.max,
                      cell(row.measured, "{:g}"), csv_text(row.unit), row.passed ? "pass" : "fail");
    else
      csv += ",,,,,,";
    csv += "," + csv_text(row.note);
    csv += settings_cells(row.in_force, keys);
    csv += "\n";
  }
  return csv;
}

}  // namespace Zelvar_Core::bench
