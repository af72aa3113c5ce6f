// Hands work from a host thread to the GUI thread. What is posted runs in a
// CallAfter of the application, inside a try/catch that reports the error,
// and not at all once the poster has gone.
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

  void operator()(std::function<void()> work) const {
    if (wxTheApp == nullptr) return;
    wxTheApp->CallAfter([alive = alive_, report = report_, work = std::move(work)] {
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

 private:
  std::function<void(const std::string&)> report_;
  std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace Zelvar_Core::bench
