#include "bench/host/tools/playback_tool.h"

#include <fmt/format.h>
#include <wx/filedlg.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <filesystem>

namespace Zelvar_Core::bench {

namespace {
constexpr int kSeekSteps = 1000;
}

const std::vector<std::pair<wxString, double>>& PlaybackTool::speeds() {
  static const std::vector<std::pair<wxString, double>> choices = {
      {wxString::FromUTF8("\u00bc\u00d7"), 0.25},
      {wxString::FromUTF8("\u00bd\u00d7"), 0.5},
      {wxString::FromUTF8("1\u00d7"), 1.0},
      {wxString::FromUTF8("2\u00d7"), 2.0},
      {wxString::FromUTF8("4\u00d7"), 4.0},
      {"As fast as possible", Playback::kAsFastAsPossible}};
  return choices;
}

PlaybackTool::PlaybackTool(wxWindow* parent, BenchPresenter& presenter)
    : ToolFrame(parent, "Playback", wxSize(560, 420)), presenter_(presenter) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* files = new wxBoxSizer(wxHORIZONTAL);
  button_open = new wxButton(panel, wxID_ANY, "Open...");
  button_export = new wxButton(panel, wxID_ANY, "Export HDF5...");
  files->Add(button_open, 0, wxRIGHT, 6);
  files->Add(button_export, 0);
  sizer->Add(files, 0, wxALL, 6);
  info_text = new wxTextCtrl(panel, wxID_ANY, "No recording is open.", wxDefaultPosition,
                             wxSize(-1, 140), wxTE_MULTILINE | wxTE_READONLY);
  sizer->Add(info_text, 1, wxEXPAND | wxLEFT | wxRIGHT, 6);
  auto* controls = new wxBoxSizer(wxHORIZONTAL);
  button_play = new wxToggleButton(panel, wxID_ANY, "Play");
  wxArrayString labels;
  for (const auto& [label, speed] : speeds()) labels.Add(label);
  speed_choice = new wxChoice(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, labels);
  speed_choice->SetSelection(2);  // 1x
  loop_box = new wxCheckBox(panel, wxID_ANY, "Loop");
  controls->Add(button_play, 0, wxRIGHT, 10);
  controls->Add(new wxStaticText(panel, wxID_ANY, "Speed"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
                4);
  controls->Add(speed_choice, 0, wxRIGHT, 10);
  controls->Add(loop_box, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(controls, 0, wxALL, 6);
  auto* seek = new wxBoxSizer(wxHORIZONTAL);
  seek_slider = new wxSlider(panel, wxID_ANY, 0, 0, kSeekSteps);
  position_text = new wxStaticText(panel, wxID_ANY, "0.0 / 0.0 s");
  seek->Add(seek_slider, 1, wxEXPAND | wxRIGHT, 6);
  seek->Add(position_text, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(seek, 0, wxEXPAND | wxALL, 6);
  result_line = new ResultLine(panel);
  sizer->Add(result_line, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  explain_controls();
  panel->SetSizer(sizer);
  enable_controls(false);

  button_open->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { on_open(); });
  button_export->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { on_export(); });
  button_play->Bind(wxEVT_TOGGLEBUTTON, [this](wxCommandEvent&) { on_play(); });
  speed_choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) {
    presenter_.playback().set_speed(speeds().at(speed_choice->GetSelection()).second);
  });
  loop_box->Bind(wxEVT_CHECKBOX,
                 [this](wxCommandEvent&) { presenter_.playback().set_loop(loop_box->GetValue()); });
  seek_slider->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) { on_seek(); });
  // Closed, the window takes the line of a recording it holds but does not
  // play out of the status bar (ToolFrame hides it on close, after this).
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    presenter_.show_playback_line(false);
    event.Skip();
  });
}

void PlaybackTool::explain_controls() {
  button_open->SetToolTip("Open an EVT 2.0 recording to play it in the image");
  button_export->SetToolTip("Write the recording's events to an HDF5 file (x, y, p, t)");
  button_play->SetToolTip("Play the recording in place of the board, or pause it");
  speed_choice->SetToolTip("How fast the recording's time runs");
  loop_box->SetToolTip("Start again from the beginning at the end");
  seek_slider->SetToolTip("Go to a time in the recording");
}

void PlaybackTool::open() {
  presenter_.show_playback_line(true);
  bring_up(200);
}

namespace {

// The name of the newest recording in `folder` ("" for none).
std::string newest_recording(const std::filesystem::path& folder) {
  std::error_code error;
  std::string newest;
  std::filesystem::file_time_type newest_time{};
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code ignored;
    if (entry.path().extension() != ".raw" || !entry.is_regular_file(ignored)) continue;
    const auto time = entry.last_write_time(ignored);
    if (ignored) continue;
    // Of two written in the same instant, the later name (rec_YYYYMMDD_HHMMSS sorts by time).
    const std::string name = entry.path().filename().string();
    if (newest.empty() || time > newest_time || (time == newest_time && name > newest)) {
      newest = name;
      newest_time = time;
    }
  }
  return newest;
}

}  // namespace

void PlaybackTool::on_open() {
  ensure_folder(presenter_.folders().recordings);
  wxFileDialog dialog(
      this, "Open recording", wxString::FromUTF8(presenter_.folders().recordings.string()),
      wxString::FromUTF8(newest_recording(presenter_.folders().recordings)),
      "EVT 2.0 recordings (*.raw)|*.raw|All files (*)|*", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  open_recording(dialog.GetPath().utf8_string());
}

void PlaybackTool::enable_controls(bool open) {
  for (wxWindow* w : std::initializer_list<wxWindow*>{button_export, button_play, speed_choice,
                                                      loop_box, seek_slider})
    w->Enable(open);
}

void PlaybackTool::open_recording(const std::string& path) {
  button_play->SetValue(false);
  button_play->SetLabel("Play");
  const RecordingInfo* opened = nullptr;
  try {
    opened = &presenter_.open_recording(path);
  } catch (...) {
    // The recording open before is closed too: nothing of it stays on show.
    info_text->ChangeValue("No recording is open.");
    position_text->SetLabel("0.0 / 0.0 s");
    seek_slider->SetValue(0);
    enable_controls(false);
    throw;
  }
  const RecordingInfo& info = *opened;
  std::string text = "File: " + path + "\n";
  text += fmt::format("Duration: {:.3f} s\nEvents: {}\nSize: {}\n", info.duration_seconds(),
                      count_text(info.events), size_text(info.file_bytes));
  for (const auto& warning : info.warnings()) text += "Note: " + warning + "\n";
  text += "\n";
  for (const auto& [key, value] : info.header.fields) text += key + ": " + value + "\n";
  info_text->ChangeValue(wxString::FromUTF8(text));
  presenter_.playback().set_speed(speeds().at(speed_choice->GetSelection()).second);
  presenter_.playback().set_loop(loop_box->GetValue());
  enable_controls(true);
  refresh_position();
}

void PlaybackTool::on_play() {
  if (button_play->GetValue())
    presenter_.play_recording();
  else
    presenter_.pause_recording();
  refresh_position();
}

void PlaybackTool::on_seek() {
  const double duration = presenter_.playback().info().duration_seconds();
  presenter_.playback().seek(duration * seek_slider->GetValue() / kSeekSteps);
}

void PlaybackTool::on_export() {
  const std::filesystem::path recording = presenter_.playback().info().path;
  wxFileDialog dialog(this, "Export to HDF5",
                      wxString::FromUTF8(presenter_.folders().recordings.string()),
                      wxString::FromUTF8(recording.stem().string() + ".h5"),
                      "HDF5 files (*.h5)|*.h5", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() == wxID_CANCEL) return;
  export_to(dialog.GetPath().utf8_string());
}

void PlaybackTool::export_to(const std::string& out) {
  // Told here, where the user asked for it, whole, as well as in the status bar.
  try {
    result_line->show(wxString::FromUTF8(presenter_.export_recording(out, this)));
  } catch (const std::exception& e) {
    result_line->show(wxString::FromUTF8(e.what()));
    throw;
  }
}

void PlaybackTool::refresh_position() {
  auto& playback = presenter_.playback();
  if (!playback.is_open()) return;
  const double duration = playback.info().duration_seconds();
  const std::string failure = playback.failure();
  if (!failure.empty())
    position_text->SetLabel(wxString::FromUTF8("Stopped: " + failure));
  else
    position_text->SetLabel(wxString::Format("%.1f / %.1f s", playback.position(), duration));
  // A longer time or a reason to stop takes the slider's room, not its own.
  if (position_text->GetBestSize().x > position_text->GetSize().x)
    position_text->GetParent()->Layout();
  if (duration > 0)
    seek_slider->SetValue(static_cast<int>(playback.position() / duration * kSeekSteps));
  button_play->SetValue(playback.playing());
  button_play->SetLabel(playback.playing() ? "Pause" : "Play");
}

}  // namespace Zelvar_Core::bench
