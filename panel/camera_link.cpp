#include "panel/camera_link.h"

#include <cstdio>

#include "platform/com/guid_text.h"
#include "platform/com/utf.h"

namespace panel {

CameraLink::CameraLink(IDispatch* pinbus1, IDispatch* pinbus2, UserInterface& ui)
    : pinbus1_(pinbus1), pinbus2_(pinbus2), ui_(ui) {
    put_params_ = DISPPARAMS{&arg_, &named_put_, 1, 1};
    get_params_ = DISPPARAMS{nullptr, nullptr, 0, 0};
}

HRESULT CameraLink::PutFailed(HRESULT hr, IDispatch* object, DISPID dispid, LONG value) {
    std::string reason = TakeExceptionText(hr);
    Failed(hr, object, dispid, true, value);
    failure_reason_ = std::move(reason);
    return hr;
}

HRESULT CameraLink::Write(std::uint16_t port, std::uint8_t v) {
    HRESULT hr = Put(pinbus1_, kDispidAddress, port);
    if (SUCCEEDED(hr)) hr = Put(pinbus1_, kDispidBits, 8);
    if (SUCCEEDED(hr)) hr = Put(pinbus1_, kDispidValue, v);
    return hr;
}

HRESULT CameraLink::ReadDataOther(HRESULT hr, std::uint8_t* v) {
    if (FAILED(hr)) {
        std::string reason = TakeExceptionText(hr);
        Failed(hr, pinbus2_, kDispidValue, false, 0);
        failure_reason_ = std::move(reason);
        return hr;
    }
    // Pinbus answers VT_I4; anything else is brought to it the way automation would.
    hr = VariantChangeType(&result_, &result_, 0, VT_I4);
    if (FAILED(hr)) {
        result_.Clear();
        return Failed(hr, pinbus2_, kDispidValue, false, 0);
    }
    *v = static_cast<std::uint8_t>(result_.lVal & 0xFF);
    result_.vt = VT_EMPTY;
    return S_OK;
}

void CameraLink::PromptSelect(const std::string& text, const std::string& title) {
    ui_.MessageBox(title, text);
}

HRESULT CameraLink::SetupPortMode() {
    HRESULT hr = WriteEcr(chip::kEcrByteMode);
    if (SUCCEEDED(hr)) hr = WriteControl(chip::kControlInput);
    if (SUCCEEDED(hr)) hr = WriteControl(chip::kControlIdle);
    if (FAILED(hr)) return hr;
    PromptSelect(chip::SelectPrompt(chip::kVideoPortName, chip::kVideoPortAddress), kNoticeTitle);
    return S_OK;
}

HRESULT CameraLink::WriteRegister(const std::string& prompt, std::uint8_t byte) {
    HRESULT hr = WriteControl(chip::kControlWrite);
    if (FAILED(hr)) return hr;
    PromptSelect(prompt, kPanelTitle);
    hr = WriteData(ReverseBits(byte));
    if (SUCCEEDED(hr)) hr = WriteControl(chip::kControlStrobe);
    if (SUCCEEDED(hr)) hr = WriteControl(chip::kControlWrite);
    return hr;
}

HRESULT CameraLink::ReturnToVideoPort() {
    PromptSelect(chip::ReturnPrompt(), kPanelTitle);
    return WriteControl(chip::kControlVideoPort);
}

HRESULT CameraLink::BeginFrameRead() {
    HRESULT hr = WriteControl(chip::kControlIdle);
    if (SUCCEEDED(hr)) hr = WriteControl(chip::kControlFrameSetup);
    // The address is still the control register's: only Value is sent.
    if (SUCCEEDED(hr)) hr = PutValue1(chip::kControlPixelHold);
    if (SUCCEEDED(hr)) hr = Put(pinbus1_, kDispidAddress, kControlPort);
    if (SUCCEEDED(hr)) hr = Put(pinbus2_, kDispidAddress, kDataPort);
    return hr;
}

std::string CameraLink::TakeExceptionText(HRESULT hr) {
    if (hr != DISP_E_EXCEPTION) return {};
    if (excep_.pfnDeferredFillIn) excep_.pfnDeferredFillIn(&excep_);
    std::string text = excep_.bstrDescription ? OleToUtf8(excep_.bstrDescription) : std::string();
    SysFreeString(excep_.bstrSource);
    SysFreeString(excep_.bstrDescription);
    SysFreeString(excep_.bstrHelpFile);
    excep_ = EXCEPINFO{};
    return text;
}

HRESULT CameraLink::Failed(HRESULT hr, IDispatch* object, DISPID dispid, bool put, LONG value) {
    failure_reason_.clear();
    failure_hr_ = hr;
    failure_on_pinbus1_ = object == pinbus1_;
    failure_put_ = put;
    failure_dispid_ = dispid;
    failure_value_ = value;
    return hr;
}

std::string CameraLink::LastFailure() const {
    const char* name = MemberName_DPinbus(failure_dispid_);
    if (!name) name = NAME_DPinbus_Value;
    const char* object = failure_on_pinbus1_ ? "Pinbus1" : "Pinbus2";
    char text[128];
    if (failure_put_) {
        std::snprintf(text, sizeof text, "%s = 0x%X on %s: %s", name,
                      static_cast<unsigned>(failure_value_), object,
                      HresultToString(failure_hr_).c_str());
    } else {
        std::snprintf(text, sizeof text, "reading %s of %s: %s", name, object,
                      HresultToString(failure_hr_).c_str());
    }
    return failure_reason_.empty() ? std::string(text) : text + (" (" + failure_reason_ + ")");
}

}  // namespace panel
