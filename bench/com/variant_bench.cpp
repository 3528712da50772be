// Cost of the conversions a property put makes, and proof that numeric ones never allocate.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/com/oleauto.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// Counts every C++ allocation in the process, the com library's included.
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

void Convert(benchmark::State& state, const VARIANT& src, VARTYPE vt, bool mustNotAllocate) {
    VARIANT dest;
    VariantInit(&dest);
    const long before = g_allocations.load();
    for (auto _ : state) {
        const HRESULT hr = VariantChangeType(&dest, &src, 0, vt);
        benchmark::DoNotOptimize(hr);
        benchmark::DoNotOptimize(dest);
    }
    const long allocations = g_allocations.load() - before;
    state.counters["allocs/iter"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    if (mustNotAllocate && allocations != 0) state.SkipWithError("the conversion allocated");
    VariantClear(&dest);
}

void BM_I4ToI4(benchmark::State& state) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_I4;
    src.lVal = 888;
    Convert(state, src, VT_I4, true);
}
BENCHMARK(BM_I4ToI4);

void BM_R8ToI2(benchmark::State& state) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_R8;
    src.dblVal = 2.5;
    Convert(state, src, VT_I2, true);
}
BENCHMARK(BM_R8ToI2);

void BM_I2ToI4(benchmark::State& state) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_I2;
    src.iVal = 8;
    Convert(state, src, VT_I4, true);
}
BENCHMARK(BM_I2ToI4);

void BM_BstrToI4(benchmark::State& state) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocString(u"888");
    Convert(state, src, VT_I4, false);
    VariantClear(&src);
}
BENCHMARK(BM_BstrToI4);

void BM_BstrToR8(benchmark::State& state) {
    VARIANT src;
    VariantInit(&src);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocString(u"3.5");
    Convert(state, src, VT_R8, false);
    VariantClear(&src);
}
BENCHMARK(BM_BstrToR8);

}  // namespace

BENCHMARK_MAIN();
