// The Log tool: this run's records with time, level and logger, newest last,
// filtered by level, and the folder of the log file, whole in a line or its
// tooltip, with a button that copies it.
#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>

#include <string>
#include <vector>

#include "bench/host/app/log_book.h"
#include "bench/host/windows/path_field.h"
#include "bench/host/windows/tool_frame.h"

namespace Zelvar_Core::bench {

class LogTool : public ToolFrame {
 public:
  LogTool(wxWindow* parent, const LogBook& book, std::string log_folder);
  void open() override;
  // Takes the records logged since the last refresh.
  void refresh();
  // The lowest level shown.
  spdlog::level::level_enum shown_level() const;

  wxChoice* level_choice;
  wxListCtrl* list;
  wxButton* button_folder;  // copies the folder's whole path
  PathField* folder_text;
  wxStaticText* folder_outcome;  // how the last copy went

 private:
  void rebuild();
  void append_row(const LogEntry& entry);
  void show_folder();

  const LogBook& book_;
  std::string log_folder_;
  std::uint64_t seen_ = 0;
  std::vector<LogEntry> entries_;
  void on_tick() override { refresh(); }
};

}  // namespace Zelvar_Core::bench
