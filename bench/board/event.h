// One address-event of the sensor as the board reports it: where, which way
// the brightness moved and when, on the board's clock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zelvar_Core::bench {

inline constexpr int kSensorWidth = 640;
inline constexpr int kSensorHeight = 480;

// The pixel array's size: the AER-640's unless the board says otherwise.
struct SensorGeometry {
  std::uint32_t width = kSensorWidth;
  std::uint32_t height = kSensorHeight;
  bool contains(std::uint32_t x, std::uint32_t y) const { return x < width && y < height; }
  std::size_t pixels() const { return std::size_t{width} * height; }
  bool operator==(const SensorGeometry& o) const { return width == o.width && height == o.height; }
  bool operator!=(const SensorGeometry& o) const { return !(*this == o); }
};

struct Event {
  std::int64_t t = 0;   // microseconds on the board's clock
  std::uint16_t x = 0;  // column
  std::uint16_t y = 0;  // row
  std::uint8_t p = 0;   // 1 = ON (brighter), 0 = OFF (darker)
};

inline constexpr bool on_sensor(const Event& e) {
  return e.x < kSensorWidth && e.y < kSensorHeight;
}

// Receives the board's events on the thread that produced them; it must
// return quickly and never block (the stream does not wait for anyone).
class EventListener {
 public:
  virtual ~EventListener() = default;
  virtual void on_events(const Event* events, std::size_t count) = 0;
};

}  // namespace Zelvar_Core::bench
