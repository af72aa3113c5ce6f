#include "bench/host/windows/desktop.h"

#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/utils.h>

#include <filesystem>

namespace Zelvar_Core::bench {

std::string open_on_desktop(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error))
    return "Nothing to open yet: " + path + " does not exist";
  if (wxLaunchDefaultApplication(wxString::FromUTF8(path))) return "Opened " + path;
  return "No program here opens " + path + ": copy its path instead";
}

std::string copy_path(const std::string& path) {
  if (!wxTheClipboard->Open()) return "The clipboard cannot be used";
  wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(path)));
  wxTheClipboard->Close();
  return "Copied " + path;
}

}  // namespace Zelvar_Core::bench
