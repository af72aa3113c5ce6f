#include "bench/host/presenter/programming_progress.h"

#include <algorithm>

namespace Zelvar_Core::bench {

void ProgrammingProgress::begin(const std::string& design, std::size_t bytes) {
  design_ = design;
  bytes_ = std::max<std::size_t>(bytes, 1);
  started_ = std::chrono::steady_clock::now();
  if (on_begin) on_begin(design, bytes);
  // Without auto-hide the dialog would wait for a click at 100 %.
  dialog_ = std::make_unique<wxProgressDialog>(
      "Programming the board", wxString::FromUTF8("Writing " + design + "..."), 100, parent_,
      wxPD_APP_MODAL | wxPD_AUTO_HIDE | wxPD_CAN_ABORT | wxPD_ELAPSED_TIME | wxPD_REMAINING_TIME);
  dialog_->Update(0);
}

bool ProgrammingProgress::advance(std::size_t bytes_done) {
  const int percent = static_cast<int>(std::min<std::size_t>(100, bytes_done * 100 / bytes_));
  if (on_advance) on_advance(percent);
  if (!dialog_) return true;
  return dialog_->Update(percent,
                         wxString::Format("Writing %s: %zu of %zu kB", wxString::FromUTF8(design_),
                                          bytes_done / 1024, bytes_ / 1024));
}

void ProgrammingProgress::end() {
  dialog_.reset();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  if (on_end) on_end(design_, bytes_, seconds);
}

}  // namespace Zelvar_Core::bench
