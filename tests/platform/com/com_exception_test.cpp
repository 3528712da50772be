// What an exception becomes at the COM boundary, with and without an Invoke's EXCEPINFO.
#include "platform/com/com_exception.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/utf.h"

namespace {

template <typename Throw>
HRESULT Plain(Throw&& raise) {
    try {
        raise();
    } catch (...) {
        return HresultFromCurrentException();
    }
    return S_OK;
}

template <typename Throw>
HRESULT InInvoke(Throw&& raise, EXCEPINFO* info) {
    try {
        raise();
    } catch (...) {
        return DispExceptionFromCurrentException(info);
    }
    return S_OK;
}

TEST(ComException, EachKindHasItsHresult) {
    EXPECT_EQ(Plain([] { throw ComException("no port", E_ACCESSDENIED); }), E_ACCESSDENIED);
    EXPECT_EQ(Plain([] { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(Plain([] { throw std::runtime_error("other"); }), E_UNEXPECTED);
    EXPECT_EQ(Plain([] { throw 42; }), E_UNEXPECTED);
}

TEST(ComException, InsideInvokeTheExcepinfoCarriesCodeAndDescription) {
    EXCEPINFO info;
    info.bstrSource = reinterpret_cast<BSTR>(1);  // overwritten, never freed
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(InInvoke([] { throw ComException("refused at 0x0278", E_FAIL); }, &info),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_FAIL);
    EXPECT_EQ(info.bstrSource, nullptr);
    ASSERT_NE(info.bstrDescription, nullptr);
    EXPECT_EQ(OleToUtf8(info.bstrDescription), "refused at 0x0278");
    SysFreeString(info.bstrDescription);
    EXPECT_EQ(TakeErrorInfoText(), "refused at 0x0278");  // for a host without an EXCEPINFO

    EXPECT_EQ(InInvoke([] { throw std::bad_alloc(); }, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_OUTOFMEMORY);
    EXPECT_EQ(info.bstrDescription, nullptr);
    EXPECT_EQ(InInvoke([] { throw ComException("x", E_FAIL); }, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorInfoText(), "x");
}

}  // namespace
