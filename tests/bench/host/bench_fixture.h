// The bench started as the program starts it, in a folder of its own, and
// driven by real events on its widgets.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/settings.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "bench/board/bitstream.h"
#include "bench/host/app/bench_session.h"
#include "bench/host/app/log_book.h"
#include "bench/host/presenter/field_state.h"
#include "bench/host/windows/chip_editor.h"
#include "bench/host/windows/histogram_window.h"
#include "bench/host/windows/result_line.h"
#include "bench/remote/client/remote_board.h"
#include "tests/support/board_server_process.h"
#include "tests/support/gui_harness.h"
#include "tests/support/log_capture.h"

namespace Zelvar_Core::bench {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Bench : public ::testing::Test {
 protected:
  void SetUp() override {
    start_folder = home_folder = fs::current_path();
    for (const char* folder : {"tmp", "captures", "presets", "bits", "logs", "recordings"})
      fs::remove_all(folder);
    // The runs an earlier test kept are not this one's.
    for (const char* file : {"results.db", "results.db-wal", "results.db-shm"}) fs::remove(file);
    testing_support::set_file_dialogs_change_dir(true);  // as the real dialog does
    start();
  }
  void TearDown() override {
    stop();
    fs::current_path(home_folder);
    if (start_folder != home_folder) fs::remove_all(start_folder);
    testing_support::set_file_dialogs_change_dir(false);
    EXPECT_EQ(testing_support::pending_dialog_answers(), 0u);
  }
  // As the program starts: in the start folder, whatever a dialog did since.
  void start() {
    fs::current_path(start_folder);
    const auto folders = BenchFolders::under(start_folder);
    prepare_folders(folders);
    session = std::make_unique<BenchSession>(folders, served_board(), sensor);
    session->model.simulated_device.bytes_per_second = 1e9;
    session->report_through(app());
    session->show();
    testing_support::flush_events();
  }
  // The bench started again in a folder of the start folder whose path has
  // at least `length` characters, wherever the tests run: a user with a
  // deep home or a long clone path.
  fs::path restart_in_deep_folder(std::size_t length) {
    stop();
    const std::size_t base = home_folder.string().size() + 1;
    start_folder =
        home_folder / ("deep_" + std::string(length > base + 5 ? length - base - 5 : 1, 'd'));
    fs::create_directories(start_folder);
    start();
    return start_folder;
  }
  // Closes the main window as the user would and ends the run.
  void stop() {
    if (!session) return;  // the start failed, and said so
    if (session->window) {
      session->window->Close();
      testing_support::flush_events();
    }
    EXPECT_EQ(session->window, nullptr) << "the main window did not close";
    EXPECT_FALSE(session->presenter->acquiring());
    EXPECT_FALSE(session->presenter->sampling_adc());
    app().on_error = nullptr;
    app().on_cancelled = nullptr;
    session.reset();
  }
  // From now on the bench starts on the board pravel-board serves, in a
  // process of its own, as `pravel --board` does.
  void serve_board(std::vector<std::string> options = {}) {
    server = std::make_unique<testing_support::BoardServerProcess>(fs::current_path() / "served",
                                                                   std::move(options));
    ASSERT_FALSE(server->address.empty()) << "pravel-board did not start";
  }
  // The board the bench starts on instead of the built-in one, if any: the
  // test's own (make_board), the fixture's pravel-board, or a server of the
  // test's own at `served_address`.
  std::string served_address;
  virtual std::unique_ptr<Board> served_board() {
    if (make_board) return make_board();
    const std::string address = server ? server->address : served_address;
    if (address.empty()) return nullptr;
    auto board = std::make_unique<remote::RemoteBoard>(address, "", "pravel e2e test");
    board->set_interactive_thread(std::this_thread::get_id());  // the toolkit's
    return board;
  }
  // The connection field as the bench shows it for this board.
  std::string connection_text(bool connected) {
    const std::string state = connected ? "Connected" : "Disconnected";
    return server ? state + (connected ? " to " : " from ") + server->address : state;
  }
  static ReportingApp& app() { return *static_cast<ReportingApp*>(wxTheApp); }

  BenchMainWindow& window() { return *session->window; }
  BenchPresenter& presenter() { return *session->presenter; }
  BenchModel& model() { return session->model; }
  SimulatedDevice& board() { return session->model.simulated_device; }
  BenchChipEditor& chip_editor() {
    return dynamic_cast<BenchChipEditor&>(*window().edit_register_chip_frame);
  }
  BenchHistogramWindow& histogram() {
    return dynamic_cast<BenchHistogramWindow&>(*window().image_histogram_frame);
  }
  std::string status(StatusField field) { return window().status(field).utf8_string(); }
  std::string message() { return status(kStatusMessage); }

  // Waits on the toolkit (timers, queued calls) for `condition`, 5 s at most.
  template <typename Condition>
  bool wait_for(Condition condition) {
    return testing_support::pump_until(condition, 5s);
  }
  void run_for(int ms) { testing_support::pump_for(std::chrono::milliseconds(ms)); }

  void click(wxWindow* button) { testing_support::fire(button, wxEVT_BUTTON); }
  void choose(wxMenuItem* item) { choose(item->GetId()); }
  void choose(int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(&window());
    window().ProcessWindowEvent(event);
  }
  wxMenuItem* tool(const std::string& name) {
    return window().menu_bar->menu_tools->items.at(name);
  }
  void check(wxCheckBox* box, bool value) {
    box->SetValue(value);
    testing_support::fire(box, wxEVT_CHECKBOX);
  }
  void type(wxTextCtrl* field, const std::string& text) {
    field->SetValue(wxString::FromUTF8(text));  // emits wxEVT_TEXT, as typing does
  }
  void press(wxWindow* field, int key) {
    wxKeyEvent event(wxEVT_KEY_DOWN);
    event.m_keyCode = key;
    event.SetEventObject(field);
    field->GetEventHandler()->ProcessEvent(event);
  }
  void leave(wxWindow* field) {
    wxFocusEvent event(wxEVT_KILL_FOCUS, field->GetId());
    event.SetEventObject(field);
    field->GetEventHandler()->ProcessEvent(event);
  }
  wxTextCtrl* field(ValuesView* editor, const std::string& label) {
    return editor->panel_values->values_widgets.at(label);
  }
  // The caption the values editor shows beside `label`'s field.
  static std::string caption(ValuesView* editor, const std::string& label) {
    auto* grid = editor->panel_values->grid_register;
    for (std::size_t i = 1; i < grid->GetItemCount(); i += 2) {
      if (grid->GetItem(i)->GetWindow() != editor->panel_values->values_widgets.at(label)) continue;
      const wxWindow* text = grid->GetItem(i - 1)->GetWindow();
      // Drawn whole: a caption keeps the width it was made with unless told.
      if (text->GetSize().x < text->GetTextExtent(text->GetLabel()).x) return "(cut short)";
      return text->GetLabel().utf8_string();
    }
    return "";
  }
  static std::vector<std::string> labels(const WidgetMap& fields) {
    std::vector<std::string> names;
    for (const auto& [label, field] : fields) names.push_back(label);
    std::sort(names.begin(), names.end());
    return names;
  }
  // The ADC monitor's rows as captioned: "CH0: VDD (V)", ...
  static std::vector<std::string> adc_rows(AdcView* adc) {
    std::vector<std::string> rows;
    auto* grid = adc->panel_menu->grid_register;
    for (std::size_t i = 0; i < grid->GetItemCount(); i += 3)
      rows.push_back(grid->GetItem(i)->GetWindow()->GetLabel().utf8_string());
    return rows;
  }
  wxWindow* chip_field(const std::string& label) {
    return chip_editor().signals_panel->values_widgets.at(label);
  }
  wxCheckBox* chip_box(const std::string& label) {
    return dynamic_cast<wxCheckBox*>(chip_field(label));
  }
  void select_mode(int index) {
    auto* box = window().panel_control->modes_box;
    box->SetSelection(index);
    wxCommandEvent event(wxEVT_RADIOBOX, box->GetId());
    event.SetEventObject(box);
    event.SetInt(index);
    box->GetEventHandler()->ProcessEvent(event);
  }
  void open_simulator() {
    choose(tool("Board simulator"));
    ASSERT_TRUE(session->simulator->IsShown());
  }
  void plug(bool connected) {
    check(session->simulator->connected, connected);
    ASSERT_TRUE(wait_for([&] { return status(kStatusConnection) == connection_text(connected); }));
  }
  long image_activity() {
    long sum = 0;
    for (auto v : model().image.counts) sum += std::abs(v);
    return sum;
  }
  // The colour of a field nobody marked, as the platform draws it.
  static wxColour plain() { return wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW); }
  std::string write_bitstream(const std::string& name, const std::string& design,
                              std::size_t bytes = 100000, const std::string& folder = "bits") {
    fs::create_directories(start_folder / folder);
    const std::string path = (start_folder / folder / name).string();
    std::ofstream(path, std::ios::binary) << make_bitstream(design, std::string(bytes, '\x3c'));
    return path;
  }
  // Whether this run's log holds the record.
  bool logged(spdlog::level::level_enum level, const std::string& text,
              const std::string& logger = "pravel") {
    for (const auto& entry : LogBook::instance().since(log_mark))
      if (entry.level == level && entry.message == text && entry.logger == logger) return true;
    return false;
  }
  void mark_log() { log_mark = LogBook::instance().last_sequence(); }
  // Whether a tool window's result line shows all of its text: each of its
  // lines within its width, nothing left out, and the line inside the
  // visible part of its window.
  static ::testing::AssertionResult shown_whole(const ResultLine& line) {
    wxString joined;
    const wxArrayString parts = wxSplit(line.GetLabel(), '\n', '\0');
    if (static_cast<int>(parts.size()) * line.GetCharHeight() > line.GetSize().y)
      return ::testing::AssertionFailure()
             << parts.size() << " lines in " << line.GetSize().y << " px";
    for (const wxString& part : parts) {
      if (line.GetTextExtent(part).x > line.GetSize().x)
        return ::testing::AssertionFailure() << "\"" << part << "\" is wider than the line";
      joined += part;
    }
    auto squeezed = [](wxString text) {
      text.Replace(" ", "");
      return text;
    };
    if (squeezed(joined) != squeezed(line.text()))
      return ::testing::AssertionFailure()
             << "shows \"" << joined << "\" of \"" << line.text() << "\"";
    const wxWindow& top = *wxGetTopLevelParent(const_cast<ResultLine*>(&line));
    const wxRect visible(top.ClientToScreen(wxPoint(0, 0)), top.GetClientSize());
    if (!line.IsShownOnScreen() || !visible.Contains(line.GetScreenRect()))
      return ::testing::AssertionFailure() << "the line lies outside its window";
    return ::testing::AssertionSuccess();
  }

  // The built-in board's sensor, as `pravel --sensor` chooses it.
  SimulatedSensor sensor = SimulatedSensor::Aer640;
  // A board of the test's own in the place of the built-in one, when set.
  std::function<std::unique_ptr<Board>()> make_board;
  fs::path start_folder;
  fs::path home_folder;  // where the test began, and ends
  std::uint64_t log_mark = 0;
  std::unique_ptr<BenchSession> session;
  std::unique_ptr<testing_support::BoardServerProcess> server;  // when the board is served
};

}  // namespace Zelvar_Core::bench
