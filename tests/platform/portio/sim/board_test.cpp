#include "platform/portio/sim/board.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/portio/sim/scene.h"
#include "tests/platform/portio/sim/panel_sequences.h"

namespace {

using sim::Board;
using simtest::DefaultSetting;
using simtest::ReadFrame;
using simtest::SetRegister;
using simtest::StartUp;

TEST(ReverseBits, MirrorsEachBitAndIsItsOwnInverse) {
    EXPECT_EQ(sim::ReverseBits(0x01), 0x80);
    EXPECT_EQ(sim::ReverseBits(0x02), 0x40);
    EXPECT_EQ(sim::ReverseBits(0x04), 0x20);
    EXPECT_EQ(sim::ReverseBits(0x08), 0x10);
    EXPECT_EQ(sim::ReverseBits(0x64), 0x26);
    EXPECT_EQ(sim::ReverseBits(0x2C), 0x34);
    for (int b = 0; b < 256; ++b) {
        const auto v = static_cast<std::uint8_t>(b);
        EXPECT_EQ(sim::ReverseBits(sim::ReverseBits(v)), v);
        EXPECT_EQ(__builtin_popcount(sim::ReverseBits(v)), __builtin_popcount(v));
    }
}

TEST(BoardPorts, RegistersOfThePortSide) {
    Board b;
    EXPECT_EQ(b.Read(sim::kStatusPort), sim::kStatusValue);
    b.Write(sim::kEcrPort, 0x20);
    EXPECT_EQ(b.Read(sim::kEcrPort), 0x20);
    b.Write(sim::kControlPort, 0x08);
    EXPECT_EQ(b.Read(sim::kControlPort), 0x08);
    // The PC reads back its own byte while it drives the lines.
    b.Write(sim::kDataPort, 0x5A);
    EXPECT_EQ(b.Read(sim::kDataPort), 0x5A);
    // Ports the board is not wired to float.
    b.Write(0x278, 0x12);
    EXPECT_EQ(b.Read(0x278), 0xFF);
    EXPECT_EQ(b.Read(0x37B), 0xFF);
}

TEST(BoardPorts, IdleLinesFloatHigh) {
    Board b;
    b.Write(sim::kDataPort, 0x00);
    b.Write(sim::kControlPort, 0x20);  // lines are inputs, no frame started yet
    EXPECT_EQ(b.Read(sim::kDataPort), 0xFF);
    ReadFrame(b, 4);
    b.SetSwitches(sim::EXCTL);  // the chip drives the lines only on the video port
    EXPECT_EQ(b.Read(sim::kDataPort), 0xFF);
    b.SetSwitches(sim::VPORT);
    EXPECT_NE(b.Read(sim::kDataPort), 0xFF);
}

TEST(BoardLatch, LatchesOnlyOnARisingStrobeWhileThePcDrivesTheLines) {
    Board b;
    b.SetSwitches(sim::EXCTL);
    b.Write(sim::kDataPort, 0x26);
    b.Write(sim::kControlPort, 0x08);
    EXPECT_FALSE(b.Latched()[sim::EXCTL].has_value());
    b.Write(sim::kControlPort, 0x09);
    EXPECT_EQ(b.Latched()[sim::EXCTL], 0x64);  // the chip sees the byte bit-reversed
    // Holding the strobe high latches nothing more.
    b.Write(sim::kDataPort, 0x80);
    b.Write(sim::kControlPort, 0x09);
    EXPECT_EQ(b.Latched()[sim::EXCTL], 0x64);
    // The falling edge does not latch either.
    b.Write(sim::kControlPort, 0x08);
    EXPECT_EQ(b.Latched()[sim::EXCTL], 0x64);
    // With bit 5 set the lines are inputs and bit 0 is the pixel handshake, not the strobe.
    b.Write(sim::kControlPort, 0x28);
    b.Write(sim::kControlPort, 0x29);
    EXPECT_EQ(b.Latched()[sim::EXCTL], 0x64);
    b.Write(sim::kControlPort, 0x08);
    b.Write(sim::kControlPort, 0x09);
    EXPECT_EQ(b.Latched()[sim::EXCTL], 0x01);
}

TEST(BoardLatch, VideoPortAndUnusedAddressesLatchNothing) {
    Board b;
    int changes = 0;
    b.SetChangeListener([&] { ++changes; });
    for (int a : {0x0, 0x8, 0x9, 0xC, 0xF}) {
        b.SetSwitches(static_cast<std::uint8_t>(a));
        b.Write(sim::kDataPort, 0xFF);
        b.Write(sim::kControlPort, 0x08);
        b.Write(sim::kControlPort, 0x09);
    }
    for (const auto& v : b.Latched()) EXPECT_FALSE(v.has_value());
    EXPECT_EQ(changes, 5);  // the switch moves only
    EXPECT_TRUE(b.Agc());
}

TEST(BoardLatch, StartUpLatchesNothing) {
    Board b;
    StartUp(b);
    for (const auto& v : b.Latched()) EXPECT_FALSE(v.has_value());
    EXPECT_EQ(b.Ecr(), 0x20);
    EXPECT_EQ(b.Control(), 0x27);
    EXPECT_EQ(b.Switches(), sim::VPORT);
}

TEST(BoardLatch, SetRegisterSequencesReachTheirRegisters) {
    Board b;
    int changes = 0;
    b.SetChangeListener([&] { ++changes; });
    StartUp(b);
    SetRegister(b, sim::EXCTL, 100);
    EXPECT_FALSE(b.Agc());  // an exposure write turns AGC off
    SetRegister(b, sim::GCTL, 7);
    SetRegister(b, sim::FRCTL, 49);
    SetRegister(b, sim::HWCTL, 0x25);
    SetRegister(b, sim::VWCTL, 0x13);
    SetRegister(b, sim::MCTL, 0xF0);
    EXPECT_EQ(b.RegisterValue(sim::EXCTL), 100);
    EXPECT_EQ(b.RegisterValue(sim::GCTL), 7);
    EXPECT_EQ(b.RegisterValue(sim::FRCTL), 49);
    EXPECT_EQ(b.RegisterValue(sim::HWCTL), 0x25);
    EXPECT_EQ(b.RegisterValue(sim::VWCTL), 0x13);
    EXPECT_EQ(b.RegisterValue(sim::MCTL), 0xF0);
    EXPECT_FALSE(b.Latched()[sim::FCTL].has_value());
    EXPECT_EQ(b.Control(), 0x22);
    EXPECT_EQ(changes, 6 * 3);  // per register: switch there, latch, switch back
}

TEST(BoardLatch, DefaultSettingPulseResetsTheChip) {
    Board b;
    StartUp(b);
    SetRegister(b, sim::EXCTL, 5);
    SetRegister(b, sim::MCTL, 0xC0);
    SetRegister(b, sim::HWCTL, 0x25);
    DefaultSetting(b);
    EXPECT_TRUE(b.Agc());
    EXPECT_EQ(b.Latched()[sim::FCTL], 0x00);
    for (sim::Register r : {sim::EXCTL, sim::GCTL, sim::FRCTL, sim::MCTL, sim::HWCTL, sim::VWCTL}) {
        EXPECT_EQ(b.RegisterValue(r), Board::DefaultValue(r)) << int(r);
        EXPECT_EQ(b.Latched()[r], Board::DefaultValue(r)) << int(r);
    }
    EXPECT_EQ(b.RegisterValue(sim::HWCTL), 0x00);
    EXPECT_EQ(b.RegisterValue(sim::MCTL), 0x00);
}

TEST(BoardLatch, OnlyTheReleaseOfTheResetRequestResets) {
    Board b;
    SetRegister(b, sim::MCTL, 0x40);
    // Request without release: nothing yet.
    SetRegister(b, sim::FCTL, 0x01);
    EXPECT_EQ(b.RegisterValue(sim::MCTL), 0x40);
    // A 0 without a preceding request does nothing either.
    Board c;
    SetRegister(c, sim::MCTL, 0x40);
    SetRegister(c, sim::FCTL, 0x00);
    EXPECT_EQ(c.RegisterValue(sim::MCTL), 0x40);
    // Release after the request resets.
    SetRegister(b, sim::FCTL, 0x00);
    EXPECT_EQ(b.RegisterValue(sim::MCTL), 0x00);
}

TEST(BoardVideo, FirstByteBeforeAnyPulseAndOneBytePerPulse) {
    Board b;
    StartUp(b);
    b.Write(sim::kControlPort, 0x27);
    b.Write(sim::kControlPort, 0x2F);
    b.Write(sim::kControlPort, 0x2B);
    std::vector<std::uint8_t> image(sim::kSensorWidth * sim::kSensorHeight);
    sim::RenderScene(sim::SettingsOf(b), b.SceneTime(), image.data());
    // Reads do not advance the stream; each 0x2A/0x2B pulse advances it by exactly one byte.
    EXPECT_EQ(b.Read(sim::kDataPort), sim::ReverseBits(image[0]));
    EXPECT_EQ(b.Read(sim::kDataPort), sim::ReverseBits(image[0]));
    for (int i = 1; i < 50; ++i) {
        b.Write(sim::kControlPort, 0x2A);
        b.Write(sim::kControlPort, 0x2B);
        ASSERT_EQ(b.Read(sim::kDataPort), sim::ReverseBits(image[i])) << i;
    }
    // A new frame starts over at its first byte.
    const auto first = ReadFrame(b, 3);
    sim::RenderScene(sim::SettingsOf(b), b.SceneTime(), image.data());
    EXPECT_EQ(first, (std::vector<std::uint8_t>{image[0], image[1], image[2]}));
}

TEST(BoardVideo, FrameStartNeedsVideoPortAndInputLines) {
    Board b;
    b.SetSwitches(sim::GCTL);
    b.Write(sim::kControlPort, 0x27);
    b.Write(sim::kControlPort, 0x2F);
    EXPECT_EQ(b.FramesStarted(), 0u);
    b.SetSwitches(sim::VPORT);
    b.Write(sim::kControlPort, 0x00);
    b.Write(sim::kControlPort, 0x08);  // bit 3 rises while the PC drives the lines
    EXPECT_EQ(b.FramesStarted(), 0u);
    b.Write(sim::kControlPort, 0x27);
    b.Write(sim::kControlPort, 0x2F);
    EXPECT_EQ(b.FramesStarted(), 1u);
}

// The rows of the picture in the window, each followed by the line-end byte when it has one.
std::vector<std::uint8_t> ExpectedStream(const Board& b, std::uint8_t hwctl, std::uint8_t vwctl) {
    std::vector<std::uint8_t> image(sim::kSensorWidth * sim::kSensorHeight);
    sim::RenderScene(sim::SettingsOf(b), b.SceneTime(), image.data());
    const sim::StreamWindow w = sim::WindowOf(hwctl, vwctl);
    std::vector<std::uint8_t> out;
    for (int row = w.first_row; row < w.first_row + w.height; ++row) {
        for (int c = w.first_column; c < w.first_column + w.width; ++c) {
            out.push_back(image[row * sim::kSensorWidth + c]);
        }
        if (w.line_end) out.push_back(sim::kLineEndValue);
    }
    return out;
}

TEST(BoardVideo, FullFrameIs385By288WithLineEndBytes) {
    Board b;
    StartUp(b);
    const std::size_t count = 385 * 288;
    auto bytes = ReadFrame(b, count + 10);
    const auto expected = ExpectedStream(b, 0x00, 0x00);
    ASSERT_EQ(expected.size(), count);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin()));
    // Blanking follows the last row.
    for (std::size_t i = count; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], sim::kBlankingValue);
}

TEST(BoardVideo, WindowedFrameHasNoLineEndBytes) {
    Board b;
    StartUp(b);
    SetRegister(b, sim::HWCTL, 0x25);
    SetRegister(b, sim::VWCTL, 0x13);
    const auto bytes = ReadFrame(b, 73 * 36);
    const auto expected = ExpectedStream(b, 0x25, 0x13);
    ASSERT_EQ(expected.size(), 72u * 36u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin()));
    for (std::size_t i = expected.size(); i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0);
}

TEST(StreamWindow, Geometry) {
    struct Case {
        std::uint8_t h, v;
        int first_column, width;
        bool line_end;
        int first_row, height;
    };
    const Case cases[] = {
        {0x00, 0x00, 0, 384, true, 0, 288},     // the full frame
        {0x25, 0x13, 48, 72, false, 18, 36},    // blocks 2..5 x 1..3
        {0x42, 0x88, 96, 288, true, 144, 144},  // end before start / equal: to the edge
        {0xF0, 0xF0, 360, 24, true, 270, 18},   // the last block
        {0x0F, 0x0F, 0, 360, false, 0, 270},   {0x1A, 0x00, 24, 216, false, 0, 288},
    };
    for (const Case& c : cases) {
        const sim::StreamWindow w = sim::WindowOf(c.h, c.v);
        EXPECT_EQ(w.first_column, c.first_column) << std::hex << int(c.h);
        EXPECT_EQ(w.width, c.width) << std::hex << int(c.h);
        EXPECT_EQ(w.line_end, c.line_end) << std::hex << int(c.h);
        EXPECT_EQ(w.first_row, c.first_row) << std::hex << int(c.v);
        EXPECT_EQ(w.height, c.height) << std::hex << int(c.v);
        EXPECT_LE(w.first_column + w.width, sim::kSensorWidth);
        EXPECT_LE(w.first_row + w.height, sim::kSensorHeight);
    }
}

TEST(BoardVideo, PulsesBeyondTheStreamKeepDeliveringBlanking) {
    Board b;
    SetRegister(b, sim::HWCTL, 0xEF);
    SetRegister(b, sim::VWCTL, 0xEF);
    const auto bytes = ReadFrame(b, 24 * 18 + 1000);
    for (std::size_t i = 24 * 18; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << i;
}

}  // namespace
