// Full frames on the simulated board: the C++ frame loop (the element's frame source reading
// frame after frame over the camera link, no files, no GStreamer: the baseline) and
// lensbaysrc ! fakesink in the same run. Each iteration opens the board, reads kFrames frames and
// closes it again, on both sides; the element's time per frame is reported as a ratio to the
// loop's, on the process's CPU time (the element reads in GStreamer's streaming thread). Its goal:
// at least 0.95 of the loop's frames a second, a time ratio of 1/0.95 at most.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/board.h"
#include "bench/support/ratio.h"
#include "gst/frame_source.h"

// After the platform headers: GLib defines TRUE and FALSE as macros only where none exist.
#include <gst/gst.h>

namespace {

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

constexpr int kFrames = 200;

void BM_FrameLoop(benchmark::State& state) {
    if (!TheSetting().error.empty()) {
        state.SkipWithError(TheSetting().error.c_str());
        return;
    }
    const auto full = lensbay_gst::GeometryOf(lensbay_gst::Window{});
    const std::size_t stride = lensbay_gst::RowStride(*full);
    std::vector<std::uint8_t> frame(stride * static_cast<std::size_t>(full->FrameHeight));
    for (auto _ : state) {
        auto source = lensbay_gst::FrameSource::Open(bench::BinDir() + "/PINBUS.OCX");
        if (!source) {
            state.SkipWithError(source.message().c_str());
            return;
        }
        for (int n = 0; n < kFrames; ++n) {
            if (const base::Result<> read = (*source)->ReadFrame(*full, frame.data(), stride);
                !read) {
                state.SkipWithError(read.message().c_str());
                return;
            }
        }
        benchmark::DoNotOptimize(frame.data());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                               benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameLoop)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// One run of `lensbaysrc num-buffers=N ! fakesink` per iteration, timed from PLAYING to EOS.
void BM_LensbaySrcToFakesink(benchmark::State& state) {
    if (!TheSetting().error.empty()) {
        state.SkipWithError(TheSetting().error.c_str());
        return;
    }
    const std::string description =
        "lensbaysrc num-buffers=" + std::to_string(kFrames) + " ! fakesink sync=false";
    for (auto _ : state) {
        GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
        if (!pipeline) {
            state.SkipWithError("cannot build the pipeline");
            return;
        }
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, GST_CLOCK_TIME_NONE,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        const bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
        if (msg) gst_message_unref(msg);
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        if (!ok) {
            state.SkipWithError("the pipeline ended with an error");
            return;
        }
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                               benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LensbaySrcToFakesink)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::MainWithRatios(
        argc, argv,
        {{"lensbaysrc_to_frame_loop", "BM_LensbaySrcToFakesink", "BM_FrameLoop", 1.0 / 0.95}});
}
