#include "Zelvar_Core/Views/tolmar.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/wfstream.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

namespace Zelvar_Core {

namespace {

// The list keeps as many files as the history holds by default (file1 to
// file9), and a line longer than this holds no path this system can open.
constexpr int kMostRecentFiles = 9;
constexpr std::size_t kLongestLine = 16384;
// A file larger than this is no list this system wrote: its entries are
// read from its start, and it is never written over (what it holds beyond
// would be lost).
constexpr std::size_t kLargestFile = 4 << 20;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The lines of the file at `path`, split at \n, \r\n or \r as the toolkit's
// reader splits them, each whole (a line longer than kLongestLine holds no
// path this system can open, and is flagged so). Nothing when it cannot be
// read; `whole` false when it is larger than kLargestFile, of which only
// the first kLargestFile bytes come back, or when something other than a
// regular file stands at `path`.
struct Line {
  std::string text;
  bool overlong() const { return text.size() > kLongestLine; }
};

struct Lines {
  std::vector<Line> lines;
  bool whole = true;
};

Lines read_lines(const wxString& path) {
  Lines read;
  // Only a regular file is read: a FIFO put in its place would hold the
  // start-up until someone writes to it, and a device may never end. What
  // is there but is no file is no list, and is never written over either.
  std::error_code error;
  const auto kind = std::filesystem::status(static_cast<const char*>(path.fn_str()), error).type();
  if (kind != std::filesystem::file_type::regular) {
    read.whole = kind == std::filesystem::file_type::not_found;
    return read;
  }
  std::ifstream file(static_cast<const char*>(path.fn_str()), std::ios::binary);
  if (!file) return read;
  std::string content(kLargestFile + 1, '\0');
  file.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(file.gcount()));
  if (content.size() > kLargestFile) {
    content.resize(kLargestFile);
    read.whole = false;
  }
  if (content.rfind("\xef\xbb\xbf", 0) == 0) content.erase(0, 3);  // a byte order mark
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t end = std::min(content.find_first_of("\r\n", start), content.size());
    read.lines.push_back(Line{content.substr(start, end - start)});
    start = end + 1;
    if (end + 1 < content.size() && content[end] == '\r' && content[end + 1] == '\n') ++start;
  }
  return read;
}

// The name in a group header line "[name]", backslashes taken as escapes;
// nothing when the line is no header (it has no closing bracket).
std::optional<std::string> group_name(const std::string& line, std::size_t open) {
  std::string name;
  for (std::size_t i = open + 1; i < line.size(); ++i) {
    if (line[i] == ']') return name;
    if (line[i] == '\\' && ++i == line.size()) break;
    name += line[i];
  }
  return std::nullopt;
}

// Whether a group path names the top group, where the history is kept: its
// parts, with "." skipped and ".." going up, leave nothing.
bool is_top_group(const std::string& name) {
  std::size_t depth = 0;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find('/', start), name.size());
    const std::string part = name.substr(start, end - start);
    if (part == "..") {
      depth -= depth > 0;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return depth == 0;
}

// A stored value as the configuration writes it, read back: a leading
// quote keeps leading spaces and then closes the value, a backslash escapes
// n, r, t, a backslash or a quote (another escaped letter is dropped, as
// the toolkit drops it). Nothing for a value the toolkit would complain
// about: a lone trailing backslash or a stray quote.
std::optional<std::string> stored_value(const std::string& text) {
  std::string value;
  const bool quoted = !text.empty() && text.front() == '"';
  for (std::size_t i = quoted ? 1 : 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      if (++i == text.size()) return std::nullopt;
      const char escaped = text[i];
      if (escaped == 'n') value += '\n';
      if (escaped == 'r') value += '\r';
      if (escaped == 't') value += '\t';
      if (escaped == '\\' || escaped == '"') value += escaped;
    } else if (c == '"' && quoted) {
      if (i != text.size() - 1) return std::nullopt;
    } else {
      value += c;
    }
  }
  return value;
}

// The number N and path of a line "fileN=path" (N from 1 to 9, the key in
// any case, spaces around the key and after '=' allowed, as the toolkit
// reads them); nothing for any other line.
std::optional<std::pair<int, wxString>> history_entry(const std::string& line, std::size_t at) {
  const std::size_t equals = line.find('=', at);
  if (equals == std::string::npos) return std::nullopt;
  std::size_t key_end = equals;
  while (key_end > at && is_space(line[key_end - 1])) --key_end;
  const std::string key = line.substr(at, key_end - at);
  if (key.size() != 5 || wxString(key.substr(0, 4)).Lower() != "file" || key[4] < '1' ||
      key[4] > '0' + kMostRecentFiles)
    return std::nullopt;
  std::size_t value_start = equals + 1;
  while (value_start < line.size() && is_space(line[value_start])) ++value_start;
  const auto value = stored_value(line.substr(value_start));
  if (!value || value->empty()) return std::nullopt;
  const wxString path = wxString::FromUTF8(*value);
  if (path.empty()) return std::nullopt;  // not UTF-8: not a path this program wrote
  return std::pair{key[4] - '0', path};
}

// Walks the lines of the list's file as the toolkit's reader reads them,
// telling for each line whether it is a recent entry (a well-formed fileN
// of the top group) and which. Anything else (comments, other groups,
// lines that are no entry, text that is not UTF-8, overlong lines) is no
// entry.
template <typename Visit>
void walk_entries(const std::vector<Line>& lines, Visit visit) {
  bool in_top_group = true;
  for (const Line& line : lines) {
    std::optional<std::pair<int, wxString>> entry;
    std::size_t at = 0;
    while (at < line.text.size() && is_space(line.text[at])) ++at;
    const bool readable = !line.overlong() && line.text.find('\0') == std::string::npos;
    if (readable && at < line.text.size()) {
      if (line.text[at] == '[') {
        if (const auto name = group_name(line.text, at)) in_top_group = is_top_group(*name);
      } else if (in_top_group) {
        entry = history_entry(line.text, at);
      }
    }
    visit(line, entry);
  }
}

// The paths of the recent-files list at `path`, in the order of their
// numbers; when a number comes twice the later line counts, as for the
// toolkit's own reader. Whatever is no entry is passed over without a word.
std::vector<wxString> read_recent_files(const wxString& path) {
  std::map<int, wxString> entries;
  walk_entries(read_lines(path).lines,
               [&entries](const Line&, const std::optional<std::pair<int, wxString>>& entry) {
                 if (entry) entries[entry->first] = entry->second;
               });
  std::vector<wxString> files;
  for (const auto& [number, file] : entries) files.push_back(file);
  return files;
}

// The file's text with its recent entries replaced by `entries` (the lines
// the configuration writes): every other line is kept, in its order, and
// the entries stand where the first of the old ones stood, or else at the
// end of the top group, before the first other group. Nothing when the file
// is too large to be kept whole.
std::optional<std::string> with_entries(const wxString& path, const std::string& entries) {
  const Lines read = read_lines(path);
  if (!read.whole) return std::nullopt;
  std::vector<std::string> kept;
  std::optional<std::size_t> place, first_group;
  walk_entries(read.lines,
               [&](const Line& line, const std::optional<std::pair<int, wxString>>& entry) {
                 if (entry) {
                   if (!place) place = kept.size();
                   return;
                 }
                 std::size_t at = 0;
                 while (at < line.text.size() && is_space(line.text[at])) ++at;
                 if (!first_group && at < line.text.size() && line.text[at] == '[')
                   first_group = kept.size();
                 kept.push_back(line.text);
               });
  const std::size_t at = place ? *place : first_group ? *first_group : kept.size();
  std::string text;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i == at) text += entries;
    text += kept[i] + "\n";
  }
  if (at == kept.size()) text += entries;
  return text;
}

// The list's configuration, kept in memory: it is filled from the entries
// read above, never by the toolkit's parser, whose messages and assertions
// a host may show as boxes. It writes what a configuration bound to the
// file writes, the same way: a temporary file in the list's folder renamed
// over it, its messages held back (the caller reports a failure).
class RecentFilesConfig : public wxFileConfig {
 public:
  explicit RecentFilesConfig(const wxString& path)
      : wxFileConfig(kRecentFilesAppName, wxEmptyString, wxEmptyString, wxEmptyString, 0),
        path_(path) {
    DisableAutoSave();
  }
  // Writes the entries into the file as it stands now, keeping every line
  // of it that is no recent entry.
  bool Flush(bool /*current_only*/ = false) override {
    wxLogNull quiet;
    wxMemoryOutputStream saved;
    if (!Save(saved)) return false;
    std::string entries(saved.GetLength(), '\0');
    saved.CopyTo(entries.data(), entries.size());
    const auto text = with_entries(path_, entries);
    if (!text) return false;
    wxTempFileOutputStream file(path_);
    return file.IsOk() && file.WriteAll(text->data(), text->size()) && file.Commit();
  }

 private:
  wxString path_;
};

wxMenuItem* append_item(wxMenu* menu, const wxString& label) {
  auto* item = new wxMenuItem(menu, wxNewId(), label);
  menu->Append(item);
  return item;
}

wxString absolute_config_path() {
  wxFileName file(wxString::FromUTF8(kRecentFilesConfig));
  file.MakeAbsolute();
  return file.GetFullPath();
}

}  // namespace

MainDeviceMenu::MainDeviceMenu() { config(); }

void MainDeviceMenu::config() {
  item_info = append_item(this, "&Info");
  item_program = append_item(this, "&Program...");
  program_history = std::make_unique<wxFileHistory>();
  program_history->SetMenuPathStyle(wxFH_PATH_SHOW_ALWAYS);
  program_history_path = absolute_config_path();
  program_history_config = std::make_unique<RecentFilesConfig>(program_history_path);
  // Paths are kept as written: "$HOME" in a folder name is not a variable.
  program_history_config->SetExpandEnvVars(false);
  // The entries are numbered again from 1, so that a gap does not end the list.
  const std::vector<wxString> files = read_recent_files(program_history_path);
  for (std::size_t i = 0; i < files.size(); ++i)
    program_history_config->Write(wxString::Format("file%zu", i + 1), files[i]);
  program_history->Load(*program_history_config);
  item_program_history = new wxMenu();
  program_history->UseMenu(item_program_history);
  program_history->AddFilesToMenu();
  AppendSubMenu(item_program_history, "Recent binary files");
}

MainEditMenu::MainEditMenu() { config(); }

void MainEditMenu::config() {
  item_save_preset = append_item(this, "&Save preset as...");
  item_load_preset = append_item(this, "&Load preset...");
  item_reg_dev = append_item(this, "&Device registers");
  item_reg_chip = append_item(this, "&Chip registers");
  item_dac = append_item(this, "&DACs");
}

MainImageMenu::MainImageMenu() { config(); }

void MainImageMenu::config() { item_histogram = append_item(this, "&Histogram"); }

MainToolsMenu::MainToolsMenu() { config(); }

void MainToolsMenu::config() {
  items.clear();
  for (const char* name : {"Write SPI", "ADCs", "Execute test"}) append_entry(name);
}

void MainToolsMenu::configure_tools(const std::vector<std::string>& tools) {
  for (const auto& name : tools) append_entry(name);
}

void MainToolsMenu::append_entry(const std::string& name) {
  items[name] = append_item(this, "&" + wxString::FromUTF8(name));
}

MainMenuBar::MainMenuBar(wxWindow* view) : wxMenuBar(), view(view) { add_menus(); }

void MainMenuBar::configure_tools(const std::vector<std::string>& tools) {
  menu_tools->configure_tools(tools);
}

void MainMenuBar::add_menus() {
  menu_device = new MainDeviceMenu();
  Append(menu_device, "&Device");
  menu_edit = new MainEditMenu();
  Append(menu_edit, "&Edit");
  menu_image = new MainImageMenu();
  Append(menu_image, "&Image");
  menu_tools = new MainToolsMenu();
  Append(menu_tools, "&Tools");
}

}  // namespace Zelvar_Core
