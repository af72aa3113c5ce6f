#include "tests/support/gui_harness.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/progdlg.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/toplevel.h>
#include <wx/utils.h>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>

#include "tests/support/eventually.h"

namespace Zelvar_Core::testing_support {

namespace {

struct Answer {
  std::optional<std::string> path;  // nothing: cancel
};

std::deque<Answer>& answers() {
  static std::deque<Answer> queue;
  return queue;
}

SeenFileDialog& seen() {
  static SeenFileDialog dialog;
  return dialog;
}

bool& change_dir() {
  static bool change = false;
  return change;
}

int& seen_count() {
  static int count = 0;
  return count;
}

std::vector<std::string>& log_messages() {
  static std::vector<std::string> messages;
  return messages;
}

class DialogGuard : public wxModalDialogHook {
 protected:
  int Enter(wxDialog* dialog) override {
    // A progress dialog is part of what the program shows; it closes itself.
    if (dynamic_cast<wxGenericProgressDialog*>(dialog) != nullptr) return wxID_NONE;
    auto* file_dialog = dynamic_cast<wxFileDialog*>(dialog);
    if (file_dialog != nullptr) {
      ++seen_count();
      seen() = {file_dialog->GetMessage(), file_dialog->GetWildcard(), file_dialog->GetDirectory(),
                file_dialog->GetFilename(), file_dialog->GetWindowStyle()};
    }
    if (answers().empty() || file_dialog == nullptr) {
      ADD_FAILURE() << "unexpected modal dialog: " << dialog->GetTitle();
      return wxID_CANCEL;
    }
    const Answer answer = answers().front();
    answers().pop_front();
    if (!answer.path) return wxID_CANCEL;
    // GTK hands the chosen path back only after its own events ran.
    const wxString path = wxString::FromUTF8(*answer.path);
    file_dialog->SetPath(path);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (file_dialog->GetPath() != path && std::chrono::steady_clock::now() < deadline) {
      wxYield();
      wxMilliSleep(5);
    }
    EXPECT_EQ(file_dialog->GetPath(), path) << "the file dialog did not take the answer";
    if (change_dir() && (file_dialog->GetWindowStyle() & wxFD_CHANGE_DIR))
      wxSetWorkingDirectory(wxFileName(path).GetPath());
    return wxID_OK;
  }
  void Exit(wxDialog*) override {}
};

class KeepingLog : public wxLog {
 protected:
  void DoLogTextAtLevel(wxLogLevel, const wxString& msg) override {
    log_messages().push_back(msg.utf8_string());
  }
};

}  // namespace

void install_gui_guards() {
  static DialogGuard guard;
  guard.Register();
  delete wxLog::SetActiveTarget(new KeepingLog);
}

void answer_next_file_dialog(const std::string& path) { answers().push_back({path}); }
void set_file_dialogs_change_dir(bool change) { change_dir() = change; }
void cancel_next_file_dialog() { answers().push_back({std::nullopt}); }
size_t pending_dialog_answers() { return answers().size(); }
const SeenFileDialog& last_file_dialog() { return seen(); }
int file_dialogs_seen() { return seen_count(); }
const std::vector<std::string>& wx_log_messages() { return log_messages(); }
void clear_wx_log_messages() { log_messages().clear(); }

void fire(wxWindow* source, wxEventType type) {
  wxCommandEvent event(type, source->GetId());
  event.SetEventObject(source);
  source->GetEventHandler()->ProcessEvent(event);
}

void flush_events() {
  wxTheApp->ProcessPendingEvents();
  wxTheApp->ProcessIdle();
}

namespace {

bool pump_within(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  static wxGUIEventLoop loop;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.DispatchTimeout(5);  // one toolkit event at most
    flush_events();
  }
  return true;
}

}  // namespace

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return pump_within(done, scaled(limit));  // a cap, longer on a slow build
}

void pump_for(std::chrono::milliseconds duration) {
  pump_within([] { return false; }, duration);
}

std::string clipboard_text() {
  wxTextDataObject data;
  if (!wxTheClipboard->Open()) return "";
  const bool got = wxTheClipboard->IsSupported(wxDF_UNICODETEXT) && wxTheClipboard->GetData(data);
  wxTheClipboard->Close();
  return got ? data.GetText().utf8_string() : "";
}

void wait_until_placed(std::chrono::milliseconds limit) {
  // A window manager first maps a window at its size without a frame, then
  // at the size of its frame alone (a client area a pixel high), and last
  // frames it at its size: only then is its client area smaller than the
  // window, and more than a pixel high.
  const bool framed = window_manager_runs();
  // The client area a window's content needs: its sizer's minimum, or its
  // children's sizers' (the frame's own bars aside).
  const auto needs = [](const wxWindow* top) {
    if (top->GetSizer() != nullptr) return top->GetSizer()->GetMinSize();
    wxSize need;
    for (const wxWindow* child : top->GetChildren())
      if (!child->IsTopLevel() && child->IsShown() && !wxDynamicCast(child, wxStatusBar) &&
          !wxDynamicCast(child, wxMenuBar) && !wxDynamicCast(child, wxToolBar))
        if (child->GetSizer() != nullptr) need.IncTo(child->GetSizer()->GetMinSize());
    return need;
  };
  pump_until(
      [&] {
        for (const wxWindow* w : wxTopLevelWindows) {
          if (!w->IsShown()) continue;
          const wxSize has = w->GetClientSize(), need = needs(w);
          if (has.x < need.x || has.y < need.y) return false;
          if (framed && (has == w->GetSize() || has.y <= 1)) return false;
        }
        return true;
      },
      limit);
}

bool round_trip() {
  auto ran = std::make_shared<bool>(false);
  wxTheApp->CallAfter([ran] { *ran = true; });
  return pump_until([ran] { return *ran; }, std::chrono::seconds(5));
}

}  // namespace Zelvar_Core::testing_support
