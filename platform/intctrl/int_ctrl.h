// A text field that accepts only integers. It is a wxTextCtrl (so it emits
// wxEVT_TEXT and wxEVT_TEXT_ENTER) with a validator that filters the keys, and
// it has its own run-time class so it can be told apart from a plain field.
#pragma once

#include <wx/textctrl.h>

#include <cstdint>
#include <optional>

namespace Zelvar_Core {

class IntCtrl : public wxTextCtrl {
 public:
  IntCtrl() = default;
  IntCtrl(wxWindow* parent, wxWindowID id, long value = 0, const wxPoint& pos = wxDefaultPosition,
          const wxSize& size = wxDefaultSize, long style = 0);

  // The integer in the field, or nothing when the text is not one.
  std::optional<std::int64_t> GetIntValue() const;
  void SetIntValue(std::int64_t value);

 private:
  wxDECLARE_DYNAMIC_CLASS(IntCtrl);
};

}  // namespace Zelvar_Core
