// Frames a second through the Python module's `for f in cam.frames(count=N)` against the C++
// frame loop it wraps (panel::Camera::ReadFrame into one buffer), both full frames from the
// simulated board through PINBUS.OCX, in one process: the interpreter is embedded here and imports
// the package from the build (build/python). The goal: the Python loop reads at least 0.95 of the
// C++ loop's frames a second, so its time for the same frames is at most 1/0.95 of the C++ time.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/board.h"
#include "bench/support/ratio.h"
#include "panel/camera.h"

namespace py = pybind11;

namespace {

constexpr int kFramesPerIteration = 8;

void BM_CppFrameLoop(benchmark::State& state) {
    base::Result<std::unique_ptr<panel::Camera>> camera =
        panel::Camera::Open(bench::BinDir() + "/PINBUS.OCX", "frames_bench", {});
    if (!camera) {
        state.SkipWithError(camera.message().c_str());
        return;
    }
    std::vector<std::uint8_t> rows;
    const panel::Camera::RowsFor into = [&rows](const panel::FrameGeometry& g) {
        rows.resize(static_cast<std::size_t>(g.FrameWidth) *
                    static_cast<std::size_t>(g.FrameHeight));
        return rows.data();
    };
    panel::SeriesFrame frame;
    panel::FrameGeometry g;
    // The first frame writes the window's registers: outside the timing, as in the Python case.
    if (base::Result<> first = (*camera)->ReadFrame(into, &frame, &g); !first) {
        state.SkipWithError(first.message().c_str());
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < kFramesPerIteration; ++i) {
            if (base::Result<> read = (*camera)->ReadFrame(into, &frame, &g); !read) {
                state.SkipWithError(read.message().c_str());
                return;
            }
            benchmark::DoNotOptimize(rows.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
}
BENCHMARK(BM_CppFrameLoop)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();

void BM_PythonFrames(benchmark::State& state) {
    try {
        py::dict scope;
        scope["lensbay"] = py::module_::import("lensbay");
        scope["n"] = kFramesPerIteration;
        py::exec("cam = lensbay.Camera()\ncam.capture_array()\n", scope);
        const py::object loop = py::reinterpret_steal<py::object>(Py_CompileString(
            "for f in cam.frames(count=n):\n    pass\n", "<bench>", Py_file_input));
        if (!loop) throw py::error_already_set();
        for (auto _ : state) {
            py::object done = py::reinterpret_steal<py::object>(
                PyEval_EvalCode(loop.ptr(), scope.ptr(), scope.ptr()));
            if (!done) throw py::error_already_set();
        }
        py::exec("cam.close()\n", scope);
    } catch (const py::error_already_set& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerIteration);
}
BENCHMARK(BM_PythonFrames)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly();

}  // namespace

int main(int argc, char** argv) {
    // A registry, a simulated board and port locks of this run's own.
    bench::WorkDir dir("lensbay-python-bench");
    std::string why;
    if (dir.path().empty() || !bench::RegisterPinbus(dir.path(), &why) ||
        ::setenv("LENSBAY_SIM_STATE", (dir.path() + "/sim-board").c_str(), 1) != 0 ||
        ::setenv("LENSBAY_LOCK_DIR", dir.path().c_str(), 1) != 0) {
        std::fprintf(stderr, "frames_bench: no board of its own: %s\n", why.c_str());
        return 1;
    }
    py::scoped_interpreter python;
    py::module_::import("sys").attr("path").attr("insert")(0, LENSBAY_PYTHON_BUILD_DIR);
    int status = 0;
    {
        // The port cycles release the GIL themselves; the cases run in this thread.
        status = bench::MainWithRatios(
            argc, argv,
            {{"python_frames/cpp_frame_loop (time for the same frames; frames a second: "
              "its inverse, goal >= 0.95)",
              "BM_PythonFrames", "BM_CppFrameLoop", 1.0 / 0.95}});
    }
    return status;
}
