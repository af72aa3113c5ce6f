#include "bench/host/tools/log_tool.h"

#include <wx/sizer.h>
#include <wx/stattext.h>

#include <ctime>

#include "bench/host/windows/desktop.h"

namespace Zelvar_Core::bench {

namespace {

constexpr std::size_t kKept = 5000;  // rows the tool holds
const spdlog::level::level_enum kLevels[] = {spdlog::level::debug, spdlog::level::info,
                                             spdlog::level::warn, spdlog::level::err};

wxString time_text(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
  return wxString::Format("%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                          static_cast<int>(ms));
}

wxString level_text(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::trace:
    case spdlog::level::debug:
      return "debug";
    case spdlog::level::info:
      return "info";
    case spdlog::level::warn:
      return "warning";
    default:
      return "error";
  }
}

}  // namespace

LogTool::LogTool(wxWindow* parent, const LogBook& book, std::string log_folder)
    : ToolFrame(parent, "Log", wxSize(820, 420)), book_(book), log_folder_(std::move(log_folder)) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* top = new wxBoxSizer(wxHORIZONTAL);
  top->Add(new wxStaticText(panel, wxID_ANY, "Show from level"), 0,
           wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  const wxString choices[] = {"Debug", "Info", "Warning", "Error"};
  level_choice = new wxChoice(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, 4, choices);
  level_choice->SetSelection(0);
  top->Add(level_choice, 0);
  sizer->Add(top, 0, wxALL, 6);
  list = new wxListCtrl(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                        wxLC_REPORT | wxLC_SINGLE_SEL);
  list->AppendColumn("Time", wxLIST_FORMAT_LEFT, 95);
  list->AppendColumn("Level", wxLIST_FORMAT_LEFT, 65);
  list->AppendColumn("Logger", wxLIST_FORMAT_LEFT, 170);
  list->AppendColumn("Message", wxLIST_FORMAT_LEFT, 460);
  sizer->Add(list, 1, wxEXPAND | wxLEFT | wxRIGHT, 6);
  auto* bottom = new wxBoxSizer(wxHORIZONTAL);
  button_folder = new wxButton(panel, wxID_ANY, "Log file folder");
  folder_text = new PathField(panel, log_folder_);
  folder_outcome = new wxStaticText(panel, wxID_ANY, "");
  bottom->Add(button_folder, 0, wxRIGHT, 6);
  bottom->Add(folder_text, 1, wxALIGN_CENTER_VERTICAL);
  bottom->Add(folder_outcome, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 6);
  sizer->Add(bottom, 0, wxEXPAND | wxALL, 6);
  level_choice->SetToolTip("Show only records of this level and above");
  button_folder->SetToolTip("Copy the folder of the log file to the clipboard");
  panel->SetSizer(sizer);
  level_choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { rebuild(); });
  button_folder->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { show_folder(); });
}

void LogTool::open() {
  refresh();
  bring_up(300);
  // The list knows its rows' height only once shown: the newest row then.
  CallAfter([this] {
    if (list->GetItemCount() > 0) list->EnsureVisible(list->GetItemCount() - 1);
  });
}

spdlog::level::level_enum LogTool::shown_level() const {
  const int selection = level_choice->GetSelection();
  return kLevels[selection < 0 ? 0 : selection];
}

void LogTool::refresh() {
  auto newer = book_.since(seen_);
  if (newer.empty()) return;
  seen_ = newer.back().sequence;
  list->Freeze();
  for (auto& entry : newer) {
    if (entry.level >= shown_level()) append_row(entry);
    entries_.push_back(std::move(entry));
  }
  if (entries_.size() > kKept) {
    entries_.erase(entries_.begin(), entries_.end() - kKept);
    rebuild();
  }
  list->Thaw();
  if (list->GetItemCount() > 0) list->EnsureVisible(list->GetItemCount() - 1);
}

void LogTool::rebuild() {
  list->DeleteAllItems();
  for (const auto& entry : entries_)
    if (entry.level >= shown_level()) append_row(entry);
  if (list->GetItemCount() > 0) list->EnsureVisible(list->GetItemCount() - 1);
}

void LogTool::append_row(const LogEntry& entry) {
  const long row = list->InsertItem(list->GetItemCount(), time_text(entry.time));
  list->SetItem(row, 1, level_text(entry.level));
  list->SetItem(row, 2, wxString::FromUTF8(entry.logger.empty() ? "pravel" : entry.logger));
  list->SetItem(row, 3, wxString::FromUTF8(entry.message));
  if (entry.level >= spdlog::level::err) list->SetItemTextColour(row, *wxRED);
}

void LogTool::show_folder() {
  // The outcome says whether it worked; the path itself is in the line.
  const std::string outcome = copy_path(log_folder_);
  folder_outcome->SetLabel(outcome.rfind("Copied ", 0) == 0 ? "Copied" : outcome);
  folder_outcome->GetParent()->Layout();
}

}  // namespace Zelvar_Core::bench
