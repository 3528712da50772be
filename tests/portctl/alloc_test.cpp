// The Value path allocates nothing: each access is the port cycle and nothing more.
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/portctl/pinbus_fixture.h"

// Under AddressSanitizer the sanitizer owns operator new; the count is not taken there.
#if defined(__SANITIZE_ADDRESS__)
#define PINBUS_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PINBUS_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef PINBUS_COUNT_ALLOCATIONS
#define PINBUS_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<long> g_allocations{0};
}

#if PINBUS_COUNT_ALLOCATIONS
void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

using AllocationTest = PinbusTest;

TEST_F(AllocationTest, ValuePutsAndGetsAllocateNothing) {
    if (!PINBUS_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted in this build";
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(8)), S_OK);
    // A backend of our own that records nothing, so that only the control's path is measured.
    portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(nullptr, nullptr));
    VARIANT value = VarI4(0x5A);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    const long before = g_allocations;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(
            c->Invoke(kValue, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
            S_OK);
        ASSERT_EQ(
            c->Invoke(kValue, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            S_OK);
    }
    EXPECT_EQ(g_allocations - before, 0);
    // The counter does see what the library allocates elsewhere (a save builds its bytes).
    Save(c);
    EXPECT_GT(g_allocations - before, 0);
}

}  // namespace
