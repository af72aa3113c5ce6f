// The line in a tool window that tells what the user's last action there
// came to ("Exported 9,734,912 events to ... in 1.2 s"): shown whole at any
// width, broken into lines where it does not fit (a long path, too, between
// its folders), the window growing as tall as the lines need.
#pragma once

#include <wx/stattext.h>

namespace Zelvar_Core::bench {

class ResultLine : public wxStaticText {
 public:
  explicit ResultLine(wxWindow* parent);
  // Shows `text` whole (an empty text hides the line's content).
  void show(const wxString& text);
  const wxString& text() const { return text_; }

 private:
  void wrap();
  wxString text_;
  int wrapped_for_ = -1;  // the width the label was broken for
};

// `text` broken into lines no wider than `width` pixels as `window` draws
// them: at blanks, else after a slash, else between any two characters.
wxString wrapped_text(const wxString& text, int width, const wxWindow& window);

}  // namespace Zelvar_Core::bench
