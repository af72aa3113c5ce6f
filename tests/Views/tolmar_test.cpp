#include "Zelvar_Core/Views/tolmar.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/gui_harness.h"

namespace Zelvar_Core {
namespace {

namespace fs = std::filesystem;

std::vector<wxString> labels(const wxMenu& menu) {
  std::vector<wxString> result;
  for (const auto* item : menu.GetMenuItems()) result.push_back(item->GetItemLabel());
  return result;
}

class MenuBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all("tmp");
    testing_support::clear_wx_log_messages();
  }
  void TearDown() override { fs::remove_all("tmp"); }
  static void write_list(const std::string& content) {
    fs::create_directories("tmp");
    std::ofstream("tmp/.Pravel_recent_files", std::ios::binary) << content;
  }
  static std::string file_content(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  // The list file after the bar's history is saved into it, as the
  // delegates save it.
  static std::string saved_list(MainMenuBar& bar) {
    fs::create_directories("tmp");
    bar.menu_device->program_history->Save(*bar.menu_device->program_history_config);
    EXPECT_TRUE(bar.menu_device->program_history_config->Flush());
    return file_content("tmp/.Pravel_recent_files");
  }
  // The same history through a configuration bound to a file of its own:
  // what the toolkit writes for it.
  static std::string reference_list(const wxFileHistory& history) {
    fs::create_directories("tmp");
    fs::remove("tmp/reference");
    {
      wxFileConfig reference(kRecentFilesAppName, wxEmptyString,
                             fs::absolute("tmp/reference").string(), wxEmptyString,
                             wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_RELATIVE_PATH);
      wxFileHistory same;
      for (size_t i = history.GetCount(); i-- > 0;)
        same.AddFileToHistory(history.GetHistoryFile(i));
      same.Save(reference);
      EXPECT_TRUE(reference.Flush());
    }
    return file_content("tmp/reference");
  }
};

std::vector<std::string> history_of(const wxFileHistory& history) {
  std::vector<std::string> files;
  for (size_t i = 0; i < history.GetCount(); ++i)
    files.push_back(history.GetHistoryFile(i).utf8_string());
  return files;
}

TEST_F(MenuBarTest, FourMenusWithTheirItemsInOrder) {
  MainMenuBar bar(nullptr);
  ASSERT_EQ(bar.GetMenuCount(), 4u);
  EXPECT_EQ(bar.GetMenuLabel(0), "&Device");
  EXPECT_EQ(bar.GetMenuLabel(1), "&Edit");
  EXPECT_EQ(bar.GetMenuLabel(2), "&Image");
  EXPECT_EQ(bar.GetMenuLabel(3), "&Tools");
  EXPECT_EQ(bar.GetMenu(0), bar.menu_device);
  EXPECT_EQ(bar.GetMenu(3), bar.menu_tools);
  EXPECT_EQ(labels(*bar.menu_device),
            (std::vector<wxString>{"&Info", "&Program...", "Recent binary files"}));
  EXPECT_EQ(bar.menu_device->FindItemByPosition(2)->GetSubMenu(),
            bar.menu_device->item_program_history);
  EXPECT_EQ(labels(*bar.menu_edit),
            (std::vector<wxString>{"&Save preset as...", "&Load preset...", "&Device registers",
                                   "&Chip registers", "&DACs"}));
  EXPECT_EQ(labels(*bar.menu_image), std::vector<wxString>{"&Histogram"});
  EXPECT_EQ(labels(*bar.menu_tools),
            (std::vector<wxString>{"&Write SPI", "&ADCs", "&Execute test"}));
  EXPECT_EQ(bar.menu_edit->item_reg_chip->GetItemLabel(), "&Chip registers");
  EXPECT_EQ(bar.menu_tools->items.at("ADCs")->GetItemLabel(), "&ADCs");
  for (const auto* menu :
       {static_cast<wxMenu*>(bar.menu_device), static_cast<wxMenu*>(bar.menu_edit)}) {
    for (const auto* item : menu->GetMenuItems()) {
      EXPECT_FALSE(item->IsSeparator());
      EXPECT_TRUE(item->GetHelp().empty());
    }
  }
}

TEST_F(MenuBarTest, IdentifiersAreDistinctAndOutsideTheHistoryRange) {
  MainMenuBar bar(nullptr);
  bar.configure_tools({"Simulator", "Scope"});
  std::vector<wxMenuItem*> items = {
      bar.menu_device->item_info,      bar.menu_device->item_program,
      bar.menu_edit->item_save_preset, bar.menu_edit->item_load_preset,
      bar.menu_edit->item_reg_dev,     bar.menu_edit->item_reg_chip,
      bar.menu_edit->item_dac,         bar.menu_image->item_histogram};
  for (const auto& [name, item] : bar.menu_tools->items) items.push_back(item);
  std::set<int> ids;
  for (auto* item : items) {
    ids.insert(item->GetId());
    EXPECT_TRUE(item->GetId() < wxID_FILE1 || item->GetId() > wxID_FILE9) << item->GetId();
  }
  EXPECT_EQ(ids.size(), items.size());
}

TEST_F(MenuBarTest, NoHistoryFileGivesAnEmptySubMenu) {
  MainMenuBar bar(nullptr);
  EXPECT_EQ(bar.menu_device->program_history->GetCount(), 0u);
  EXPECT_EQ(bar.menu_device->item_program_history->GetMenuItemCount(), 0u);
  EXPECT_EQ(bar.menu_device->program_history->GetMenuPathStyle(), wxFH_PATH_SHOW_ALWAYS);
  EXPECT_EQ(bar.menu_device->program_history->GetBaseId(), wxID_FILE1);
  EXPECT_EQ(bar.menu_device->program_history->GetMaxFiles(), 9);
  EXPECT_FALSE(fs::exists("tmp"));  // reading creates nothing
}

TEST_F(MenuBarTest, StoredListIsShownMostRecentFirstWithFullPaths) {
  fs::create_directories("tmp");
  const std::string cwd = fs::current_path().string();
  {
    std::ofstream file("tmp/.Pravel_recent_files");
    file << "file1=" << cwd << "/newest.bit\nfile2=" << cwd << "/older.bit\n";
  }
  MainMenuBar bar(nullptr);
  auto* menu = bar.menu_device->item_program_history;
  ASSERT_EQ(menu->GetMenuItemCount(), 2u);
  EXPECT_EQ(menu->FindItemByPosition(0)->GetId(), wxID_FILE1);
  EXPECT_EQ(menu->FindItemByPosition(1)->GetId(), wxID_FILE1 + 1);
  EXPECT_NE(menu->FindItemByPosition(0)->GetItemLabelText().Find(cwd + "/newest.bit"), wxNOT_FOUND);
  EXPECT_NE(menu->FindItemByPosition(1)->GetItemLabelText().Find(cwd + "/older.bit"), wxNOT_FOUND);
}

TEST_F(MenuBarTest, PathsComeBackAsWrittenWithDollarsAndNonAsciiNames) {
  fs::create_directories("tmp");
  const std::vector<wxString> paths = {
      "/data/$HOME/run/top.bit", wxString::FromUTF8("/mesures/capteur \xc3\xa9t\xc3\xa9/top.bit"),
      "/lab/${USER}%s {}/a b.bit"};
  {
    MainMenuBar bar(nullptr);
    for (auto it = paths.rbegin(); it != paths.rend(); ++it)
      bar.menu_device->program_history->AddFileToHistory(*it);
    bar.menu_device->program_history->Save(*bar.menu_device->program_history_config);
    ASSERT_TRUE(bar.menu_device->program_history_config->Flush());
  }
  MainMenuBar fresh(nullptr);
  auto& history = *fresh.menu_device->program_history;
  ASSERT_EQ(history.GetCount(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(history.GetHistoryFile(i), paths[i]);
}

TEST_F(MenuBarTest, LinesThatAreNoEntryArePassedOverAndTheEntriesKeptInOrder) {
  const char junk[] = "file2=/\xff\xfe.bit\n\x80\x81=\x00\x01\n";
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"=\nfile1=/a.bit\n", {"/a.bit"}},
      {"file2=/b.bit\nfile1=/a.bit\n", {"/a.bit", "/b.bit"}},  // out of order
      {"file1=/a.bit\nfile3=/c.bit\nfile9=/i.bit\n", {"/a.bit", "/c.bit", "/i.bit"}},  // gaps
      {"file1=\nfile2= /b.bit\r\n", {"/b.bit"}},           // an empty entry, as saving leaves them
      {"file1=/old.bit\nfile1=/new.bit\n", {"/new.bit"}},  // the later line counts
      {"no equals sign\n[unclosed group\nfile1=/a.bit\n", {"/a.bit"}},
      {"file1=/a.bit\\\nfile2=\"/stray\"quote.bit\"\nfile3=/c.bit\n", {"/c.bit"}},
      {"file1=/caf\xc3\xa9.bit\n" + std::string(junk, sizeof junk - 1), {"/caf\xc3\xa9.bit"}},
      {"file1=/" + std::string(100000, 'x') + ".bit\nfile2=/b.bit\n", {"/b.bit"}},
      {"file1=/a.bit\n[other]\nfile2=/b.bit\n[]\nfile3=/c.bit\n", {"/a.bit", "/c.bit"}},
      {"file0=/z.bit\nfile10=/j.bit\nfilex=/x.bit\nfile4=/d.bit\n", {"/d.bit"}},
      {"\xef\xbb\xbf"
       "file1=/a.bit\n",
       {"/a.bit"}},
  };
  for (const auto& [content, expected] : cases) {
    write_list(content);
    MainMenuBar bar(nullptr);
    EXPECT_EQ(history_of(*bar.menu_device->program_history), expected) << content.substr(0, 80);
    EXPECT_EQ(bar.menu_device->item_program_history->GetMenuItemCount(), expected.size());
    EXPECT_EQ(testing_support::wx_log_messages(), std::vector<std::string>{})
        << content.substr(0, 80);
    testing_support::clear_wx_log_messages();
  }
}

// Files the toolkit's own reader takes without a word read the same here.
TEST_F(MenuBarTest, CleanFilesReadAsTheToolkitsReaderReadsThem) {
  const std::vector<std::string> files = {
      "file1=/a b.bit\nfile2=  /after spaces.bit\nfile3=/trailing  \n",
      "file1=\"  leading\"\nfile2=back\\\\slash\nfile3=tab\\there\nfile4=/x\\q.bit\n",
      "file1=\"quoted \\\" inside\"\nfile2=\"\"\n",
      "; a comment\n# another\n\n  FILE1 = /upper.bit\n",
      "file1=/a.bit\r\nfile2=/b.bit\r\n",
      "[group]\nfile1=/in a group.bit\n[/]\nfile1=/top.bit\nfile2=/$HOME/%s.bit\n",
  };
  for (const std::string& content : files) {
    write_list(content);
    testing_support::clear_wx_log_messages();
    wxFileConfig toolkit(kRecentFilesAppName, wxEmptyString,
                         fs::absolute("tmp/.Pravel_recent_files").string(), wxEmptyString,
                         wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_RELATIVE_PATH);
    toolkit.SetExpandEnvVars(false);
    wxFileHistory expected;
    expected.Load(toolkit);
    ASSERT_EQ(testing_support::wx_log_messages(), std::vector<std::string>{}) << content;
    MainMenuBar bar(nullptr);
    EXPECT_EQ(history_of(*bar.menu_device->program_history), history_of(expected)) << content;
  }
}

TEST_F(MenuBarTest, TheListIsStoredExactlyAsAConfigurationFileStoresIt) {
  MainMenuBar bar(nullptr);
  auto& history = *bar.menu_device->program_history;
  for (const char* file : {"/lab/a.bit", "  leading spaces.bit", "/back\\slash \"q\".bit"})
    history.AddFileToHistory(file);
  EXPECT_EQ(saved_list(bar), reference_list(history));
  EXPECT_EQ(history_of(history).size(), 3u);
  EXPECT_EQ(testing_support::wx_log_messages(), std::vector<std::string>{});
}

// The file may hold more than the list: comments, other groups and keys,
// lines this program cannot read. Saving the list replaces its entries
// only, where they stood, and keeps every other line in its order.
TEST_F(MenuBarTest, SavingKeepsEveryLineThatIsNoRecentEntryInOrder) {
  const std::string bad_utf8 = "title=caf\xe9\n", overlong = "note=" + std::string(20000, 'n');
  const struct {
    std::string before, kept_before, kept_after;
  } cases[] = {
      // Entries among comments and another group: they stand where file1 stood.
      {"; my bench\n# lab 3\nfile1=/old/a.bit\nfile2=/old/b.bit\ncolour=blue\n[Window]\n"
       "x=10\nfile1=/not/mine.bit\n",
       "; my bench\n# lab 3\n", "colour=blue\n[Window]\nx=10\nfile1=/not/mine.bit\n"},
      // No entry yet: the entries close the top group, before [Other].
      {"# kept\nkey=value\n[Other]\n; inside\nk=v\n", "# kept\nkey=value\n",
       "[Other]\n; inside\nk=v\n"},
      // Lines that are no entry, even fileN-like ones, and bytes that are not UTF-8.
      {"=\ngarbage\nfile0=/z.bit\nfile10=/j.bit\n" + bad_utf8 + overlong + "\nfile3=/c.bit\n",
       "=\ngarbage\nfile0=/z.bit\nfile10=/j.bit\n" + bad_utf8 + overlong + "\n", ""},
      // A top group reopened further down holds entries too; CR LF lines come back as LF.
      {"[a]\r\nk=1\r\n[/]\r\nfile1=/top.bit\r\n# end\r\n", "[a]\nk=1\n[/]\n", "# end\n"},
  };
  for (const auto& c : cases) {
    write_list(c.before);
    MainMenuBar bar(nullptr);
    auto& history = *bar.menu_device->program_history;
    history.AddFileToHistory("/lab/new.bit");
    EXPECT_EQ(saved_list(bar), c.kept_before + reference_list(history) + c.kept_after)
        << c.before.substr(0, 60);
    // Read again, the list is the one saved.
    MainMenuBar again(nullptr);
    EXPECT_EQ(history_of(*again.menu_device->program_history), history_of(history));
  }
  EXPECT_EQ(testing_support::wx_log_messages(), std::vector<std::string>{});
}

// A file too large to be a list is read from its start, but never written
// over: what it holds beyond would be lost.
TEST_F(MenuBarTest, AFileTooLargeToKeepIsNotWrittenOver) {
  const std::string big = "file1=/a.bit\n" + std::string(5 << 20, '#') + "\n";
  write_list(big);
  MainMenuBar bar(nullptr);
  EXPECT_EQ(history_of(*bar.menu_device->program_history), std::vector<std::string>{"/a.bit"});
  bar.menu_device->program_history->AddFileToHistory("/lab/b.bit");
  bar.menu_device->program_history->Save(*bar.menu_device->program_history_config);
  EXPECT_FALSE(bar.menu_device->program_history_config->Flush());
  EXPECT_EQ(file_content("tmp/.Pravel_recent_files"), big);
}

// What stands at the list's place but is no file (a FIFO nobody writes to,
// a folder) is neither waited on nor written over.
TEST_F(MenuBarTest, AFifoOrAFolderInTheListsPlaceIsNeitherReadNorReplaced) {
  for (const bool fifo : {true, false}) {
    fs::remove_all("tmp");
    fs::create_directories("tmp");
    if (fifo)
      ASSERT_EQ(mkfifo("tmp/.Pravel_recent_files", 0600), 0);
    else
      fs::create_directories("tmp/.Pravel_recent_files");
    MainMenuBar bar(nullptr);
    EXPECT_EQ(bar.menu_device->program_history->GetCount(), 0u);
    bar.menu_device->program_history->AddFileToHistory("/lab/a.bit");
    bar.menu_device->program_history->Save(*bar.menu_device->program_history_config);
    EXPECT_FALSE(bar.menu_device->program_history_config->Flush());
    EXPECT_EQ(fs::status("tmp/.Pravel_recent_files").type(),
              fifo ? fs::file_type::fifo : fs::file_type::directory);
  }
  EXPECT_EQ(testing_support::wx_log_messages(), std::vector<std::string>{});
}

TEST_F(MenuBarTest, AListThatCannotBeWrittenSaysSoByItsResultAlone) {
  MainMenuBar bar(nullptr);  // its folder does not exist
  bar.menu_device->program_history->AddFileToHistory("/lab/a.bit");
  bar.menu_device->program_history->Save(*bar.menu_device->program_history_config);
  EXPECT_FALSE(bar.menu_device->program_history_config->Flush());
  EXPECT_EQ(testing_support::wx_log_messages(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists("tmp"));
}

TEST_F(MenuBarTest, ConfiguredToolsAreAppendedAndARepeatedNameReplacesTheEntry) {
  MainMenuBar bar(nullptr);
  bar.configure_tools({});
  EXPECT_EQ(bar.menu_tools->GetMenuItemCount(), 3u);
  wxMenuItem* first_adcs = bar.menu_tools->items.at("ADCs");
  bar.configure_tools({"simulator", "ADCs"});
  EXPECT_EQ(labels(*bar.menu_tools),
            (std::vector<wxString>{"&Write SPI", "&ADCs", "&Execute test", "&simulator", "&ADCs"}));
  EXPECT_NE(bar.menu_tools->items.at("ADCs"), first_adcs);
  EXPECT_EQ(bar.menu_tools->items.at("ADCs"), bar.menu_tools->FindItemByPosition(4));
  EXPECT_EQ(bar.menu_tools->items.size(), 4u);
  EXPECT_EQ(bar.view, nullptr);
}

}  // namespace
}  // namespace Zelvar_Core
