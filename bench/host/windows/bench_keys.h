// The bench's keys: one table, from which the main window's accelerators,
// the Help window's list and the controls' tooltips are all made, so that
// none of them can tell another story.
#pragma once

#include <string>
#include <vector>

#include "bench/host/windows/main_window.h"

namespace Zelvar_Core::bench {

struct BenchKey {
  int flags;          // wxACCEL_CTRL, wxACCEL_NORMAL
  int code;           // 'R', WXK_F5
  std::string shown;  // "Ctrl+R", "F5"
  std::string what;   // "Record the board's events"
  int command;        // the menu command or button click it sends
};

// Every key, once the Tools menu holds the host's tools. The window's
// Record, Start/Stop and Capture keys click their controls; the others
// choose their menu entries.
std::vector<BenchKey> bench_keys(BenchMainWindow& window);
// The keys as the main window's accelerators.
void install_keys(BenchMainWindow& window, const std::vector<BenchKey>& keys);

}  // namespace Zelvar_Core::bench
