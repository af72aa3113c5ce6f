// Where a window of the bench opens: beside the main window, on the main
// window's screen, never over its menu bar or its Start button. With a
// window manager or without one (where a frame nobody places opens at the
// screen's corner, over the menu).
#pragma once

#include <wx/gdicmn.h>
#include <wx/toplevel.h>

namespace Zelvar_Core::bench {

// `rect` moved the least that puts it inside `screen` (its top left corner
// first, when it is larger).
wxRect inside(wxRect rect, const wxRect& screen);

// The place for a window of `size` near `main` (its whole frame) on
// `screen`: to its right, below it or to its left, whichever holds it
// whole without covering the main window; else on the screen's right side,
// below `menu` and clear of `controls` (the main window's parts a user
// must always reach).
wxPoint place_beside(const wxSize& size, const wxRect& main, const wxRect& menu,
                     const wxRect& controls, const wxRect& screen);

// The size for a window of `size` (no smaller than `smallest`) near `main`:
// its own when a place beside the main window holds it whole, else no
// larger than the room on the screen below `menu` and right of `controls`,
// so that where place_beside() then puts it, it is whole on the screen and
// the main window's menu and controls stay clear.
wxSize fit_beside(const wxSize& size, const wxSize& smallest, const wxRect& main,
                  const wxRect& menu, const wxRect& controls, const wxRect& screen);

// Moves `window` there, beside `main`, made smaller first when only that keeps it on the screen:
// its menu bar's strip and the control panel (Start, Capture, Record...) are kept clear.
void open_beside(wxTopLevelWindow& window, const wxTopLevelWindow& main);
// The same, the first time `window` is shown, for a window that shows
// itself (the front end's windows open with Show alone).
void open_beside_when_first_shown(wxTopLevelWindow& window, const wxTopLevelWindow& main);

}  // namespace Zelvar_Core::bench
