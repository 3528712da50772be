#include "platform/portio/sim/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "tests/platform/portio/sim/panel_sequences.h"

namespace {

using sim::SceneSettings;

// A rendered picture, addressed as it is seen: x from the left, y from the top.
struct Picture {
    std::vector<std::uint8_t> sensor =
        std::vector<std::uint8_t>(sim::kSensorWidth * sim::kSensorHeight);
    int At(int x, int y) const {
        return sensor[(sim::kSensorHeight - 1 - y) * sim::kSensorWidth + x];
    }
    double Mean(int x0, int x1, int y0, int y1) const {  // inclusive bounds
        double sum = 0;
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) sum += At(x, y);
        }
        return sum / ((x1 - x0 + 1) * (y1 - y0 + 1));
    }
    double MeanAll() const { return Mean(0, sim::kSensorWidth - 1, 0, sim::kSensorHeight - 1); }
};

Picture Render(const SceneSettings& s, std::uint64_t time = 10) {
    Picture p;
    sim::RenderScene(s, time, p.sensor.data());
    return p;
}

SceneSettings Manual(int exposure, int gain = 0, int mctl = 0x20) {
    SceneSettings s;
    s.agc = false;
    s.exposure = static_cast<std::uint8_t>(exposure);
    s.gain = static_cast<std::uint8_t>(gain);
    s.mctl = static_cast<std::uint8_t>(mctl);
    return s;
}

SceneSettings WithMctl(int mctl) {
    SceneSettings s;
    s.mctl = static_cast<std::uint8_t>(mctl);
    return s;
}

// The centre of the ball on its track row (bright pixels left of the window).
double BallCentre(const Picture& p) {
    double sum = 0;
    int n = 0;
    for (int x = 0; x < 262; ++x) {
        if (p.At(x, 246) > 128) {
            sum += x;
            ++n;
        }
    }
    return n ? sum / n : -1;
}
int BallLength(const Picture& p) {
    int n = 0;
    for (int x = 0; x < 262; ++x) n += p.At(x, 246) > 128;
    return n;
}

TEST(Scene, SameSettingsAndTimeGiveTheSamePicture) {
    for (int mctl : {0x00, 0xF0, 0x50}) {
        EXPECT_EQ(Render(WithMctl(mctl), 7).sensor, Render(WithMctl(mctl), 7).sensor);
    }
    EXPECT_NE(Render(WithMctl(0), 7).sensor, Render(WithMctl(0), 8).sensor);
}

TEST(Scene, PictureIsUprightWithTheFirstRowAtTheBottom) {
    const Picture p = Render(WithMctl(0x20));
    // The ramp is at the top and runs from black at the left to white at the right.
    EXPECT_LT(p.Mean(0, 20, 10, 30), 20);
    EXPECT_GT(p.Mean(363, 383, 10, 30), 200);
    // The window of the room is at the bottom right and beyond white.
    EXPECT_EQ(p.Mean(280, 320, 215, 240), 255);
    // Sensor row 0 is the picture's bottom row.
    EXPECT_EQ(p.sensor[300], p.At(300, sim::kSensorHeight - 1));
}

TEST(Scene, MoreExposureIsBrighter) {
    double previous = -10;
    for (int exposure : {0, 8, 16, 32, 64, 127}) {
        const double mean = Render(Manual(exposure)).MeanAll();
        EXPECT_GT(mean, previous + 2) << exposure;
        previous = mean;
    }
    EXPECT_LT(Render(Manual(0)).MeanAll(), 2);
    // Only bits 6..0 count.
    EXPECT_EQ(Render(Manual(0x80 | 20)).sensor, Render(Manual(20)).sensor);
}

TEST(Scene, GainBrightensOnlyWithAgcOff) {
    double previous = -1;
    for (int gain = 0; gain <= 7; ++gain) {
        const double mean = Render(Manual(12, gain)).MeanAll();
        EXPECT_GT(mean, previous + 1) << gain;
        previous = mean;
    }
    // 18 dB is about 7.9 times the signal: compare a mid grey that does not clip.
    const double g0 = Render(Manual(12, 0)).Mean(0, 20, 70, 190);
    const double g7 = Render(Manual(12, 7)).Mean(0, 20, 70, 190);
    EXPECT_NEAR(g7 / g0, 7.94, 0.6);
    // With AGC on, exposure and gain registers are not used.
    SceneSettings agc = WithMctl(0);
    SceneSettings agc_other = agc;
    agc_other.exposure = 3;
    agc_other.gain = 7;
    EXPECT_EQ(Render(agc).sensor, Render(agc_other).sensor);
    EXPECT_GT(Render(agc).MeanAll(), 40);  // AGC gives a usable picture
}

TEST(Scene, GammaLiftsMidGreysAndKeepsTheEnds) {
    const Picture linear = Render(WithMctl(0x20));
    const Picture gamma = Render(WithMctl(0xA0));
    // Wedge step 7 of 15, a mid grey.
    const double mid_linear = linear.Mean(7 * 24 + 2, 7 * 24 + 21, 42, 58);
    const double mid_gamma = gamma.Mean(7 * 24 + 2, 7 * 24 + 21, 42, 58);
    EXPECT_GT(mid_gamma, mid_linear * 1.4);
    EXPECT_NEAR(std::pow(mid_linear / 255, 0.45) * 255, mid_gamma, 4);
    EXPECT_EQ(gamma.Mean(280, 320, 215, 240), 255);
}

TEST(Scene, MirrorFlipsLeftAndRight) {
    const Picture plain = Render(Manual(64, 0, 0x20));
    const Picture mirrored = Render(Manual(64, 0, 0x60));
    EXPECT_LT(mirrored.Mean(363, 383, 10, 30), 20);
    EXPECT_GT(mirrored.Mean(0, 20, 10, 30), 200);
    // Pixel for pixel, apart from the sensor's own noise.
    int worst = 0;
    for (int y = 0; y < sim::kSensorHeight; ++y) {
        for (int x = 0; x < sim::kSensorWidth; ++x) {
            worst = std::max(worst, std::abs(plain.At(x, y) - mirrored.At(383 - x, y)));
        }
    }
    EXPECT_LE(worst, 3);
}

// The spread of the row means of a uniform grey strip left of the star.
double Banding(const Picture& p) {
    std::vector<double> rows;
    double sum = 0;
    for (int y = 70; y <= 190; ++y) {
        rows.push_back(p.Mean(2, 25, y, y));
        sum += rows.back();
    }
    const double mean = sum / rows.size();
    double var = 0;
    for (double r : rows) var += (r - mean) * (r - mean);
    return std::sqrt(var / rows.size());
}

TEST(Scene, OutdoorModeShowsRollingFlickerBandsIndoorModeDoesNot) {
    const Picture outdoor = Render(WithMctl(0x00), 10);
    const Picture indoor = Render(WithMctl(0x20), 10);
    EXPECT_GT(Banding(outdoor), 5 * Banding(indoor));
    EXPECT_GT(Banding(outdoor), 4);
    // The bands move from one frame to the next.
    const Picture later = Render(WithMctl(0x00), 11);
    EXPECT_GT(std::abs(outdoor.Mean(2, 25, 100, 110) - later.Mean(2, 25, 100, 110)), 2);
}

TEST(Scene, BacklightCompensationLiftsTheDarkCorner) {
    // At time 60 the ball is out of the corner.
    const Picture off = Render(WithMctl(0x20), 60);
    const Picture on = Render(WithMctl(0x30), 60);
    const double dark_off = off.Mean(2, 25, 210, 280);
    const double dark_on = on.Mean(2, 25, 210, 280);
    EXPECT_GT(dark_on, dark_off * 1.7);
    // The box in the corner becomes easier to tell from its surroundings.
    EXPECT_GT(on.Mean(2, 25, 230, 260) - on.Mean(35, 75, 230, 260),
              off.Mean(2, 25, 230, 260) - off.Mean(35, 75, 230, 260));
    EXPECT_EQ(on.Mean(280, 320, 215, 240), 255);
}

TEST(Scene, TheBallMovesWithTheSceneClock) {
    const SceneSettings s = WithMctl(0x20);
    const double at10 = BallCentre(Render(s, 10));
    EXPECT_NEAR(at10, 20 + 3 * 10, 1.5);
    EXPECT_NEAR(BallCentre(Render(s, 30)) - at10, 60, 1.5);
    // It turns at the right end of its track (x = 250) and rolls back.
    EXPECT_NEAR(BallCentre(Render(s, 90)), 210, 1.5);
    EXPECT_NEAR(BallCentre(Render(s, 100)), 180, 1.5);
}

TEST(Scene, LongerFramesAndExposuresSmearTheBall) {
    SceneSettings still = Manual(127, 0, 0x20);
    SceneSettings slow = still;
    slow.divider = 15;  // 16 clock units per frame: the ball moves 48 pixels in one frame
    const int sharp = BallLength(Render(still, 40));
    const int smeared = BallLength(Render(slow, 40));
    EXPECT_NEAR(sharp, 23, 4);
    EXPECT_GT(smeared, sharp + 30);
    SceneSettings short_exposure = slow;
    short_exposure.exposure = 16;
    short_exposure.gain = 7;
    EXPECT_LT(BallLength(Render(short_exposure, 40)), smeared - 20);
}

TEST(SceneOnBoard, EveryRegisterReachesThePicture) {
    sim::Board b;
    simtest::StartUp(b);
    simtest::SetRegister(b, sim::EXCTL, 50);
    simtest::SetRegister(b, sim::GCTL, 3);
    simtest::SetRegister(b, sim::FRCTL, 4);
    simtest::SetRegister(b, sim::MCTL, 0xD0);
    const auto bytes = simtest::ReadFrame(b, 385 * 288);
    SceneSettings expected;
    expected.agc = false;
    expected.exposure = 50;
    expected.gain = 3;
    expected.divider = 4;
    expected.mctl = 0xD0;
    const Picture p = Render(expected, b.SceneTime());
    for (int row = 0; row < sim::kSensorHeight; ++row) {
        for (int c = 0; c < sim::kSensorWidth; ++c) {
            ASSERT_EQ(bytes[row * 385 + c], p.sensor[row * sim::kSensorWidth + c])
                << row << " " << c;
        }
    }
}

TEST(SceneOnBoard, TheClockAdvancesByTheDividerPerFrame) {
    sim::Board b;
    simtest::StartUp(b);
    simtest::ReadFrame(b, 1);
    EXPECT_EQ(b.SceneTime(), 0u);
    simtest::ReadFrame(b, 1);
    EXPECT_EQ(b.SceneTime(), 1u);
    simtest::SetRegister(b, sim::FRCTL, 9);  // divider 10
    simtest::ReadFrame(b, 1);
    EXPECT_EQ(b.SceneTime(), 2u);
    simtest::ReadFrame(b, 1);
    EXPECT_EQ(b.SceneTime(), 12u);
    EXPECT_EQ(b.FramesStarted(), 4u);
}

TEST(SceneOnBoard, DefaultSettingBringsBackTheDefaultPicture) {
    sim::Board b;
    simtest::StartUp(b);
    simtest::SetRegister(b, sim::EXCTL, 3);
    simtest::SetRegister(b, sim::MCTL, 0xF0);
    simtest::SetRegister(b, sim::HWCTL, 0x25);
    simtest::DefaultSetting(b);
    const auto bytes = simtest::ReadFrame(b, 385 * 288);
    const Picture p = Render(SceneSettings{}, b.SceneTime());
    for (int row = 0; row < sim::kSensorHeight; ++row) {
        ASSERT_TRUE(std::equal(p.sensor.begin() + row * 384, p.sensor.begin() + row * 384 + 384,
                               bytes.begin() + row * 385))
            << row;
    }
}

}  // namespace
