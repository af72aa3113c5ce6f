#include "bench/host/windows/bench_keys.h"

#include <wx/accel.h>

namespace Zelvar_Core::bench {

std::vector<BenchKey> bench_keys(BenchMainWindow& window) {
  auto& menus = *window.menu_bar;
  auto& tools = menus.menu_tools->items;
  const auto tool = [&tools](const std::string& name) { return tools.at(name)->GetId(); };
  auto* panel = window.panel_control;
  std::vector<BenchKey> keys = {
      {wxACCEL_NORMAL, WXK_F5, "F5", "Start or stop the board's event stream",
       window.command_clicking(panel->button_start_stop)},
      {wxACCEL_NORMAL, WXK_F6, "F6", "Capture the image to captures/",
       window.command_clicking(panel->button_capture)},
      {wxACCEL_CTRL, 'R', "Ctrl+R", "Record the board's events (again: stop)",
       window.record_command},
      {wxACCEL_CTRL, 'O', "Ctrl+O", "Program a bitstream (Device \u25b8 Program...)",
       menus.menu_device->item_program->GetId()},
      {wxACCEL_CTRL, 'I', "Ctrl+I", "Device information", menus.menu_device->item_info->GetId()},
      {wxACCEL_CTRL, '1', "Ctrl+1", "Device registers", menus.menu_edit->item_reg_dev->GetId()},
      {wxACCEL_CTRL, '2', "Ctrl+2", "DACs", menus.menu_edit->item_dac->GetId()},
      {wxACCEL_CTRL, '3', "Ctrl+3", "Chip registers", menus.menu_edit->item_reg_chip->GetId()},
      {wxACCEL_CTRL, '4', "Ctrl+4", "ADC monitor", tool("ADCs")},
      {wxACCEL_CTRL, '5', "Ctrl+5", "Image histogram", menus.menu_image->item_histogram->GetId()},
      {wxACCEL_CTRL, '6', "Ctrl+6", "Playback of a recording", tool("Playback")},
      {wxACCEL_CTRL, '7', "Ctrl+7", "ON and OFF rates", tool("Rates")},
      {wxACCEL_CTRL, '8', "Ctrl+8", "Parameter sweep", tool("Sweep")},
      {wxACCEL_CTRL, '9', "Ctrl+9", "Run a test sequence", tool("Run sequence...")},
      {wxACCEL_CTRL, '0', "Ctrl+0", "The runs kept in the results store", tool("Results")},
      {wxACCEL_CTRL, 'L', "Ctrl+L", "The log of this run", tool("Log")},
      {wxACCEL_CTRL, 'B', "Ctrl+B", "Board simulator", tool("Board simulator")},
      {wxACCEL_CTRL, 'T', "Ctrl+T", "Execute the self-test", tool("Execute test")},
      {wxACCEL_CTRL, 'Q', "Ctrl+Q", "Quit the bench", wxID_EXIT},
      {wxACCEL_NORMAL, WXK_F1, "F1", "Help: keys, folders, about", wxID_HELP},
  };
  return keys;
}

void install_keys(BenchMainWindow& window, const std::vector<BenchKey>& keys) {
  std::vector<wxAcceleratorEntry> entries;
  for (const auto& key : keys) entries.emplace_back(key.flags, key.code, key.command);
  window.SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(entries.size()), entries.data()));
}

}  // namespace Zelvar_Core::bench
