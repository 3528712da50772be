// The parallel-port link to the SX540 evaluation board: every port access goes through the two
// Pinbus port objects by automation (property puts and gets by DISPID), never to the port itself.
#pragma once

#include <cstdint>
#include <string>

#include "panel/user_interface.h"
#include "platform/chip/sx540.h"
#include "platform/com/com_holders.h"
#include "platform/com/oleauto.h"
#include "platform/portio/port_addresses.h"
#include "portctl/pinbus_identity.h"

namespace panel {

using portio::kControlPort;
using portio::kDataPort;
using portio::kEcrPort;

// Pinbus's dispatch interface, as its type-library description names it.
constexpr DISPID kDispidAddress = DISPID_DPinbus_Address;
constexpr DISPID kDispidBits = DISPID_DPinbus_Bits;
constexpr DISPID kDispidValue = DISPID_DPinbus_Value;

inline constexpr char kPanelTitle[] = "SX540 Control Panel";
inline constexpr char kNoticeTitle[] = "Operation Notice";

// The bit order on the data lines (platform/chip/sx540.h).
using chip::ReverseBits;

// The link operations. Each returns S_OK, or the failure of the port object's Invoke (which
// Pinbus does not report with the values used here); LastFailure() then says which access
// failed. Prompts cannot fail.
class CameraLink {
public:
    // pinbus1 performs every write, pinbus2 every read. Neither is held: the owner keeps them
    // alive for the link's life.
    CameraLink(IDispatch* pinbus1, IDispatch* pinbus2, UserInterface& ui);
    CameraLink(const CameraLink&) = delete;
    CameraLink& operator=(const CameraLink&) = delete;

    // Pinbus1: Address = the register's port, Bits = 8, Value = v.
    HRESULT WriteControl(std::uint8_t v) { return Write(kControlPort, v); }
    HRESULT WriteData(std::uint8_t v) { return Write(kDataPort, v); }
    HRESULT WriteEcr(std::uint8_t v) { return Write(kEcrPort, v); }
    // A get of Value on Pinbus2 (aimed at the data register by BeginFrameRead). Inline, with
    // everything but the common answer out of line, as a frame makes one per pixel byte.
    HRESULT ReadData(std::uint8_t* v) {
        if (!pinbus2_) [[unlikely]]
            return Failed(E_POINTER, pinbus2_, kDispidValue, false, 0);
        const HRESULT hr =
            pinbus2_->Invoke(kDispidValue, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                             &get_params_, &result_, &excep_, nullptr);
        if (FAILED(hr) || result_.vt != VT_I4) [[unlikely]]
            return ReadDataOther(hr, v);
        *v = static_cast<std::uint8_t>(result_.lVal & 0xFF);
        result_.vt = VT_EMPTY;
        return S_OK;
    }
    // The modal register-selection prompt; the answer is not used.
    void PromptSelect(const std::string& text, const std::string& title);

    // ECR <- 0x20, control <- 0x20, control <- 0x27, then the "Operation Notice" prompt.
    HRESULT SetupPortMode();
    // control <- 0x08, the prompt, data <- ReverseBits(byte), control <- 0x09, control <- 0x08.
    HRESULT WriteRegister(const std::string& prompt, std::uint8_t byte);
    // The video-port prompt, then control <- 0x22.
    HRESULT ReturnToVideoPort();
    // control <- 0x27, control <- 0x2F, Value of Pinbus1 = 0x2B, Address of Pinbus1 = 0x37A,
    // Address of Pinbus2 = 0x378.
    HRESULT BeginFrameRead();
    // One byte of a frame: read the data register, store it bit-reversed in *store, then the
    // handshake pulse (Value of Pinbus1 = 0x2A, then 0x2B). Re-sends Value only.
    HRESULT ReadPixelByte(std::uint8_t* store) {
        std::uint8_t v;
        HRESULT hr = ReadData(&v);
        if (FAILED(hr)) return hr;
        *store = ReverseBits(v);
        hr = PutValue1(chip::kControlPixelPulse);
        if (FAILED(hr)) return hr;
        return PutValue1(chip::kControlPixelHold);
    }
    // control <- 0x27.
    HRESULT EndFrameRead() { return WriteControl(chip::kControlIdle); }

    // Which access failed last, e.g. "Value = 0x2A on Pinbus1: 0x80020005".
    std::string LastFailure() const;

private:
    HRESULT Write(std::uint16_t port, std::uint8_t v);
    // Inline for the same reason as ReadData; a failure is recorded out of line.
    HRESULT Put(IDispatch* object, DISPID dispid, LONG value) {
        if (!object) [[unlikely]]
            return Failed(E_POINTER, object, dispid, true, value);
        arg_.vt = VT_I4;
        arg_.lVal = value;
        const HRESULT hr =
            object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                           &put_params_, nullptr, &excep_, nullptr);
        if (FAILED(hr)) [[unlikely]]
            return PutFailed(hr, object, dispid, value);
        return S_OK;
    }
    HRESULT PutFailed(HRESULT hr, IDispatch* object, DISPID dispid, LONG value);
    // A get of Value that failed or answered other than VT_I4.
    HRESULT ReadDataOther(HRESULT hr, std::uint8_t* v);
    HRESULT PutValue1(LONG value) { return Put(pinbus1_, kDispidValue, value); }
    HRESULT Failed(HRESULT hr, IDispatch* object, DISPID dispid, bool put, LONG value);
    // Takes the description out of excep_ after an Invoke (and frees its strings).
    std::string TakeExceptionText(HRESULT hr);

    IDispatch* pinbus1_;
    IDispatch* pinbus2_;
    UserInterface& ui_;
    // Reused for every access so that the frame loop allocates nothing; what a failed conversion
    // leaves in result_ is freed at once, and both are cleared when the link goes.
    CComVariant arg_;
    DISPID named_put_ = DISPID_PROPERTYPUT;
    DISPPARAMS put_params_;
    DISPPARAMS get_params_;
    CComVariant result_;
    // The last failure, kept as parts so that nothing is formatted on the fast path.
    HRESULT failure_hr_ = S_OK;
    bool failure_on_pinbus1_ = true;
    bool failure_put_ = true;
    DISPID failure_dispid_ = 0;
    LONG failure_value_ = 0;
    std::string failure_reason_;  // the object's own description of the failure, if it gave one
    EXCEPINFO excep_{};
};

}  // namespace panel
