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

namespace {

// The repository's example sequences, in a folder of their own with the
// sample bitstream the smoke test programs.
fs::path examples() {
  const fs::path folder = fresh("examples");
  fs::copy(SEQUENCES_DIR, folder / "sequences", fs::copy_options::recursive);
  const Outcome sample = run_pravel(folder, "--sample-bitstream sequences/bits/aer640_sample.bit");
  EXPECT_EQ(sample.status, 0) << sample.output;
  return folder;
}

TEST(RunSequence, TheExampleSequencesPassWithoutADisplay) {
  const fs::path folder = examples();
  for (const char* name : {"smoke_test", "threshold_sweep"}) {
    const Outcome outcome = run_pravel(
        folder, std::string("--run sequences/") + name + ".json --report " + name + ".csv");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("expectations held; report " + std::string(name) + ".csv"),
              std::string::npos)
        << outcome.output;
    EXPECT_TRUE(fs::exists(folder / (std::string(name) + ".csv")));
  }
  EXPECT_FALSE(fs::is_empty(folder / "recordings")) << "the smoke test records two seconds";
}

TEST(RunSequence, ExitStatusIsOneForAFailedExpectationAndTwoForARefusalOrAFailure) {
  const fs::path folder = fresh("statuses");
  std::ofstream(folder / "fails.json")
      << R"({"steps": [{"measure": 0.3}, {"expect": "on_rate_mean", "min": 0, "max": 1}]})";
  std::ofstream(folder / "refused.json") << R"({"steps": [{"set": "VTH_ON", "value": 9999}]})";
  std::ofstream(folder / "breaks.json") << R"({"steps": [{"program": "empty.bit"}]})";
  std::ofstream(folder / "empty.bit").close();
  Outcome outcome = run_pravel(folder, "--run fails.json");
  EXPECT_EQ(outcome.status, 1) << outcome.output;
  EXPECT_NE(outcome.output.find("[2/2] expect on_rate_mean in 0..1: FAIL ("), std::string::npos)
      << outcome.output;
  outcome = run_pravel(folder, "--run refused.json");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.output, "Refused: Step 1: VTH_ON: 9999 is out of range 0..4095.\n");
  outcome = run_pravel(folder, "--run breaks.json");
  EXPECT_EQ(outcome.status, 2) << outcome.output;
  EXPECT_NE(outcome.output.find("ended at step 1"), std::string::npos) << outcome.output;
  EXPECT_EQ(run_pravel(folder, "--run").status, 2);
}

TEST(Export, ARecordingBecomesHdf5WithoutADisplay) {
  const fs::path folder = examples();
  ASSERT_EQ(run_pravel(folder, "--run sequences/smoke_test.json").status, 0);
  const fs::path recording = fs::directory_iterator(folder / "recordings")->path();
  const Outcome outcome = run_pravel(folder, "--export '" + recording.string() + "' out.h5");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_EQ(outcome.output.rfind("Exported ", 0), 0u) << outcome.output;
  EXPECT_GT(fs::file_size(folder / "out.h5"), 100000u);
  EXPECT_EQ(run_pravel(folder, "--export missing.raw out.h5").output,
            "Cannot open the recording missing.raw: no such file.\n");
}

}  // namespace

namespace {

TEST(Desktop, FromTheMenuTheBenchWorksInItsOwnDataFolder) {
  const fs::path home = fresh("home");
  const std::string command = "cd / && env -u DISPLAY -u XDG_DATA_HOME HOME='" + home.string() +
                              "' '" + PRAVEL_PATH +
                              "' --desktop --sample-bitstream bits/sample.bit 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(fs::exists(home / ".local/share/pravel/bits/sample.bit"));
  const fs::path data = fresh("xdg");
  const std::string with_xdg = "cd / && env -u DISPLAY XDG_DATA_HOME='" + data.string() + "' '" +
                               PRAVEL_PATH + "' --desktop --sample-bitstream bits/sample.bit 2>&1";
  ASSERT_EQ(std::system(with_xdg.c_str()), 0);
  EXPECT_TRUE(fs::exists(data / "pravel/bits/sample.bit"));
  EXPECT_EQ(run_pravel(home, "--version").output, "pravel 1.0.0 (Zelvar_Core 1.0.0)\n");
}

}  // namespace
