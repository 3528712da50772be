// The per-thread error object: what is set is taken once, by its own thread only.
#include <gtest/gtest.h>

#include <thread>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/utf.h"

namespace {

std::string Text(BSTR text) {
    std::string utf8 = text ? OleToUtf8(std::u16string(text, SysStringLen(text))) : "(null)";
    SysFreeString(text);
    return utf8;
}

ComPtr<IErrorInfo> Make(const char16_t* description, const char16_t* source) {
    ComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
    EXPECT_EQ(create->SetSource(const_cast<LPOLESTR>(source)), S_OK);
    EXPECT_EQ(create->SetHelpContext(42), S_OK);
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(create.As(IID_IErrorInfo, std::addressof(info)), S_OK);
    return info;
}

TEST(ErrorInfo, GetTakesWhatWasSetAndLeavesNone) {
    SetErrorInfo(0, nullptr);
    ComPtr<IErrorInfo> info = Make(u"no such port", u"Pinbus.Pinbus.1");
    ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
    info.Reset();  // the thread holds its own reference

    ComPtr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(got->GetDescription(&text), S_OK);
    EXPECT_EQ(Text(text), "no such port");
    ASSERT_EQ(got->GetSource(&text), S_OK);
    EXPECT_EQ(Text(text), "Pinbus.Pinbus.1");
    ASSERT_EQ(got->GetHelpFile(&text), S_OK);
    EXPECT_EQ(text, nullptr);
    DWORD context = 0;
    EXPECT_EQ(got->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 42u);
    GUID guid{1, 2, 3, {}};
    EXPECT_EQ(got->GetGUID(&guid), S_OK);
    EXPECT_EQ(guid, GUID_NULL);

    ComPtr<IErrorInfo> again;
    EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
    EXPECT_FALSE(again);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
    SetErrorInfoText("main thread's");
    std::string seen = "unset";
    std::thread other([&seen] {
        seen = TakeErrorInfoText();          // none here
        SetErrorInfoText("other thread's");  // released when the thread ends
    });
    other.join();
    EXPECT_EQ(seen, "");
    EXPECT_EQ(TakeErrorInfoText(), "main thread's");
    EXPECT_EQ(TakeErrorInfoText(), "");
}

TEST(ErrorInfo, ReplacingOrClearingReleasesTheOldObject) {
    ComPtr<IErrorInfo> first = Make(u"first", u"");
    ASSERT_EQ(SetErrorInfo(0, first.Get()), S_OK);
    EXPECT_EQ(first->AddRef(), 3u);  // ours, the thread's and this one
    first->Release();
    SetErrorInfoText("second");
    EXPECT_EQ(first->AddRef(), 2u);
    first->Release();
    EXPECT_EQ(TakeErrorInfoText(), "second");

    ASSERT_EQ(SetErrorInfo(0, first.Get()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(first->AddRef(), 2u);
    first->Release();
    EXPECT_EQ(TakeErrorInfoText(), "");
}

TEST(ErrorInfo, RefusedArguments) {
    EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(GetErrorInfo(1, &info), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    ComPtr<ISupportErrorInfo> support;
    EXPECT_EQ(create.As(IID_ISupportErrorInfo, std::addressof(support)), E_NOINTERFACE);
    ComPtr<IErrorInfo> asInfo;
    ASSERT_EQ(create.As(IID_IErrorInfo, std::addressof(asInfo)), S_OK);
    EXPECT_EQ(asInfo->GetDescription(nullptr), E_INVALIDARG);
    // An error object whose description is empty text, not none.
    SetErrorInfoText("");
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(info->GetDescription(&text), S_OK);
    EXPECT_NE(text, nullptr);
    EXPECT_EQ(Text(text), "");
}

}  // namespace
