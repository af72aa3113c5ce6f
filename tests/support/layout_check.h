// Whether a window shows all of its controls' text: every label, button,
// check box and choice at least as large as its best size, every one-line
// text field wide enough for its text, and the status bar's fields wide
// enough for theirs (the last, the message, ends in "..." with a tooltip);
// and whether it shows every control at all: each lies wholly inside the
// window's client area and inside the client area of every window it lies
// in (in a scrolled window, inside the area it scrolls over).
#pragma once

#include <wx/toplevel.h>

#include <string>
#include <vector>

namespace Zelvar_Core::testing_support {

// One line per control whose text does not fit, or that lies out of sight:
// its window, kind, text and sizes.
std::vector<std::string> clipped_controls(const wxTopLevelWindow& window);

// One line per control a user works (button, check box, choice, slider,
// editable field) that has no tooltip: its window, kind and label.
std::vector<std::string> controls_without_tooltip(const wxTopLevelWindow& window);

}  // namespace Zelvar_Core::testing_support
