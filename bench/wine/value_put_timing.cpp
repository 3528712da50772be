// Value puts through IDispatch::Invoke, timed by the program itself. One source built twice:
// natively (our COM stand-in, the control registered in OLE_REGISTRY) and as a Winelib program
// (Wine's COM, the control registered in WINEPREFIX), so that run_wine_ratio.sh compares the two
// builds of PINBUS.OCX on the same machine in the same run.
//
//   value_put_timing [PUTS [REPETITIONS]]
//
// Prints "put_ns cpu=C real=R": of the repetitions (PUTS puts each, 200000 by default, 7
// repetitions), the median time of one put, in the thread's CPU time and in wall time.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"
#include "portctl/pinbus_identity.h"

namespace {

double Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

HRESULT Put(IDispatch* control, DISPID id, LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&v, &named, 1, 1};
    return control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                           nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    const long puts = argc > 1 ? std::atol(argv[1]) : 200000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;
    if (puts <= 0 || repetitions <= 0 || FAILED(CoInitialize(nullptr))) return 2;
    IDispatch* control = nullptr;
    IPersistStreamInit* persist = nullptr;
    if (FAILED(CoCreateInstance(CLSID_Pinbus, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&control))) ||
        FAILED(
            control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist))) ||
        FAILED(persist->InitNew()) || FAILED(Put(control, DISPID_DPinbus_Address, 0x378))) {
        std::fprintf(stderr, "value_put_timing: cannot create and set up Pinbus\n");
        return 1;
    }
    persist->Release();
    // The same byte to the data register each time: one 8-bit port cycle per put.
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 0x5A;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    std::vector<double> cpu, real;
    for (int r = 0; r <= repetitions; ++r) {  // the first round warms up
        const double cpu0 = Now(CLOCK_THREAD_CPUTIME_ID), real0 = Now(CLOCK_MONOTONIC);
        for (long i = 0; i < puts; ++i) {
            if (FAILED(control->Invoke(DISPID_DPinbus_Value, IID_NULL, 0, DISPATCH_PROPERTYPUT,
                                       &params, nullptr, nullptr, nullptr))) {
                std::fprintf(stderr, "value_put_timing: a put failed\n");
                return 1;
            }
        }
        if (r == 0) continue;
        cpu.push_back((Now(CLOCK_THREAD_CPUTIME_ID) - cpu0) / double(puts));
        real.push_back((Now(CLOCK_MONOTONIC) - real0) / double(puts));
    }
    control->Release();
    CoUninitialize();
    std::printf("put_ns cpu=%.2f real=%.2f\n", Median(cpu), Median(real));
    return 0;
}
