// The register editors' host side: the device registers, the DACs and the
// chip signals shown as the board holds them, the user's unwritten edits
// kept across refreshes, and writes checked by the board field by field
// (a refused field keeps its text, marked, with the reason).
#pragma once

#include <spdlog/logger.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "Zelvar_Core/Views/prenna.h"
#include "bench/board/bench_model.h"
#include "bench/host/presenter/field_state.h"
#include "bench/host/presenter/status_line.h"
#include "bench/host/windows/chip_editor.h"
#include "bench/host/windows/main_window.h"

namespace Zelvar_Core::bench {

class Editors {
 public:
  Editors(BenchModel& model, StatusLine& status, std::shared_ptr<spdlog::logger> logger);
  void attach(BenchMainWindow& window);

  // All: show the model; KeepEdits: and keep what the user typed but did not write.
  enum class Refresh { All, KeepEdits };
  void refresh(Refresh how);
  void refresh_registers(Refresh how);
  void refresh_dacs(Refresh how);
  void refresh_signals(Refresh how);
  // Refreshes the editor with that identifier; false when it is none of them.
  bool refresh(wxWindowID editor);
  // Writes the edited fields of the editor with that identifier.
  void write(wxWindowID editor);
  // A refused signal's check box shows what the board kept.
  void revert_signal(const std::string& label);
  // The fields and Apply follow the board's presence.
  void enable(bool connected);
  // The board declared other registers: every editor's rows are made anew
  // from the model, and nothing of the old board's stays.
  void rebuild();
  FieldStates& fields() { return fields_; }

 private:
  // Runs `update` (which shows the model in the editor's fields) and keeps
  // what the user typed, as `how` asks.
  void refresh_fields(Refresh how, const std::function<WidgetMap()>& fields,
                      const std::function<void()>& update);
  void refresh_values(ValuesView& editor, const ValuesMap& values,
                      const std::vector<Register>& ranges, Refresh how);
  // Once, when the editor's fields are made: captions with units, tooltips
  // with what each register is, read-only fields not editable.
  void describe_fields(ValuesView& editor, const std::vector<Register>& ranges);
  void write_fields(const WidgetMap& fields);
  BenchChipEditor& chip_editor();

  BenchModel& model_;
  StatusLine& status_;
  std::shared_ptr<spdlog::logger> logger_;
  BenchMainWindow* view_ = nullptr;
  FieldStates fields_;
  std::set<const ValuesPanel*> described_;
};

}  // namespace Zelvar_Core::bench
