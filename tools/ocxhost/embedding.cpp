// Embedding: what a form asks a control before it places it (its status bits, verbs and
// property pages) and the properties verb.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/com_holders.h"
#include "platform/com/registry.h"
#include "platform/com/variant_format.h"
#include "tools/ocxhost/host.h"

namespace ocxhost {

std::string Host::StatusLine(const char* source, DWORD value) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(value));
    return std::string(source) + " " + std::to_string(value) + " " + hex;
}

// CLSID\{...}\MiscStatus: the content aspect's own subkey "1", else the default value.
bool Host::RegistryMiscStatus(DWORD* status) const {
    std::string base = "CLSID\\" + GuidToString(clsid_) + "\\MiscStatus";
    for (const std::string& path : {base + "\\1", base}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        char text[64] = {};
        DWORD size = sizeof text - 1, type = 0;
        LSTATUS st =
            RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        LONG value = 0;
        if (st == ERROR_SUCCESS && type == REG_SZ && ParseInt32(Trim(text), &value)) {
            *status = static_cast<DWORD>(value);
            return true;
        }
    }
    return false;
}

Outcome Host::Misc(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    std::string out;
    DWORD status = 0;
    if (RegistryMiscStatus(&status)) out = StatusLine("registry", status);
    if (embedding_) {
        HRESULT hr = embedding_->GetMiscStatus(DVASPECT_CONTENT, &status);
        if (!out.empty()) out += "\n";
        out += FAILED(hr) ? Error(hr).message : StatusLine("object", status);
    }
    if (out.empty()) return Refuse("no MiscStatus for " + GuidToString(clsid_));
    return out;
}

Check Host::NeedEmbedding() const {
    if (auto c = NeedObject(); !c) return c;
    if (embedding_) return {};
    return Error(E_NOINTERFACE, "the object offers no control embedding");
}

Outcome Host::Verbs(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedEmbedding(); !c) return c.error();
    ULONG count = 0;
    if (HRESULT hr = embedding_->GetVerbCount(&count); FAILED(hr)) return Error(hr);
    std::string out;
    for (ULONG i = 0; i < count; ++i) {
        LONG verb = 0;
        CComBSTR name;
        DWORD attribs = 0;
        HRESULT hr = embedding_->GetVerb(i, &verb, &name, &attribs);
        if (!out.empty()) out += "\n";
        if (FAILED(hr)) {
            out += Error(hr).message;
            continue;
        }
        char head[48];
        std::snprintf(head, sizeof head, "%ld 0x%08x ", static_cast<long>(verb),
                      static_cast<unsigned>(attribs));
        out += head + (name ? OleToUtf8(name) : std::string());
    }
    return out.empty() ? std::string("no verbs") : out;
}

Outcome Host::Pages(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedEmbedding(); !c) return c.error();
    ULONG count = 0;
    if (HRESULT hr = embedding_->GetPages(0, nullptr, &count); FAILED(hr)) return Error(hr);
    std::vector<CLSID> pages(count);
    if (HRESULT hr = embedding_->GetPages(count, pages.data(), &count); FAILED(hr))
        return Error(hr);
    std::string out;
    for (ULONG i = 0; i < count && i < pages.size(); ++i)
        out += (out.empty() ? "" : "\n") + GuidToString(pages[i]);
    return out.empty() ? std::string("no pages") : out;
}

Outcome Host::Properties(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedEmbedding(); !c) return c.error();
    HRESULT hr = embedding_->DoVerb(OLEIVERB_PROPERTIES);
    if (FAILED(hr)) return Error(hr);
    return std::string(hr == S_OK ? "S_OK" : "S_FALSE");
}

}  // namespace ocxhost
