#include "bench/host/windows/placement.h"

#include <wx/display.h>

#include <algorithm>
#include <memory>

#include "bench/host/windows/main_window.h"

namespace Zelvar_Core::bench {

namespace {
constexpr int kGap = 8;
}  // namespace

wxRect inside(wxRect rect, const wxRect& screen) {
  rect.x = std::max(screen.x, std::min(rect.x, screen.GetRight() + 1 - rect.width));
  rect.y = std::max(screen.y, std::min(rect.y, screen.GetBottom() + 1 - rect.height));
  return rect;
}

wxPoint place_beside(const wxSize& size, const wxRect& main, const wxRect& menu,
                     const wxRect& controls, const wxRect& screen) {
  const wxPoint beside[] = {{main.GetRight() + 1 + kGap, main.y},
                            {main.x, main.GetBottom() + 1 + kGap},
                            {main.x - kGap - size.x, main.y}};
  for (const wxPoint& at : beside) {
    const wxRect placed = inside(wxRect(at, size), screen);
    if (!placed.Intersects(main)) return placed.GetPosition();
  }
  // No room beside it: over the main window's image, clear of its menu and controls.
  const wxRect keep_clear = wxRect(menu).Union(controls);
  wxRect placed = inside(
      wxRect(wxPoint(screen.GetRight() + 1 - size.x, menu.GetBottom() + 1 + kGap), size), screen);
  if (placed.Intersects(keep_clear)) {
    placed.x = std::max(placed.x, controls.GetRight() + 1 + kGap);
    placed.y = std::max(placed.y, menu.GetBottom() + 1 + kGap);
  }
  return placed.GetPosition();
}

wxSize fit_beside(const wxSize& size, const wxSize& smallest, const wxRect& main,
                  const wxRect& menu, const wxRect& controls, const wxRect& screen) {
  const wxPoint beside[] = {{main.GetRight() + 1 + kGap, main.y},
                            {main.x, main.GetBottom() + 1 + kGap},
                            {main.x - kGap - size.x, main.y}};
  for (const wxPoint& at : beside)
    if (!inside(wxRect(at, size), screen).Intersects(main)) return size;
  // Over the main window's image: no wider than the screen right of the
  // controls, no taller than the screen below the menu.
  const int left = std::max(screen.x, controls.GetRight() + 1 + kGap);
  const int top = std::max(screen.y, menu.GetBottom() + 1 + kGap);
  const wxSize room(screen.GetRight() + 1 - left, screen.GetBottom() + 1 - top);
  return {std::max(std::min(size.x, room.x), smallest.x),
          std::max(std::min(size.y, room.y), smallest.y)};
}

void open_beside(wxTopLevelWindow& window, const wxTopLevelWindow& main) {
  const int display = wxDisplay::GetFromWindow(&main);
  const wxRect screen =
      wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
  const wxRect frame = main.GetRect();
  // The strip above the main window's client area: its title and menu bar.
  const wxPoint client = main.ClientToScreen(wxPoint(0, 0));
  const wxRect menu(frame.x, frame.y, frame.width, std::max(0, client.y - frame.y));
  wxRect controls = menu;
  if (auto* bench = dynamic_cast<const BenchMainWindow*>(&main))
    controls = bench->panel_control->GetScreenRect();
  const wxSize size =
      fit_beside(window.GetSize(), window.GetMinSize(), frame, menu, controls, screen);
  if (size != window.GetSize()) window.SetSize(size);
  window.Move(place_beside(size, frame, menu, controls, screen));
}

void open_beside_when_first_shown(wxTopLevelWindow& window, const wxTopLevelWindow& main) {
  auto placed = std::make_shared<bool>(false);
  window.Bind(wxEVT_SHOW, [&window, &main, placed](wxShowEvent& event) {
    event.Skip();
    if (*placed || !event.IsShown()) return;
    *placed = true;
    open_beside(window, main);
  });
}

}  // namespace Zelvar_Core::bench
