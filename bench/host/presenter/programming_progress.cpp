#include "bench/host/presenter/programming_progress.h"

#include <algorithm>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

void ProgrammingProgress::begin(const std::string& design, std::size_t bytes) {
  design_ = design;
  bytes_ = std::max<std::size_t>(bytes, 1);
  started_ = std::chrono::steady_clock::now();
  if (on_begin) on_begin(design, bytes);
  // Without auto-hide the dialog would wait for a click at 100 %. It opens
  // as wide as its longest message, so that no update is cut.
  dialog_ = std::make_unique<wxProgressDialog>(
      "Programming the board", message(bytes_), 100, parent_,
      wxPD_APP_MODAL | wxPD_AUTO_HIDE | wxPD_CAN_ABORT | wxPD_ELAPSED_TIME | wxPD_REMAINING_TIME);
  dialog_->Update(0, message(0));
}

wxString ProgrammingProgress::message(std::size_t bytes_done) const {
  // Both sizes in the bench's one unit of sizes, each with it.
  return wxString::FromUTF8("Writing " + design_ + ": " + size_text(bytes_done) + " of " +
                            size_text(bytes_));
}

bool ProgrammingProgress::advance(std::size_t bytes_done) {
  const int percent = static_cast<int>(std::min<std::size_t>(100, bytes_done * 100 / bytes_));
  if (on_advance) on_advance(percent);
  if (!dialog_) return true;
  return dialog_->Update(percent, message(bytes_done));
}

void ProgrammingProgress::end() {
  dialog_.reset();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  if (on_end) on_end(design_, bytes_, seconds);
}

}  // namespace Zelvar_Core::bench
