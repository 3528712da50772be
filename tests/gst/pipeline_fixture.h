// What the tests of lensbaysrc share: GStreamer with our plugin and the two system plugins the
// tests use, PINBUS.OCX registered in a class registry of the test's own, a fresh simulated board
// with a port trace, and a pipeline "lensbaysrc ... ! appsink" with helpers to run it.
#pragma once

#include <gmock/gmock.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/chip/sx540.h"
#include "platform/portio/portio.h"
#include "tests/support/process.h"

namespace lensbay_gst_test {

using test_support::Outcome;
using test_support::RunProcess;

inline const std::string kBin = LENSBAY_BIN_DIR;

// GStreamer sees only our plugin and the two system plugins the tests use, loaded by hand: no
// registry scan (which would load the plugin into a helper process), no shared registry cache.
// Registered once, by lensbay_src_test.cpp.
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
        EXPECT_GT(num, 0);  // the chip's rate at the divider in effect
        EXPECT_GT(den, 0);
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

    // Runs one of GStreamer's own tools (or a Python program) in the test's folder, with the
    // test's class registry, the simulated board and only our plugin.
    Outcome RunTool(std::vector<std::string> args) {
        test_support::Command c(std::move(args),
                                {{"OLE_REGISTRY", registry_},
                                 {"PORTIO", "sim"},
                                 {"GST_PLUGIN_PATH_1_0", GST_PLUGIN_BUILD_DIR},
                                 {"GST_PLUGIN_SYSTEM_PATH_1_0", ""},
                                 {"GST_REGISTRY_1_0", dir_.path() + "/gst-registry.bin"}});
        c.cwd = dir_.path();
        return RunProcess(c);
    }

    test_support::TempDir dir_;
    std::string registry_;
    GstElement* pipeline_ = nullptr;
    GstElement* src_ = nullptr;
    GstElement* sink_ = nullptr;
};

}  // namespace lensbay_gst_test
