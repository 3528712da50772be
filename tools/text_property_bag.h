// A host's property bag held in memory and written as text: "NAME=VALUE;NAME=VALUE". Values
// read from text are handed out as strings (VT_BSTR) whatever type the reader asks for, so the
// object converts them itself; values an object writes are kept as it wrote them. Names compare
// without regard to ASCII case, as a form's parameter names do. Header only, platform/com only.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/ocidl.h"
#include "platform/com/single_unknown.h"
#include "platform/com/utf.h"

class TextPropertyBag final
    : public com::SingleUnknown<IPropertyBag, IID_IPropertyBag, com::Lifetime::kOwned> {
public:
    TextPropertyBag() = default;
    ~TextPropertyBag() {
        for (auto& entry : entries_) VariantClear(&entry.second);
    }
    TextPropertyBag(const TextPropertyBag&) = delete;
    TextPropertyBag& operator=(const TextPropertyBag&) = delete;

    // Fills the bag from "NAME=VALUE;..." (empty text: an empty bag; empty items are skipped).
    // Fails for an item without "=", an empty name or a name given twice; the bag is then left
    // empty.
    base::Result<> Parse(const std::string& text) {
        Clear();
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(';', start);
            if (end == std::string::npos) end = text.size();
            const std::string item = text.substr(start, end - start);
            start = end + 1;
            if (item.empty()) continue;
            const std::size_t eq = item.find('=');
            std::string why;
            if (eq == std::string::npos)
                why = "\"" + item + "\" is not NAME=VALUE";
            else if (eq == 0)
                why = "\"" + item + "\" has no name";
            else if (Find(Utf8ToOle(item.substr(0, eq))))
                why = item.substr(0, eq) + " is given twice";
            if (!why.empty()) {
                Clear();
                return base::Fail(why);
            }
            const std::u16string value = Utf8ToOle(item.substr(eq + 1));
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_BSTR;
            v.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
            entries_.emplace_back(Utf8ToOle(item.substr(0, eq)), v);
        }
        return {};
    }

    // NAME=VALUE for every entry in the order written (values as text; "?" for what has none).
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto& [name, value] : entries_) {
            VARIANT text;
            VariantInit(&text);
            std::string shown = "?";
            if (SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR)) && text.bstrVal)
                shown = OleToUtf8(text.bstrVal);
            VariantClear(&text);
            lines.push_back(OleToUtf8(name) + "=" + shown);
        }
        return lines;
    }

    void Clear() {
        for (auto& entry : entries_) VariantClear(&entry.second);
        entries_.clear();
    }

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (!name || !value) return E_POINTER;
        const VARIANT* found = Find(name);
        if (!found) return E_INVALIDARG;
        VariantInit(value);
        return VariantCopy(value, found);
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        if (!name || !value) return E_POINTER;
        VARIANT copy;
        VariantInit(&copy);
        if (HRESULT hr = VariantCopy(&copy, value); FAILED(hr)) return hr;
        if (VARIANT* found = Find(name)) {
            VariantClear(found);
            *found = copy;
        } else {
            entries_.emplace_back(std::u16string(name), copy);
        }
        return S_OK;
    }

private:
    static bool SameName(const std::u16string& a, LPCOLESTR b) {
        std::size_t i = 0;
        for (; i < a.size() && b[i]; ++i) {
            auto lower = [](char16_t c) {
                return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
            };
            if (lower(a[i]) != lower(b[i])) return false;
        }
        return i == a.size() && !b[i];
    }
    VARIANT* Find(LPCOLESTR name) {
        for (auto& entry : entries_)
            if (SameName(entry.first, name)) return &entry.second;
        return nullptr;
    }
    VARIANT* Find(const std::u16string& name) { return Find(name.c_str()); }

    std::vector<std::pair<std::u16string, VARIANT>> entries_;
};
