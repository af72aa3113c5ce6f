// Tools > Results settings...: who runs at this bench and where its runs'
// records go (the operator, the station, the chip when the board gives no
// id, and a lab's PostgreSQL database), kept with the bench's settings in
// tmp/.Pravel_settings.json and used by every run from then on. What the
// command line gives (--operator, --station, --dut, --results) is used in
// their place until the bench closes.
#pragma once

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <functional>
#include <string>

#include "bench/host/presenter/field_state.h"
#include "bench/host/windows/result_line.h"
#include "bench/host/windows/tool_frame.h"

namespace Zelvar_Core::bench {

struct ResultsSettings {
  std::string operator_name, station, dut;
  std::string results;  // the lab's database, postgresql://...; "" for the bench's file alone
  bool operator==(const ResultsSettings& other) const {
    return operator_name == other.operator_name && station == other.station && dut == other.dut &&
           results == other.results;
  }
};

// The settings file of the bench whose recent-bitstream list is in `tmp`.
std::filesystem::path results_settings_file(const std::filesystem::path& tmp);
// The settings kept in `file`; none when it is not there. A file that
// cannot be read or holds something else throws std::runtime_error, one
// sentence naming it.
ResultsSettings load_results_settings(const std::filesystem::path& file);
// Writes them whole; throws std::runtime_error, one sentence naming the file.
void save_results_settings(const std::filesystem::path& file, const ResultsSettings& settings);
// `saved` with each value the command line gives in its place.
ResultsSettings with_command_line(ResultsSettings saved, const ResultsSettings& command_line);

// Why `text` is not a lab's database address, in one sentence; "" when it
// is one (postgresql://[user[:password]@][host][:port][/database][?options]).
std::string database_address_problem(const std::string& text);
// Why `text` cannot be kept as `what` ("the operator's name"), in one
// sentence: a name is one printable line of at most 200 bytes. "" when fine.
std::string run_name_problem(const std::string& text, const std::string& what);

class ResultsSettingsTool : public ToolFrame {
 public:
  // `apply` puts the settings in force: the saved ones with the command
  // line's in their place. It is told whether the database changed.
  using Apply = std::function<void(const ResultsSettings& in_force, bool database_changed)>;
  ResultsSettingsTool(wxWindow* parent, std::filesystem::path file, ResultsSettings saved,
                      ResultsSettings command_line, Apply apply);
  void open() override;
  // Checks the fields and, when every one holds, keeps and applies them;
  // a field that does not is marked, and said in the window and thrown.
  void save();

  wxTextCtrl *operator_field, *station_field, *dut_field, *results_field;
  wxStaticText* command_line_text;  // which values the command line gives for this run
  wxButton* button_save;
  ResultLine* result_line;  // what Save did, or why not

 private:
  void show(const ResultsSettings& settings);
  // The field marked with the problem, said in the window, and thrown.
  [[noreturn]] void mark(wxTextCtrl* field, const std::string& problem);

  std::filesystem::path file_;
  ResultsSettings saved_, command_line_;
  Apply apply_;
  FieldStates fields_;  // a refused field marked with why
};

}  // namespace Zelvar_Core::bench
