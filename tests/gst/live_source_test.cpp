// lensbaysrc as a live source while it plays: controls and windows changed then, written between
// two frames as Set Register writes them and renegotiated so that every buffer matches its caps;
// each buffer's time, duration, offset and frame meta; the element messages; the latency answer
// GStreamer's own gst-launch-1.0 is content with.
#include <gmock/gmock.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "gst/frame_source.h"
#include "gst/lensbay_frame_meta.h"
#include "platform/chip/sx540.h"
#include "tests/gst/pipeline_fixture.h"
#include "tests/support/process.h"

namespace {

using lensbay_gst_test::kBin;
using test_support::Outcome;
using test_support::RunProcess;
using testing::HasSubstr;

constexpr int kExctl = LENSBAY_EXCTL;
constexpr int kMctl = LENSBAY_MCTL;
constexpr int kHwctl = LENSBAY_HWCTL;

TEST(ChangesBetween, WritesOnlyTheRegistersOfTheControlsThatChangedEachWhole) {
    lensbay_gst::Window a;
    a.exposure = 40;
    a.h_start = 2;
    a.h_end = 9;
    a.options[1] = 0;  // mirror on
    lensbay_gst::Window b = a;
    EXPECT_TRUE(lensbay_gst::ChangesBetween(a, b).empty());

    b.exposure = -1;  // left as the chip holds it
    EXPECT_TRUE(lensbay_gst::ChangesBetween(a, b).empty());

    b.h_end = 12;      // HWCTL with both halves, VWCTL alone
    b.options[2] = 0;  // mode indoor: MCTL whole, as the window writes it
    const panel::ChipSettings changes = lensbay_gst::ChangesBetween(a, b);
    EXPECT_TRUE(changes.Touches(chip::Register::kHwctl));
    EXPECT_FALSE(changes.Touches(chip::Register::kVwctl));
    EXPECT_FALSE(changes.Touches(chip::Register::kExctl));
    EXPECT_EQ(changes.RegisterValue(chip::Register::kHwctl), 0x2C);
    EXPECT_EQ(changes.RegisterValue(chip::Register::kMctl), 0x60);  // mirror and indoor

    EXPECT_EQ(lensbay_gst::DividerInEffect(a, std::nullopt), 1);  // the chip's reset value
    EXPECT_EQ(lensbay_gst::DividerInEffect(a, 4), 5);             // FRCTL holds divider - 1
    a.divider = 3;
    EXPECT_EQ(lensbay_gst::DividerInEffect(a, 4), 3);  // the property first
}

// One buffer as the sink got it, with what its caps and meta say.
struct Frame {
    std::size_t size = 0;
    int width = 0, height = 0, fps_n = 0, fps_d = 0;
    GstClockTime pts = GST_CLOCK_TIME_NONE, duration = GST_CLOCK_TIME_NONE;
    guint64 offset = 0, offset_end = 0;
    bool has_meta = false;
    guint64 meta_frame = 0;
    int registers[LENSBAY_FRAME_META_REGISTERS] = {};
};

class LiveSourceTest : public lensbay_gst_test::LensbaySrcTest {
protected:
    // The sink keeps one buffer at most: the source is never more than two frames ahead of the
    // test, so a change made after a pull reaches the chip within the next frames.
    void BuildLive(const std::string& properties) {
        Build(properties);
        g_object_set(sink_, "max-buffers", 1u, "drop", FALSE, nullptr);
    }
    void Play() {
        ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    }
    Frame PullFrame() {
        Frame f;
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 30 * GST_SECOND);
        if (!sample) return f;
        const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        gst_structure_get_int(s, "width", &f.width);
        gst_structure_get_int(s, "height", &f.height);
        gst_structure_get_fraction(s, "framerate", &f.fps_n, &f.fps_d);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        f.size = gst_buffer_get_size(buffer);
        f.pts = GST_BUFFER_PTS(buffer);
        f.duration = GST_BUFFER_DURATION(buffer);
        f.offset = GST_BUFFER_OFFSET(buffer);
        f.offset_end = GST_BUFFER_OFFSET_END(buffer);
        // The meta goes with the buffer's copies (a tee, a queue that copies, a writable map).
        GstBuffer* copy = gst_buffer_copy(buffer);
        const LensbayFrameMeta* copied = lensbay_buffer_get_frame_meta(copy);
        if (const LensbayFrameMeta* meta = lensbay_buffer_get_frame_meta(buffer)) {
            EXPECT_TRUE(copied && copied->frame == meta->frame &&
                        copied->registers[LENSBAY_EXCTL] == meta->registers[LENSBAY_EXCTL]);
            f.has_meta = true;
            f.meta_frame = meta->frame;
            std::copy(std::begin(meta->registers), std::end(meta->registers), f.registers);
        }
        gst_buffer_unref(copy);
        gst_sample_unref(sample);
        return f;
    }
    // Waits for the end of the stream; the element messages posted until then, and the warnings.
    std::vector<GstStructure*> MessagesUntilEos(std::vector<std::string>* warnings = nullptr) {
        std::vector<GstStructure*> out;
        GstBus* bus = gst_element_get_bus(pipeline_);
        for (;;) {
            GstMessage* msg = gst_bus_timed_pop_filtered(
                bus, 30 * GST_SECOND,
                static_cast<GstMessageType>(GST_MESSAGE_ELEMENT | GST_MESSAGE_EOS |
                                            GST_MESSAGE_ERROR | GST_MESSAGE_WARNING));
            if (!msg) {
                ADD_FAILURE() << "no end of stream";
                break;
            }
            const GstMessageType type = GST_MESSAGE_TYPE(msg);
            if (type == GST_MESSAGE_ELEMENT && gst_message_has_name(msg, "lensbay-frame")) {
                out.push_back(gst_structure_copy(gst_message_get_structure(msg)));
            } else if (type == GST_MESSAGE_WARNING || type == GST_MESSAGE_ERROR) {
                GError* error = nullptr;
                if (type == GST_MESSAGE_WARNING) {
                    gst_message_parse_warning(msg, &error, nullptr);
                } else {
                    gst_message_parse_error(msg, &error, nullptr);
                }
                // Warnings are the caller's to check when it asks for them; errors never pass.
                if (type == GST_MESSAGE_ERROR || !warnings) {
                    ADD_FAILURE() << "message on the bus: " << error->message;
                } else {
                    warnings->push_back(error->message);
                }
                g_error_free(error);
                if (type == GST_MESSAGE_ERROR) {
                    gst_message_unref(msg);
                    break;
                }
            }
            const bool end = type == GST_MESSAGE_EOS;
            gst_message_unref(msg);
            if (end) break;
        }
        gst_object_unref(bus);
        return out;
    }
    std::vector<std::string> TraceLines() const {
        std::string trace;
        test_support::ReadWholeFile(dir_.path() + "/trace", &trace);
        std::vector<std::string> lines;
        std::istringstream in(trace);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The port cycles between one frame's closing 0x27 and the next one's set-up (0x27, 0x2f),
    // one string per gap (the trace before the first frame left out); checks that no other
    // control byte than a frame read's comes inside a frame.
    std::vector<std::string> BetweenFrames() const {
        const std::vector<std::string> lines = TraceLines();
        std::vector<std::string> gaps;
        bool in_frame = false, seen_frame = false;
        std::string gap;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& l = lines[i];
            const bool starts = l == "out8 0x037a 0x27" && i + 1 < lines.size() &&
                                lines[i + 1] == "out8 0x037a 0x2f";
            if (!in_frame && starts) {
                if (seen_frame) gaps.push_back(gap);
                gap.clear();
                in_frame = seen_frame = true;
                ++i;  // the 0x2f
                continue;
            }
            if (in_frame) {
                if (l == "out8 0x037a 0x27") {
                    in_frame = false;
                } else if (l.rfind("out8 0x037a ", 0) == 0) {
                    EXPECT_THAT(l, testing::AnyOf("out8 0x037a 0x2a", "out8 0x037a 0x2b"))
                        << "a control write inside a frame, trace line " << i + 1;
                }
                continue;
            }
            gap += l + "\n";
        }
        if (seen_frame && !gap.empty()) gaps.push_back(gap);
        return gaps;
    }
    // `lensbay set ARGS` on a board of its own: its Set Register, from its first opening write
    // to the control byte 0x22 (the port's set-up before it left out).
    std::string SetRegisterOf(const std::vector<std::string>& args) {
        std::vector<std::string> command = {kBin + "/lensbay", "set"};
        command.insert(command.end(), args.begin(), args.end());
        test_support::Command c(command, {{"OLE_REGISTRY", registry_},
                                          {"PORTIO", "sim"},
                                          {"PORTIO_TRACE", "-"},
                                          {"LENSBAY_SIM_STATE", dir_.path() + "/other-board"}});
        c.cwd = dir_.path();
        const Outcome o = RunProcess(c);
        EXPECT_EQ(o.status, 0) << o.err;
        std::string cycles;
        bool started = false;
        std::istringstream in(o.out);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("out8 ", 0) != 0 && line.rfind("in8 ", 0) != 0) continue;
            started = started || line == "out8 0x037a 0x08" || line == "out8 0x037a 0x00";
            if (started) cycles += line + "\n";
        }
        return cycles;
    }
};

// A control changed while playing reaches the chip between two frames, cycle for cycle as
// `lensbay set` writes it; the frames from then on, their messages and the board's record say so.
TEST_F(LiveSourceTest, AControlChangedWhilePlayingIsWrittenBetweenTwoFrames) {
    BuildLive("exposure=40 num-buffers=8");
    Play();
    std::vector<Frame> frames = {PullFrame()};
    g_object_set(src_, "exposure", 90, "mirror", 0, nullptr);
    int exposure = 0;
    g_object_get(src_, "exposure", &exposure, nullptr);
    EXPECT_EQ(exposure, 90);
    while (frames.size() < 8) frames.push_back(PullFrame());
    const std::vector<GstStructure*> messages = MessagesUntilEos();

    // One gap between frames holds the writes, as `lensbay set` makes them; the others none.
    const std::string expected = SetRegisterOf({"exposure=90", "mirror=on"});
    ASSERT_THAT(expected, HasSubstr("out8 0x0378 0x5a"));  // 90, its bits reversed
    const std::vector<std::string> gaps = BetweenFrames();
    ASSERT_EQ(gaps.size(), 7u);
    std::size_t first_new = 0;
    for (std::size_t g = 0; g < gaps.size(); ++g) {
        if (gaps[g].empty()) continue;
        EXPECT_EQ(first_new, 0u) << "a second gap with writes:\n" << gaps[g];
        EXPECT_EQ(gaps[g], expected);
        first_new = g + 1;
    }
    ASSERT_GT(first_new, 0u);
    ASSERT_LE(first_new, 3u);  // within two frames of the change

    // Every frame and its message carry the registers it was read with.
    ASSERT_EQ(messages.size(), frames.size());
    for (std::size_t n = 0; n < frames.size(); ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        const Frame& f = frames[n];
        ASSERT_TRUE(f.has_meta);
        EXPECT_EQ(f.meta_frame, n);
        EXPECT_EQ(f.offset, n);
        EXPECT_EQ(f.offset_end, n + 1);
        EXPECT_EQ(f.registers[kExctl], n < first_new ? 40 : 90);
        EXPECT_EQ(f.registers[kMctl], n < first_new ? -1 : 0x40);  // unknown until written
        EXPECT_EQ(f.registers[kHwctl], 0x00);      // the full frame, written at start
        EXPECT_EQ(f.registers[LENSBAY_GCTL], -1);  // never written
        guint64 number = 0;
        int exctl = 0, gctl = 0;
        EXPECT_TRUE(gst_structure_get_uint64(messages[n], "frame", &number));
        EXPECT_TRUE(gst_structure_get_int(messages[n], "EXCTL", &exctl));
        EXPECT_TRUE(gst_structure_get_int(messages[n], "GCTL", &gctl));
        EXPECT_EQ(number, n);
        EXPECT_EQ(exctl, f.registers[kExctl]);
        EXPECT_EQ(gctl, -1);
        gst_structure_free(messages[n]);
    }
    std::string record;
    ASSERT_TRUE(test_support::ReadWholeFile(
        std::string(std::getenv("LENSBAY_SIM_STATE")) + ".registers", &record));
    EXPECT_THAT(record, HasSubstr("register EXCTL 5a "));
    EXPECT_THAT(record, HasSubstr("register MCTL 40 "));
}

// A value the element cannot write while playing keeps the property's value, with one warning
// naming it, and no port cycle outside the frames.
TEST_F(LiveSourceTest, AControlThatCannotBeWrittenWhilePlayingKeepsItsValueWithOneWarning) {
    BuildLive("exposure=40 num-buffers=3");
    Play();
    PullFrame();
    g_object_set(src_, "exposure", 128, nullptr);
    int exposure = 0;
    g_object_get(src_, "exposure", &exposure, nullptr);
    EXPECT_EQ(exposure, 40);
    PullFrame();
    PullFrame();
    std::vector<std::string> warnings;
    for (GstStructure* s : MessagesUntilEos(&warnings)) gst_structure_free(s);
    EXPECT_THAT(warnings, testing::ElementsAre(
                              "exposure = 128 is outside 0..127 (-1 leaves the register as it "
                              "is); exposure keeps its value, 40"));
    for (const std::string& gap : BetweenFrames()) EXPECT_EQ(gap, "");
}

TEST_F(LiveSourceTest, WithSetRegistersFalseAControlChangedWhilePlayingIsRefused) {
    BuildLive("set-registers=false num-buffers=2");
    Play();
    PullFrame();
    g_object_set(src_, "gamma", 0, nullptr);
    PullFrame();
    std::vector<std::string> warnings;
    for (GstStructure* s : MessagesUntilEos(&warnings)) gst_structure_free(s);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_THAT(warnings[0], HasSubstr("gamma cannot be written while the element runs"));
    EXPECT_THAT(warnings[0], HasSubstr("gamma keeps its value, unset"));
}

// Window changes while playing: the chip's window is written between two frames and the caps
// renegotiated before the first frame of the new size, through a pool of the new size when
// downstream asks for one; a probe on the source's pad sees every buffer match its caps.
TEST_F(LiveSourceTest, AWindowChangedWhilePlayingRenegotiatesSoEveryBufferMatchesItsCaps) {
    BuildLive("h-start=4 h-end=8 v-start=4 v-end=8 num-buffers=7");
    GstPad* pad = gst_element_get_static_pad(src_, "src");
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> mismatches;
        int buffers = 0, pools = 0;
    } seen;
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad* p, GstPadProbeInfo* info, gpointer data) {
            auto* s = static_cast<Seen*>(data);
            GstCaps* caps = gst_pad_get_current_caps(p);
            int w = 0, h = 0;
            if (caps) {
                const GstStructure* st = gst_caps_get_structure(caps, 0);
                gst_structure_get_int(st, "width", &w);
                gst_structure_get_int(st, "height", &h);
                gst_caps_unref(caps);
            }
            const std::size_t want =
                ((static_cast<std::size_t>(w) + 3) & ~std::size_t{3}) * static_cast<std::size_t>(h);
            const std::size_t got = gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
            std::lock_guard lock(s->mutex);
            ++s->buffers;
            if (got != want || want == 0) {
                s->mismatches.push_back(std::to_string(got) + " bytes with caps " +
                                        std::to_string(w) + "x" + std::to_string(h));
            }
            return GST_PAD_PROBE_OK;
        },
        &seen, nullptr);
    // Downstream asks for a pool of its caps' size: the source's pool must follow the window.
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
            if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
            GstCaps* caps = nullptr;
            gst_query_parse_allocation(query, &caps, nullptr);
            int w = 0, h = 0;
            const GstStructure* st = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(st, "width", &w);
            gst_structure_get_int(st, "height", &h);
            GstBufferPool* pool = gst_buffer_pool_new();
            gst_query_add_allocation_pool(query, pool, static_cast<guint>(((w + 3) & ~3) * h), 2,
                                          0);
            gst_object_unref(pool);
            std::lock_guard lock(static_cast<Seen*>(data)->mutex);
            ++static_cast<Seen*>(data)->pools;
            return GST_PAD_PROBE_HANDLED;
        },
        &seen, nullptr);
    gst_object_unref(pad);
    Play();

    std::vector<Frame> frames = {PullFrame()};
    g_object_set(src_, "h-end", 12, nullptr);  // 96 to 192 columns
    while (frames.size() < 4 && frames.back().width != 192) frames.push_back(PullFrame());
    // Properties set in one call reach the chip together: no frame of half the change.
    g_object_set(src_, "v-start", 2, "h-start", 0, "h-end", 0, nullptr);
    while (frames.size() < 7) frames.push_back(PullFrame());
    for (GstStructure* s : MessagesUntilEos()) gst_structure_free(s);

    for (const Frame& f : frames) {
        EXPECT_EQ(f.size, static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height))
            << f.width << "x" << f.height;
        EXPECT_THAT(f.width, testing::AnyOf(96, 192, 384));
        EXPECT_EQ(f.height, f.width == 384 ? 108 : 72);
    }
    EXPECT_EQ(frames.front().width, 96);
    EXPECT_EQ(frames.back().width, 384);
    EXPECT_EQ(frames.back().height, 108);  // row blocks 2 to 8
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_EQ(seen.buffers, 7);
        EXPECT_THAT(seen.mismatches, testing::IsEmpty());
        EXPECT_GE(seen.pools, 3);  // at the start and at each new size
    }
    // HWCTL, then HWCTL and VWCTL, each between two frames; the frames read with them follow.
    int writes = 0;
    for (const std::string& gap : BetweenFrames()) {
        if (gap.empty()) continue;
        ++writes;
        EXPECT_THAT(gap, HasSubstr("out8 0x037a 0x22\n"));
    }
    EXPECT_EQ(writes, 2);
}

// A window downstream does not accept ends the stream with one error that says so before the
// chip is touched.
TEST_F(LiveSourceTest, AWindowDownstreamRefusesIsAnErrorAndLeavesTheChipAsItWas) {
    BuildLive("h-start=4 h-end=8 ! video/x-raw,width=96");
    Play();
    EXPECT_EQ(PullFrame().width, 96);
    g_object_set(src_, "h-end", 12, nullptr);
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* msg = nullptr;
    for (int pulled = 0; pulled < 4 && !msg; ++pulled) {
        PullFrame();
        msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    }
    if (!msg) msg = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    ASSERT_NE(msg, nullptr);
    GError* error = nullptr;
    gst_message_parse_error(msg, &error, nullptr);
    EXPECT_STREQ(error->message,
                 "frames of 192x288 at 50/1 frames a second are not accepted downstream; the "
                 "chip's registers were left as they were");
    g_error_free(error);
    gst_message_unref(msg);
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    for (const std::string& gap : BetweenFrames()) EXPECT_EQ(gap, "");
}

// Time, duration and rate from the divider in effect: the board's record's FRCTL when the
// property is not given, the property when it is, and a new divider while playing renegotiates
// the rate and asks the pipeline to recompute its latency.
TEST_F(LiveSourceTest, BuffersCarryTheFrameClockOfTheDividerInEffect) {
    {
        test_support::Command c({kBin + "/lensbay", "set", "divider=5"},
                                {{"OLE_REGISTRY", registry_},
                                 {"PORTIO", "sim"},
                                 {"LENSBAY_SIM_STATE", std::getenv("LENSBAY_SIM_STATE")}});
        c.cwd = dir_.path();
        const Outcome o = RunProcess(c);
        ASSERT_EQ(o.status, 0) << o.err;
    }
    BuildLive("num-buffers=6");
    GstBus* bus = gst_element_get_bus(pipeline_);
    Play();
    std::vector<Frame> frames = {PullFrame(), PullFrame()};
    g_object_set(src_, "divider", 2, nullptr);
    while (frames.size() < 6) frames.push_back(PullFrame());
    for (GstStructure* s : MessagesUntilEos()) gst_structure_free(s);

    EXPECT_EQ(frames[0].duration, 100 * GST_MSECOND);  // 50 / 5 frames a second
    EXPECT_EQ(gst_util_fraction_compare(frames[0].fps_n, frames[0].fps_d, 50, 5), 0);
    EXPECT_EQ(frames.back().duration, 40 * GST_MSECOND);
    EXPECT_EQ(gst_util_fraction_compare(frames.back().fps_n, frames.back().fps_d, 50, 2), 0);
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const Frame& f = frames[n];
        ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(f.pts)) << n;
        EXPECT_EQ(f.duration, gst_util_uint64_scale_int(GST_SECOND, f.fps_d, f.fps_n)) << n;
        if (n > 0) {
            EXPECT_GT(f.pts, frames[n - 1].pts) << n;
        }
    }
    gst_object_unref(bus);

    // The latency answer of a live source: one frame period at least.
    GstQuery* query = gst_query_new_latency();
    gboolean live = FALSE;
    GstClockTime min = 0, max = 0;
    ASSERT_TRUE(gst_element_query(src_, query));
    gst_query_parse_latency(query, &live, &min, &max);
    gst_query_unref(query);
    EXPECT_TRUE(live);
    EXPECT_EQ(min, 40 * GST_MSECOND);
    EXPECT_GE(max, min);
}

// GStreamer's own gst-launch-1.0 runs live pipelines to a clock without a warning (a wrong
// latency answer makes the sinks print "Pipeline construction is invalid, please add queues"),
// to fakesink and, on a display of Xvfb's, to a window. GST_REQUIRED=1 (CI) makes a missing tool
// a failure instead of a skip.
class GstLaunchTest : public lensbay_gst_test::LensbaySrcTest {
protected:
    static bool Required() {
        const char* required = std::getenv("GST_REQUIRED");
        return required && std::string(required) == "1";
    }
};

TEST_F(GstLaunchTest, LivePipelinesToAClockPrintNoWarning) {
#ifdef LENSBAY_SANITIZED
    GTEST_SKIP() << "the system's gst-launch-1.0 cannot load a sanitized plugin";
#endif
    const std::string launch = GST_LAUNCH_PATH;
    if (launch.find("NOTFOUND") != std::string::npos) {
        if (Required()) FAIL() << "gst-launch-1.0 is not installed (GST_REQUIRED=1)";
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    }
    std::vector<std::vector<std::string>> pipelines = {
        {launch, "lensbaysrc", "num-buffers=5", "!", "videoconvert", "!", "fakesink", "sync=true"},
        {launch, "lensbaysrc", "num-buffers=3", "divider=4", "!", "fakesink", "sync=true"},
    };
    const std::string xvfb_run = XVFB_RUN_PATH;
    if (xvfb_run.find("NOTFOUND") == std::string::npos) {
        pipelines.push_back({xvfb_run, "-a", launch, "lensbaysrc", "num-buffers=5", "!",
                             "videoconvert", "!", "ximagesink"});
    } else if (Required()) {
        ADD_FAILURE() << "xvfb-run is not installed (GST_REQUIRED=1)";
    }
    for (const auto& pipeline : pipelines) {
        const Outcome o = RunTool(pipeline);
        const std::string all = o.out + o.err;
        EXPECT_EQ(o.status, 0) << all;
        EXPECT_THAT(all, HasSubstr("Got EOS"));
        EXPECT_THAT(all, testing::Not(HasSubstr("WARNING"))) << all;
        EXPECT_THAT(all, testing::Not(HasSubstr("please add queues"))) << all;
    }
}

}  // namespace
