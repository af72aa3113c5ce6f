#include "bench/host/tools/results_settings.h"

#include <fmt/format.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "bench/board/folders.h"
#include "bench/board/whole_file.h"
#include "bench/host/presenter/field_state.h"

namespace Zelvar_Core::bench {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The settings as the file names them.
constexpr const char* kOperator = "operator";
constexpr const char* kStation = "station";
constexpr const char* kDut = "dut";
constexpr const char* kResults = "results";

}  // namespace

fs::path results_settings_file(const fs::path& tmp) { return tmp / ".Pravel_settings.json"; }

ResultsSettings load_results_settings(const fs::path& file) {
  std::error_code error;
  if (!fs::exists(file, error)) return {};
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in && !in.eof())
    throw std::runtime_error("The bench's settings " + file.string() + " cannot be read");
  const json parsed = json::parse(text.str(), nullptr, false);
  const std::string unusable = "The bench's settings " + file.string() +
                               " are not the bench's settings file; the settings in force are "
                               "the command line's alone";
  if (!parsed.is_object()) throw std::runtime_error(unusable);
  ResultsSettings settings;
  const std::pair<const char*, std::string*> fields[] = {{kOperator, &settings.operator_name},
                                                         {kStation, &settings.station},
                                                         {kDut, &settings.dut},
                                                         {kResults, &settings.results}};
  for (const auto& [name, value] : fields) {
    const auto found = parsed.find(name);
    if (found == parsed.end()) continue;
    if (!found->is_string()) throw std::runtime_error(unusable);
    *value = found->get<std::string>();
  }
  // A file edited by hand to hold what the window refuses is not used.
  if (!run_name_problem(settings.operator_name, "the operator's name").empty() ||
      !run_name_problem(settings.station, "the station's name").empty() ||
      !run_name_problem(settings.dut, "the chip's id").empty() ||
      !database_address_problem(settings.results).empty())
    throw std::runtime_error(unusable);
  return settings;
}

void save_results_settings(const fs::path& file, const ResultsSettings& settings) {
  const json saved = {{kOperator, settings.operator_name},
                      {kStation, settings.station},
                      {kDut, settings.dut},
                      {kResults, settings.results}};
  try {
    ensure_folder(file.parent_path());
    write_whole_file(file.string(), saved.dump(2) + "\n");
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("Cannot keep the settings in " + file.string() + ": " + e.what());
  }
}

ResultsSettings with_command_line(ResultsSettings saved, const ResultsSettings& command_line) {
  for (auto [value, given] :
       {std::pair{&saved.operator_name, &command_line.operator_name},
        std::pair{&saved.station, &command_line.station}, std::pair{&saved.dut, &command_line.dut},
        std::pair{&saved.results, &command_line.results}})
    if (!given->empty()) *value = *given;
  return saved;
}

std::string database_address_problem(const std::string& text) {
  if (text.empty()) return "";
  const std::string shown = "\"" + text.substr(0, 80) + "\"";
  const std::string give = "give postgresql://HOST/DATABASE";
  std::string rest;
  for (const char* scheme : {"postgresql://", "postgres://"})
    if (text.rfind(scheme, 0) == 0) rest = text.substr(std::string(scheme).size());
  if (rest.empty()) return shown + " is not a database address: " + give;
  for (const unsigned char c : text)
    if (c <= 0x20 || c == 0x7f)
      return shown + " is not a database address: it holds a blank or a control character";
  // [user[:password]@][host][:port][/database][?options]
  std::string authority = rest.substr(0, rest.find_first_of("/?"));
  const std::string after = rest.substr(authority.size());
  if (const auto at = authority.rfind('@'); at != std::string::npos) {
    if (at == 0) return shown + " is not a database address: the user's name before @ is missing";
    authority = authority.substr(at + 1);
  }
  std::string host = authority, port;
  bool has_port = false;
  if (!host.empty() && host.front() == '[') {  // an IPv6 address, [::1]:5432
    const auto close = host.find(']');
    if (close == std::string::npos)
      return shown + " is not a database address: its host's [ is not closed";
    port = host.substr(close + 1);
    host = host.substr(0, close + 1);
    if (!port.empty() && port.front() != ':')
      return shown + " is not a database address: give the port after the host's ]";
    has_port = !port.empty();
    if (has_port) port = port.substr(1);
  } else if (const auto colon = host.find(':'); colon != std::string::npos) {
    has_port = true;
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (has_port && (port.empty() || port.size() > 5 ||
                   port.find_first_not_of("0123456789") != std::string::npos ||
                   std::stoi(port) < 1 || std::stoi(port) > 65535))
    return shown + " is not a database address: its port \"" + port + "\" is not a number 1..65535";
  for (const char c : host)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
          c == '%' || c == '[' || c == ']' || c == ':'))
      return shown + " is not a database address: its host holds \"" + std::string(1, c) + "\"";
  const std::string database = after.rfind('/', 0) == 0 ? after.substr(1, after.find('?') - 1) : "";
  if (host.empty() && database.empty() && after.find('?') == std::string::npos)
    return shown + " is not a database address: it names neither a host nor a database; " + give;
  return "";
}

std::string run_name_problem(const std::string& text, const std::string& what) {
  if (text.size() > 200) return "The " + what.substr(4) + " is longer than 200 bytes";
  for (const unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return "The " + what.substr(4) + " holds a control character";
  return "";
}

ResultsSettingsTool::ResultsSettingsTool(wxWindow* parent, fs::path file, ResultsSettings saved,
                                         ResultsSettings command_line, Apply apply)
    : ToolFrame(parent, "Results settings", wxDefaultSize),
      file_(std::move(file)),
      saved_(std::move(saved)),
      command_line_(std::move(command_line)),
      apply_(std::move(apply)) {
  auto* panel = new wxPanel(this);
  auto* form = new wxFlexGridSizer(2, 6, 8);
  form->AddGrowableCol(1, 1);
  const auto row = [&](const char* label, const char* hint, const char* tip) {
    form->Add(new wxStaticText(panel, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    auto* field =
        new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, wxSize(panel->FromDIP(320), -1));
    field->SetHint(hint);
    field->SetToolTip(tip);
    form->Add(field, 1, wxEXPAND);
    return field;
  };
  operator_field = row("Operator", "who runs at this bench", "The operator kept with each run");
  station_field = row("Station", "this machine's host name",
                      "The bench's name in the runs' records; empty: the host name");
  dut_field = row("DUT", "the chip on the board",
                  "The device under test, kept with each run when the board gives no chip id");
  results_field = row("Results store", "postgresql://HOST/DATABASE",
                      "A lab's PostgreSQL database that every run is sent to as well as the "
                      "bench's results.db; empty: results.db alone");
  command_line_text = new wxStaticText(panel, wxID_ANY, "");
  button_save = new wxButton(panel, wxID_ANY, "Save");
  button_save->SetToolTip("Keep these settings for this bench and use them from the next run on");
  result_line = new ResultLine(panel);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(form, 0, wxEXPAND | wxALL, 8);
  sizer->Add(command_line_text, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  sizer->Add(button_save, 0, wxALL, 8);
  sizer->Add(result_line, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  panel->SetSizer(sizer);

  std::vector<std::string> given;
  for (const auto& [value, option] :
       {std::pair{&command_line_.operator_name, "--operator"},
        std::pair{&command_line_.station, "--station"}, std::pair{&command_line_.dut, "--dut"},
        std::pair{&command_line_.results, "--results"}})
    if (!value->empty()) given.push_back(option);
  command_line_text->SetLabel(
      given.empty() ? wxString()
                    : wxString::FromUTF8(fmt::format(
                          "Until the bench closes, the command line's {} {} used instead.",
                          fmt::join(given, ", "), given.size() == 1 ? "is" : "are")));
  // As large as its texts, the command line's note among them.
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(panel, 1, wxEXPAND);
  SetSizerAndFit(top);
  show(saved_);
  for (wxTextCtrl* field : {operator_field, station_field, dut_field, results_field})
    field->Bind(wxEVT_TEXT, [this, field](wxCommandEvent& event) {
      fields_.show(field, text_of(field));  // typed into, the field is the user's again
      event.Skip();
    });
  button_save->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { save(); });
}

void ResultsSettingsTool::open() { bring_up(); }

void ResultsSettingsTool::show(const ResultsSettings& settings) {
  for (const auto& [field, value] :
       {std::pair{operator_field, &settings.operator_name},
        std::pair{station_field, &settings.station}, std::pair{dut_field, &settings.dut},
        std::pair{results_field, &settings.results}}) {
    field->ChangeValue(wxString::FromUTF8(*value));
    fields_.show(field, *value);
  }
}

void ResultsSettingsTool::mark(wxTextCtrl* field, const std::string& problem) {
  fields_.refuse(field, problem);
  result_line->show(wxString::FromUTF8(problem + "; the settings were not changed."));
  Layout();
  throw std::invalid_argument(problem + "; the settings were not changed.");
}

void ResultsSettingsTool::save() {
  const auto value = [](const wxTextCtrl* field) {
    wxString text = field->GetValue();
    return text.Trim(true).Trim(false).utf8_string();
  };
  ResultsSettings settings{value(operator_field), value(station_field), value(dut_field),
                           value(results_field)};
  for (const auto& [field, text, what] :
       {std::tuple{operator_field, &settings.operator_name, "the operator's name"},
        std::tuple{station_field, &settings.station, "the station's name"},
        std::tuple{dut_field, &settings.dut, "the chip's id"}})
    if (const std::string problem = run_name_problem(*text, what); !problem.empty())
      mark(field, problem);
  if (const std::string problem = database_address_problem(settings.results); !problem.empty())
    mark(results_field, problem);
  try {
    save_results_settings(file_, settings);
  } catch (const std::runtime_error& e) {
    result_line->show(wxString::FromUTF8(e.what()));
    Layout();
    throw;
  }
  const bool database_changed = settings.results != saved_.results;
  saved_ = settings;
  show(saved_);
  if (apply_) apply_(with_command_line(saved_, command_line_), database_changed);
  std::string said = "Settings kept in " + file_.string();
  if (database_changed && command_line_.results.empty())
    said += "; the results store changes at the bench's next start";
  result_line->show(wxString::FromUTF8(said));
  Layout();
}

}  // namespace Zelvar_Core::bench
