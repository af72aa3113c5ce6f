// The help window (F1), its pages Keys, Folders and files, About: the
// bench's keys, where its files go (each folder with a way to open it or
// copy its path, and the log file), and what this program is and which
// board it talks to.
#pragma once

#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/stattext.h>

#include <functional>
#include <string>
#include <vector>

#include "bench/board/folders.h"
#include "bench/host/windows/bench_keys.h"
#include "bench/host/windows/tool_frame.h"

namespace Zelvar_Core::bench {

class HelpWindow : public ToolFrame {
 public:
  enum Page { kKeys, kFiles, kAbout };
  // `about` gives the About page's text when it is shown (the board may change).
  HelpWindow(wxWindow* parent, const std::vector<BenchKey>& keys, const BenchFolders& folders,
             std::function<std::string()> about);
  void open() override { show(kKeys); }
  void show(Page page);

  wxNotebook* pages;
  wxListCtrl* keys_list;
  wxStaticText* about_text;
  // The rows of the Files page: what, where, and its buttons.
  struct Place {
    std::string what, path;
    wxButton *button_open, *button_copy;
  };
  std::vector<Place> places;
  // How the last Open or Copy went, for the user.
  wxStaticText* files_outcome;

 private:
  wxWindow* keys_page(const std::vector<BenchKey>& keys);
  wxWindow* files_page(const BenchFolders& folders);
  std::function<std::string()> about_;
};

// The commands of F1 (this window, at its keys) and Ctrl+Q (closing the
// main window, as its close button does). They are keys only: the menu bar
// holds the front end's four menus and nothing else, and the status bar's
// first message points to F1. `help` gives the window, built when first asked for.
void bind_help_keys(wxFrame& window, std::function<HelpWindow&()> help);

}  // namespace Zelvar_Core::bench
