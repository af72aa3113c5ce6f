// Hands work from a host thread to the GUI thread. What is posted runs in a
// CallAfter of the application, inside a try/catch that reports the error,
// and not at all once the poster has gone. A thread that may outlive the
// poster (a board's command thread ending a call after the bench closed)
// posts through a detached() copy, never through the poster itself.
#pragma once

#include <wx/app.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace Zelvar_Core::bench {

class GuiPost {
 public:
  explicit GuiPost(std::function<void(const std::string&)> report)
      : report_(std::move(report)), alive_(std::make_shared<std::atomic<bool>>(true)) {}
  ~GuiPost() { *alive_ = false; }
  GuiPost(const GuiPost&) = delete;
  GuiPost& operator=(const GuiPost&) = delete;

  void operator()(std::function<void()> work) const { post(alive_, report_, std::move(work)); }

  // Posts as this one does, and holds nothing of it: safe to call after the
  // poster has gone (what it posts then never runs).
  std::function<void(std::function<void()>)> detached() const {
    return [alive = alive_, report = report_](std::function<void()> work) {
      post(alive, report, std::move(work));
    };
  }

 private:
  static void post(const std::shared_ptr<std::atomic<bool>>& alive,
                   const std::function<void(const std::string&)>& report,
                   std::function<void()> work) {
    if (wxTheApp == nullptr) return;
    wxTheApp->CallAfter([alive, report, work = std::move(work)] {
      if (!*alive) return;
      try {
        work();
      } catch (const std::exception& e) {
        report(e.what());
      } catch (...) {
        report("unknown error");
      }
    });
  }

  std::function<void(const std::string&)> report_;
  std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace Zelvar_Core::bench
