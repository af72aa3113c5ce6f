#include "bench/results/bench_results.h"

#include <algorithm>

#include "bench/results/postgres_module.h"
#include "bench/results/sqlite_store.h"

namespace Zelvar_Core::bench::results {

namespace {

std::string runs(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " run" : " runs");
}

}  // namespace

BenchResults::BenchResults(std::unique_ptr<RecordStore> local, std::string shared_url, Tell tell,
                           OutboxTiming timing)
    : local_(std::move(local)),
      shared_url_(std::move(shared_url)),
      tell_(tell ? std::move(tell) : [](const std::string&) {}),
      timing_(timing) {
  if (shared_url_.empty()) return;
  std::string why;
  if (!postgres_module_loads(why)) {
    // Not a database that may answer later: said once, and the runs wait in
    // the file for a session of a bench that has the module.
    tell_("The results database " + url_without_password(shared_url_) +
          " cannot be opened: " + why + "; the runs wait in " + local_->where() + ".");
    no_module_ = true;
    down_ = true;
    return;
  }
  // Runs left waiting by an earlier session go first.
  wake_ = true;
  sender_ = std::thread([this] { send_loop(); });
}

BenchResults::~BenchResults() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_up_.notify_all();
  if (sender_.joinable()) sender_.join();
}

std::string BenchResults::where() const {
  return shared_url_.empty() || no_module_ ? local_->where() : url_without_password(shared_url_);
}

std::string BenchResults::where_kept(const std::string& run_id) {
  if (shared_url_.empty()) return local_->where();
  const std::string database = url_without_password(shared_url_);
  auto waits = [&] {
    const auto ids = local_->pending();
    return std::find(ids.begin(), ids.end(), run_id) != ids.end();
  };
  try {
    if (!no_module_ && waits()) {
      std::string reason;
      send_waiting(reason);
    }
    if (!waits()) return database;
  } catch (const ResultsError&) {
  }
  return local_->where() + ", waiting to be sent to " + database;
}

std::string BenchResults::read_from() const {
  if (shared_url_.empty()) return local_->where();
  const std::string database = url_without_password(shared_url_);
  if (read_locally_)
    return local_->where() + " (the results database " + database + " did not answer)";
  return database;
}

std::size_t BenchResults::waiting() { return local_->pending().size(); }

void BenchResults::save(const TestRecord& record) { keep(record, false); }

void BenchResults::replace(const TestRecord& record) { keep(record, true); }

void BenchResults::keep(const TestRecord& record, bool replace) {
  if (shared_url_.empty()) {
    replace ? local_->replace(record) : local_->save(record);
    return;
  }
  try {
    if (replace) {
      std::lock_guard outbox(outbox_mutex_);
      local_->replace_pending(record);
      replaced_.push_back(record.run_id);
    } else {
      local_->save_pending(record);
    }
  } catch (const ResultsError& local_failure) {
    // The file cannot take it (read-only, full): the lab's database may.
    std::string reason;
    std::lock_guard lock(database_mutex_);
    RecordStore* remote = database(reason);
    if (!remote) throw;
    try {
      replace ? remote->replace(record) : remote->save(record);
    } catch (const ResultsError&) {
      throw local_failure;
    }
    tell_(std::string(local_failure.what()) + " The run went straight to " + remote->where() + ".");
    return;
  }
  {
    std::lock_guard lock(mutex_);
    wake_ = true;
  }
  wake_up_.notify_all();
}

RecordStore* BenchResults::database(std::string& reason) {
  if (!remote_) {
    try {
      remote_ = open_postgres_store(shared_url_, timing_.database);
    } catch (const ResultsError& error) {
      reason = error.what();
      down_ = true;
      return nullptr;
    }
  }
  return remote_.get();
}

long BenchResults::send_waiting(std::string& reason) {
  const auto ids = local_->pending();
  std::lock_guard lock(database_mutex_);
  if (ids.empty() && !down_) return 0;
  RecordStore* remote = database(reason);
  if (!remote) return -1;
  if (ids.empty()) {
    // Nothing to send, but the reads went to the file: is it back?
    try {
      remote->ping();
    } catch (const ResultsError& error) {
      reason = error.what();
      return -1;
    }
  }
  long sent = 0;
  for (const auto& id : ids) {
    {
      std::lock_guard stop_lock(mutex_);
      if (stopping_) return -1;
    }
    try {
      {
        std::lock_guard outbox(outbox_mutex_);
        replaced_.erase(std::remove(replaced_.begin(), replaced_.end(), id), replaced_.end());
      }
      // Replaced whole there: a run kept again here since it was sent goes again.
      if (auto record = local_->load(id)) remote->replace(*record);
    } catch (const ResultsError& error) {
      reason = error.what();
      down_ = true;
      return -1;
    }
    // Only now: a run whose sending was cut before the database's commit
    // is sent again, and the database keeps it once. A run replaced here
    // meanwhile waits to be sent again.
    std::lock_guard outbox(outbox_mutex_);
    if (std::find(replaced_.begin(), replaced_.end(), id) != replaced_.end()) continue;
    local_->mark_sent(id);
    ++sent;
  }
  down_ = false;
  return sent;
}

void BenchResults::send_loop() {
  auto pause = timing_.first_retry;
  bool failing = false;
  std::size_t told_waiting = 0;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (failing)
      wake_up_.wait_for(lock, pause, [this] { return stopping_ || wake_; });
    else
      wake_up_.wait(lock, [this] { return stopping_ || wake_; });
    if (stopping_) return;
    const bool woken = wake_;
    wake_ = false;
    lock.unlock();
    std::string reason;
    long sent = -1;
    try {
      sent = send_waiting(reason);
    } catch (const ResultsError& error) {  // the file could not be read
      reason = error.what();
    }
    std::size_t left = 0;
    try {
      left = local_->pending().size();
    } catch (const ResultsError&) {
    }
    lock.lock();
    if (stopping_) return;
    if (sent >= 0) {
      if (failing && sent > 0)
        tell_("The results database at " + where() +
              " answers again: " + runs(static_cast<std::size_t>(sent)) + " sent");
      failing = false;
      told_waiting = 0;
      pause = timing_.first_retry;
      continue;
    }
    if (!failing && !reason.empty()) tell_(reason);
    if (left > 0 && (!failing || (woken && left > told_waiting))) {
      tell_("The results database at " + where() + " does not answer: " + runs(left) +
            " kept here, sent when it answers");
      told_waiting = left;
    }
    pause = failing && !woken ? std::min(pause * 2, timing_.longest_retry) : pause;
    failing = true;
  }
}

template <typename Read>
auto BenchResults::read(Read reader) {
  if (!shared_url_.empty()) {
    std::lock_guard lock(database_mutex_);
    std::string reason;
    // While the database is known to be down, the file answers at once.
    if (!down_) {
      if (RecordStore* remote = database(reason)) {
        try {
          auto answer = reader(*remote);
          read_locally_ = false;
          return answer;
        } catch (const ResultsError&) {
          down_ = true;
          {
            std::lock_guard wake_lock(mutex_);
            wake_ = true;
          }
          wake_up_.notify_all();
        }
      }
    }
    read_locally_ = true;
  }
  return reader(*local_);
}

std::vector<RunSummary> BenchResults::list(const RunFilter& filter) {
  return read([&](ResultsStore& store) { return store.list(filter); });
}

std::optional<TestRecord> BenchResults::load(const std::string& run_id) {
  return read([&](ResultsStore& store) {
    auto record = store.load(run_id);
    // A run of this bench not sent yet is only in the file.
    return record ? record : local_->load(run_id);
  });
}

std::vector<MeasurementPoint> BenchResults::measurement(const std::string& name,
                                                        const RunFilter& filter) {
  return read([&](ResultsStore& store) { return store.measurement(name, filter); });
}

std::vector<std::string> BenchResults::measurement_names(const RunFilter& filter) {
  return read([&](ResultsStore& store) { return store.measurement_names(filter); });
}

std::unique_ptr<ResultsStore> open_bench_results(const std::string& data_folder,
                                                 const std::string& shared,
                                                 std::function<void(const std::string&)> tell,
                                                 OutboxTiming timing) {
  if (!shared.empty() && !is_postgres_url(shared))
    throw ResultsError("The results database " + url_without_password(shared) +
                       " is not a postgresql:// address.");
  std::unique_ptr<RecordStore> local;
  try {
    local = open_sqlite_store(data_folder + "/results.db");
  } catch (const ResultsError& local_failure) {
    if (shared.empty()) throw;
    // No file to keep runs in while the database is away: the database alone.
    std::unique_ptr<RecordStore> remote;
    try {
      remote = open_postgres_store(shared, timing.database);
    } catch (const ResultsError&) {
      throw local_failure;
    }
    if (tell) tell(local_failure.what());
    return remote;
  }
  if (shared.empty()) return local;
  return std::make_unique<BenchResults>(std::move(local), shared, std::move(tell), timing);
}

std::unique_ptr<ResultsStore> open_bench_results(const std::string& data_folder,
                                                 const std::string& shared,
                                                 std::function<void(const std::string&)> tell) {
  return open_bench_results(data_folder, shared, std::move(tell), OutboxTiming{});
}

}  // namespace Zelvar_Core::bench::results
