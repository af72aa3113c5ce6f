// The host's data model and device, as the front end uses them.
#pragma once

#include <string>

namespace Zelvar_Core {

// The device's identity, shown by the device-information window.
struct DeviceInfo {
  std::string vendor;
  std::string product_name;
  std::string serial_number;
  std::string dev_version;
};

class DeviceActions {
 public:
  virtual ~DeviceActions() = default;
  virtual void reset_device() = 0;
  virtual void reset_fifo() = 0;
  virtual void reset_ram() = 0;
  virtual void reset_aer() = 0;
  virtual void reset_chip() = 0;
};

class Device {
 public:
  virtual ~Device() = default;
  // Programs the board with the bitstream at `path`; returns when done.
  virtual void program(const std::string& path) = 0;

  bool is_connected = false;
  DeviceActions* actions = nullptr;  // owned by the host
  DeviceInfo info;
};

class ImageHistogram {
 public:
  virtual ~ImageHistogram() = default;
  virtual void set_settings(double max, double min, int bins) = 0;
};

class MainModel {
 public:
  virtual ~MainModel() = default;
  virtual void read_dev_registers() = 0;
  virtual void read_signals() = 0;
  virtual void write_signal(const std::string& label, int value) = 0;
  virtual void reset_image() = 0;

  Device* device = nullptr;                 // owned by the host
  std::string binary_file;                  // bitstream last given to the board
  ImageHistogram* img_histogram = nullptr;  // owned by the host
};

}  // namespace Zelvar_Core
