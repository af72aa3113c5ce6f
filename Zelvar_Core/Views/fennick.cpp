#include "Zelvar_Core/Views/fennick.h"

namespace Zelvar_Core {

AuxViewBase::AuxViewBase(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                         const wxSize& size, long style, const wxString& name)
    : wxFrame(parent, id, title, pos, size, style, name),
      logger(get_logger("Zelvar_Core.Views.fennick")) {}

void AuxViewBase::open() { Show(); }

void AuxViewBase::close() { close(false); }

void AuxViewBase::close(bool destroy) {
  logger->debug("{}", "On close frame " + GetTitle().utf8_string());
  if (destroy) {
    Destroy();
  } else {
    Hide();
  }
}

}  // namespace Zelvar_Core
