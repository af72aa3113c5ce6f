// The bench's results file on the disk: made on first use in WAL mode, and a
// folder that cannot take it (read-only, full) told in one sentence naming
// the file, nothing half-kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "bench/results/sqlite_store.h"
#include "tests/support/results_fixture.h"

namespace Zelvar_Core::bench::results {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing_support::full_record;

// Runs `body` in a child process as an unprivileged user when the test runs
// as root (root writes into read-only folders) and returns what it returned;
// `limit_file_size` makes every file larger than that many bytes fail to
// grow, as a full disk does.
std::string in_child(const std::function<std::string()>& body, rlim_t limit_file_size = 0) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    std::string said;
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      said = "cannot become nobody";
    } else {
      if (limit_file_size) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{limit_file_size, limit_file_size};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      try {
        said = body();
      } catch (const std::exception& error) {
        said = std::string("threw: ") + error.what();
      }
    }
    const ssize_t written = write(pipe_ends[1], said.data(), said.size());
    _exit(written == static_cast<ssize_t>(said.size()) ? 0 : 1);
  }
  close(pipe_ends[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
    said.append(buffer, static_cast<std::size_t>(got));
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return said;
}

TEST(ResultsFile, IsMadeOnFirstUseInWriteAheadLogMode) {
  testing_support::ScratchFolder folder;
  const std::string path = folder.file("results.db");
  open_sqlite_store(path)->save(full_record());
  std::ifstream file(path, std::ios::binary);
  char header[20] = {};
  ASSERT_TRUE(file.read(header, sizeof header));
  EXPECT_EQ(std::string(header, 15), "SQLite format 3");
  // Bytes 18 and 19: the write and read versions, 2 for WAL.
  EXPECT_EQ(header[18], 2);
  EXPECT_EQ(header[19], 2);
}

TEST(ResultsFile, AReadOnlyFolderIsToldInOneSentenceNamingTheFile) {
  testing_support::ScratchFolder folder;
  const std::string path = folder.file("results.db");
  ASSERT_EQ(chmod(folder.path().c_str(), 0555), 0);
  const std::string said = in_child([&] {
    open_sqlite_store(path);
    return std::string("opened");
  });
  EXPECT_THAT(said, StartsWith("threw: The results file " + path + " cannot "));
  EXPECT_EQ(said.find('\n'), std::string::npos) << said;
  EXPECT_EQ(said.back(), '.') << said;
}

TEST(ResultsFile, AFullDiskLosesTheRunThatDidNotFitAndNothingElse) {
  testing_support::ScratchFolder folder;
  const std::string path = folder.file("results.db");
  const TestRecord kept = full_record(1);
  open_sqlite_store(path)->save(kept);
  ASSERT_EQ(chmod(folder.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  for (const char* side : {"-wal", "-shm"}) chmod((path + side).c_str(), 0666);
  TestRecord big = full_record(2);
  big.settings_before.emplace_back("notes", std::string(4 << 20, 'x'));
  const std::string said = in_child(
      [&] {
        auto store = open_sqlite_store(path);
        store->save(big);
        return std::string("kept");
      },
      1 << 20);
  EXPECT_THAT(said, StartsWith("threw: The results file " + path + " cannot keep the run " +
                               big.run_id + ": "));
  auto store = open_sqlite_store(path);
  EXPECT_EQ(store->load(big.run_id), std::nullopt);
  testing_support::expect_same_record(*store->load(kept.run_id), kept);
  EXPECT_EQ(store->list({}).size(), 1u);
}

}  // namespace
}  // namespace Zelvar_Core::bench::results
