// SingleUnknown: the identity rules of QueryInterface, and the two lifetimes (a counted object goes
// at its last Release, an owned one never through Release).
#include "platform/com/single_unknown.h"

#include <gtest/gtest.h>

#include "platform/com/oaidl.h"
#include "platform/com/ocidl.h"

namespace {

class Log final : public com::SingleUnknown<IErrorLog, IID_IErrorLog> {
public:
    explicit Log(bool* gone) : gone_(gone) {}
    HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR, EXCEPINFO*) override { return S_OK; }

private:
    ~Log() override { *gone_ = true; }
    bool* gone_;
};

class OwnedLog final : public com::SingleUnknown<IErrorLog, IID_IErrorLog, com::Lifetime::kOwned> {
public:
    HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR, EXCEPINFO*) override { return S_OK; }
};

TEST(SingleUnknown, AnswersItsInterfaceAndIUnknownWithOnePointerAndRefusesTheRest) {
    bool gone = false;
    Log* log = new Log(&gone);
    EXPECT_EQ(log->QueryInterface(IID_IErrorLog, nullptr), E_POINTER);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(log->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    void* unknown = nullptr;
    void* as_log = nullptr;
    ASSERT_EQ(log->QueryInterface(IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(log->QueryInterface(IID_IErrorLog, &as_log), S_OK);
    EXPECT_EQ(unknown, as_log);
    EXPECT_EQ(unknown, static_cast<IErrorLog*>(log));
    // The maker's reference and the two handed out.
    EXPECT_EQ(log->Release(), 2u);
    EXPECT_EQ(log->Release(), 1u);
    EXPECT_FALSE(gone);
    EXPECT_EQ(log->Release(), 0u);
    EXPECT_TRUE(gone);

    OwnedLog owned;
    ASSERT_EQ(owned.QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, static_cast<IErrorLog*>(&owned));
    EXPECT_EQ(owned.AddRef(), 1u);
    EXPECT_EQ(owned.Release(), 1u);
    EXPECT_EQ(owned.Release(), 1u);  // never deleted through Release: it lives on the stack here
}

}  // namespace
