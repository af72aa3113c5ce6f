// Bitstream programming from the dialog and the recent list, the list's
// file, and presets.
#include <wx/filedlg.h>
#include <wx/filename.h>

#include <filesystem>
#include <fstream>

#include "tests/Controllers/delegates_fixture.h"

namespace Zelvar_Core::testing_support {
namespace {

namespace fs = std::filesystem;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Throw;

std::string make_bitstream(const std::string& name) {
  fs::create_directories("bits");
  const fs::path path = fs::absolute(fs::path("bits") / name);
  std::ofstream(path) << "bitstream " << name;
  return path.string();
}

std::vector<std::string> history_of(const wxFileHistory& history) {
  std::vector<std::string> files;
  for (size_t i = 0; i < history.GetCount(); ++i)
    files.push_back(history.GetHistoryFile(i).utf8_string());
  return files;
}

// The list as a freshly started program would read it.
std::vector<std::string> stored_history() {
  MainMenuBar bar(nullptr);
  return history_of(*bar.menu_device->program_history);
}

class ProgramTest : public DelegatesTest {
 protected:
  void SetUp() override {
    fs::remove_all("tmp");
    fs::create_directories("tmp");
    DelegatesTest::SetUp();
  }
  wxFileHistory& history() { return *window->menu_bar->menu_device->program_history; }
  void seed_history(const std::vector<std::string>& files) {  // oldest first
    for (const auto& f : files) history().AddFileToHistory(wxString::FromUTF8(f));
  }
};

TEST_F(ProgramTest, AcceptedDialogProgramsReadsThenRecordsAndSavesTheFile) {
  const std::string path = make_bitstream("top.bit");
  answer_next_file_dialog(path);
  InSequence order;
  EXPECT_CALL(device, program(path)).WillOnce(Invoke([&](const std::string&) {
    EXPECT_EQ(model.binary_file, path);
    EXPECT_EQ(history().GetCount(), 0u);
  }));
  EXPECT_CALL(model, read_dev_registers()).WillOnce(Invoke([&] {
    EXPECT_EQ(history().GetCount(), 0u);
  }));
  delegates->on_program();

  const auto& dialog = last_file_dialog();
  EXPECT_EQ(dialog.message, "Open bitstream file");
  EXPECT_EQ(dialog.wildcard, "Bitstream files (*.bit)|*.bit");
  EXPECT_EQ(dialog.style & (wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_CHANGE_DIR),
            wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_CHANGE_DIR);
  EXPECT_EQ(dialog.directory, "");
  EXPECT_EQ(dialog.filename, "");
  EXPECT_EQ(history_of(history()), std::vector<std::string>{path});
  EXPECT_EQ(stored_history(), std::vector<std::string>{path});
  EXPECT_EQ(window->menu_bar->menu_device->item_program_history->GetMenuItemCount(), 1u);
}

TEST_F(ProgramTest, CancelledDialogChangesNothing) {
  model.binary_file = "/old.bit";
  cancel_next_file_dialog();
  delegates->on_program();
  EXPECT_EQ(model.binary_file, "/old.bit");
  EXPECT_EQ(history().GetCount(), 0u);
  EXPECT_FALSE(fs::exists("tmp/.Pravel_recent_files"));
}

TEST_F(ProgramTest, SameFileTwiceLeavesOneEntryOnTop) {
  const std::string a = make_bitstream("a.bit"), b = make_bitstream("b.bit");
  EXPECT_CALL(device, program).Times(3);
  EXPECT_CALL(model, read_dev_registers()).Times(3);
  for (const auto& p : {a, b, a}) {
    answer_next_file_dialog(p);
    delegates->on_program();
  }
  EXPECT_EQ(history_of(history()), (std::vector<std::string>{a, b}));
  EXPECT_EQ(stored_history(), (std::vector<std::string>{a, b}));
}

TEST_F(ProgramTest, FailedProgrammingKeepsPathButNeitherReadsNorRecords) {
  const std::string path = make_bitstream("bad.bit");
  answer_next_file_dialog(path);
  EXPECT_CALL(device, program(path)).WillOnce(Throw(std::runtime_error("CRC error")));
  EXPECT_THROW(delegates->on_program(), std::runtime_error);
  EXPECT_EQ(model.binary_file, path);
  EXPECT_EQ(history().GetCount(), 0u);
  EXPECT_FALSE(fs::exists("tmp/.Pravel_recent_files"));
  for (auto* w : wxTopLevelWindows) EXPECT_EQ(dynamic_cast<wxFileDialog*>(w), nullptr);
}

TEST_F(ProgramTest, ListIsWrittenWhereItIsReadEvenAfterTheFolderChanged) {
  const std::string path = make_bitstream("moved.bit");
  const fs::path start = fs::current_path();
  fs::create_directories("elsewhere");
  fs::current_path("elsewhere");  // as the dialog's folder change does
  answer_next_file_dialog(path);
  EXPECT_CALL(device, program(path));
  EXPECT_CALL(model, read_dev_registers());
  delegates->on_program();
  fs::current_path(start);
  EXPECT_FALSE(fs::exists("elsewhere/tmp/.Pravel_recent_files"));
  EXPECT_EQ(stored_history(), std::vector<std::string>{path});
}

TEST_F(ProgramTest, MissingListFolderIsCreatedWhenSaving) {
  fs::remove_all("tmp");
  const std::string path = make_bitstream("first.bit");
  answer_next_file_dialog(path);
  EXPECT_CALL(device, program(path));
  EXPECT_CALL(model, read_dev_registers());
  delegates->on_program();
  EXPECT_TRUE(fs::exists("tmp/.Pravel_recent_files"));
  EXPECT_EQ(stored_history(), std::vector<std::string>{path});
}

TEST_F(ProgramTest, AListThatCannotBeSavedIsToldOnceAndKeptInMemory) {
  fs::remove_all("tmp");
  std::ofstream("tmp") << "a file where the list's folder belongs";
  const std::string path = make_bitstream("kept.bit");
  answer_next_file_dialog(path);
  EXPECT_CALL(device, program(path));
  EXPECT_CALL(model, read_dev_registers());
  delegates->on_program();
  const std::string file = window->menu_bar->menu_device->program_history_path.utf8_string();
  EXPECT_EQ(logs(), std::vector<LogRecord>{presenter_log(
                        spdlog::level::err,
                        "The list of recent bitstreams was not saved to " + file + ": its folder " +
                            fs::path(file).parent_path().string() + " cannot be made.")});
  EXPECT_EQ(history_of(history()), std::vector<std::string>{path});
  fs::remove("tmp");
}

TEST_F(ProgramTest, AMissingMenuPartIsAnErrorNamingItNotACrash) {
  window->menu_bar->menu_device->program_history.reset();
  try {
    delegates->on_program_recent_file(0);
    ADD_FAILURE() << "no error";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "the host did not provide menu_device.program_history");
  }
  auto* bar = window->menu_bar;
  window->menu_bar = nullptr;
  try {
    delegates->on_program_recent_file(0);
    ADD_FAILURE() << "no error";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "the host did not provide menu_bar");
  }
  window->menu_bar = bar;
}

TEST_F(ProgramTest, RecentEntryMovesToTopBeforeProgramming) {
  const std::string a = make_bitstream("a.bit"), b = make_bitstream("b.bit"),
                    c = make_bitstream("c.bit");
  seed_history({a, b, c});  // shown c, b, a
  InSequence order;
  EXPECT_CALL(device, program(a)).WillOnce(Invoke([&](const std::string&) {
    EXPECT_EQ(history_of(history()), (std::vector<std::string>{a, c, b}));
    EXPECT_EQ(model.binary_file, a);
  }));
  EXPECT_CALL(model, read_dev_registers());
  delegates->on_program_recent_file(2);
  EXPECT_EQ(stored_history(), (std::vector<std::string>{a, c, b}));
  EXPECT_TRUE(logs().empty());
}

TEST_F(ProgramTest, VanishedRecentFileIsReportedRemovedAndSaved) {
  const std::string a = make_bitstream("a.bit"), gone = make_bitstream("gone {} %s.bit"),
                    c = make_bitstream("c.bit");
  seed_history({a, gone, c});  // shown c, gone, a
  fs::remove(gone);
  model.binary_file = "/current.bit";
  delegates->on_program_recent_file(1);
  EXPECT_EQ(logs(), (std::vector<LogRecord>{presenter_log(
                        spdlog::level::err, "The file " + gone + " doesn't exist.")}));
  EXPECT_EQ(history_of(history()), (std::vector<std::string>{c, a}));
  EXPECT_EQ(stored_history(), (std::vector<std::string>{c, a}));
  EXPECT_EQ(model.binary_file, "/current.bit");
}

TEST_F(ProgramTest, RecentNumberTheListDoesNotHoldReadsNothingOutOfBounds) {
  const std::string a = make_bitstream("a.bit");
  seed_history({a});
  delegates->on_program_recent_file(8);
  delegates->on_program_recent_file(-1);
  EXPECT_EQ(history_of(history()), std::vector<std::string>{a});
  ASSERT_EQ(logs().size(), 2u);
  EXPECT_EQ(logs()[0], presenter_log(spdlog::level::err, "The file  doesn't exist."));
}

TEST_F(ProgramTest, FailedRecentProgrammingMovesInMemoryButDoesNotSave) {
  const std::string a = make_bitstream("a.bit"), b = make_bitstream("b.bit");
  seed_history({a, b});
  delegates->on_program_recent_file(5);  // writes the list as it is: b, a
  ASSERT_EQ(stored_history(), (std::vector<std::string>{b, a}));
  EXPECT_CALL(device, program(a)).WillOnce(Throw(std::runtime_error("timeout")));
  EXPECT_THROW(delegates->on_program_recent_file(1), std::runtime_error);
  EXPECT_EQ(history_of(history()), (std::vector<std::string>{a, b}));
  EXPECT_EQ(model.binary_file, a);
  EXPECT_EQ(stored_history(), (std::vector<std::string>{b, a}));
}

TEST_F(ProgramTest, MenuBarLoadsUpToNineEntriesMostRecentFirst) {
  std::vector<std::string> files;
  for (int i = 0; i < 11; ++i) files.push_back(make_bitstream("f" + std::to_string(i) + ".bit"));
  seed_history(files);
  delegates->on_program_recent_file(20);  // saves the list unchanged
  MainMenuBar bar(nullptr);
  const auto& menu = *bar.menu_device->item_program_history;
  ASSERT_EQ(menu.GetMenuItemCount(), 9u);
  for (size_t i = 0; i < 9; ++i) {
    const auto* item = menu.FindItemByPosition(i);
    EXPECT_EQ(item->GetId(), wxID_FILE1 + static_cast<int>(i));
    EXPECT_NE(item->GetItemLabelText().Find(wxString::FromUTF8(files[10 - i])), wxNOT_FOUND);
  }
}

TEST_F(DelegatesTest, PresetsAreOnePresenterCallEach) {
  InSequence order;
  EXPECT_CALL(presenter, save_preset());
  EXPECT_CALL(presenter, load_preset());
  const int dialogs = file_dialogs_seen();
  delegates->on_save_preset();
  delegates->on_load_preset();
  EXPECT_EQ(file_dialogs_seen(), dialogs);
}

}  // namespace
}  // namespace Zelvar_Core::testing_support
