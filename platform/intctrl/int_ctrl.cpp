#include "platform/intctrl/int_ctrl.h"

#include <wx/valnum.h>

#include <cerrno>
#include <cstdlib>

namespace Zelvar_Core {

wxIMPLEMENT_DYNAMIC_CLASS(IntCtrl, wxTextCtrl);

IntCtrl::IntCtrl(wxWindow* parent, wxWindowID id, long value, const wxPoint& pos,
                 const wxSize& size, long style)
    : wxTextCtrl(parent, id, wxString::Format("%ld", value), pos, size, style,
                 wxIntegerValidator<long long>()) {}

std::optional<std::int64_t> IntCtrl::GetIntValue() const {
  const std::string text = GetValue().utf8_string();
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  return value;
}

void IntCtrl::SetIntValue(std::int64_t value) {
  SetValue(wxString::Format("%lld", static_cast<long long>(value)));
}

}  // namespace Zelvar_Core
