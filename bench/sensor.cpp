#include "bench/sensor.h"

#include <algorithm>
#include <cmath>

namespace Zelvar_Core::bench {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kAngleSteps = 1024;

struct UnitCircle {
  float c[kAngleSteps], s[kAngleSteps];
  UnitCircle() {
    for (int i = 0; i < kAngleSteps; ++i) {
      c[i] = static_cast<float>(std::cos(2 * kPi * i / kAngleSteps));
      s[i] = static_cast<float>(std::sin(2 * kPi * i / kAngleSteps));
    }
  }
};
const UnitCircle kCircle;
}  // namespace

SensorSettings sensor_settings(const BiasPoint& bias, SensorMode mode) {
  SensorSettings settings;
  settings.mode = mode;
  if (!bias.aer_enabled || !bias.out_of_reset) {
    settings.mode = SensorMode::Standby;
    return settings;
  }
  // Contrast thresholds as a fraction of the DAC range; a pixel fires when the
  // log intensity moves by that much, so the rate goes with 1 / threshold.
  const double on = std::max(10, bias.vth_on - bias.vbias_ref) / 4095.0;
  const double off = std::max(10, bias.vbias_ref - bias.vth_off) / 4095.0;
  const double threshold = (on + off) / 2;
  const double photoreceptor = std::clamp(bias.vbias_pr / 1800.0, 0.05, 2.5);
  const double gain = (bias.bias_gain + 1) / 4.0;
  settings.signal_rate = std::min(2.0e6 * (0.2 / threshold) * photoreceptor * gain, 20.0e6);
  const double nearest = std::min(on, off);
  settings.noise_rate = std::min(5.0e4 * std::pow(0.2 / nearest, 2), 5.0e6);
  if (mode == SensorMode::TestPattern) {
    settings.signal_rate = 1.0e6;
    settings.noise_rate = 0;
  }
  return settings;
}

EventSensor::EventSensor(std::uint64_t seed) : state_(seed ? seed : 1) {}

std::uint64_t EventSensor::next() {
  // xorshift64*: a few cycles per number, plenty for a picture.
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545f4914f6cdd1dull;
}

float EventSensor::unit() { return static_cast<float>(next() >> 40) * (1.0f / 16777216.0f); }

void EventSensor::generate(double t, std::size_t count, double noise_fraction, SensorMode mode,
                           std::vector<AerWord>& out) {
  out.reserve(out.size() + count);
  if (mode == SensorMode::Standby) return;
  if (mode == SensorMode::TestPattern) {
    // A checkerboard whose squares flip twice a second: ON on one colour, OFF on the other.
    const bool phase = static_cast<long long>(t * 2) % 2 == 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t r = next();
      const int x = static_cast<int>((r & 0xffff) * kSensorWidth >> 16);
      const int y = static_cast<int>((r >> 16 & 0xffff) * kSensorHeight >> 16);
      const bool square = ((x / 40) + (y / 40)) % 2 == 0;
      out.push_back(aer_word(x, y, square == phase));
    }
    return;
  }
  // The scene: a bright disc on a Lissajous path and a bar turning about the
  // centre. Edges moving forward brighten the pixels (ON), edges moving away
  // darken them (OFF).
  const float cx = static_cast<float>(320 + 200 * std::sin(0.9 * t));
  const float cy = static_cast<float>(240 + 150 * std::sin(1.3 * t + 0.5));
  const float vx = static_cast<float>(200 * 0.9 * std::cos(0.9 * t));
  const float vy = static_cast<float>(150 * 1.3 * std::cos(1.3 * t + 0.5));
  const float radius = 60;
  const float angle = static_cast<float>(0.7 * t);
  const float bx = std::cos(angle), by = std::sin(angle);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t r = next();
    const float pick = static_cast<float>(r & 0xffff) * (1.0f / 65536.0f);
    int x, y;
    bool on;
    if (pick < noise_fraction) {
      x = static_cast<int>((r >> 16 & 0xffff) * kSensorWidth >> 16);
      y = static_cast<int>((r >> 32 & 0xffff) * kSensorHeight >> 16);
      on = (r >> 48 & 1) != 0;
    } else if (pick < noise_fraction + (1 - noise_fraction) * 0.55f) {
      const int step = static_cast<int>(r >> 16 & (kAngleSteps - 1));
      const float nx = kCircle.c[step], ny = kCircle.s[step];
      const float jitter = unit() * 3.0f - 1.5f;
      x = static_cast<int>(cx + (radius + jitter) * nx);
      y = static_cast<int>(cy + (radius + jitter) * ny);
      on = nx * vx + ny * vy > 0;
    } else {
      const float along = (static_cast<float>(r >> 26 & 0xffff) * (1.0f / 32768.0f) - 1) * 220;
      const float across = (static_cast<float>(r >> 42 & 0xff) * (1.0f / 128.0f) - 1) * 4;
      x = static_cast<int>(320 + along * bx - across * by);
      y = static_cast<int>(240 + along * by + across * bx);
      on = (across > 0) == (along > 0);  // the bar turns counter-clockwise
    }
    if (x < 0 || x >= kSensorWidth || y < 0 || y >= kSensorHeight) continue;
    out.push_back(aer_word(x, y, on));
  }
}

void EventFrame::accumulate(const AerWord* events, std::size_t count) {
  std::int16_t* pixels = counts.data();
  for (std::size_t i = 0; i < count; ++i) {
    const AerWord w = events[i];
    std::int16_t& p = pixels[aer_y(w) * kSensorWidth + aer_x(w)];
    if (aer_on(w)) {
      if (p < 32767) ++p;
    } else if (p > -32767) {
      --p;
    }
  }
}

void EventFrame::clear() { std::fill(counts.begin(), counts.end(), 0); }

}  // namespace Zelvar_Core::bench
