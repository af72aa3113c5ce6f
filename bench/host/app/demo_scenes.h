// pravel --demo: the bench as a user would see it, for a look or a
// screenshot. Every window is opened through its menu entry's command, as a
// click would; each window's place is logged for whoever takes pictures.
#pragma once

#include <wx/timer.h>

#include <string>

#include "bench/host/app/bench_session.h"

namespace Zelvar_Core::bench {

class DemoScenes {
 public:
  explicit DemoScenes(BenchSession& session) : s_(session) {}
  // "" for every tool window beside the main one with live data, or one
  // scene: "unplugged", "refused", "playback", "export", "rates", "beside",
  // "sweep", "sequence", "log", "help".
  void show(const std::string& scene);

 private:
  void every_window();
  void unplugged();
  void refused();
  void playback();
  void exported();
  void rates();
  void beside();
  void sweep();
  void sequence();
  void log();
  void help();
  void sensor();
  void choose(wxMenuItem* item);
  void click(wxButton* button);
  void log_places();

  BenchSession& s_;
  wxTimer later_;  // a scene's second act
  int acts_ = 0;   // the acts played, for a scene of several
};

}  // namespace Zelvar_Core::bench
