#include "bench/remote/client/board_description.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "bench/board/text.h"

namespace Zelvar_Core::bench::remote {

namespace {

using Limits = DescriptionLimits;

[[noreturn]] void lie(const std::string& what) { throw std::invalid_argument(what); }

// A name as the bench shows it: not empty, not too long, printable UTF-8.
void check_name(const std::string& what, const std::string& name, std::size_t longest) {
  if (name.empty()) lie(what + " has no name");
  if (name.size() > longest)
    lie(what + " has a name of " + std::to_string(name.size()) + " characters (at most " +
        std::to_string(longest) + ")");
  if (const std::string fault = text_fault(name); !fault.empty())
    lie(what + " has a name that holds " + fault);
}

void check_length(const std::string& what, const std::string& text, std::size_t longest) {
  if (text.size() > longest)
    lie(what + " is " + std::to_string(text.size()) + " characters long (at most " +
        std::to_string(longest) + ")");
  if (const std::string fault = text_fault(text); !fault.empty()) lie(what + " holds " + fault);
}

template <typename T>
bool contains(const std::vector<T>& list, const T& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

std::string side_text(std::uint32_t width, std::uint32_t height) {
  return std::to_string(width) + "\u00d7" + std::to_string(height);
}

// A size given by the board: both sides within 1..65535.
SensorGeometry checked_size(const std::string& whose, std::uint32_t width, std::uint32_t height) {
  if (width < 1 || width > Limits::kLargestSide || height < 1 || height > Limits::kLargestSide)
    lie(whose + " gives a sensor of " + side_text(width, height) + " pixels (each side 1 to " +
        std::to_string(Limits::kLargestSide) + ")");
  return {width, height};
}

std::string reset_name(int kind) {
  switch (kind) {
    case v1::RESET_DEVICE:
      return "reset_device";
    case v1::RESET_FIFO:
      return "reset_fifo";
    case v1::RESET_RAM:
      return "reset_ram";
    case v1::RESET_AER:
      return "reset_aer";
    case v1::RESET_CHIP:
      return "reset_chip";
    default:
      lie("its description names a reset no one knows (" + std::to_string(kind) + ")");
  }
}

SensorMode mode_named(int mode) {
  if (mode < v1::MODE_EVENT_STREAM || mode > v1::MODE_STANDBY)
    lie("its description names a mode no one knows (" + std::to_string(mode) + ")");
  return static_cast<SensorMode>(mode - v1::MODE_EVENT_STREAM);
}

}  // namespace

Register register_of(const v1::Register& r) {
  Register out{r.name(), r.value(), r.min(), r.max()};
  out.unit = r.unit();
  out.description = r.description();
  out.read_only = r.read_only();
  out.default_value = r.default_value();
  return out;
}

void check_registers(const std::vector<Register>& bank, std::vector<std::string>& seen) {
  if (bank.size() > Limits::kMostRegisters)
    lie("it lists " + std::to_string(bank.size()) + " registers in one bank (at most " +
        std::to_string(Limits::kMostRegisters) + ")");
  for (const Register& r : bank) {
    check_name("a register", r.name, Limits::kLongestName);
    if (contains(seen, r.name)) lie("it lists the register " + r.name + " twice");
    seen.push_back(r.name);
    if (r.min > r.max)
      lie("the register " + r.name + " has the range " + std::to_string(r.min) + ".." +
          std::to_string(r.max) + ", upside down");
    check_length("the unit of " + r.name, r.unit, Limits::kLongestUnit);
    check_length("the description of " + r.name, r.description, Limits::kLongestDescription);
  }
}

BoardDeclaration declaration_from(const v1::Identity& identity,
                                  const std::optional<v1::BoardDescription>& description) {
  BoardDeclaration board = declaration_of(SimulatedSensor::Aer640);
  board.device_registers.clear();
  board.dac_registers.clear();
  board.chip_registers.clear();
  if (identity.protocol_version() > 1)
    lie("it speaks version " + std::to_string(identity.protocol_version()) +
        " of the board protocol, and this bench version 1");
  std::optional<SensorGeometry> identity_size;
  if (identity.sensor_width() != 0 || identity.sensor_height() != 0)
    identity_size = checked_size("its identity", identity.sensor_width(), identity.sensor_height());
  if (identity_size) board.geometry = *identity_size;
  if (!description) return board;

  const v1::BoardDescription& d = *description;
  if (!d.sensor_name().empty()) {
    check_name("its sensor", d.sensor_name(), Limits::kLongestName);
    board.sensor_name = d.sensor_name();
  }
  if (d.sensor_width() != 0 || d.sensor_height() != 0) {
    const SensorGeometry described =
        checked_size("its description", d.sensor_width(), d.sensor_height());
    if (identity_size && *identity_size != described)
      lie("its identity gives a sensor of " +
          side_text(identity_size->width, identity_size->height) + " pixels and its description " +
          side_text(described.width, described.height));
    board.geometry = described;
  }
  if (d.modes_size() > 0) {
    board.modes.clear();
    for (const int mode : d.modes()) {
      const SensorMode known = mode_named(mode);
      if (contains(board.modes, known))
        lie("its description names the mode " + mode_text(known) + " twice");
      board.modes.push_back(known);
    }
  }
  if (d.resets_size() > 0) {
    board.resets.clear();
    for (const int kind : d.resets()) {
      const std::string name = reset_name(kind);
      if (contains(board.resets, name)) lie("its description names the reset " + name + " twice");
      board.resets.push_back(name);
    }
  }
  if (d.adc_channels_size() > 0) {
    if (static_cast<std::size_t>(d.adc_channels_size()) > Limits::kMostAdcChannels)
      lie("it declares " + std::to_string(d.adc_channels_size()) + " ADC channels (at most " +
          std::to_string(Limits::kMostAdcChannels) + ")");
    board.adc_channels.clear();
    std::vector<std::string> names;
    for (const auto& c : d.adc_channels()) {
      check_name("an ADC channel", c.name(), Limits::kLongestName);
      if (contains(names, c.name())) lie("it declares the ADC channel " + c.name() + " twice");
      names.push_back(c.name());
      check_length("the unit of the ADC channel " + c.name(), c.unit(), Limits::kLongestUnit);
      if (!std::isfinite(c.normal_min()) || !std::isfinite(c.normal_max()) ||
          c.normal_min() > c.normal_max())
        lie("the ADC channel " + c.name() +
            " has a normal range that is upside down or not a "
            "number");
      board.adc_channels.push_back({c.name(), c.unit(), c.normal_min(), c.normal_max()});
    }
  }
  board.has_serial_port = d.has_serial_port();
  if (d.largest_design_bytes() != 0) {
    if (d.largest_design_bytes() > Limits::kLargestDesign)
      lie("it holds designs of " + std::to_string(d.largest_design_bytes()) +
          " bytes, past any board's memory");
    board.largest_design_bytes = d.largest_design_bytes();
  }
  if (d.event_formats_size() > 0) {
    if (static_cast<std::size_t>(d.event_formats_size()) > Limits::kMostEventFormats)
      lie("it declares " + std::to_string(d.event_formats_size()) + " event formats (at most " +
          std::to_string(Limits::kMostEventFormats) + ")");
    board.event_formats.clear();
    for (const std::string& format : d.event_formats()) {
      check_name("an event format", format, Limits::kLongestName);
      if (contains(board.event_formats, format))
        lie("it declares the event format " + format + " twice");
      board.event_formats.push_back(format);
    }
    if (!contains(board.event_formats, std::string("EVT 2.0")))
      lie("it streams none of the event formats this bench reads (EVT 2.0)");
  }
  if (d.largest_batch_bytes() != 0) {
    if (d.largest_batch_bytes() < 16 || d.largest_batch_bytes() > Limits::kLargestBatch)
      lie("it sends batches of up to " + std::to_string(d.largest_batch_bytes()) +
          " bytes (16 bytes to 64 MiB)");
    board.largest_batch_bytes = d.largest_batch_bytes();
  }
  return board;
}

}  // namespace Zelvar_Core::bench::remote
