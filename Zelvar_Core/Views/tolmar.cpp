#include "Zelvar_Core/Views/tolmar.h"

#include <wx/filename.h>

namespace Zelvar_Core {

namespace {

wxMenuItem* append_item(wxMenu* menu, const wxString& label) {
  auto* item = new wxMenuItem(menu, wxNewId(), label);
  menu->Append(item);
  return item;
}

wxString absolute_config_path() {
  wxFileName file(wxString::FromUTF8(kRecentFilesConfig));
  file.MakeAbsolute();
  return file.GetFullPath();
}

}  // namespace

MainDeviceMenu::MainDeviceMenu() { config(); }

void MainDeviceMenu::config() {
  item_info = append_item(this, "&Info");
  item_program = append_item(this, "&Program...");
  program_history = std::make_unique<wxFileHistory>();
  program_history->SetMenuPathStyle(wxFH_PATH_SHOW_ALWAYS);
  program_history_path = absolute_config_path();
  program_history_config = std::make_unique<wxFileConfig>(
      kRecentFilesAppName, wxEmptyString, program_history_path, wxEmptyString,
      wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_SUBDIR | wxCONFIG_USE_RELATIVE_PATH);
  // Paths are kept as written: "$HOME" in a folder name is not a variable.
  program_history_config->SetExpandEnvVars(false);
  program_history->Load(*program_history_config);
  item_program_history = new wxMenu();
  program_history->UseMenu(item_program_history);
  program_history->AddFilesToMenu();
  AppendSubMenu(item_program_history, "Recent binary files");
}

MainEditMenu::MainEditMenu() { config(); }

void MainEditMenu::config() {
  item_save_preset = append_item(this, "&Save preset as...");
  item_load_preset = append_item(this, "&Load preset...");
  item_reg_dev = append_item(this, "&Device registers");
  item_reg_chip = append_item(this, "&Chip registers");
  item_dac = append_item(this, "&DACs");
}

MainImageMenu::MainImageMenu() { config(); }

void MainImageMenu::config() { item_histogram = append_item(this, "&Histogram"); }

MainToolsMenu::MainToolsMenu() { config(); }

void MainToolsMenu::config() {
  items.clear();
  for (const char* name : {"Write SPI", "ADCs", "Execute test"}) append_entry(name);
}

void MainToolsMenu::configure_tools(const std::vector<std::string>& tools) {
  for (const auto& name : tools) append_entry(name);
}

void MainToolsMenu::append_entry(const std::string& name) {
  items[name] = append_item(this, "&" + wxString::FromUTF8(name));
}

MainMenuBar::MainMenuBar(wxWindow* view) : wxMenuBar(), view(view) { add_menus(); }

void MainMenuBar::configure_tools(const std::vector<std::string>& tools) {
  menu_tools->configure_tools(tools);
}

void MainMenuBar::add_menus() {
  menu_device = new MainDeviceMenu();
  Append(menu_device, "&Device");
  menu_edit = new MainEditMenu();
  Append(menu_edit, "&Edit");
  menu_image = new MainImageMenu();
  Append(menu_image, "&Image");
  menu_tools = new MainToolsMenu();
  Append(menu_tools, "&Tools");
}

}  // namespace Zelvar_Core
