// Asks the X display whether a window manager runs on it. Xlib's macros
// (None, Status, Bool) clash with other headers: kept in a file of its own.
#include <wx/utils.h>

#include "tests/support/gui_harness.h"
// After every other header, whose names Xlib's macros would take.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace Zelvar_Core::testing_support {

bool window_manager_runs() {
  auto* display = static_cast<Display*>(wxGetDisplay());
  if (display == nullptr) return false;
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return false;
  Atom type = None;
  int format = 0;
  unsigned long items = 0, left = 0;
  unsigned char* data = nullptr;
  const bool named =
      XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                         &format, &items, &left, &data) == Success &&
      items == 1;
  if (data != nullptr) XFree(data);
  return named;
}

}  // namespace Zelvar_Core::testing_support
