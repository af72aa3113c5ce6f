// The simulated sensor: ON/OFF pixel events from a moving scene, and the
// frame they are accumulated into.
#pragma once

#include <cstdint>
#include <vector>

namespace Zelvar_Core::bench {

inline constexpr int kSensorWidth = 640;
inline constexpr int kSensorHeight = 480;

// One address-event word: x in bits 0..9, y in bits 10..18, polarity in bit 19
// (1 = ON, brighter; 0 = OFF, darker).
using AerWord = std::uint32_t;
inline constexpr AerWord aer_word(int x, int y, bool on) {
  return static_cast<AerWord>(x) | static_cast<AerWord>(y) << 10 | (on ? 1u << 19 : 0u);
}
inline constexpr int aer_x(AerWord w) { return static_cast<int>(w & 0x3ff); }
inline constexpr int aer_y(AerWord w) { return static_cast<int>(w >> 10 & 0x1ff); }
inline constexpr bool aer_on(AerWord w) { return (w >> 19 & 1) != 0; }

enum class SensorMode { EventStream, TestPattern, Standby };

// What the biases and chip signals make of the pixel array.
struct SensorSettings {
  double signal_rate = 0;  // events/s from the moving scene
  double noise_rate = 0;   // events/s of background activity
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
// thresholds close to the reference make much more noise.
SensorSettings sensor_settings(const BiasPoint& bias, SensorMode mode);

class EventSensor {
 public:
  explicit EventSensor(std::uint64_t seed = 0x9e3779b97f4a7c15ull);
  // Appends `count` events of the scene at time `t` (seconds) to `out`.
  void generate(double t, std::size_t count, double noise_fraction, SensorMode mode,
                std::vector<AerWord>& out);

 private:
  std::uint64_t next();
  float unit();  // uniform in [0, 1)
  std::uint64_t state_;
};

// Net event count per pixel (ON +1, OFF -1), saturating.
class EventFrame {
 public:
  EventFrame() : counts(kSensorWidth * kSensorHeight, 0) {}
  void accumulate(const AerWord* events, std::size_t count);
  void clear();
  std::vector<std::int16_t> counts;
};

}  // namespace Zelvar_Core::bench
