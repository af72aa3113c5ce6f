#include "bench/board/sensor.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace Zelvar_Core::bench {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kAngleSteps = 1024;

// Positions on the sensor are worked out in whole numbers: pixels times
// 2^32 (the pixel is the top half), so that no event needs a conversion to
// or from floating point.
constexpr int kPixel = 32;
std::int64_t fixed(double pixels) { return std::llround(std::ldexp(pixels, kPixel)); }
int pixel(std::int64_t fixed) { return static_cast<int>(fixed >> kPixel); }

// The unit circle in steps of a 1024th of a turn, times 2^24.
struct UnitCircle {
  std::int32_t c[kAngleSteps], s[kAngleSteps];
  UnitCircle() {
    for (int i = 0; i < kAngleSteps; ++i) {
      c[i] = static_cast<std::int32_t>(
          std::lround(std::ldexp(std::cos(2 * kPi * i / kAngleSteps), 24)));
      s[i] = static_cast<std::int32_t>(
          std::lround(std::ldexp(std::sin(2 * kPi * i / kAngleSteps), 24)));
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

namespace {

// xorshift64*: a few cycles per number, plenty for a picture.
inline std::uint64_t step(std::uint64_t state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state;
}
inline std::uint64_t drawn(std::uint64_t state) { return state * 0x2545f4914f6cdd1dull; }

// `a` where `pick` is set, `b` elsewhere, without a branch: the scene's
// choices are random, so a branch on them would be mispredicted half the time.
template <typename T>
inline T choose(bool pick, T a, T b) {
  const T mask = static_cast<T>(-static_cast<T>(pick));
  return static_cast<T>((a & mask) | (b & ~mask));
}

// The times of `count` events spread evenly over [t_begin, t_end): event i
// at t_begin + floor(span * i / count), kept as a whole part and a
// remainder so that each step is an addition, not a division.
class EvenStamps {
 public:
  EvenStamps(std::int64_t t_begin, std::int64_t t_end, std::size_t count)
      : t_(t_begin),
        count_(static_cast<std::int64_t>(count)),
        whole_(std::max<std::int64_t>(0, t_end - t_begin) / count_),
        rest_(std::max<std::int64_t>(0, t_end - t_begin) % count_) {}
  std::int64_t now() const { return t_; }
  void advance() {
    remainder_ += rest_;
    const bool carry = remainder_ >= count_;
    t_ += whole_ + carry;
    remainder_ -= choose<std::int64_t>(carry, count_, 0);
  }

 private:
  std::int64_t t_;
  const std::int64_t count_, whole_, rest_;
  std::int64_t remainder_ = 0;
};

// One random number per event says everything about it; its bits:
//   0-15   which of noise, disc and bar the event belongs to
//   16-48  noise: x (16-31), y (32-47) and polarity (48)
//   16-24  disc: the angle on its rim's half; 26-33: the jitter across the rim
//   26-49  bar: the place along it (26-41) and across it (42-49)
//   50-63  disc and bar: ON or OFF
constexpr int kOnBits = 14;

// The scene's shapes, in pixels: on the 640 x 480 array a disc of radius 60
// swinging 200 and 150 pixels either way about the centre, and a bar 440
// pixels long and 8 wide turning about it. Another array gets them scaled:
// the paths by its width and height, the disc and the bar by the smaller
// of the two ratios. Both lie wholly on the sensor wherever they move (the
// sensor checks it once), so that every event is on it without a check per
// event.
constexpr double kJitter = 1.5;  // across the disc's rim, either way
struct Layout {
  explicit Layout(const SensorGeometry& g)
      : width(g.width),
        height(g.height),
        disc_x(g.width / 2.0),
        disc_y(g.height / 2.0),
        swing_x(200.0 * g.width / kSensorWidth),
        swing_y(150.0 * g.height / kSensorHeight),
        scale(std::min(static_cast<double>(g.width) / kSensorWidth,
                       static_cast<double>(g.height) / kSensorHeight)),
        radius(60 * scale),
        bar_x(disc_x),
        bar_y(disc_y),
        bar_half_length(220 * scale),
        bar_half_width(4 * scale),
        // The radius in 256ths of a pixel where the rim's jitter starts.
        inner(static_cast<std::int64_t>((radius - kJitter) * 256)) {}
  bool fits() const {
    const double disc = radius + kJitter, bar = bar_half_length + bar_half_width;
    return width >= 32 && height >= 32 && disc_x - swing_x - disc >= 0 &&
           disc_x + swing_x + disc < width && disc_y - swing_y - disc >= 0 &&
           disc_y + swing_y + disc < height && bar_x - bar >= 0 && bar_x + bar < width &&
           bar_y - bar >= 0 && bar_y + bar < height;
  }
  std::uint64_t width, height;
  double disc_x, disc_y, swing_x, swing_y, scale, radius;
  double bar_x, bar_y, bar_half_length, bar_half_width;
  std::int64_t inner;
};

// A draw k of `levels` levels is below `fraction` (k / levels < fraction)
// exactly when k is below this: the comparison in integers.
std::uint64_t below(double fraction, double levels) {
  if (!(fraction > 0)) return 0;
  return static_cast<std::uint64_t>(std::ceil(std::min(fraction, 1.0) * levels));
}

// The scene as it is at one instant, worked out once per slice: a bright
// disc on a Lissajous path and a bar turning about the centre. Edges moving
// forward brighten the pixels (ON), edges moving away darken them (OFF).
struct Scene {
  Scene(double t, const SensorSettings& settings, const SensorGeometry& geometry)
      : test_pattern(settings.mode == SensorMode::TestPattern),
        // The test pattern's squares flip twice a second.
        phase(static_cast<long long>(t * 2) % 2 == 0),
        width(geometry.width),
        height(geometry.height),
        // Squares of a sixteenth of the width (40 pixels on the 640), found
        // by a multiplication: floor(x / side) for every 16-bit x.
        square_side(std::max<std::uint64_t>(1, width / 16)),
        per_square((std::uint64_t{1} << 32) / square_side + 1) {
    const Layout layout(geometry);
    inner = layout.inner;
    const double total = settings.total_rate();
    const double noise_fraction = total > 0 ? settings.noise_rate / total : 0;
    noise_below = below(noise_fraction, 65536);
    disc_below = below(noise_fraction + (1 - noise_fraction) * 0.55, 65536);
    on_below = below(settings.on_fraction, 1 << kOnBits);
    if (test_pattern) return;
    cx = fixed(layout.disc_x + layout.swing_x * std::sin(0.9 * t));
    cy = fixed(layout.disc_y + layout.swing_y * std::sin(1.3 * t + 0.5));
    // The half of the rim that leads: the quarter turns either side of the
    // way the disc moves.
    const double vx = layout.swing_x * 0.9 * std::cos(0.9 * t);
    const double vy = layout.swing_y * 1.3 * std::cos(1.3 * t + 0.5);
    const auto ahead =
        static_cast<unsigned>(std::lround(std::atan2(vy, vx) / (2 * kPi) * kAngleSteps));
    leading_from = (ahead - kAngleSteps / 4) & (kAngleSteps - 1);
    trailing_from = (ahead + kAngleSteps / 4) & (kAngleSteps - 1);
    // A point of the bar is drawn at 16 bits along it and 8 across one
    // side: the end plus so many steps along and across.
    const double angle = 0.7 * t, bx = std::cos(angle), by = std::sin(angle);
    bar_x = fixed(layout.bar_x - layout.bar_half_length * bx);
    bar_y = fixed(layout.bar_y - layout.bar_half_length * by);
    along_x = fixed(2 * layout.bar_half_length / 65536 * bx);
    along_y = fixed(2 * layout.bar_half_length / 65536 * by);
    across_x = fixed(-layout.bar_half_width / 256 * by);
    across_y = fixed(layout.bar_half_width / 256 * bx);
  }
  const bool test_pattern, phase;
  const std::uint64_t width, height, square_side, per_square;
  std::uint64_t noise_below, disc_below, on_below;
  std::int64_t inner = 0;       // the disc's radius less the jitter, in 256ths of a pixel
  std::int64_t cx = 0, cy = 0;  // the disc's centre
  unsigned leading_from = 0, trailing_from = 0;  // the first angle step of each half of the rim
  std::int64_t bar_x = 0, bar_y = 0, along_x = 0, along_y = 0, across_x = 0, across_y = 0;
};

// The array's size as the loop below uses it: the AER-640's in constants,
// so that its events are made as fast as they always were, or any other
// size taken from the scene.
struct Aer640Array {
  explicit Aer640Array(const Scene&) {}
  static constexpr std::uint64_t width = kSensorWidth, height = kSensorHeight;
  static constexpr std::uint64_t per_square = (std::uint64_t{1} << 32) / (kSensorWidth / 16) + 1;
  static constexpr std::int64_t inner = static_cast<std::int64_t>((60 - kJitter) * 256);
};
struct AnyArray {
  explicit AnyArray(const Scene& scene)
      : width(scene.width),
        height(scene.height),
        per_square(scene.per_square),
        inner(scene.inner) {}
  const std::uint64_t width, height, per_square;
  const std::int64_t inner;
};

// Writes `count` events of the scene to `out`, drawing from `random` and
// stamping with `stamps`.
template <class Array>
void make_events(const Scene& scene, std::uint64_t& random, EvenStamps& stamps, std::size_t count,
                 Event* out) {
  const Array array(scene);
  std::uint64_t state = random;  // in a register for the whole run
  if (scene.test_pattern) {
    // A checkerboard: ON on one colour, OFF on the other. The events fall on
    // every 8th pixel, so that each of them gathers enough in a frame for
    // the pattern to stand out.
    const std::uint64_t columns = array.width / 8, rows = array.height / 8;
    for (std::size_t i = 0; i < count; ++i, stamps.advance()) {
      state = step(state);
      const std::uint64_t r = drawn(state);
      const auto x = ((r & 0xffff) * columns >> 16) * 8;
      const auto y = ((r >> 16 & 0xffff) * rows >> 16) * 8;
      const bool square =
          (((x * array.per_square) >> 32) + ((y * array.per_square) >> 32)) % 2 == 0;
      out[i] = {stamps.now(), static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
                static_cast<std::uint8_t>(square == scene.phase)};
    }
    random = state;
    return;
  }
  // Each event is worked out on the disc and on the bar alike, and the
  // random pick chooses between them without a branch; noise, a small
  // share, takes a branch of its own.
  for (std::size_t i = 0; i < count; ++i, stamps.advance()) {
    state = step(state);
    const std::uint64_t r = drawn(state);
    const std::uint64_t pick = r & 0xffff;
    int x, y;
    bool polarity;
    if (pick < scene.noise_below) {
      // Background activity anywhere, of either polarity.
      x = static_cast<int>((r >> 16 & 0xffff) * array.width >> 16);
      y = static_cast<int>((r >> 32 & 0xffff) * array.height >> 16);
      polarity = (r >> 48 & 1) != 0;
    } else {
      const bool on = (r >> (64 - kOnBits)) < scene.on_below;
      // On the disc's rim: the leading half for ON, the trailing half for
      // OFF, jittered across the rim by up to 1.5 pixels either way.
      const unsigned at = (choose(on, scene.leading_from, scene.trailing_from) +
                           (r >> 16 & (kAngleSteps / 2 - 1))) &
                          (kAngleSteps - 1);
      // The radius in 256ths of a pixel (times the circle's 2^24: pixels
      // times 2^32), the jitter in 256 steps across the rim.
      constexpr auto kJitterStep = static_cast<int>(2 * kJitter);  // 2 * kJitter * 256 / 256
      static_assert(kJitterStep == 2 * kJitter, "a jitter step of whole 256ths of a pixel");
      const auto radius = array.inner + static_cast<std::int64_t>(kJitterStep * (r >> 26 & 0xff));
      const int disc_x = pixel(scene.cx + radius * kCircle.c[at]);
      const int disc_y = pixel(scene.cy + radius * kCircle.s[at]);
      // Along the bar: the side it turns towards for ON, the other for OFF
      // (it turns counter-clockwise).
      const auto along = static_cast<std::int64_t>(r >> 26 & 0xffff);
      const auto across_drawn = static_cast<std::int64_t>(r >> 42 & 0xff);
      const std::int64_t across = ((along > 32768) == on) ? across_drawn : -across_drawn;
      const int bar_x = pixel(scene.bar_x + along * scene.along_x + across * scene.across_x);
      const int bar_y = pixel(scene.bar_y + along * scene.along_y + across * scene.across_y);
      const bool disc = pick < scene.disc_below;
      x = choose(disc, disc_x, bar_x);
      y = choose(disc, disc_y, bar_y);
      polarity = on;
    }
    out[i] = {stamps.now(), static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
              static_cast<std::uint8_t>(polarity)};
  }
  random = state;
}

void make_events(const Scene& scene, std::uint64_t& random, EvenStamps& stamps, std::size_t count,
                 Event* out) {
  if (scene.width == Aer640Array::width && scene.height == Aer640Array::height)
    make_events<Aer640Array>(scene, random, stamps, count, out);
  else
    make_events<AnyArray>(scene, random, stamps, count, out);
}

}  // namespace

EventSensor::EventSensor(SensorGeometry geometry, std::uint64_t seed)
    : geometry_(geometry), state_(seed ? seed : 1) {
  if (!Layout(geometry).fits())
    throw std::invalid_argument("A simulated sensor of " + std::to_string(geometry.width) + "x" +
                                std::to_string(geometry.height) +
                                " pixels is too small for its scene");
}

std::size_t EventSensor::generate(double t, std::size_t count, const SensorSettings& settings,
                                  std::int64_t t_begin, std::int64_t t_end, Event* out) {
  if (settings.mode == SensorMode::Standby || count == 0) return 0;
  EvenStamps stamps(t_begin, t_end, count);
  make_events(Scene(t, settings, geometry_), state_, stamps, count, out);
  return count;
}

void EventSensor::generate(double t, std::size_t count, const SensorSettings& settings,
                           std::int64_t t_begin, std::int64_t t_end, std::vector<Event>& out) {
  if (settings.mode == SensorMode::Standby || count == 0) return;
  // A block at a time on the stack, appended in one copy: the vector's room
  // is never cleared before the events are written.
  constexpr std::size_t kBlock = 1024;
  Event block[kBlock];
  const Scene scene(t, settings, geometry_);
  EvenStamps stamps(t_begin, t_end, count);
  out.reserve(out.size() + count);
  for (std::size_t done = 0; done < count; done += kBlock) {
    const std::size_t n = std::min(kBlock, count - done);
    make_events(scene, state_, stamps, n, block);
    out.insert(out.end(), block, block + n);
  }
}

void EventFrame::accumulate(const Event* events, std::size_t count) {
  std::int16_t* pixels = counts.data();
  const std::uint32_t width = geometry.width, height = geometry.height;
  std::size_t counted = 0;
  std::int64_t first = -1, last = -1;
  for (std::size_t i = 0; i < count; ++i) {
    const Event& e = events[i];
    if (e.x >= width || e.y >= height) continue;
    if (counted++ == 0) first = e.t;
    last = e.t;
    std::int16_t& p = pixels[std::size_t{e.y} * width + e.x];
    if (e.p) {
      if (p < 32767) ++p;
    } else if (p > -32767) {
      --p;
    }
  }
  outside += count - counted;
  if (counted == 0) return;
  if (t_first < 0) t_first = first;
  t_last = last;
}

void EventFrame::clear() {
  std::fill(counts.begin(), counts.end(), 0);
  t_first = t_last = -1;
  outside = 0;
}

}  // namespace Zelvar_Core::bench
