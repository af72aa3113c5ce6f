// A path in one read-only line: whole when it fits, elided in the middle
// when it does not (its start and its last names stay in sight), with the
// whole path in its tooltip. What it holds for a copy is the whole path.
#pragma once

#include <wx/textctrl.h>

#include <string>

namespace Zelvar_Core::bench {

class PathField : public wxTextCtrl {
 public:
  explicit PathField(wxWindow* parent, const std::string& path = "");
  void set_path(const std::string& path);
  // The whole path, whatever the line shows.
  const std::string& path() const { return path_; }

 private:
  // Shows the path in the width the field has now.
  void fit();

  std::string path_;
};

}  // namespace Zelvar_Core::bench
