#include "bench/results/csv_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace Zelvar_Core::bench::results {

namespace {

std::string number(double value) {
  char buffer[64];
  const auto done = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, done.ptr);
}

std::string optional_number(const std::optional<double>& value) {
  return value ? number(*value) : "";
}

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a
// line break, its quotes doubled.
std::string field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& path) : path_(path), temporary_(path + ".XXXXXX") {
    const int fd = mkstemp(temporary_.data());
    if (fd < 0) fail();
    file_ = fdopen(fd, "w");
    if (!file_) {
      const int error = errno;
      ::close(fd);
      unlink(temporary_.c_str());
      errno = error;
      fail();
    }
    if (fchmod(fd, 0644) != 0) fail_and_remove();
  }
  ~TemporaryFile() {
    if (file_) std::fclose(file_);
    if (!renamed_) unlink(temporary_.c_str());
  }

  void write_line(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i) line += ',';
      line += field(fields[i]);
    }
    line += "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) fail_and_remove();
  }

  void finish() {
    if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) fail_and_remove();
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) fail_and_remove();
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) fail_and_remove();
    renamed_ = true;
  }

 private:
  [[noreturn]] void fail() {
    throw ResultsError("The CSV file " + path_ + " cannot be written: " + std::strerror(errno) +
                       ".");
  }
  [[noreturn]] void fail_and_remove() {
    const int error = errno;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    unlink(temporary_.c_str());
    renamed_ = true;  // nothing left to remove
    errno = error;
    fail();
  }

  std::string path_, temporary_;
  std::FILE* file_ = nullptr;
  bool renamed_ = false;
};

}  // namespace

std::string utc_text(UtcMicros time) {
  const std::time_t seconds =
      static_cast<std::time_t>(time >= 0 ? time / 1'000'000 : (time - 999'999) / 1'000'000);
  const long micros = static_cast<long>(time - static_cast<UtcMicros>(seconds) * 1'000'000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, micros);
  return buffer;
}

const std::vector<std::string>& csv_columns() {
  static const std::vector<std::string> columns = {"run_id",
                                                   "started_utc",
                                                   "ended_utc",
                                                   "dut",
                                                   "station",
                                                   "operator",
                                                   "board_identity",
                                                   "board_serial",
                                                   "design",
                                                   "sequence_path",
                                                   "sequence_sha256",
                                                   "kind",
                                                   "bench_version",
                                                   "run_outcome",
                                                   "ended_because",
                                                   "step",
                                                   "measurement",
                                                   "value",
                                                   "unit",
                                                   "low",
                                                   "high",
                                                   "measurement_outcome"};
  return columns;
}

CsvExported export_runs_csv(ResultsStore& store, const RunFilter& filter, const std::string& path) {
  return export_runs_csv(store, filter, path, {});
}

CsvExported export_runs_csv(ResultsStore& store, const RunFilter& filter, const std::string& path,
                            const std::function<bool(std::size_t, std::size_t)>& go_on) {
  TemporaryFile out(path);
  out.write_line(csv_columns());
  CsvExported exported;
  const auto runs = store.list(filter);
  const auto stopped = [&](std::size_t done) {
    if (!go_on || go_on(done, runs.size())) return;
    // The temporary file goes with `out`.
    throw ExportStopped("The export to " + path + " was stopped; no file was written.");
  };
  for (std::size_t done = 0; done < runs.size(); ++done) {
    stopped(done);
    const auto& summary = runs[done];
    const auto record = store.load(summary.run_id);
    if (!record) continue;  // removed between the list and the load
    const std::vector<std::string> run = {record->run_id,          utc_text(record->started),
                                          utc_text(record->ended), record->dut,
                                          record->station,         record->operator_name,
                                          record->board_identity,  record->board_serial,
                                          record->design,          record->sequence_path,
                                          record->sequence_sha256, record->kind,
                                          record->bench_version,   outcome_text(record->outcome),
                                          record->ended_because};
    ++exported.runs;
    if (record->measurements.empty()) {
      auto row = run;
      row.resize(csv_columns().size());
      out.write_line(row);
      ++exported.rows;
    }
    for (const auto& m : record->measurements) {
      auto row = run;
      row.insert(row.end(),
                 {std::to_string(m.step), m.name, number(m.value), m.unit, optional_number(m.low),
                  optional_number(m.high), outcome_text(m.outcome)});
      out.write_line(row);
      ++exported.rows;
    }
  }
  stopped(runs.size());
  out.finish();
  return exported;
}

}  // namespace Zelvar_Core::bench::results
