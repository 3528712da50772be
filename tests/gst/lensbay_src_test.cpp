// lensbaysrc in a pipeline with appsink: the window properties under the panel's rules, the caps,
// the first frame against the panel's own capture of the same window, the errors a user meets,
// and the port as Capture leaves it after any number of state changes.
#include <gmock/gmock.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gst/frame_source.h"
#include "panel/frame_layout.h"
#include "platform/portio/portio.h"
#include "platform/portio/sim/board_state_file.h"
#include "tests/gst/pipeline_fixture.h"
#include "tests/support/process.h"

namespace {

using lensbay_gst_test::kBin;
using lensbay_gst_test::LensbaySrcTest;
using test_support::Outcome;
using test_support::RunProcess;
using testing::HasSubstr;

const auto* const kGst = testing::AddGlobalTestEnvironment(new lensbay_gst_test::GstEnvironment);

TEST(LensbayPlugin, CarriesTheProjectsLicenceAsGStreamerNamesIt) {
    GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), "lensbay");
    ASSERT_NE(plugin, nullptr);
    EXPECT_STREQ(gst_plugin_get_license(plugin), "MIT/X11");
    gst_object_unref(plugin);
}

// Integer properties with their real ranges, as gst-inspect-1.0 shows them; a value outside one
// is kept (GLib would drop it with a warning alone) and refused when the pipeline starts, before
// any port cycle, with a message that names the property.
TEST_F(LensbaySrcTest, PropertiesHaveTheirRangesAndAValueOutsideOneFailsThePipeline) {
    GstElement* src = gst_element_factory_make("lensbaysrc", nullptr);
    ASSERT_NE(src, nullptr);
    const struct {
        const char* name;
        int minimum, maximum, initial;
    } ranges[] = {{"h-start", 0, 15, 0},
                  {"v-end", 0, 15, 0},
                  {"exposure", -1, 127, -1},
                  {"gain", -1, 7, -1},
                  {"divider", -1, 128, -1}};
    for (const auto& r : ranges) {
        GParamSpec* param = g_object_class_find_property(G_OBJECT_GET_CLASS(src), r.name);
        ASSERT_NE(param, nullptr) << r.name;
        ASSERT_EQ(G_PARAM_SPEC_VALUE_TYPE(param), G_TYPE_INT) << r.name;
        EXPECT_EQ(G_PARAM_SPEC_INT(param)->minimum, r.minimum) << r.name;
        EXPECT_EQ(G_PARAM_SPEC_INT(param)->maximum, r.maximum) << r.name;
        int v = -5;
        g_object_get(src, r.name, &v, nullptr);
        EXPECT_EQ(v, r.initial) << r.name;
    }
    g_object_set(src, "h-start", 16, nullptr);
    int v = 0;
    g_object_get(src, "h-start", &v, nullptr);
    EXPECT_EQ(v, 16);  // kept as given, for the start to refuse
    gst_object_unref(src);

    const std::pair<const char*, const char*> refused[] = {
        {"h-start=16", "h-start = 16 is outside 0..15"},
        {"v-end=-1", "v-end = -1 is outside 0..15"},
        {"exposure=128", "exposure = 128 is outside 0..127 (-1 leaves the register as it is)"},
        {"divider=0", "divider = 0 is outside 1..128 (-1 leaves the register as it is)"},
    };
    for (const auto& [property, message] : refused) {
        Build(property);
        EXPECT_EQ(PlayAndError(), message) << property;
        EXPECT_EQ(LastControl(), "none") << property;
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
        pipeline_ = nullptr;
    }
}

// The controls go to the chip as Set Register writes them for the same fields and options, in the
// one Set Register run that also writes the window; the record of the board says who wrote them.
TEST_F(LensbaySrcTest, ControlsAreWrittenAsSetRegisterWritesThem) {
    const Outcome o = RunProcess([&] {
        test_support::Command c(
            {kBin + "/lensbay", "--console"},
            {{"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}, {"PORTIO_TRACE", "-"}},
            "enter Text1 40\nenter Text2 3\nenter Text3 4\nenter Text4 2\nenter Text5 9\n"
            "enter Text6 0\nenter Text7 0\noption Option2 0\noption Option3 0\npress Command1\n");
        c.cwd = dir_.path();
        return c;
    }());
    ASSERT_EQ(o.status, 0) << o.err;
    std::string console;
    for (std::size_t at = 0; at < o.out.size();) {
        const std::size_t end = o.out.find('\n', at);
        const std::string line = o.out.substr(at, end - at);
        if (line.rfind("out8 ", 0) == 0 || line.rfind("in8 ", 0) == 0) console += line + "\n";
        at = end == std::string::npos ? o.out.size() : end + 1;
    }

    Build("h-start=2 h-end=9 exposure=40 gain=3 divider=4 mirror=on mode=indoor num-buffers=1");
    ASSERT_EQ(PlayAndError(), "");
    int width = 0, height = 0;
    Pull(&width, &height);
    EXPECT_EQ(width, 7 * 24);  // blocks 2 to 9, the end not included
    std::string trace;
    ASSERT_TRUE(test_support::ReadWholeFile(dir_.path() + "/trace", &trace));
    // The element's Set Register is the console's, cycle for cycle; its frame follows.
    EXPECT_EQ(trace.substr(0, console.size()), console);
    EXPECT_GT(trace.size(), console.size());

    std::string record;
    ASSERT_TRUE(test_support::ReadWholeFile(
        std::string(std::getenv("LENSBAY_SIM_STATE")) + ".registers", &record));
    EXPECT_THAT(record, HasSubstr("register EXCTL 28 "));  // 40
    EXPECT_THAT(record, HasSubstr("register MCTL 60 "));   // mirror and indoor
    EXPECT_THAT(record, HasSubstr(" lensbaysrc in " + std::string(program_invocation_short_name)));
}

TEST_F(LensbaySrcTest, FirstFrameEqualsThePanelsCaptureOfTheSameWindow) {
    // A window with the row skip (h-end not after h-start); the element sets the chip's window
    // first, as Set Register does.
    const Outcome o = RunProcess([&] {
        test_support::Command c(
            {kBin + "/lensbay", "--console"},
            {{"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}, {"PORTIO_TRACE", ""}},
            "enter Text4 1\nenter Text5 0\nenter Text6 2\nenter Text7 5\npress Command1\n"
            "press Capture\n");
        c.cwd = dir_.path();
        return c;
    }());
    ASSERT_EQ(o.status, 0) << o.err;
    std::string bmp;
    ASSERT_TRUE(test_support::ReadWholeFile(dir_.path() + "/image.bmp", &bmp));

    Build("h-start=1 h-end=0 v-start=2 v-end=5");
    ASSERT_EQ(PlayAndError(), "");
    int width = 0, height = 0;
    const std::vector<std::uint8_t> frame = Pull(&width, &height);
    ASSERT_EQ(width, 360);  // blocks 1 to the edge
    ASSERT_EQ(height, 54);
    const std::size_t stride = 360;
    ASSERT_EQ(frame.size(), stride * 54);
    ASSERT_GE(bmp.size(), 1078 + stride * 54);
    // The bitmap stores the bottom row first; the element sends the top row first.
    for (int y = 0; y < height; ++y) {
        const std::string bmp_row = bmp.substr(1078 + (height - 1 - y) * stride, stride);
        const std::string frame_row(frame.begin() + static_cast<long>(y * stride),
                                    frame.begin() + static_cast<long>((y + 1) * stride));
        ASSERT_EQ(frame_row, bmp_row) << "row " << y;
    }
}

// A window whose width is no multiple of 4 (the panel's fields take a fraction of a block, the
// element's properties do not, so its frame source is driven directly): 382 columns in rows 384
// bytes apart, as GStreamer's GRAY8 and the panel's bitmap both lay them out, each row the panel's
// and the 2 bytes after it zero. Two boards alike: on one the console sets the window and
// captures; on the other it sets the window, and the frame source reads the next frame.
TEST_F(LensbaySrcTest, AWidthThatIsNoMultipleOfFourIsPaddedToTheRowStride) {
    const std::string set =
        "enter Text4 0.1\nenter Text5 0\nenter Text6 2\nenter Text7 5\npress Command1\n";
    for (const bool capture : {true, false}) {
        std::map<std::string, std::string> env = {
            {"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}, {"PORTIO_TRACE", ""}};
        // The frame source's board is the one this test program keeps (sim_board_per_test).
        env["LENSBAY_SIM_STATE"] =
            capture ? dir_.path() + "/panel-board" : std::string(std::getenv("LENSBAY_SIM_STATE"));
        const Outcome o = RunProcess([&] {
            test_support::Command c({kBin + "/lensbay", "--console"}, env,
                                    set + (capture ? "press Capture\n" : ""));
            c.cwd = dir_.path();
            return c;
        }());
        ASSERT_EQ(o.status, 0) << o.err;
    }
    std::string bmp;
    ASSERT_TRUE(test_support::ReadWholeFile(dir_.path() + "/image.bmp", &bmp));

    // The frame the panel's fields give: (16 - 0.1) * 24 columns, rounded, rows 2 to 5 of 18 each,
    // with the row skip (h_end not after h_start).
    panel::FrameGeometry g;
    g.FrameWidth = 382;
    g.FrameHeight = 54;
    g.RowSkip = true;
    g.ByteCount = (382 + 1) * 54;
    ASSERT_EQ(bmp.size(), 1078u + 384u * 54u + 54u + 1u) << "the panel read another frame";
    const std::size_t stride = lensbay_gst::RowStride(g);
    ASSERT_EQ(stride, 384u);
    {
        base::Result<std::unique_ptr<lensbay_gst::FrameSource>> source =
            lensbay_gst::FrameSource::Open(kBin + "/PINBUS.OCX");
        ASSERT_TRUE(source.ok()) << source.message();
        std::vector<std::uint8_t> frame(stride * 54, 0xEE);
        const base::Result<> read = (*source)->ReadFrame(g, frame.data(), stride);
        ASSERT_TRUE(read.ok()) << read.message();
        for (std::size_t y = 0; y < 54; ++y) {
            const std::string bmp_row = bmp.substr(1078 + (53 - y) * stride, 382);
            const std::string frame_row(frame.begin() + static_cast<long>(y * stride),
                                        frame.begin() + static_cast<long>(y * stride + 382));
            ASSERT_EQ(frame_row, bmp_row) << "row " << y;
            EXPECT_EQ(frame[y * stride + 382], 0) << "row " << y;
            EXPECT_EQ(frame[y * stride + 383], 0) << "row " << y;
        }
    }
    EXPECT_EQ(LastControl(), "0x27");
}

TEST_F(LensbaySrcTest, FullFramesAreLiveTimestampedAndTheSceneMoves) {
    Build("num-buffers=3");
    ASSERT_EQ(PlayAndError(), "");
    int width = 0, height = 0;
    GstClockTime first = GST_CLOCK_TIME_NONE, second = GST_CLOCK_TIME_NONE;
    const auto a = Pull(&width, &height, &first);
    EXPECT_EQ(width, 384);
    EXPECT_EQ(height, 288);
    EXPECT_EQ(a.size(), 384u * 288u);
    const auto b = Pull(&width, &height, &second);
    EXPECT_TRUE(GST_CLOCK_TIME_IS_VALID(first));
    EXPECT_TRUE(GST_CLOCK_TIME_IS_VALID(second));
    EXPECT_GE(second, first);
    EXPECT_NE(a, b);  // frame for frame, as the scene clock advances
    Pull(&width, &height);
    EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink_)) ||
                gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 30 * GST_SECOND) == nullptr);
    EXPECT_EQ(LastControl(), "0x27");
    EXPECT_EQ(FramesStarted(), 3);
}

TEST_F(LensbaySrcTest, RepeatedStateChangesLeaveThePortAsCaptureLeavesIt) {
    Build("h-start=4 h-end=8 v-start=4 v-end=8");
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(PlayAndError(), "");
        int width = 0, height = 0;
        EXPECT_EQ(Pull(&width, &height).size(), 96u * 72u);
        ASSERT_EQ(gst_element_set_state(pipeline_, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
        EXPECT_EQ(LastControl(), "0x27") << "round " << round;
    }
    // Properties can change between runs; the caps follow.
    g_object_set(src_, "h-end", 6, nullptr);
    ASSERT_EQ(PlayAndError(), "");
    int width = 0, height = 0;
    Pull(&width, &height);
    EXPECT_EQ(width, 48);
}

TEST_F(LensbaySrcTest, AnUnregisteredPinbusIsAnErrorMessage) {
    const std::string empty = dir_.path() + "/empty.reg";
    ASSERT_TRUE(test_support::WriteWholeFile(empty, ""));
    ::setenv("OLE_REGISTRY", empty.c_str(), 1);
    Build("");
    EXPECT_THAT(PlayAndError(), HasSubstr("is not registered"));
    EXPECT_EQ(LastControl(), "none");  // no port cycle at all
}

TEST_F(LensbaySrcTest, ASecondSourceOnThePortFailsToStartNamingTheFirst) {
    GError* error = nullptr;
    pipeline_ = gst_parse_launch(
        "lensbaysrc name=src ! appsink name=sink sync=false lensbaysrc ! fakesink", &error);
    ASSERT_NE(pipeline_, nullptr) << (error ? error->message : "");
    ASSERT_EQ(error, nullptr) << error->message;
    EXPECT_THAT(PlayAndError(),
                HasSubstr(") is in use by " + std::string(program_invocation_short_name) +
                          ", process " + std::to_string(::getpid())));
}

TEST_F(LensbaySrcTest, WindowPropertiesOnABoardThatDoesNotFollowNeedSetRegistersFalse) {
    sim::BoardState state;
    state.follows_prompts = false;
    ASSERT_TRUE(sim::SaveBoardState(std::getenv("LENSBAY_SIM_STATE"), state).ok());
    Build("h-start=4 h-end=12");
    EXPECT_THAT(PlayAndError(), HasSubstr("do not follow the register prompts"));
    EXPECT_EQ(LastControl(), "0x27");  // the port's set-up only: no register was written
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;

    // The user's word that the chip is set: the window is read as it is.
    Build("h-start=4 h-end=12 set-registers=false");
    EXPECT_EQ(PlayAndError(), "");
    int width = 0, height = 0;
    EXPECT_EQ(Pull(&width, &height).size(), 192u * 288u);
    // The full frame needs no setting.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    Build("");
    EXPECT_EQ(PlayAndError(), "");
}

TEST_F(LensbaySrcTest, ARefusedPortBackendIsAnErrorMessage) {
    ::setenv("PORTIO", "ppdev:/nonexistent/parport9", 1);
    portio::ResetForTesting();
    Build("");
    EXPECT_THAT(PlayAndError(), HasSubstr("/nonexistent/parport9"));
}

// A board that refuses a port cycle in the middle of the first frame, as a failing driver does.
class RefusingBackend : public portio::Backend {
public:
    std::uint8_t In8(std::uint16_t) override {
        if (++reads_ == 1000) portio::ReportFault("the test's port refused a read");
        return 0xFF;
    }
    std::uint16_t In16(std::uint16_t) override { return 0xFFFF; }
    void Out8(std::uint16_t, std::uint8_t) override {}
    void Out16(std::uint16_t, std::uint16_t) override {}

private:
    int reads_ = 0;
};

TEST_F(LensbaySrcTest, ARefusedPortCycleIsAnErrorMessageNotAFrame) {
    portio::InstallBackendForTesting(std::make_unique<RefusingBackend>());
    Build("");
    // The error comes with the first frame, before or after the pipeline has started.
    std::string text = PlayAndError();
    if (text.empty()) {
        GstBus* bus = gst_element_get_bus(pipeline_);
        GstMessage* msg = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, GST_MESSAGE_ERROR);
        gst_object_unref(bus);
        ASSERT_NE(msg, nullptr);
        GError* error = nullptr;
        gst_message_parse_error(msg, &error, nullptr);
        text = error->message;
        g_error_free(error);
        gst_message_unref(msg);
    }
    EXPECT_THAT(text, HasSubstr("the test's port refused a read"));
    EXPECT_EQ(gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 0), nullptr);
}

// The README's pipelines and the Python example, run as a user runs them. gst-launch-1.0 and
// Python are not built with the sanitizers, so they cannot load a sanitized plugin.
class PipelineProgramTest : public LensbaySrcTest {
protected:
    void SetUp() override {
#ifdef LENSBAY_SANITIZED
        GTEST_SKIP() << "the system's gst-launch-1.0 and python3 cannot load a sanitized plugin";
#endif
        LensbaySrcTest::SetUp();
    }
};

TEST_F(PipelineProgramTest, RecordsPngFramesWithGstLaunch) {
    if (std::string(GST_LAUNCH_PATH).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    const Outcome o = RunTool({GST_LAUNCH_PATH, "lensbaysrc", "num-buffers=2", "!", "videoconvert",
                               "!", "pngenc", "!", "multifilesink", "location=frame-%04d.png"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    std::string png;
    ASSERT_TRUE(test_support::ReadWholeFile(dir_.path() + "/frame-0001.png", &png));
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST_F(PipelineProgramTest, AnErrorEndsGstLaunchWithoutAHang) {
    if (std::string(GST_LAUNCH_PATH).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    registry_ = dir_.path() + "/none.reg";
    const Outcome o = RunTool({GST_LAUNCH_PATH, "lensbaysrc", "!", "fakesink"});
    EXPECT_FALSE(o.timed_out);
    EXPECT_NE(o.status, 0);
    EXPECT_THAT(o.out + o.err, HasSubstr("regsvr"));
}

// GStreamer's own tools: gst-inspect-1.0 shows the real ranges and the options' words, and
// gst-launch-1.0 ends a pipeline with a value outside a range with that one message.
TEST_F(PipelineProgramTest, GstToolsShowTheRangesAndOneMessageForABadValue) {
    std::string launch = GST_LAUNCH_PATH;
    if (launch.find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    const std::string inspect = launch.substr(0, launch.rfind('/') + 1) + "gst-inspect-1.0";
    Outcome o = RunTool({inspect, "lensbaysrc"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out,
                testing::ContainsRegex("h-start +:[^\n]*\n[^\n]*\n +Integer\\. Range: 0 - 15 "
                                       "Default: 0"));
    EXPECT_THAT(o.out, testing::ContainsRegex("exposure +:[^\n]*\n[^\n]*\n +Integer\\. Range: -1 - "
                                              "127 Default: -1"));
    EXPECT_THAT(o.out, HasSubstr("(0): 0.45"));
    EXPECT_THAT(o.out, HasSubstr("(1): outdoor"));

    o = RunTool({launch, "lensbaysrc", "h-start=4", "gain=9", "!", "fakesink"});
    EXPECT_NE(o.status, 0);
    const std::string all = o.out + o.err;
    EXPECT_THAT(all, HasSubstr("gain = 9 is outside 0..7"));
    EXPECT_EQ(all.find("ERROR: from element"), all.rfind("ERROR: from element")) << all;
    EXPECT_THAT(all, testing::Not(HasSubstr("failed to post a proper error message")));
    EXPECT_THAT(all, testing::Not(HasSubstr("WARNING")));
}

TEST_F(PipelineProgramTest, PythonExamplePullsFramesIntoNumpy) {
    const std::string python = SYSTEM_PYTHON_PATH;
    if (python.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "no python3";
    const Outcome probe = RunTool({python, "-c",
                                   "import gi, numpy; gi.require_version('Gst', '1.0'); "
                                   "gi.require_version('GstApp', '1.0'); "
                                   "from gi.repository import Gst, GstApp"});
    if (probe.status != 0) GTEST_SKIP() << "python3-gi or NumPy missing: " << probe.err;
    const Outcome o = RunTool({python, PYTHON_EXAMPLE});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("(288, 384) uint8"));
}

}  // namespace
