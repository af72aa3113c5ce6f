#include "bench/host/windows/help_window.h"

#include <wx/button.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "bench/host/windows/desktop.h"
#include "bench/host/windows/path_field.h"

namespace Zelvar_Core::bench {

HelpWindow::HelpWindow(wxWindow* parent, const std::vector<BenchKey>& keys,
                       const BenchFolders& folders, std::function<std::string()> about)
    : ToolFrame(parent, "Help", wxDefaultSize), about_(std::move(about)) {
  pages = new wxNotebook(this, wxID_ANY);
  pages->AddPage(keys_page(keys), "Keys");
  pages->AddPage(files_page(folders), "Folders and files");
  auto* about_page = new wxPanel(pages);
  about_text = new wxStaticText(about_page, wxID_ANY, "");
  auto* about_sizer = new wxBoxSizer(wxVERTICAL);
  about_sizer->Add(about_text, 1, wxEXPAND | wxALL, 12);
  about_page->SetSizer(about_sizer);
  pages->AddPage(about_page, "About");
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(pages, 1, wxEXPAND);
  SetSizerAndFit(sizer);
}

wxWindow* HelpWindow::keys_page(const std::vector<BenchKey>& keys) {
  auto* page = new wxPanel(pages);
  keys_list = new wxListCtrl(page, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                             wxLC_REPORT | wxLC_SINGLE_SEL);
  keys_list->AppendColumn("Key");
  keys_list->AppendColumn("Does");
  for (const auto& key : keys) {
    const long row = keys_list->InsertItem(keys_list->GetItemCount(), key.shown);
    keys_list->SetItem(row, 1, wxString::FromUTF8(key.what));
  }
  keys_list->SetColumnWidth(0, wxLIST_AUTOSIZE);
  keys_list->SetColumnWidth(1, wxLIST_AUTOSIZE);
  const int width = keys_list->GetColumnWidth(0) + keys_list->GetColumnWidth(1) + FromDIP(30);
  const int height = (keys_list->GetItemCount() + 2) * FromDIP(24);
  keys_list->SetMinSize(wxSize(width, height));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(keys_list, 1, wxEXPAND | wxALL, 8);
  page->SetSizer(sizer);
  return page;
}

wxWindow* HelpWindow::files_page(const BenchFolders& folders) {
  auto* page = new wxPanel(pages);
  auto* grid = new wxFlexGridSizer(4, 6, 8);
  grid->AddGrowableCol(1);
  const std::pair<std::string, std::filesystem::path> where[] = {
      {"The log", folders.logs / "pravel.log"},
      {"Recordings", folders.recordings},
      {"Reports", folders.reports},
      {"Captures", folders.captures},
      {"Presets", folders.presets},
      {"Recent bitstreams", folders.tmp / ".Pravel_recent_files"},
      {"Started in", folders.root}};
  for (const auto& [what, path] : where) {
    Place place{what, path.string(), nullptr, nullptr};
    grid->Add(new wxStaticText(page, wxID_ANY, wxString::FromUTF8(what)), 0,
              wxALIGN_CENTER_VERTICAL);
    // As wide as the usual path, up to half the screen; a longer one is
    // elided in the middle, whole in its tooltip and copied whole.
    auto* text = new PathField(page, place.path);
    const int usual = text->GetTextExtent(wxString::FromUTF8(place.path)).x + FromDIP(24);
    text->SetMinSize(wxSize(std::min(usual, wxGetDisplaySize().x / 2), -1));
    grid->Add(text, 1, wxEXPAND);
    place.button_open = new wxButton(page, wxID_ANY, "Open");
    place.button_open->SetToolTip("Open it with the desktop's program for it");
    place.button_copy = new wxButton(page, wxID_ANY, "Copy");
    place.button_copy->SetToolTip("Copy its path");
    grid->Add(place.button_open);
    grid->Add(place.button_copy);
    const std::string path_text = place.path;
    place.button_open->Bind(wxEVT_BUTTON, [this, path_text](wxCommandEvent&) {
      files_outcome->SetLabel(wxString::FromUTF8(open_on_desktop(path_text)));
    });
    place.button_copy->Bind(wxEVT_BUTTON, [this, path_text](wxCommandEvent&) {
      files_outcome->SetLabel(wxString::FromUTF8(copy_path(path_text)));
    });
    places.push_back(place);
  }
  files_outcome = new wxStaticText(page, wxID_ANY, "");
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(grid, 0, wxEXPAND | wxALL, 10);
  sizer->Add(files_outcome, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
  page->SetSizer(sizer);
  return page;
}

void HelpWindow::show(Page page) {
  about_text->SetLabel(wxString::FromUTF8(about_()));
  pages->GetPage(kAbout)->Layout();
  pages->SetSelection(page);
  GetSizer()->SetSizeHints(this);
  bring_up();
}

void bind_help_keys(wxFrame& window, std::function<HelpWindow&()> help) {
  window.Bind(
      wxEVT_MENU, [help](wxCommandEvent&) { help().show(HelpWindow::kKeys); }, wxID_HELP);
  window.Bind(
      wxEVT_MENU, [&window](wxCommandEvent&) { window.Close(); }, wxID_EXIT);
}

}  // namespace Zelvar_Core::bench
