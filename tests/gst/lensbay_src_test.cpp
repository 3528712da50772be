// lensbaysrc in a pipeline with appsink: the window properties under the panel's rules, the caps,
// the first frame against the panel's own capture of the same window, the errors a user meets,
// and the port as Capture leaves it after any number of state changes.
#include <gmock/gmock.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/portio/portio.h"
#include "platform/portio/sim/board_state_file.h"
#include "tests/support/process.h"

namespace {

using test_support::Outcome;
using test_support::RunProcess;
using testing::HasSubstr;

const std::string kBin = LENSBAY_BIN_DIR;

// GStreamer sees only our plugin and the two system plugins the tests use, loaded by hand: no
// registry scan (which would load the plugin into a helper process), no shared registry cache.
class GstEnvironment : public testing::Environment {
public:
    void SetUp() override {
        ::setenv("GST_PLUGIN_SYSTEM_PATH_1_0", dir_.path().c_str(), 1);
        ::setenv("GST_PLUGIN_PATH_1_0", dir_.path().c_str(), 1);
        ::setenv("GST_REGISTRY_1_0", (dir_.path() + "/registry.bin").c_str(), 1);
        ::setenv("GST_REGISTRY_FORK", "no", 1);
        gst_init(nullptr, nullptr);
        for (const std::string& file :
             {std::string(GST_PLUGIN_BUILD_DIR) + "/libgstlensbay.so",
              std::string(GST_SYSTEM_PLUGINS_DIR) + "/libgstapp.so",
              std::string(GST_SYSTEM_PLUGINS_DIR) + "/libgstcoreelements.so"}) {
            GError* error = nullptr;
            GstPlugin* plugin = gst_plugin_load_file(file.c_str(), &error);
            ASSERT_NE(plugin, nullptr) << file << ": " << (error ? error->message : "");
            gst_object_unref(plugin);
        }
    }

private:
    test_support::TempDir dir_;
};
const auto* const kGst = testing::AddGlobalTestEnvironment(new GstEnvironment);

class LensbaySrcTest : public testing::Test {
protected:
    void SetUp() override {
        registry_ = dir_.path() + "/registry.reg";
        const Outcome o = RunProcess(test_support::Command({kBin + "/regsvr", kBin + "/PINBUS.OCX"},
                                                           {{"OLE_REGISTRY", registry_}}));
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        ::setenv("OLE_REGISTRY", registry_.c_str(), 1);
        ::setenv("PORTIO", "sim", 1);
        ::setenv("PORTIO_TRACE", (dir_.path() + "/trace").c_str(), 1);
        // A fresh board, as in a fresh process.
        portio::ResetForTesting();
    }
    // From the port trace: the last control byte written, and how many frames were started.
    std::string LastControl() const {
        std::string trace, last = "none";
        test_support::ReadWholeFile(dir_.path() + "/trace", &trace);
        for (std::size_t at = trace.find("out8 0x037a "); at != std::string::npos;
             at = trace.find("out8 0x037a ", at + 1)) {
            last = trace.substr(at + 12, 4);
        }
        return last;
    }
    int FramesStarted() const {
        std::string trace;
        test_support::ReadWholeFile(dir_.path() + "/trace", &trace);
        int n = 0;
        for (std::size_t at = trace.find("out8 0x037a 0x2f"); at != std::string::npos;
             at = trace.find("out8 0x037a 0x2f", at + 1)) {
            ++n;
        }
        return n;
    }
    void TearDown() override {
        if (pipeline_) {
            gst_element_set_state(pipeline_, GST_STATE_NULL);
            gst_object_unref(pipeline_);
        }
        portio::ResetForTesting();
    }

    // "lensbaysrc PROPS ! appsink name=sink"; the source and the sink are kept.
    void Build(const std::string& properties) {
        GError* error = nullptr;
        const std::string description =
            "lensbaysrc name=src " + properties + " ! appsink name=sink sync=false";
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        ASSERT_NE(pipeline_, nullptr) << (error ? error->message : "");
        ASSERT_EQ(error, nullptr) << error->message;
        src_ = gst_bin_get_by_name(GST_BIN(pipeline_), "src");
        sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
        gst_object_unref(src_);  // the pipeline holds them
        gst_object_unref(sink_);
    }
    // The first error message on the bus after a state change to PLAYING ("" when none).
    std::string PlayAndError() {
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline_);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, 30 * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE));
        gst_object_unref(bus);
        std::string text;
        if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(msg, &error, nullptr);
            text = error->message;
            g_error_free(error);
        }
        if (msg) gst_message_unref(msg);
        return text;
    }
    // The next frame's pixels, rows of `stride` bytes; caps out.
    std::vector<std::uint8_t> Pull(int* width, int* height, GstClockTime* pts = nullptr) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 30 * GST_SECOND);
        if (!sample) return {};
        GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        EXPECT_STREQ(gst_structure_get_string(s, "format"), "GRAY8");
        gint num = -1, den = -1;
        EXPECT_TRUE(gst_structure_get_fraction(s, "framerate", &num, &den));
        EXPECT_EQ(num, 0);
        gst_structure_get_int(s, "width", width);
        gst_structure_get_int(s, "height", height);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (pts) *pts = GST_BUFFER_PTS(buffer);
        GstMapInfo map;
        std::vector<std::uint8_t> bytes;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            bytes.assign(map.data, map.data + map.size);
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return bytes;
    }

    test_support::TempDir dir_;
    std::string registry_;
    GstElement* pipeline_ = nullptr;
    GstElement* src_ = nullptr;
    GstElement* sink_ = nullptr;
};

TEST(LensbayPlugin, CarriesTheProjectsLicenceAsGStreamerNamesIt) {
    GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), "lensbay");
    ASSERT_NE(plugin, nullptr);
    EXPECT_STREQ(gst_plugin_get_license(plugin), "MIT/X11");
    gst_object_unref(plugin);
}

TEST_F(LensbaySrcTest, WindowPropertiesFollowThePanelsRulesAndRefuseBadValues) {
    GstElement* src = gst_element_factory_make("lensbaysrc", nullptr);
    ASSERT_NE(src, nullptr);
    double v = -1;
    g_object_get(src, "h-start", &v, nullptr);
    EXPECT_EQ(v, 0.0);
    // The end block not after the start block: the window runs to the edge (valid up to 15.x).
    g_object_set(src, "h-start", 15.5, nullptr);
    g_object_get(src, "h-start", &v, nullptr);
    EXPECT_EQ(v, 15.5);
    // 16 leaves no column; NaN is no number; a huge span exceeds the size limit: all refused,
    // the last valid value stays.
    g_object_set(src, "h-start", 16.0, nullptr);
    g_object_set(src, "h-start", std::nan(""), nullptr);
    g_object_get(src, "h-start", &v, nullptr);
    EXPECT_EQ(v, 15.5);
    g_object_set(src, "v-end", 1e9, nullptr);
    g_object_get(src, "v-end", &v, nullptr);
    EXPECT_EQ(v, 0.0);
    gst_object_unref(src);
}

TEST_F(LensbaySrcTest, FirstFrameEqualsThePanelsCaptureOfTheSameWindow) {
    // A window with the row skip (h-end not after h-start) and a width that is no multiple of 4;
    // the element sets the chip's window first, as Set Register does.
    const Outcome o = RunProcess([&] {
        test_support::Command c(
            {kBin + "/lensbay", "--console"},
            {{"OLE_REGISTRY", registry_}, {"PORTIO", "sim"}, {"PORTIO_TRACE", ""}},
            "enter Text4 0.1\nenter Text5 0\nenter Text6 2\nenter Text7 5\npress Command1\n"
            "press Capture\n");
        c.cwd = dir_.path();
        return c;
    }());
    ASSERT_EQ(o.status, 0) << o.err;
    std::string bmp;
    ASSERT_TRUE(test_support::ReadWholeFile(dir_.path() + "/image.bmp", &bmp));

    Build("h-start=0.1 h-end=0 v-start=2 v-end=5");
    ASSERT_EQ(PlayAndError(), "");
    int width = 0, height = 0;
    const std::vector<std::uint8_t> frame = Pull(&width, &height);
    ASSERT_EQ(width, 382);  // (16 - 0.1) * 24, rounded
    ASSERT_EQ(height, 54);
    const std::size_t stride = 384;
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
    g_object_set(src_, "h-end", 6.0, nullptr);
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
    Outcome Run(std::vector<std::string> args) {
        test_support::Command c(std::move(args),
                                {{"OLE_REGISTRY", registry_},
                                 {"PORTIO", "sim"},
                                 {"GST_PLUGIN_PATH_1_0", GST_PLUGIN_BUILD_DIR},
                                 {"GST_PLUGIN_SYSTEM_PATH_1_0", ""},
                                 {"GST_REGISTRY_1_0", dir_.path() + "/gst-registry.bin"}});
        c.cwd = dir_.path();
        return RunProcess(c);
    }
};

TEST_F(PipelineProgramTest, RecordsPngFramesWithGstLaunch) {
    if (std::string(GST_LAUNCH_PATH).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    const Outcome o = Run({GST_LAUNCH_PATH, "lensbaysrc", "num-buffers=2", "!", "videoconvert", "!",
                           "pngenc", "!", "multifilesink", "location=frame-%04d.png"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    std::string png;
    ASSERT_TRUE(test_support::ReadWholeFile(dir_.path() + "/frame-0001.png", &png));
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST_F(PipelineProgramTest, AnErrorEndsGstLaunchWithoutAHang) {
    if (std::string(GST_LAUNCH_PATH).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    registry_ = dir_.path() + "/none.reg";
    const Outcome o = Run({GST_LAUNCH_PATH, "lensbaysrc", "!", "fakesink"});
    EXPECT_FALSE(o.timed_out);
    EXPECT_NE(o.status, 0);
    EXPECT_THAT(o.out + o.err, HasSubstr("regsvr"));
}

TEST_F(PipelineProgramTest, PythonExamplePullsFramesIntoNumpy) {
    const std::string python = SYSTEM_PYTHON_PATH;
    if (python.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "no python3";
    const Outcome probe = Run({python, "-c",
                               "import gi, numpy; gi.require_version('Gst', '1.0'); "
                               "gi.require_version('GstApp', '1.0'); "
                               "from gi.repository import Gst, GstApp"});
    if (probe.status != 0) GTEST_SKIP() << "python3-gi or NumPy missing: " << probe.err;
    const Outcome o = Run({python, PYTHON_EXAMPLE});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("(288, 384) uint8"));
}

}  // namespace
