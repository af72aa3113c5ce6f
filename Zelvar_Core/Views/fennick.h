// The frame of every tool window: shown by open(), hidden (or destroyed) by
// close(), which logs the closing under the module's own logger name.
#pragma once

#include <wx/colour.h>
#include <wx/frame.h>

#include "Zelvar_Core/Host/logging.h"
#include "Zelvar_Core/Host/windows.h"

namespace Zelvar_Core {

// Background of a tool window's field whose text changed and was not
// applied yet.
inline const wxColour kEditedColour(128, 255, 0, 50);

class AuxViewBase : public wxFrame, public virtual ToolWindow {
 public:
  // Every argument goes unchanged to wxFrame; left-out ones keep its defaults.
  AuxViewBase(wxWindow* parent, wxWindowID id, const wxString& title,
              const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
              long style = wxDEFAULT_FRAME_STYLE, const wxString& name = wxFrameNameStr);

  void open() override;
  void close() override;
  void close(bool destroy);

  Logger logger;
};

}  // namespace Zelvar_Core
