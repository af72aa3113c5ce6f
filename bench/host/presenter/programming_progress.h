// The progress of a programming run in an application-modal dialog that
// can cancel it, shown from the first byte.
#pragma once

#include <wx/progdlg.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "bench/board/simulated_board.h"

namespace Zelvar_Core::bench {

class ProgrammingProgress : public ProgrammingObserver {
 public:
  explicit ProgrammingProgress(wxWindow* parent) : parent_(parent) {}
  void begin(const std::string& design, std::size_t bytes) override;
  bool advance(std::size_t bytes_done) override;
  void end() override;
  wxProgressDialog* dialog() const { return dialog_.get(); }

  std::function<void(int percent)> on_advance;  // for whoever watches
  std::function<void(const std::string& design, std::size_t bytes)> on_begin;
  // However the run ended; the seconds it took.
  std::function<void(const std::string& design, std::size_t bytes, double seconds)> on_end;

 private:
  // "Writing aer640: 1.0 MB of 3.0 MB".
  wxString message(std::size_t bytes_done) const;
  wxWindow* parent_;
  std::unique_ptr<wxProgressDialog> dialog_;
  std::string design_;
  std::size_t bytes_ = 0;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace Zelvar_Core::bench
