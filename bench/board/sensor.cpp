#include "bench/board/sensor.h"

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

// Events/s of the scene for one polarity at a contrast threshold (a fraction
// of the DAC range): a pixel fires when its log intensity moves that much.
double polarity_rate(double threshold, double photoreceptor, double gain) {
  return std::min(1.0e6 * (0.2 / threshold) * photoreceptor * gain, 10.0e6);
}
}  // namespace

SensorSettings sensor_settings(const BiasPoint& bias, SensorMode mode) {
  SensorSettings settings;
  settings.mode = mode;
  if (!bias.aer_enabled || !bias.out_of_reset) {
    settings.mode = SensorMode::Standby;
    return settings;
  }
  const double on = std::max(10, bias.vth_on - bias.vbias_ref) / 4095.0;
  const double off = std::max(10, bias.vbias_ref - bias.vth_off) / 4095.0;
  const double photoreceptor = std::clamp(bias.vbias_pr / 1800.0, 0.05, 2.5);
  const double gain = (bias.bias_gain + 1) / 4.0;
  const double on_rate = polarity_rate(on, photoreceptor, gain);
  const double off_rate = polarity_rate(off, photoreceptor, gain);
  settings.signal_rate = on_rate + off_rate;
  settings.on_fraction = on_rate / settings.signal_rate;
  const double nearest = std::min(on, off);
  settings.noise_rate = std::min(5.0e4 * std::pow(0.2 / nearest, 2), 5.0e6);
  if (mode == SensorMode::TestPattern) {
    settings.signal_rate = 2.0e6;
    settings.on_fraction = 0.5;
    settings.noise_rate = 0;
  }
  return settings;
}

PolarityRates expected_rates(const SensorSettings& settings) {
  const double total = settings.total_rate();
  if (total <= 0) return {};
  // Noise is ON or OFF alike; the scene splits by the thresholds.
  const double noise = settings.mode == SensorMode::TestPattern ? 0 : settings.noise_rate;
  const double signal = total - noise;
  return {signal * settings.on_fraction + noise / 2,
          signal * (1 - settings.on_fraction) + noise / 2};
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

void EventSensor::generate(double t, std::size_t count, const SensorSettings& settings,
                           std::int64_t t_begin, std::int64_t t_end, std::vector<Event>& out) {
  if (settings.mode == SensorMode::Standby || count == 0) return;
  out.reserve(out.size() + count);
  const std::int64_t span = std::max<std::int64_t>(0, t_end - t_begin);
  auto stamp = [&](std::size_t i) {
    return t_begin + static_cast<std::int64_t>(static_cast<double>(span) * i / count);
  };
  auto push = [&out](std::int64_t when, int x, int y, bool on) {
    out.push_back({when, static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
                   static_cast<std::uint8_t>(on)});
  };
  if (settings.mode == SensorMode::TestPattern) {
    // A checkerboard whose squares flip twice a second: ON on one colour, OFF
    // on the other. The events fall on every 8th pixel, so that each of
    // them gathers enough in a frame for the pattern to stand out.
    const bool phase = static_cast<long long>(t * 2) % 2 == 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t r = next();
      const int x = static_cast<int>((r & 0xffff) * (kSensorWidth / 8) >> 16) * 8;
      const int y = static_cast<int>((r >> 16 & 0xffff) * (kSensorHeight / 8) >> 16) * 8;
      const bool square = ((x / 40) + (y / 40)) % 2 == 0;
      push(stamp(i), x, y, square == phase);
    }
    return;
  }
  const double total = settings.total_rate();
  const float noise_fraction = static_cast<float>(total > 0 ? settings.noise_rate / total : 0);
  const float on_fraction = static_cast<float>(settings.on_fraction);
  // The scene: a bright disc on a Lissajous path and a bar turning about the
  // centre. Edges moving forward brighten the pixels (ON), edges moving away
  // darken them (OFF); the thresholds decide how many of each fire.
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
    const bool on = unit() < on_fraction;
    int x, y;
    bool polarity = on;
    if (pick < noise_fraction) {
      x = static_cast<int>((r >> 16 & 0xffff) * kSensorWidth >> 16);
      y = static_cast<int>((r >> 32 & 0xffff) * kSensorHeight >> 16);
      polarity = (r >> 48 & 1) != 0;
    } else if (pick < noise_fraction + (1 - noise_fraction) * 0.55f) {
      // On the disc's rim: the leading half for ON, the trailing half for OFF.
      const int step = static_cast<int>(r >> 16 & (kAngleSteps - 1));
      float nx = kCircle.c[step], ny = kCircle.s[step];
      const bool leading = nx * vx + ny * vy > 0;
      if (leading != on) nx = -nx, ny = -ny;
      const float jitter = unit() * 3.0f - 1.5f;
      x = static_cast<int>(cx + (radius + jitter) * nx);
      y = static_cast<int>(cy + (radius + jitter) * ny);
    } else {
      // Along the bar: the side it turns towards for ON, the other for OFF.
      const float along = (static_cast<float>(r >> 26 & 0xffff) * (1.0f / 32768.0f) - 1) * 220;
      float across = (static_cast<float>(r >> 42 & 0xff) * (1.0f / 256.0f)) * 4;
      if ((along > 0) != on) across = -across;  // the bar turns counter-clockwise
      x = static_cast<int>(320 + along * bx - across * by);
      y = static_cast<int>(240 + along * by + across * bx);
    }
    if (x < 0 || x >= kSensorWidth || y < 0 || y >= kSensorHeight) continue;
    push(stamp(i), x, y, polarity);
  }
}

void EventFrame::accumulate(const Event* events, std::size_t count) {
  std::int16_t* pixels = counts.data();
  std::size_t counted = 0;
  std::int64_t first = -1, last = -1;
  for (std::size_t i = 0; i < count; ++i) {
    const Event& e = events[i];
    if (!on_sensor(e)) continue;
    if (counted++ == 0) first = e.t;
    last = e.t;
    std::int16_t& p = pixels[e.y * kSensorWidth + e.x];
    if (e.p) {
      if (p < 32767) ++p;
    } else if (p > -32767) {
      --p;
    }
  }
  if (counted == 0) return;
  if (t_first < 0) t_first = first;
  t_last = last;
}

void EventFrame::clear() {
  std::fill(counts.begin(), counts.end(), 0);
  t_first = t_last = -1;
}

}  // namespace Zelvar_Core::bench
