// Value puts and gets through IDispatch::Invoke on the simulated board, against the same port
// cycle called directly on the port service. Allocations per iteration are reported as a counter
// (they must stay at 0). Prints each Invoke case as a ratio to the direct cycle.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include "bench/support/ratio.h"
#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"
#include "platform/portio/portio.h"
#include "portctl/resource_ids.h"

// Counts every operator new of the process (counting_new.cpp).
long AllocationCount();

namespace {

constexpr DISPID kAddress = 1, kValue = 3;

// One control created through the library's class object, as a host creates it.
IDispatch* Control() {
    static IDispatch* control = [] {
        // LENSBAY_BENCH_PINBUS names another build's PINBUS.OCX (to compare two builds).
        const char* other = std::getenv("LENSBAY_BENCH_PINBUS");
        void* lib = dlopen(other && *other ? other : PINBUS_OCX_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::exit(1);
        }
        using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
        IClassFactory* factory = nullptr;
        IDispatch* d = nullptr;
        IPersistStreamInit* persist = nullptr;
        if (!get ||
            FAILED(get(CLSID_Pinbus, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
            FAILED(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d))) ||
            FAILED(d->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist))) ||
            FAILED(persist->InitNew())) {
            std::fprintf(stderr, "cannot create the control\n");
            std::exit(1);
        }
        persist->Release();
        factory->Release();
        return d;
    }();
    return control;
}

void ReportAllocations(benchmark::State& state, long before) {
    state.counters["allocs/iter"] =
        benchmark::Counter(double(AllocationCount() - before) / double(state.iterations()));
}

void BM_InvokeValuePut(benchmark::State& state) {
    IDispatch* d = Control();
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 0x5A;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    const long before = AllocationCount();
    for (auto _ : state) {
        HRESULT hr = d->Invoke(kValue, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                               nullptr);
        benchmark::DoNotOptimize(hr);
    }
    ReportAllocations(state, before);
}
BENCHMARK(BM_InvokeValuePut);

void BM_InvokeValueGet(benchmark::State& state) {
    IDispatch* d = Control();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    const long before = AllocationCount();
    for (auto _ : state) {
        HRESULT hr =
            d->Invoke(kValue, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(hr);
        benchmark::DoNotOptimize(result.lVal);
    }
    ReportAllocations(state, before);
}
BENCHMARK(BM_InvokeValueGet);

void BM_InvokeAddressGet(benchmark::State& state) {
    IDispatch* d = Control();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    for (auto _ : state) {
        HRESULT hr = d->Invoke(kAddress, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                               nullptr);
        benchmark::DoNotOptimize(hr);
        benchmark::DoNotOptimize(result.lVal);
    }
}
BENCHMARK(BM_InvokeAddressGet);

void BM_DirectOut8(benchmark::State& state) {
    Control();
    for (auto _ : state) portio::Out8(0x378, 0x5A);
}
BENCHMARK(BM_DirectOut8);

void BM_DirectIn8(benchmark::State& state) {
    Control();
    for (auto _ : state) benchmark::DoNotOptimize(portio::In8(0x378));
}
BENCHMARK(BM_DirectIn8);

}  // namespace

int main(int argc, char** argv) {
    // Only the simulated board, never this machine's ports, and no trace.
    setenv("PORTIO", "sim", 1);
    unsetenv("PORTIO_TRACE");
    return bench::MainWithRatios(
        argc, argv,
        {{"invoke_value_put/direct_out8", "BM_InvokeValuePut", "BM_DirectOut8", 2.0},
         // Invoke's fixed cost (the Address get's, about 3 ns) is more than a direct In8 (about
         // 2 ns): 2.5x is the goal a get meets (see the README's "The Value get goal").
         {"invoke_value_get/direct_in8", "BM_InvokeValueGet", "BM_DirectIn8", 2.5}});
}
