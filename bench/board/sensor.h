// The simulated sensor: ON/OFF pixel events from a moving scene, and the
// frame they are accumulated into.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/board/event.h"

namespace Zelvar_Core::bench {

enum class SensorMode { EventStream, TestPattern, Standby };

// What the biases and chip signals make of the pixel array.
struct SensorSettings {
  double signal_rate = 0;    // events/s from the moving scene
  double noise_rate = 0;     // events/s of background activity
  double on_fraction = 0.5;  // share of the scene's events that are ON
  SensorMode mode = SensorMode::EventStream;
  double total_rate() const { return mode == SensorMode::Standby ? 0 : signal_rate + noise_rate; }
};

// Thresholds and bias in DAC counts (0..4095), chip-level gain 0..7, and
// whether the AER output is enabled and the chip out of reset.
struct BiasPoint {
  int vbias_pr = 1800;
  int vbias_ref = 1600;
  int vth_on = 2400;
  int vth_off = 800;
  int bias_gain = 3;
  bool aer_enabled = true;
  bool out_of_reset = true;
};

// Narrower contrast thresholds and a stronger photoreceptor make more events;
// thresholds close to the reference make much more noise. The ON threshold
// sets the ON events and the OFF threshold the OFF events.
SensorSettings sensor_settings(const BiasPoint& bias, SensorMode mode);
// The mean ON and OFF event rates the settings give (events/s).
struct PolarityRates {
  double on = 0;
  double off = 0;
};
PolarityRates expected_rates(const SensorSettings& settings);

class EventSensor {
 public:
  static constexpr std::uint64_t kSeed = 0x9e3779b97f4a7c15ull;
  explicit EventSensor(std::uint64_t seed = kSeed) : EventSensor(SensorGeometry{}, seed) {}
  // A pixel array of another size: the scene is scaled to it. Throws
  // std::invalid_argument for one too small to hold the scene (under 32
  // pixels either way).
  explicit EventSensor(SensorGeometry geometry, std::uint64_t seed = kSeed);
  const SensorGeometry& geometry() const { return geometry_; }
  // Writes `count` events of the scene as it is at `t` seconds to `out`,
  // which has room for them, stamped evenly over [t_begin, t_end)
  // microseconds in order, as the pixel array is read out over one slice.
  // Returns how many: `count`, or none in standby. Every event lies on the
  // sensor.
  std::size_t generate(double t, std::size_t count, const SensorSettings& settings,
                       std::int64_t t_begin, std::int64_t t_end, Event* out);
  // The same, appended to `out`.
  void generate(double t, std::size_t count, const SensorSettings& settings, std::int64_t t_begin,
                std::int64_t t_end, std::vector<Event>& out);

 private:
  SensorGeometry geometry_;
  std::uint64_t state_;
};

// Net event count per pixel (ON +1, OFF -1), saturating, and the time span
// of the events in it.
class EventFrame {
 public:
  explicit EventFrame(SensorGeometry size = {}) : geometry(size), counts(size.pixels(), 0) {}
  // Events outside the sensor are not counted.
  void accumulate(const Event* events, std::size_t count);
  void clear();
  SensorGeometry geometry;
  std::vector<std::int16_t> counts;  // row by row, geometry.width a row
  std::int64_t t_first = -1;         // microseconds; -1 while the frame holds no event
  std::int64_t t_last = -1;
  // Events beyond the sensor since the frame was cleared: never drawn.
  std::uint64_t outside = 0;
};

}  // namespace Zelvar_Core::bench
