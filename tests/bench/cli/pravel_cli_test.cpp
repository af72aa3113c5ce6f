// The bench program from the command line, without a display: what it does
// before (or instead of) starting the toolkit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/board/bitstream.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string output;  // standard output and error together
};

// Runs pravel in `folder` with no display and no standard input.
Outcome run_pravel(const fs::path& folder, const std::string& arguments) {
  const std::string command = "cd '" + folder.string() +
                              "' && env -u DISPLAY -u WAYLAND_DISPLAY '" +
                              std::string(PRAVEL_PATH) + "' " + arguments + " </dev/null 2>&1";
  Outcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
  const int raw = ::pclose(pipe);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return outcome;
}

fs::path fresh(const std::string& name) {
  const fs::path folder = fs::absolute(name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

TEST(StartUp, AFileWhereAFolderBelongsIsToldInOneSentenceAndTheProgramStops) {
  for (const std::string name : {"tmp", "logs", "captures"}) {
    const fs::path folder = fresh("start_" + name);
    std::ofstream(folder / name) << "in the way";
    const Outcome outcome = run_pravel(folder, "");
    EXPECT_EQ(outcome.status, 1) << name;
    EXPECT_EQ(outcome.output, "Cannot start: " + (folder / name).string() +
                                  " is a file, but the bench keeps " +
                                  (name == "tmp"    ? "its list of recent bitstreams"
                                   : name == "logs" ? "its log"
                                                    : "its captures") +
                                  " in a folder of that name; move the file away or start the "
                                  "bench in another folder.\n");
  }
}

TEST(SampleBitstream, MakesItsFolderOrSaysWhichOneItCouldNotMake) {
  const fs::path folder = fresh("sample");
  Outcome outcome = run_pravel(folder, "--sample-bitstream deep/er/sample.bit");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  std::ifstream in(folder / "deep/er/sample.bit", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const auto header = Zelvar_Core::bench::parse_bitstream_header(bytes);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->design, "aer640_sample");

  std::ofstream(folder / "blocked") << "a file";
  outcome = run_pravel(folder, "--sample-bitstream blocked/sample.bit");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.output.rfind("Cannot write the sample bitstream: the folder " +
                                     (folder / "blocked").string() + " cannot be made",
                                 0),
            0u)
      << outcome.output;
}

}  // namespace
