// Full frames on the simulated board: the panel's Capture (the baseline, files included) and
// lensbaysrc ! fakesink in the same run, each per frame; the element's time is reported as a
// ratio to the baseline. Both create Pinbus from a class registry of their own.
#include <benchmark/benchmark.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "panel/panel.h"
#include "panel/startup.h"
#include "platform/portio/portio.h"

// After the platform headers: GLib defines TRUE and FALSE as macros only where none exist.
#include <gst/gst.h>

namespace {

double g_capture_seconds = 0;  // the baseline, per frame

std::string BinDir() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/'));
}

class NullMonitor : public panel::MonitorWindow {
public:
    void Close() override {}
    void SetHeightTwips(int) override {}
    void SetWidthTwips(int) override {}
    bool LoadPicture(const std::string&) override { return true; }
    void Show() override {}
};
class NullUi : public panel::UserInterface {
public:
    void MessageBox(const std::string&, const std::string&) override {}
    void SetWaitCursor(bool) override {}
    panel::MonitorWindow& Monitor() override { return monitor_; }

private:
    NullMonitor monitor_;
};

// A temporary directory (the working directory while it lives) with PINBUS.OCX registered in a
// class registry of its own, and GStreamer set up with our plugin and fakesink only.
class Setting {
public:
    Setting() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lensbay-bench-XXXXXX";
        if (!::mkdtemp(pattern.data()) || !::getcwd(previous_, sizeof previous_) ||
            ::chdir(pattern.c_str()) != 0) {
            error = "no working directory";
            return;
        }
        path_ = pattern;
        const std::string bin = BinDir();
        ::setenv("OLE_REGISTRY", (path_ + "/registry.reg").c_str(), 1);
        ::setenv("PORTIO", "sim", 1);
        ::unsetenv("PORTIO_TRACE");
        const std::string regsvr = "'" + bin + "/regsvr' '" + bin + "/PINBUS.OCX' >/dev/null";
        if (std::system(regsvr.c_str()) != 0) {
            error = "cannot register PINBUS.OCX (is everything built?)";
            return;
        }
        ::setenv("GST_PLUGIN_SYSTEM_PATH_1_0", path_.c_str(), 1);
        ::setenv("GST_PLUGIN_PATH_1_0", path_.c_str(), 1);
        ::setenv("GST_REGISTRY_1_0", (path_ + "/gst.bin").c_str(), 1);
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
    ~Setting() {
        if (path_.empty()) return;
        if (::chdir(previous_) != 0) std::perror("chdir");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string error;

private:
    char previous_[PATH_MAX] = {};
    std::string path_;
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
