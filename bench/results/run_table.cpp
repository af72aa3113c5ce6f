#include "bench/results/run_table.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <set>
#include <string_view>
#include <unordered_map>

namespace Zelvar_Core::bench::results {

namespace {

constexpr UtcMicros kMicrosPerSecond = 1000000;

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (a T in place
// of the blank too), read as UTC; whether a time of day was given.
std::optional<std::pair<UtcMicros, bool>> parse_utc(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  std::tm tm{};
  int hour = 0, minute = 0, second = 0;
  char separator = ' ';
  int consumed = 0;
  int fields =
      std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &consumed);
  if (fields != 3 || consumed != 10) return std::nullopt;
  bool with_time = false;
  if (text.size() > 10) {
    separator = text[10];
    if (separator != ' ' && separator != 'T') return std::nullopt;
    int tail = 0;
    fields = std::sscanf(text.c_str() + 11, "%2d:%2d%n", &hour, &minute, &tail);
    if (fields != 2 || tail != 5) return std::nullopt;
    std::size_t end = 16;
    if (text.size() > 16) {
      fields = std::sscanf(text.c_str() + 16, ":%2d%n", &second, &tail);
      if (fields != 1 || tail != 3) return std::nullopt;
      end = 19;
    }
    if (text.size() != end) return std::nullopt;
    with_time = true;
  }
  if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || hour > 23 ||
      minute > 59 || second > 59 || hour < 0 || minute < 0 || second < 0)
    return std::nullopt;
  const int day = tm.tm_mday, month = tm.tm_mon;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const std::time_t seconds = timegm(&tm);
  // A day the month does not have (2026-02-30) comes back as another.
  if (tm.tm_mday != day || tm.tm_mon != month - 1) return std::nullopt;
  return std::make_pair(static_cast<UtcMicros>(seconds) * kMicrosPerSecond, with_time);
}

// A number as the table and the summary show it: enough digits, no more.
std::string number(double value) { return fmt::format("{:.6g}", value); }

std::string with_unit(double value, const std::string& unit) {
  return unit.empty() ? number(value) : number(value) + " " + unit;
}

}  // namespace

std::string utc_seconds_text(UtcMicros when) {
  const UtcMicros floor_seconds =
      when >= 0 ? when / kMicrosPerSecond : -((-when + kMicrosPerSecond - 1) / kMicrosPerSecond);
  const std::time_t seconds = static_cast<std::time_t>(floor_seconds);
  std::tm tm{};
  if (gmtime_r(&seconds, &tm) == nullptr) return "?";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

RunFilter filter_from_text(const FilterText& text) {
  RunFilter filter;
  filter.dut = text.dut;
  filter.sequence = text.sequence;
  if (!text.outcome.empty()) {
    filter.outcome = outcome_named(text.outcome);
    if (!filter.outcome)
      throw FilterRefusal(FilterRefusal::Outcome, "\"" + text.outcome + "\" is not an outcome");
  }
  const auto time_of = [](const std::string& field, FilterRefusal::Field which,
                          const char* label) -> std::optional<std::pair<UtcMicros, bool>> {
    if (field.find_first_not_of(' ') == std::string::npos) return std::nullopt;
    auto when = parse_utc(field);
    if (!when)
      throw FilterRefusal(which, fmt::format("{} \"{}\" is not a time: write it as 2026-12-09 or "
                                             "2026-12-09 14:05 (UTC)",
                                             label, field));
    return when;
  };
  if (const auto from = time_of(text.from, FilterRefusal::From, "From")) filter.from = from->first;
  if (const auto to = time_of(text.to, FilterRefusal::To, "To")) {
    // A day alone counts the whole day in.
    filter.to = to->second ? to->first : to->first + 24 * 3600 * kMicrosPerSecond;
  }
  if (filter.from && filter.to && *filter.to <= *filter.from)
    throw FilterRefusal(FilterRefusal::To, "To \"" + text.to + "\" is not after From \"" +
                                               text.from + "\": no run could be shown");
  return filter;
}

std::string sequence_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool lets_through(const RunFilter& filter, const RunSummary& run) {
  if (!filter.dut.empty() && run.dut != filter.dut) return false;
  if (!filter.sequence.empty() && sequence_name(run.sequence) != filter.sequence) return false;
  if (filter.outcome && run.outcome != *filter.outcome) return false;
  if (filter.from && run.started < *filter.from) return false;
  if (filter.to && run.started >= *filter.to) return false;
  return true;
}

const char* RunTable::heading(int column) {
  static const char* const headings[kColumns] = {"Started (UTC)", "DUT", "Station", "Sequence",
                                                 "Outcome"};
  return column >= 0 && column < kColumns ? headings[column] : "";
}

void RunTable::read(ResultsStore& store) { set_runs(store.list(RunFilter{})); }

void RunTable::set_runs(std::vector<RunSummary> runs) {
  runs_ = std::move(runs);
  measurement_.reset();
  points_.clear();
  point_runs_.clear();
  apply(filter_);
}

void RunTable::apply(const RunFilter& filter) {
  filter_ = filter;
  shown_.clear();
  shown_.reserve(runs_.size());
  is_shown_.assign(runs_.size(), false);
  const bool everything = filter.dut.empty() && filter.sequence.empty() && !filter.outcome &&
                          !filter.from && !filter.to;
  for (std::size_t i = 0; i < runs_.size(); ++i)
    if (everything || lets_through(filter, runs_[i])) {
      shown_.push_back(static_cast<std::uint32_t>(i));
      is_shown_[i] = true;
    }
}

void RunTable::keep_measurement(const std::string& name, std::vector<MeasurementPoint> points) {
  std::unordered_map<std::string_view, std::uint32_t> index;
  index.reserve(runs_.size());
  for (std::size_t i = 0; i < runs_.size(); ++i)
    index.emplace(runs_[i].run_id, static_cast<std::uint32_t>(i));
  points_.clear();
  point_runs_.clear();
  points_.reserve(points.size());
  point_runs_.reserve(points.size());
  for (auto& p : points) {
    const auto found = index.find(p.run_id);
    if (found == index.end()) continue;  // a run that ended after the runs were read
    point_runs_.push_back(found->second);
    points_.push_back(std::move(p));
  }
  measurement_ = name;
}

std::vector<MeasurementPoint> RunTable::measurement_shown() const {
  std::vector<MeasurementPoint> shown;
  shown.reserve(shown_.size() == runs_.size() ? points_.size() : shown_.size());
  for (std::size_t k = 0; k < points_.size(); ++k)
    if (is_shown_[point_runs_[k]]) shown.push_back(points_[k]);
  return shown;
}

std::string RunTable::cell(std::size_t row, int column) const {
  if (row >= shown_.size()) return "";
  const RunSummary& r = run(row);
  switch (column) {
    case Time:
      return utc_seconds_text(r.started);
    case Dut:
      return r.dut;
    case Station:
      return r.station;
    case Sequence:
      // A sweep or the self-test ran no sequence file: its kind instead.
      return r.sequence.empty() ? "(" + r.kind + ")" : sequence_name(r.sequence);
    case Result:
      return outcome_text(r.outcome);
    default:
      return "";
  }
}

std::optional<std::size_t> RunTable::row_of(const std::string& run_id) const {
  for (std::size_t row = 0; row < shown_.size(); ++row)
    if (run(row).run_id == run_id) return row;
  return std::nullopt;
}

std::vector<std::string> RunTable::duts() const {
  std::set<std::string> names;
  for (const auto& r : runs_)
    if (!r.dut.empty()) names.insert(r.dut);
  return {names.begin(), names.end()};
}

std::vector<std::string> RunTable::sequences() const {
  std::set<std::string> names;
  for (const auto& r : runs_)
    if (!r.sequence.empty()) names.insert(sequence_name(r.sequence));
  return {names.begin(), names.end()};
}

MeasurementSpread spread_of(const std::string& name, const std::vector<MeasurementPoint>& points,
                            int bins) {
  MeasurementSpread spread;
  spread.name = name;
  double sum = 0;
  for (const auto& p : points) {
    if (!std::isfinite(p.value)) continue;
    if (spread.values == 0) {
      spread.lowest = spread.highest = p.value;
    } else {
      spread.lowest = std::min(spread.lowest, p.value);
      spread.highest = std::max(spread.highest, p.value);
    }
    ++spread.values;
    sum += p.value;
    if (p.outcome == Outcome::Fail) ++spread.outside;
    if (!p.unit.empty()) spread.unit = p.unit;
    if (p.low || p.high) {  // the newest limits: the points come oldest first
      spread.low = p.low;
      spread.high = p.high;
    }
  }
  if (spread.values == 0) return spread;
  spread.mean = sum / static_cast<double>(spread.values);
  double squares = 0;
  for (const auto& p : points)
    if (std::isfinite(p.value)) squares += (p.value - spread.mean) * (p.value - spread.mean);
  spread.sd = spread.values > 1 ? std::sqrt(squares / static_cast<double>(spread.values - 1)) : 0;

  if (bins <= 0)
    bins = static_cast<int>(
        std::clamp(std::ceil(std::sqrt(static_cast<double>(spread.values))), 1.0, 60.0));
  spread.first_edge = spread.lowest;
  const double span = spread.highest - spread.lowest;
  // Every value equal: one bin about it, as wide as a bin of its size would be.
  spread.bin_width = span > 0 ? span / bins : std::max(std::abs(spread.lowest) * 0.01, 1e-9);
  if (!(span > 0)) {
    bins = 1;
    spread.first_edge = spread.lowest - spread.bin_width / 2;
  }
  spread.counts.assign(static_cast<std::size_t>(bins), 0);
  for (const auto& p : points) {
    if (!std::isfinite(p.value)) continue;
    auto k = static_cast<std::ptrdiff_t>((p.value - spread.first_edge) / spread.bin_width);
    // The highest value closes the last bin.
    k = std::clamp<std::ptrdiff_t>(k, 0, bins - 1);
    ++spread.counts[static_cast<std::size_t>(k)];
  }
  return spread;
}

std::string spread_text(const MeasurementSpread& spread) {
  if (spread.values == 0) return "No run shown holds " + spread.name;
  std::string text = fmt::format(
      "{} {}; mean {}, sd {}, from {} to {}", spread.values, spread.values == 1 ? "run" : "runs",
      with_unit(spread.mean, spread.unit), with_unit(spread.sd, spread.unit), number(spread.lowest),
      with_unit(spread.highest, spread.unit));
  if (spread.low || spread.high) text += fmt::format("; {} outside their limits", spread.outside);
  return text;
}

}  // namespace Zelvar_Core::bench::results
