// The camera of a library in another program's process: its refusals (the port in use, the
// control not registered) as errors of their kinds with the process left running, a prompt's
// answer that fails stopping the sequence before the register's data write, and a frame that has
// nowhere to go read not at all.
#include "panel/camera.h"

#include <gmock/gmock.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/portio/portio.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testing::HasSubstr;

const std::string kBin = LENSBAY_BIN_DIR;

class CameraTest : public testing::Test {
protected:
    void SetUp() override {
        registry_ = dir_.File("registry.reg");
        const test_support::Outcome o = test_support::RunProcess(test_support::Command(
            {kBin + "/regsvr", kBin + "/PINBUS.OCX"}, {{"OLE_REGISTRY", registry_}}));
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        ::setenv("OLE_REGISTRY", registry_.c_str(), 1);
        ::setenv("PORTIO", "sim", 1);
        ::setenv("PORTIO_TRACE", dir_.File("trace").c_str(), 1);
        portio::ResetForTesting();
    }
    void TearDown() override { portio::ResetForTesting(); }

    static base::Result<std::unique_ptr<panel::Camera>> Open(panel::PromptAnswer answer = {}) {
        return panel::Camera::Open(kBin + "/PINBUS.OCX", "camera_test", std::move(answer));
    }
    std::string Trace() const {
        std::string trace;
        test_support::ReadWholeFile(dir_.File("trace"), &trace);
        return trace;
    }

    test_support::TempDir dir_;
    std::string registry_;
};

TEST_F(CameraTest, RefusalsAreErrorsOfTheirKindsAndGiveThePortBack) {
    ::setenv("OLE_REGISTRY", dir_.File("empty.reg").c_str(), 1);
    base::Result<std::unique_ptr<panel::Camera>> camera = Open();
    ASSERT_FALSE(camera);
    EXPECT_TRUE(camera.error().Is(base::ErrorKind::kNotRegistered)) << camera.message();
    EXPECT_THAT(camera.message(), HasSubstr("register it with: "));
    EXPECT_THAT(camera.message(), HasSubstr(kBin + "/PINBUS.OCX"));

    ::setenv("OLE_REGISTRY", registry_.c_str(), 1);
    camera = Open();
    ASSERT_TRUE(camera) << camera.message();
    // The port is this camera's: a second one is refused at once, naming the holder.
    base::Result<std::unique_ptr<panel::Camera>> second = Open();
    ASSERT_FALSE(second);
    EXPECT_TRUE(second.error().Is(base::ErrorKind::kPortRefused)) << second.message();
    EXPECT_THAT(second.message(), HasSubstr("in use by"));
    camera = base::Fail("closed");
    EXPECT_TRUE(Open()) << "the port is free once the camera is gone";
}

TEST_F(CameraTest, AFailedAnswerStopsTheSequenceBeforeTheDataWrite) {
    std::vector<std::string> asked;
    bool refuse = true;
    base::Result<std::unique_ptr<panel::Camera>> camera =
        Open([&](const std::string& prompt) -> base::Result<> {
            asked.push_back(prompt);
            if (refuse) return base::Fail("nobody at the board");
            return {};
        });
    ASSERT_TRUE(camera) << camera.message();
    portio::Operator()->SetFollowsPrompts(false);
    panel::Camera& cam = **camera;
    EXPECT_FALSE(cam.FollowsPrompts());
    panel::ChipSettings settings;
    ASSERT_TRUE(settings.Set(chip::kExposure, 40));
    ASSERT_TRUE(settings.Set(chip::kGain, 3));
    const std::size_t before = Trace().size();
    const base::Result<> set = cam.SetControls(settings);
    ASSERT_FALSE(set);
    EXPECT_EQ(set.message(), "nobody at the board");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], chip::SelectPrompt(chip::Register::kExctl));
    // EXCTL's opening write went out, then nothing: no data, no strobe.
    EXPECT_EQ(Trace().substr(before), "out8 0x037a 0x08\n");
    EXPECT_EQ(cam.Registers().Get(chip::Register::kExctl).state,
              panel::RegisterRecord::Entry::kUnknown);

    // An answer given for each: the whole sequence, the prompts of both registers and the
    // video port's, and the record.
    refuse = false;
    asked.clear();
    ASSERT_TRUE(cam.SetControls(settings));
    EXPECT_EQ(asked, (std::vector<std::string>{chip::SelectPrompt(chip::Register::kExctl),
                                               chip::SelectPrompt(chip::Register::kGctl),
                                               chip::ReturnPrompt()}));
    EXPECT_EQ(cam.Registers().Get(chip::Register::kExctl).value, 40);
    // A given answer for one call takes the camera's place.
    int own = 0;
    ASSERT_TRUE(cam.Reset([&](const std::string&) -> base::Result<> {
        ++own;
        return {};
    }));
    EXPECT_EQ(own, 2);  // FCTL's prompt and the video port's
    EXPECT_EQ(asked.size(), 3u);
}

TEST_F(CameraTest, AFrameWithNowhereToGoIsNotRead) {
    base::Result<std::unique_ptr<panel::Camera>> camera = Open();
    ASSERT_TRUE(camera) << camera.message();
    panel::Camera& cam = **camera;
    ASSERT_TRUE(cam.SetWindow({4, 12, 4, 12}));
    const std::size_t before = Trace().size();
    panel::SeriesFrame frame;
    panel::FrameGeometry g;
    base::Result<> read =
        cam.ReadFrame([](const panel::FrameGeometry&) { return nullptr; }, &frame, &g);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.message(), "Not enough memory for the frame.");
    EXPECT_EQ(Trace().size(), before) << "no port cycle";
    EXPECT_EQ(g.FrameWidth, 192);
    EXPECT_EQ(g.FrameHeight, 144);

    std::vector<std::uint8_t> rows;
    read = cam.ReadFrame(
        [&](const panel::FrameGeometry& geometry) {
            rows.assign(static_cast<std::size_t>(geometry.FrameWidth) * geometry.FrameHeight, 1);
            return rows.data();
        },
        &frame, &g);
    ASSERT_TRUE(read) << read.message();
    EXPECT_EQ(frame.number, 1) << "the refused read was not counted";
    EXPECT_THAT(Trace(), testing::EndsWith("out8 0x037a 0x27\n"));
    const std::string json = cam.RecordJson(frame, g);
    EXPECT_THAT(json, HasSubstr("\"window\": {\"h_start\": 4, \"h_end\": 12, \"v_start\": 4, "
                                "\"v_end\": 12}"));
    EXPECT_THAT(json, HasSubstr("\"frame\": {\"number\": 1, "));
}

}  // namespace
