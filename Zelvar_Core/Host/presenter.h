// The host's presenter, its tools and its initializer, as the front end uses them.
#pragma once

#include <tsl/ordered_map.h>
#include <wx/defs.h>

#include <string>

#include "Zelvar_Core/Host/logging.h"

namespace Zelvar_Core {

class MainDelegatesApi;

class Tool {
 public:
  virtual ~Tool() = default;
  virtual bool is_shown() = 0;
  virtual void open() = 0;

  bool chip_reg_update = false;  // refresh the chip signals before showing
  bool dev_reg_update = false;   // refresh the device registers before showing
};

class Initializer {
 public:
  virtual ~Initializer() = default;
  virtual void on_test() = 0;
};

// Tool name -> tool, in the order the host inserted them.
using ToolsMap = tsl::ordered_map<std::string, Tool*>;

class Presenter {
 public:
  virtual ~Presenter() = default;

  virtual void toggle_main_img_thread() = 0;
  virtual void stop_main_img_thread() = 0;
  virtual void capture() = 0;
  virtual void set_mode(const std::string& mode) = 0;
  // Without an identifier: the main window; with one: that tool window.
  virtual void update_view() = 0;
  virtual void update_view(wxWindowID id) = 0;
  virtual void update_image() = 0;
  virtual void process_img() = 0;
  virtual void save_preset() = 0;
  virtual void load_preset() = 0;
  virtual void update_model(wxWindowID id) = 0;
  virtual void run_adc() = 0;
  virtual void stop_adc() = 0;
  virtual void update_adc_ts() = 0;
  virtual void update_adc_panels() = 0;
  virtual void send_serial_data() = 0;
  virtual void close() = 0;

  Logger logger;                               // never null once the host is set up
  MainDelegatesApi* delegates_main = nullptr;  // owned by the host
  ToolsMap tools;                              // tools owned by the host
  Initializer* initializer = nullptr;          // owned by the host
};

}  // namespace Zelvar_Core
