// Guards and helpers for tests with real widgets.
#pragma once

#include <wx/filedlg.h>
#include <wx/log.h>
#include <wx/window.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace Zelvar_Core::testing_support {

// Starts wx (retrying a display that refuses for a moment), installs the
// guards and runs every test; the application object is the caller's.
int run_gui_tests(int argc, char** argv);

// Installs the dialog guard and the wx log target. Called once by main.
void install_gui_guards();

// What the next modal file dialog answers: OK with `path`, or cancel.
// Answers are used in order; a dialog with no answer queued fails the test.
void answer_next_file_dialog(const std::string& path);
void cancel_next_file_dialog();
// Whether an accepted dialog with wxFD_CHANGE_DIR moves the working folder
// to the chosen file's folder, as the real dialog does (off by default).
void set_file_dialogs_change_dir(bool change);
// Answers that were queued but never asked for (a test should leave none).
size_t pending_dialog_answers();
// Properties of the last file dialog the guard saw.
struct SeenFileDialog {
  wxString message;
  wxString wildcard;
  wxString directory;
  wxString filename;
  long style = 0;
};
const SeenFileDialog& last_file_dialog();
int file_dialogs_seen();

// Messages that went to the wx log instead of a message box.
const std::vector<std::string>& wx_log_messages();
void clear_wx_log_messages();

// Fires a command event of `type` from `source`, as the widget itself would.
void fire(wxWindow* source, wxEventType type);

// Runs pending events and idle handlers (deferred destruction included).
void flush_events();

// Runs the toolkit one event at a time (timers, queued calls, idle work)
// until `done` holds or `limit` has passed; the deadline is checked between
// events, so a slow repaint makes a test fail instead of hanging it.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit);
// Runs the toolkit for `duration`.
void pump_for(std::chrono::milliseconds duration);
// Whether a window manager runs on the display (it names its window on the root).
bool window_manager_runs();
// Runs the toolkit until every shown top-level window has been placed and
// sized, by the window manager when there is one: until each is framed (under
// a window manager) and its client area as large as its content needs. One
// that never gets so large is left as it is after `limit`, for a layout
// check to report.
void wait_until_placed(std::chrono::milliseconds limit = std::chrono::seconds(5));
// A round trip through the application's queue: runs the toolkit until a
// call queued now (CallAfter) has run, and so everything queued before it.
bool round_trip();

// The clipboard's text, as another program would paste it ("" for none).
std::string clipboard_text();

}  // namespace Zelvar_Core::testing_support
