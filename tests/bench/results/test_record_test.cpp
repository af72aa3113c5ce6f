// The record's helpers: outcome words, run ids and checksums.
#include "bench/results/test_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>

#include "tests/support/results_fixture.h"

namespace Zelvar_Core::bench::results {
namespace {

TEST(TestRecord, OutcomeWordsReadBackAsTheirOutcomeAndNothingElseReadsAsOne) {
  for (Outcome o :
       {Outcome::Pass, Outcome::Fail, Outcome::Error, Outcome::Aborted, Outcome::Incomplete})
    EXPECT_EQ(outcome_named(outcome_text(o)), o) << outcome_text(o);
  EXPECT_STREQ(outcome_text(Outcome::Aborted), "ABORTED");
  EXPECT_EQ(outcome_named("pass"), std::nullopt);
  EXPECT_EQ(outcome_named(""), std::nullopt);
  EXPECT_EQ(outcome_named("PASSED"), std::nullopt);
}

TEST(TestRecord, RunIdsAreVersionFourUuidsAndNeverRepeat) {
  const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::string id = new_run_id();
    ASSERT_TRUE(std::regex_match(id, uuid)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(TestRecord, Sha256MatchesTheStandardVectors) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // 55, 56 and 64 bytes: the lengths where the padding takes one more block.
  EXPECT_EQ(sha256_hex(std::string(55, 'a')),
            "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(sha256_hex(std::string(56, 'a')),
            "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  EXPECT_EQ(sha256_hex(std::string(64, 'a')),
            "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(TestRecord, AFileChecksumReadsTheWholeFileAndAMissingFileIsNamed) {
  testing_support::ScratchFolder folder;
  const std::string path = folder.file("million.bin");
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(1'000'000, 'a');
  }
  EXPECT_EQ(sha256_of_file(path),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  try {
    sha256_of_file(folder.file("gone.raw"));
    FAIL() << "a missing file has no checksum";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr(folder.file("gone.raw")));
  }
}

TEST(TestRecord, TheStationDefaultsToTheHostName) {
  char name[256] = {};
  ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
  EXPECT_EQ(default_station_name(), std::string(name));
}

}  // namespace
}  // namespace Zelvar_Core::bench::results
