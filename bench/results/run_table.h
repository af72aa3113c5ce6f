// What the Results window shows of the store, without the window: the runs
// as a table the filters narrow, and one measurement across the runs shown
// as a histogram and as a trend over time. The window's list asks for one
// cell at a time, so a table of 100,000 runs is read from the store once
// and filtered here, never copied into widgets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/results/results_store.h"

namespace Zelvar_Core::bench::results {

// "2026-12-09 14:05:31": a time in UTC, to the second.
std::string utc_seconds_text(UtcMicros when);

// The filter's fields as the user typed them. The times are UTC, as
// "2026-12-09" or "2026-12-09 14:05"; a day alone in To counts that whole
// day in. An empty field does not filter; outcome is a word of
// outcome_text() or empty.
struct FilterText {
  std::string dut, sequence, outcome, from, to;
};

// A field the filter could not take, and why, in one sentence.
class FilterRefusal : public std::invalid_argument {
 public:
  enum Field { Dut, Sequence, Outcome, From, To };
  FilterRefusal(Field field_, const std::string& why) : std::invalid_argument(why), field(field_) {}
  Field field;
};

// The filter the fields describe; throws FilterRefusal for a time that is
// not one or a span that ends before it starts.
RunFilter filter_from_text(const FilterText& text);

// The sequence file's name without its folder: what the table shows and
// the filter matches.
std::string sequence_name(const std::string& path);

// Whether the filter lets the run through, as the store's list() decides.
bool lets_through(const RunFilter& filter, const RunSummary& run);

class RunTable {
 public:
  enum Column { Time, Dut, Station, Sequence, Result, kColumns };
  static const char* heading(int column);

  // Every run the store holds, newest first; the filter stays. Throws
  // ResultsError when the store cannot be read (the table is then unchanged).
  void read(ResultsStore& store);
  // The runs to show, newest first, in the place of those read.
  void set_runs(std::vector<RunSummary> runs);
  // Shows only the runs the filter lets through.
  void apply(const RunFilter& filter);
  const RunFilter& filter() const { return filter_; }

  std::size_t size() const { return shown_.size(); }  // runs shown
  std::size_t total() const { return runs_.size(); }  // runs read
  const RunSummary& run(std::size_t row) const { return runs_[shown_[row]]; }
  // The text of one cell, made when the list draws it.
  std::string cell(std::size_t row, int column) const;
  // The row showing the run, if it is shown.
  std::optional<std::size_t> row_of(const std::string& run_id) const;
  // The DUTs and sequence names among the runs read, sorted, for the filter's lists.
  std::vector<std::string> duts() const;
  std::vector<std::string> sequences() const;

  // One measurement of every run read (`points` as the store gives them,
  // oldest first, read with no filter), each point tied to its run here, so
  // that a filter picks the points of the runs it shows without asking the
  // store again. A point of a run not read is left out. Reading the runs
  // again forgets the measurement.
  void keep_measurement(const std::string& name, std::vector<MeasurementPoint> points);
  // The name of the measurement kept, if any.
  const std::optional<std::string>& measurement_kept() const { return measurement_; }
  // The kept measurement's points of the runs shown, oldest first.
  std::vector<MeasurementPoint> measurement_shown() const;

 private:
  std::vector<RunSummary> runs_;
  std::vector<std::uint32_t> shown_;  // indices into runs_, in their order
  std::vector<bool> is_shown_;        // by index into runs_
  RunFilter filter_;
  std::optional<std::string> measurement_;
  std::vector<MeasurementPoint> points_;
  std::vector<std::uint32_t> point_runs_;  // the index into runs_ of each point's run
};

// One measurement across runs, counted into bins of equal width between
// the lowest and the highest value, with the limits the newest run that
// had limits checked it against.
struct MeasurementSpread {
  std::string name, unit;
  std::size_t values = 0;   // finite values counted
  std::size_t outside = 0;  // of those, how many the runs' own limits failed
  double lowest = 0, highest = 0, mean = 0, sd = 0;
  double first_edge = 0, bin_width = 1;  // bin k holds [first_edge + k w, first_edge + (k+1) w)
  std::vector<std::size_t> counts;
  std::optional<double> low, high;
};

// The spread of `points` in `bins` bins, or as many as suit their number
// (the square root, from 1 to 60) when `bins` is 0.
MeasurementSpread spread_of(const std::string& name, const std::vector<MeasurementPoint>& points,
                            int bins = 0);

// "12 runs; mean 1.2 V, sd 0.01 V, from 1.18 to 1.23 V; 2 outside their limits"
std::string spread_text(const MeasurementSpread& spread);

}  // namespace Zelvar_Core::bench::results
