#include "Zelvar_Core/Views/tolmar.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

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
  void SetUp() override { fs::remove_all("tmp"); }
};

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
