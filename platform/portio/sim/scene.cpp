#include "platform/portio/sim/scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace sim {

// The scene, in picture coordinates (x to the right, y downwards from the top edge):
//   y   0..37   a continuous grey ramp (black at the left, white at the right)
//   y  38..61   a 16-step grey wedge, one step per horizontal block of 24 columns
//   y  66..200  a Siemens star (left), bar groups of 2..12 pixel periods in both directions,
//               a checkerboard and an "F" to tell the picture's orientation (right)
//   y 205..287  a room: a dark corner (left, with a darker box in it), a bright window
//               (right, beyond white) and a ball rolling to and fro in front of them; below it
//               eight squares show the scene clock in binary.
// Radiances are linear, 1.0 being the white that exposure 64 at 0 dB renders as full scale.

namespace {

constexpr int kW = kSensorWidth;
constexpr int kH = kSensorHeight;
constexpr double kPi = 3.14159265358979323846;

constexpr float kWhite = 0.85f;
constexpr float kBlack = 0.04f;
constexpr float kGrey = 0.30f;

// The ball's track: it rolls along y = kBallY between kBallLeft and kBallLeft + kTrack.
constexpr int kBallY = 246;
constexpr int kBallRadius = 11;
constexpr int kBallLeft = 20;
constexpr int kTrack = 230;
constexpr int kBallSpeed = 3;  // pixels per unit of the scene clock
constexpr float kBallRadiance = 0.95f;
constexpr int kBallSamples = 8;  // positions averaged over the exposure (motion blur)

constexpr int kLutSize = 4096;
constexpr std::size_t kCells =
    static_cast<std::size_t>(kW) * kH;  // linear signal 0..1 in steps of 1/4096

struct StaticScene {
    std::vector<float> radiance = std::vector<float>(static_cast<std::size_t>(kW) * kH);
    std::vector<float> noise = std::vector<float>(static_cast<std::size_t>(kW) * kH);  // -0.5..0.5
    double mean = 0;  // mean radiance, clipped at 1, for the automatic exposure
};

float Bars(int offset, int period) { return (offset % period) < period / 2 ? kWhite : kBlack; }

float StaticRadiance(int x, int y) {
    if (y < 6 || (y >= 34 && y < 38) || (y >= 62 && y < 66) || (y >= 201 && y < 205)) {
        return 0.05f;  // dark separators
    }
    if (y < 34) return static_cast<float>(x) / (kW - 1);
    if (y < 62) return static_cast<float>(x / 24) / 15.0f;
    if (y <= 200) {
        if (x < 192) {
            const double dx = x + 0.5 - 96, dy = y + 0.5 - 133;
            const double r = std::sqrt(dx * dx + dy * dy);
            if (r < 3) return kGrey;
            if (r < 62) {
                const double angle = std::atan2(dy, dx) + kPi;
                const int sector = static_cast<int>(angle / (2 * kPi / 48));
                return sector % 2 == 0 ? kWhite : kBlack;
            }
            if (r < 65) return kBlack;
            return kGrey;
        }
        static constexpr int kPeriods[] = {2, 4, 6, 8, 10, 12};
        for (int i = 0; i < 6; ++i) {
            const int x0 = 198 + i * 30;
            if (x < x0 || x >= x0 + 26) continue;
            if (y >= 72 && y < 112) return Bars(x - x0, kPeriods[i]);
            if (y >= 118 && y < 158) return Bars(y - 118, kPeriods[i]);
        }
        if (y >= 164 && y < 199) {
            if (x >= 198 && x < 318) return ((x - 198) / 8 + (y - 164) / 8) % 2 ? kWhite : kBlack;
            const bool stem = x >= 330 && x < 338;
            const bool top = y < 172 && x >= 330 && x < 371;
            const bool middle = y >= 178 && y < 186 && x >= 330 && x < 361;
            if (stem || top || middle) return kWhite;
        }
        return kGrey;
    }
    // The room.
    if (x >= 270) {
        const bool frame =
            x < 274 || (x >= 325 && x < 329) || x >= 380 || y < 212 || (y >= 246 && y < 250);
        return frame ? 0.04f : 1.6f;
    }
    if (y >= 276 && y < 284 && x >= 140 && x < 236 && (x - 140) % 12 < 8) {
        return 0.06f;  // a clock square, unlit (the lit ones are drawn per frame)
    }
    if (x < 130) {
        if (x >= 30 && x < 80 && y >= 225 && y < 266) return 0.012f;
        if (x >= 90 && x < 110) return 0.05f;
        return 0.03f;
    }
    return 0.22f;
}

const StaticScene& Static() {
    static const StaticScene scene = [] {
        StaticScene s;
        double sum = 0;
        std::uint32_t h = 0x9E3779B9u;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const float r = StaticRadiance(x, y);
                s.radiance[static_cast<std::size_t>(y) * kW + x] = r;
                sum += std::min(r, 1.0f);
                // A fixed, reproducible noise pattern (xorshift).
                h ^= h << 13;
                h ^= h >> 17;
                h ^= h << 5;
                s.noise[static_cast<std::size_t>(y) * kW + x] =
                    static_cast<float>(h) / 4294967296.0f - 0.5f;
            }
        }
        s.mean = sum / (static_cast<double>(kW) * kH);
        return s;
    }();
    return scene;
}

// The ball's centre at scene time t (a triangle wave along the track).
double BallX(double t) {
    const double period = 2.0 * kTrack;
    double u = std::fmod(kBallSpeed * t, period);
    if (u < 0) u += period;
    return kBallLeft + (u < kTrack ? u : period - u);
}

}  // namespace

SceneSettings SettingsOf(const Board& board) {
    SceneSettings s;
    s.agc = board.Agc();
    s.exposure = board.RegisterValue(EXCTL);
    s.gain = board.RegisterValue(GCTL);
    s.divider = board.RegisterValue(FRCTL);
    s.mctl = board.RegisterValue(MCTL);
    return s;
}

void RenderScene(const SceneSettings& settings, std::uint64_t time, std::uint8_t* pixels) {
    const StaticScene& scene = Static();
    // Item 0 of each option (0.45, on, indoor, on) is its bit set.
    auto set = [&](int option) {
        return chip::ValueIn(chip::kControls[option], settings.mctl) == 0;
    };
    const bool gamma = set(chip::kGamma);
    const bool mirror = set(chip::kMirror);
    const bool indoor = set(chip::kMode);
    const bool backlight = set(chip::kBacklight);

    // Exposure and gain: AGC exposes for a mean of 0.3; by hand, exposure 64 at 0 dB maps
    // radiance 1.0 to full scale and the gain adds up to 18 dB in eight steps.
    double scale, exposure_fraction, gain = 1.0;
    if (settings.agc) {
        scale = 0.30 / scene.mean;
        exposure_fraction = 0.5;
    } else {
        const int exposure = settings.exposure & 0x7F;
        gain = std::pow(10.0, (settings.gain & 0x07) * (18.0 / 7.0) / 20.0);
        scale = exposure / 64.0 * gain;
        exposure_fraction = exposure / 128.0;
    }
    const float noise_amplitude = static_cast<float>(0.01 * gain);

    // Tone curve from the linear signal to the pixel value.
    std::array<std::uint8_t, kLutSize + 1> lut;
    for (int i = 0; i <= kLutSize; ++i) {
        double v = static_cast<double>(i) / kLutSize;
        if (backlight) v = 2 * v / (1 + v);  // lifts the dark areas, keeps white at white
        if (gamma) v = std::pow(v, 0.45);
        lut[i] = static_cast<std::uint8_t>(std::lround(v * 255));
    }

    // Outdoor mode under the scene's mains-powered lamps: exposure beats with the flicker and
    // bands roll through the picture from frame to frame. Indoor mode locks exposure to it.
    std::array<float, kH> row_scale;
    for (int y = 0; y < kH; ++y) {
        double f = 1.0;
        if (!indoor) f += 0.15 * std::sin(2 * kPi * (y / 48.0 + 0.3 * static_cast<double>(time)));
        row_scale[y] = static_cast<float>(scale * f * kLutSize);
    }

    // The ball during the exposure: the frame lasts (divider + 1) clock units, and the ball is
    // seen at kBallSamples positions over the exposed part of it.
    const double frame_length = static_cast<double>(settings.divider) + 1.0;
    const double t = static_cast<double>(time);
    std::array<double, kBallSamples> ball_x;
    double ball_min = kW, ball_max = -1;
    for (int k = 0; k < kBallSamples; ++k) {
        ball_x[k] = BallX(t - frame_length * exposure_fraction * k / (kBallSamples - 1));
        ball_min = std::min(ball_min, ball_x[k]);
        ball_max = std::max(ball_max, ball_x[k]);
    }
    const int ball_x0 = std::max(0, static_cast<int>(ball_min) - kBallRadius - 1);
    const int ball_x1 = std::min(kW - 1, static_cast<int>(ball_max) + kBallRadius + 1);

    const std::size_t noise_shift = static_cast<std::size_t>(time * 7919u % kCells);
    std::array<float, kW> row;
    for (int y = 0; y < kH; ++y) {
        const float* src = &scene.radiance[static_cast<std::size_t>(y) * kW];
        std::copy(src, src + kW, row.begin());
        if (y > kBallY - kBallRadius - 1 && y < kBallY + kBallRadius + 1) {
            const double dy = y + 0.5 - kBallY;
            for (int x = ball_x0; x <= ball_x1; ++x) {
                int hits = 0;
                for (double bx : ball_x) {
                    const double dx = x + 0.5 - bx;
                    hits += dx * dx + dy * dy <= kBallRadius * kBallRadius;
                }
                const float cover = static_cast<float>(hits) / kBallSamples;
                row[x] = row[x] * (1 - cover) + kBallRadiance * cover;
            }
        }
        if (y >= 276 && y < 284) {
            for (int bit = 0; bit < 8; ++bit) {
                if (!(time >> bit & 1)) continue;
                const int x0 = 140 + (7 - bit) * 12;
                std::fill(row.begin() + x0, row.begin() + x0 + 8, kWhite);
            }
        }
        // Sensor row 0 is the bottom of the picture.
        std::uint8_t* out = pixels + static_cast<std::size_t>(kH - 1 - y) * kW;
        const float s = row_scale[y];
        const float n = noise_amplitude * kLutSize;
        // The noise belongs to the sensor's cells and changes from frame to frame.
        const float* noise =
            &scene.noise[(static_cast<std::size_t>(kH - 1 - y) * kW + noise_shift) % kCells];
        const float* noise_end = scene.noise.data() + kCells;
        for (int c = 0; c < kW; ++c) {
            const int x = mirror ? kW - 1 - c : c;
            if (noise == noise_end) noise = scene.noise.data();
            const float v = row[x] * s + *noise++ * n;
            const int index = v <= 0 ? 0 : v >= kLutSize ? kLutSize : static_cast<int>(v + 0.5f);
            out[c] = lut[index];
        }
    }
}

}  // namespace sim
