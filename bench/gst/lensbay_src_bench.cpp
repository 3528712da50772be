// Full frames on the simulated board: the panel's Capture (the baseline, files included) and
// lensbaysrc ! fakesink in the same run, each per frame; the element's time is reported as a
// ratio to the baseline. Both create Pinbus from a class registry of their own.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "bench/support/board.h"
#include "panel/panel.h"
#include "panel/startup.h"

// After the platform headers: GLib defines TRUE and FALSE as macros only where none exist.
#include <gst/gst.h>

namespace {

using bench::NullUi;

double g_capture_seconds = 0;  // the baseline, per frame

// A temporary directory (the working directory while it lives) with PINBUS.OCX registered in a
// class registry of its own, and GStreamer set up with our plugin and fakesink only.
class Setting {
public:
    Setting() {
        if (dir_.path().empty()) {
            error = "no working directory";
            return;
        }
        ::unsetenv("PORTIO_TRACE");
        if (!bench::RegisterPinbus(dir_.path(), &error)) return;
        ::setenv("GST_PLUGIN_SYSTEM_PATH_1_0", dir_.path().c_str(), 1);
        ::setenv("GST_PLUGIN_PATH_1_0", dir_.path().c_str(), 1);
        ::setenv("GST_REGISTRY_1_0", (dir_.path() + "/gst.bin").c_str(), 1);
        ::setenv("GST_REGISTRY_FORK", "no", 1);
        gst_init(nullptr, nullptr);
        for (const std::string& file :
             {std::string(GST_PLUGIN_BUILD_DIR) + "/libgstlensbay.so",
              std::string(GST_SYSTEM_PLUGINS_DIR) + "/libgstcoreelements.so"}) {
            GstPlugin* plugin = gst_plugin_load_file(file.c_str(), nullptr);
            if (!plugin) {
                error = "cannot load " + file;
                return;
            }
            gst_object_unref(plugin);
        }
    }
    std::string error;

private:
    bench::WorkDir dir_;
};

Setting& TheSetting() {
    static Setting setting;
    return setting;
}

void BM_PanelCapture(benchmark::State& state) {
    std::string error = TheSetting().error;
    base::Result<panel::PortObjects> created =
        error.empty() ? panel::CreatePortObjects("")
                      : base::Result<panel::PortObjects>(base::Fail(error));
    if (!created) {
        state.SkipWithError(created.message().c_str());
        return;
    }
    const panel::PortObjects& objects = *created;
    NullUi ui;
    panel::Panel panel(objects.pinbus1.Get(), objects.pinbus2.Get(), ui);
    panel.FormLoad();
    const auto start = std::chrono::steady_clock::now();
    std::int64_t frames = 0;
    for (auto _ : state) {
        panel.CaptureClick();
        ++frames;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    g_capture_seconds = took.count() / static_cast<double>(frames);
    state.counters["fps"] = 1.0 / g_capture_seconds;
}
BENCHMARK(BM_PanelCapture)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// One run of `lensbaysrc num-buffers=N ! fakesink` per iteration, timed from PLAYING to EOS.
void BM_LensbaySrcToFakesink(benchmark::State& state) {
    if (!TheSetting().error.empty()) {
        state.SkipWithError(TheSetting().error.c_str());
        return;
    }
    constexpr int kFrames = 30;
    double seconds = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        GstElement* pipeline = gst_parse_launch(
            ("lensbaysrc num-buffers=" + std::to_string(kFrames) + " ! fakesink sync=false")
                .c_str(),
            nullptr);
        if (!pipeline) {
            state.SkipWithError("cannot build the pipeline");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, GST_CLOCK_TIME_NONE,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        const bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (msg) gst_message_unref(msg);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        if (!ok) {
            state.SkipWithError("the pipeline ended with an error");
            return;
        }
        frames += kFrames;
    }
    const double per_frame = seconds / static_cast<double>(frames);
    state.counters["fps"] = 1.0 / per_frame;
    if (g_capture_seconds > 0) state.counters["ratio_to_capture"] = per_frame / g_capture_seconds;
}
BENCHMARK(BM_LensbaySrcToFakesink)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
