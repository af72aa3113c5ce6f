// A field whose value the bench refused: its own colour (not the green of a
// pending edit) and the reason as its tooltip, until it is written or reset.
#pragma once

#include <wx/colour.h>
#include <wx/window.h>

#include <string>

namespace Zelvar_Core::bench {

inline const wxColour kRefusedColour(255, 190, 190);

void mark_refused(wxWindow* field, const std::string& reason);
// Back to the platform's colour, without a tooltip.
void clear_mark(wxWindow* field);
bool is_refused(const wxWindow* field);

}  // namespace Zelvar_Core::bench
