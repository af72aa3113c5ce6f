// The main window's menu bar: Device, Edit, Image and Tools, and the list of
// recently programmed bitstreams kept in a small configuration file.
#pragma once

#include <tsl/ordered_map.h>
#include <wx/fileconf.h>
#include <wx/filehistory.h>
#include <wx/menu.h>

#include <memory>
#include <string>
#include <vector>

namespace Zelvar_Core {

// Where the recent-bitstream list lives, relative to the working directory.
inline constexpr const char* kRecentFilesConfig = "./tmp/.Pravel_recent_files";
inline constexpr const char* kRecentFilesAppName = "Pravel";

class MainDeviceMenu : public wxMenu {
 public:
  MainDeviceMenu();

  wxMenuItem* item_info = nullptr;
  wxMenuItem* item_program = nullptr;
  std::unique_ptr<wxFileHistory> program_history;
  std::unique_ptr<wxFileConfig> program_history_config;
  // The configuration file, made absolute against the working directory at
  // start-up, so that a later change of folder (the bitstream dialog changes
  // it) does not move where the list is written.
  wxString program_history_path;
  wxMenu* item_program_history = nullptr;  // the "Recent binary files" sub-menu

 private:
  void config();
};

class MainEditMenu : public wxMenu {
 public:
  MainEditMenu();

  wxMenuItem* item_save_preset = nullptr;
  wxMenuItem* item_load_preset = nullptr;
  wxMenuItem* item_reg_dev = nullptr;
  wxMenuItem* item_reg_chip = nullptr;
  wxMenuItem* item_dac = nullptr;

 private:
  void config();
};

class MainImageMenu : public wxMenu {
 public:
  MainImageMenu();

  wxMenuItem* item_histogram = nullptr;

 private:
  void config();
};

class MainToolsMenu : public wxMenu {
 public:
  MainToolsMenu();

  // Appends one entry per name, in the order given; a name already present
  // gets a new entry and the map refers to it (the old entry stays).
  void configure_tools(const std::vector<std::string>& tools);

  // Entry name (without mnemonic) -> item: "Write SPI", "ADCs",
  // "Execute test", then one per configured tool.
  tsl::ordered_map<std::string, wxMenuItem*> items;

 private:
  void config();
  void append_entry(const std::string& name);
};

class MainMenuBar : public wxMenuBar {
 public:
  explicit MainMenuBar(wxWindow* view);

  void configure_tools(const std::vector<std::string>& tools);

  wxWindow* view;
  MainDeviceMenu* menu_device = nullptr;
  MainEditMenu* menu_edit = nullptr;
  MainImageMenu* menu_image = nullptr;
  MainToolsMenu* menu_tools = nullptr;

 private:
  void add_menus();
};

}  // namespace Zelvar_Core
