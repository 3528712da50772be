// Owners of the automation types' resources under the platform's own names: a CComVariant
// clears itself and a CComBSTR frees its string when they go out of scope.
#pragma once

#include <cassert>
#include <memory>
#include <string>
#include <utility>

#include "platform/com/oleauto.h"
#include "platform/com/utf.h"

// A VARIANT that clears itself. It is one, so it passes wherever a VARIANT* is asked for.
class CComVariant : public VARIANT {
public:
    CComVariant() { VariantInit(this); }
    explicit CComVariant(LONG value) : CComVariant() {
        vt = VT_I4;
        lVal = value;
    }
    CComVariant(const CComVariant&) = delete;
    CComVariant& operator=(const CComVariant&) = delete;
    ~CComVariant() { VariantClear(this); }

    // Frees what it holds and leaves it VT_EMPTY.
    HRESULT Clear() { return VariantClear(this); }
};

// A BSTR that frees itself; null is the empty string.
class CComBSTR {
public:
    CComBSTR() = default;
    explicit CComBSTR(const std::string& utf8) {
        const std::u16string text = Utf8ToOle(utf8);
        m_str = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    CComBSTR(const CComBSTR&) = delete;
    CComBSTR& operator=(const CComBSTR&) = delete;
    CComBSTR(CComBSTR&& other) noexcept : m_str(std::exchange(other.m_str, nullptr)) {}
    CComBSTR& operator=(CComBSTR&& other) noexcept {
        if (this != std::addressof(other)) {
            SysFreeString(m_str);
            m_str = std::exchange(other.m_str, nullptr);
        }
        return *this;
    }
    ~CComBSTR() { SysFreeString(m_str); }

    operator BSTR() const { return m_str; }  // NOLINT: implicit, as the platform's
    // For out parameters: the string must be empty so that nothing leaks.
    BSTR* operator&() {
        assert(m_str == nullptr);
        return &m_str;
    }
    // Takes over a string someone else allocated, freeing the one held.
    void Attach(BSTR text) {
        SysFreeString(m_str);
        m_str = text;
    }
    // The caller takes the string over.
    BSTR Detach() { return std::exchange(m_str, nullptr); }
    UINT Length() const { return SysStringLen(m_str); }
    // The text as UTF-8, "" for null; embedded null characters are kept.
    std::string Utf8() const {
        return m_str ? OleToUtf8(std::u16string(m_str, SysStringLen(m_str))) : std::string();
    }

    BSTR m_str = nullptr;
};
