#include "bench/sequences/run_record.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "Zelvar_Core/version.h"

namespace Zelvar_Core::bench {

using results::Outcome;

std::string host_name() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return "";
  return name.data();
}

results::UtcMicros utc_now() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace {

// SHA-256 over a stream of bytes, as FIPS 180-4 defines it.
class Sha256 {
 public:
  void add(const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      block_[filled_++] = data[i];
      if (filled_ == 64) {
        compress();
        filled_ = 0;
      }
    }
    bytes_ += size;
  }
  std::string hex() {
    const std::uint64_t bits = bytes_ * 8;
    const unsigned char one = 0x80, zero = 0;
    add(&one, 1);
    while (filled_ != 56) add(&zero, 1);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    add(length, 8);
    std::string text;
    for (std::uint32_t word : h_) text += fmt::format("{:08x}", word);
    return text;
  }

 private:
  static std::uint32_t rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
  void compress() {
    static constexpr std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = std::uint32_t{block_[4 * i]} << 24 | std::uint32_t{block_[4 * i + 1]} << 16 |
             std::uint32_t{block_[4 * i + 2]} << 8 | std::uint32_t{block_[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6],
                  h = h_[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 =
          h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const std::uint32_t t2 =
          (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    h_[5] += f;
    h_[6] += g;
    h_[7] += h;
  }

  std::uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  unsigned char block_[64] = {};
  std::size_t filled_ = 0;
  std::uint64_t bytes_ = 0;
};

}  // namespace

std::string sha256_of_text(const std::string& bytes) {
  Sha256 digest;
  digest.add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return digest.hex();
}

std::string sha256_of_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + " cannot be read: " + std::strerror(errno));
  Sha256 digest;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    digest.add(reinterpret_cast<const unsigned char*>(buffer.data()),
               static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw std::runtime_error(path + " cannot be read to its end");
  return digest.hex();
}

results::FileRecord file_record(const std::string& role, const std::string& path) {
  namespace fs = std::filesystem;
  results::FileRecord file;
  file.role = role;
  file.path = fs::absolute(path).lexically_normal().string();
  std::error_code error;
  file.size = fs::file_size(file.path, error);
  if (error) throw std::runtime_error(file.path + " cannot be read: " + error.message());
  file.sha256 = sha256_of_file(file.path);
  return file;
}

std::string chip_id(BenchActions& bench) {
  try {
    const Register r = bench.register_named("CHIP_ID");
    if (!r.read_only) return "";
    return fmt::format("0x{:04X}", bench.get("CHIP_ID"));
  } catch (const std::exception&) {
    return "";  // a board without one, or one that cannot tell it now
  }
}

results::TestRecord record_start(const std::string& run_id, const std::string& kind,
                                 BenchActions& bench, const RunSite& site) {
  results::TestRecord record;
  record.run_id = run_id;
  record.kind = kind;
  record.started = utc_now();
  record.ended = record.started;
  record.station = site.station.empty() ? host_name() : site.station;
  record.operator_name = site.operator_name;
  const std::string chip = chip_id(bench);
  record.dut = chip.empty() ? site.dut : chip;
  record.settings_before = bench.settings();
  record.board_identity = setting(record.settings_before, "board");
  record.board_serial = bench.serial();
  record.design = setting(record.settings_before, "design");
  record.bench_version = kVersion;
  record.outcome = Outcome::Incomplete;
  return record;
}

RecordingStats FileNotingBench::record(double seconds) {
  try {
    const RecordingStats stats = bench_.record(seconds);
    const std::lock_guard lock(mutex_);
    files_.emplace_back("recording", stats.path);
    return stats;
  } catch (const RecordingCut& cut) {
    if (!cut.left.path.empty()) {
      const std::lock_guard lock(mutex_);
      files_.emplace_back("recording", cut.left.path);
    }
    throw;
  }
}

std::string FileNotingBench::capture() {
  const std::string path = bench_.capture();
  const std::lock_guard lock(mutex_);
  files_.emplace_back("capture", path);
  return path;
}

std::vector<std::pair<std::string, std::string>> FileNotingBench::files() const {
  const std::lock_guard lock(mutex_);
  return files_;
}

namespace {

const char* kind_name(StepKind kind) {
  switch (kind) {
    case StepKind::Program:
      return "program";
    case StepKind::Set:
      return "set";
    case StepKind::Wait:
      return "wait";
    case StepKind::Measure:
      return "measure";
    case StepKind::Sweep:
      return "sweep";
    case StepKind::Record:
      return "record";
    case StepKind::Capture:
      return "capture";
    case StepKind::Expect:
      return "expect";
  }
  return "";
}

// "on_rate_mean", or "on_rate_mean at VTH_ON 2400" for a sweep's row.
std::string measurement_name(const std::string& name, const std::string& parameter,
                             const std::optional<std::int64_t>& value) {
  return value ? fmt::format("{} at {} {}", name, parameter, *value) : name;
}

// Every finite value of a measurement, named and with its unit.
void add_measurements(std::vector<results::MeasurementRecord>& to, int step, const Measurement& m,
                      const std::string& parameter, const std::optional<std::int64_t>& value) {
  for (const std::string& name : Measurement::names(m.adc_channels)) {
    const double v = m.value(name);
    if (!std::isfinite(v)) continue;
    results::MeasurementRecord record;
    record.step = step;
    record.name = measurement_name(name, parameter, value);
    record.value = v;
    record.unit = Measurement::unit(name, m.adc_channels);
    to.push_back(std::move(record));
  }
}

Outcome ended_outcome(const std::string& ended) {
  return ended.rfind("aborted", 0) == 0 ? Outcome::Aborted : Outcome::Error;
}

// The files by path, size and SHA-256; one that cannot be read is named in `problems`.
void add_files(results::TestRecord& record,
               const std::vector<std::pair<std::string, std::string>>& files,
               std::vector<std::string>& problems) {
  for (const auto& [role, path] : files) {
    try {
      record.files.push_back(file_record(role, path));
    } catch (const std::runtime_error& e) {
      problems.push_back(e.what());
    }
  }
}

}  // namespace

SequenceRecord::SequenceRecord(results::TestRecord start, const Sequence& sequence,
                               std::function<void(const results::TestRecord&)> keep)
    : record_(std::move(start)), keep_(std::move(keep)) {
  record_.kind = "sequence";
  record_.sequence_path = std::filesystem::absolute(sequence.path).lexically_normal().string();
  try {
    record_.sequence_sha256 = sha256_of_file(record_.sequence_path);
  } catch (const std::runtime_error&) {
    // Read and checked whole a moment ago: a file gone since keeps its path only.
  }
  if (keep_) keep_(record_);
}

SequenceObserver SequenceRecord::observer(SequenceObserver inner) {
  SequenceObserver observer;
  observer.started = [this, inner](const Step& step) {
    started(step);
    if (inner.started) inner.started(step);
  };
  observer.done = [this, inner](const Step& step, const std::string& sentence) {
    done(step, sentence);
    if (inner.done) inner.done(step, sentence);
  };
  observer.row = [this, inner](const ReportRow& r) {
    row(r);
    if (inner.row) inner.row(r);
  };
  return observer;
}

void SequenceRecord::started(const Step& step) {
  current_ = &step;
  step_started_ = utc_now();
}

void SequenceRecord::done(const Step& step, const std::string& sentence) {
  results::StepRecord record;
  record.number = step.number;
  record.kind = kind_name(step.kind);
  record.what = step.describe() + ": " + sentence;
  const bool failed =
      std::find(failed_steps_.begin(), failed_steps_.end(), step.number) != failed_steps_.end();
  record.outcome = failed ? Outcome::Fail : Outcome::Pass;
  record.started = step_started_;
  record.ended = utc_now();
  record_.steps.push_back(std::move(record));
  record_.ended = record_.steps.back().ended;
  current_ = nullptr;
  if (keep_) keep_(record_);
}

void SequenceRecord::row(const ReportRow& r) {
  if ((r.kind == "measure" || r.kind == "sweep") && r.measurement) {
    add_measurements(record_.measurements, r.step, *r.measurement, r.parameter, r.value);
    return;
  }
  if (r.kind != "expect") return;
  if (!r.passed &&
      std::find(failed_steps_.begin(), failed_steps_.end(), r.step) == failed_steps_.end())
    failed_steps_.push_back(r.step);
  // The limits go on the value the expect tested; a value tested again
  // with other limits is listed again under the expect's step.
  const std::string name = measurement_name(r.expected, r.parameter, r.value);
  auto& all = record_.measurements;
  auto tested = std::find_if(all.rbegin(), all.rend(), [&](const results::MeasurementRecord& m) {
    return m.name == name && !m.low && !m.high;
  });
  results::MeasurementRecord* m = nullptr;
  if (tested != all.rend()) {
    m = &*tested;
  } else {
    all.emplace_back();
    m = &all.back();
    m->step = r.step;
    m->name = name;
    m->value = r.measured;
  }
  m->unit = r.unit;
  m->low = r.min;
  m->high = r.max;
  m->outcome = r.passed ? Outcome::Pass : Outcome::Fail;
}

const results::TestRecord& SequenceRecord::finish(
    const SequenceReport& report, const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<std::string> why;
  if (!report.completed) {
    const Outcome outcome = ended_outcome(report.ended);
    if (current_ != nullptr) {
      results::StepRecord step;
      step.number = current_->number;
      step.kind = kind_name(current_->kind);
      step.what = report.ended;
      step.outcome = outcome;
      step.started = step_started_;
      step.ended = utc_now();
      record_.steps.push_back(std::move(step));
    }
    record_.outcome = outcome;
    why.push_back(report.ended);
  } else if (report.failed > 0) {
    record_.outcome = Outcome::Fail;
    for (const results::StepRecord& step : record_.steps)
      if (step.outcome == Outcome::Fail)
        why.push_back(fmt::format("step {} ({})", step.number, step.what));
  } else {
    record_.outcome = Outcome::Pass;
  }
  add_files(record_, files, why);
  record_.ended = utc_now();
  record_.ended_because = fmt::format("{}", fmt::join(why, "; "));
  return record_;
}

results::TestRecord sweep_record(results::TestRecord record, const SweepPlan& plan,
                                 const SweepOutcome& outcome,
                                 const std::vector<AdcChannelDeclaration>& channels,
                                 const std::vector<std::pair<std::string, std::string>>& files) {
  record.kind = "sweep";
  int number = 0;
  for (const SweepRow& row : outcome.rows) {
    results::StepRecord step;
    step.number = ++number;
    step.kind = "sweep";
    step.what = fmt::format("{} {}{}: measured", plan.name, row.value,
                            plan.unit.empty() ? "" : " " + plan.unit);
    step.outcome = Outcome::Pass;
    record.steps.push_back(std::move(step));
    Measurement m = row.measurement;
    if (m.adc_channels.empty()) m.adc_channels = channels;
    add_measurements(record.measurements, number, m, plan.name, row.value);
  }
  std::vector<std::string> why;
  if (outcome.completed) {
    record.outcome = Outcome::Pass;
  } else {
    results::StepRecord step;
    step.number = ++number;
    step.kind = "sweep";
    step.what = outcome.ended + "; " + outcome.restored;
    step.outcome = ended_outcome(outcome.ended);
    record.steps.push_back(step);
    record.outcome = step.outcome;
    why.push_back(step.what);
  }
  add_files(record, files, why);
  record.ended = utc_now();
  record.ended_because = fmt::format("{}", fmt::join(why, "; "));
  return record;
}

}  // namespace Zelvar_Core::bench
