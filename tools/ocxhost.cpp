// ocxhost: a control test container. It creates one object at a time through the class
// registry and drives it from standard input, one command a line, the way a form-based host
// does: automation by name or DISPID, stream persistence, and the control's own status.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/com_holders.h"
#include "platform/com/combase.h"
#include "platform/com/module_resources.h"
#include "platform/com/objidl.h"
#include "platform/com/ocidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/registry.h"
#include "platform/com/typelib.h"
#include "platform/com/variant_format.h"
#include "platform/com/version_info.h"
#include "platform/ctl/embedding.h"
#include "platform/portio/portio.h"
#include "tools/text_property_bag.h"

#ifndef LENSBAY_VERSION
#define LENSBAY_VERSION "unknown"
#endif

#ifdef OCXHOST_WITH_UI
#include <QWidget>

#include "platform/ui/dialogs.h"
#endif

namespace {

const char kHelpHead[] =
    "Usage: ocxhost [--close-dialogs] [--help] [--version]\n"
    "A control test container: reads commands from standard input, one per line, and prints\n"
    "each result on standard output. The class registry is the file named by OLE_REGISTRY.\n"
    "  --close-dialogs  print \"dialog TITLE\" for each dialog the object shows and close it\n"
    "                   at once, for scripted runs\n"
    "\n";
const char kHelpTail[] =
    "\n"
    "Results print as \"VT_I4 888\", \"S_OK\", \"S_FALSE\" or \"error 0x80020005\".\n"
    "Empty lines and lines starting with # are ignored.\n";

// What a command prints: its result, or (as the error's message) a line starting "error".
using Outcome = base::Result<std::string>;
// A check before a command runs: nothing, or the error line to print instead.
using Check = base::Result<>;

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// Splits off the first word of `s`; the rest (trimmed) goes to *rest.
std::string FirstWord(const std::string& s, std::string* rest) {
    std::string t = Trim(s);
    std::size_t sp = 0;
    while (sp < t.size() && !std::isspace(static_cast<unsigned char>(t[sp]))) ++sp;
    if (rest) *rest = Trim(t.substr(sp));
    return t.substr(0, sp);
}

bool ParseInt32(const std::string& s, LONG* value) {
    if (s.empty()) return false;
    const char* begin = s.data();
    if (*begin == '+') ++begin;
    long long v = 0;
    auto [end, ec] = std::from_chars(begin, s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<LONG>(v);
    return true;
}

base::Error Error(HRESULT hr, const std::string& why = {}) {
    return base::Fail("error " + HresultToString(hr) + (why.empty() ? "" : ": " + why), hr);
}

base::Error Refuse(const std::string& why) { return base::Fail("error " + why); }

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x",
                      static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
        out += buf;
    }
    return out;
}

bool ParseHex(const std::string& text, std::string* bytes) {
    std::string digits;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits.push_back(c);
    }
    if (digits.size() % 2) return false;
    bytes->clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes->push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return true;
}

bool ParseUInt32(const std::string& s, DWORD* value) {
    unsigned long long v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<DWORD>(v);
    return true;
}

// ocxhost's own event sink: it speaks IDispatch and prints each event it is sent.
class HostSink final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    // Lives as long as the host: the count is kept for form's sake only.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        std::cout << "event " << id << '\n' << std::flush;
        return S_OK;
    }
};

// The names of the properties an object could not take from a property bag.
class PropertyErrors final : public IErrorLog {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IErrorLog) return E_NOINTERFACE;
        *ppv = static_cast<IErrorLog*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR name, EXCEPINFO*) override {
        names += (names.empty() ? "" : " ") + (name ? OleToUtf8(name) : std::string("?"));
        return S_OK;
    }
    std::string names;
};

class Host;

// One command of the session: its name, its arguments and its help (continuation lines after
// '\n'), and what runs it. The table gives both the dispatch and the help text.
struct Command {
    const char* name;
    const char* arguments;
    const char* help;
    Outcome (Host::*run)(const std::string& rest);  // null for quit
};

class Host {
public:
    ~Host() { Release(); }

    // Runs one command line; false when the host should end.
    bool Execute(const std::string& line);
    static std::string HelpText();

private:
    static const Command kCommands[];

    static void Print(const std::string& text) { std::cout << text << '\n' << std::flush; }

    static Check NoArguments(const std::string& rest) {
        if (rest.empty()) return {};
        return Refuse("unexpected arguments: " + rest);
    }

    Check NeedObject() const {
        if (object_) return {};
        return Refuse("no object (use create first)");
    }

    void Release() {
        // The sinks ocxhost advised go before the object does.
        if (object_ && !cookies_.empty()) {
            ComPtr<IConnectionPoint> point;
            if (SUCCEEDED(EventPoint(std::addressof(point))))
                for (DWORD cookie : cookies_) point->Unadvise(cookie);
        }
        cookies_.clear();
        dispatch_.Reset();
        persist_.Reset();
        embedding_.Reset();
        object_.Reset();
        CoFreeUnusedLibraries();
    }

    Outcome Help(const std::string&) {
        std::string text = HelpText();
        text.pop_back();  // Print ends the line
        return text;
    }

    Outcome Create(const std::string& rest) {
        std::string name = FirstWord(rest, nullptr);
        if (name.empty() || name != rest) return Refuse("create needs one PROGID or {CLSID}");
        CLSID clsid;
        if (!name.empty() && name[0] == '{') {
            if (!GuidFromString(name, &clsid)) return Refuse("bad class identity: " + name);
        } else {
            HRESULT hr = CLSIDFromProgIDA(name.c_str(), &clsid);
            if (FAILED(hr)) return Error(hr, CoLastErrorText());
        }
        ComPtr<IUnknown> object;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      object.ReleaseAndGetVoidAddress());
        if (FAILED(hr)) return Error(hr, CoLastErrorText());
        Release();  // the previous object, if any, goes only once the new one is there
        object_ = object;
        clsid_ = clsid;
        object_->QueryInterface(IID_IDispatch, dispatch_.ReleaseAndGetVoidAddress());
        object_->QueryInterface(IID_IPersistStreamInit, persist_.ReleaseAndGetVoidAddress());
        object_->QueryInterface(IID_IOleControlEmbedding, embedding_.ReleaseAndGetVoidAddress());
        return std::string("S_OK");
    }

    Outcome ReleaseCommand(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedObject(); !c) return c.error();
        Release();
        return std::string("S_OK");
    }

    Check NeedPersist() const {
        if (auto c = NeedObject(); !c) return c;
        if (persist_) return {};
        return Error(E_NOINTERFACE, "the object has no stream persistence");
    }

    Outcome InitNew(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedPersist(); !c) return c.error();
        HRESULT hr = persist_->InitNew();
        if (FAILED(hr)) return Error(hr);
        return std::string("S_OK");
    }

    Outcome Load(const std::string& rest) {
        if (auto c = NeedPersist(); !c) return c.error();
        std::string bytes;
        if (!ParseHex(rest, &bytes)) return Refuse("bad hex: " + rest);
        ComPtr<IStream> stream;
        HRESULT hr = CreateStreamOnMemory(bytes.data(), static_cast<ULONG>(bytes.size()), &stream);
        if (FAILED(hr)) return Error(hr);
        hr = persist_->Load(stream.Get());
        if (FAILED(hr)) return Error(hr);
        return std::string("S_OK");
    }

    Outcome Save(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedPersist(); !c) return c.error();
        ComPtr<IStream> stream;
        HRESULT hr = CreateStreamOnMemory(nullptr, 0, &stream);
        if (FAILED(hr)) return Error(hr);
        hr = persist_->Save(stream.Get(), TRUE);
        if (FAILED(hr)) return Error(hr);
        std::string bytes;
        if (!GetMemoryStreamBytes(stream.Get(), &bytes)) return Error(E_UNEXPECTED);
        return Hex(bytes);
    }

    Outcome IsDirty(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedPersist(); !c) return c.error();
        HRESULT hr = persist_->IsDirty();
        if (hr == S_OK) return std::string("S_OK");
        if (hr == S_FALSE) return std::string("S_FALSE");
        return Error(hr);
    }

    Check NeedDispatch() const {
        if (auto c = NeedObject(); !c) return c;
        if (dispatch_) return {};
        return Error(E_NOINTERFACE, "the object has no IDispatch");
    }

    // A member by DISPID (a decimal number) or by name through GetIDsOfNames.
    HRESULT Resolve(const std::string& member, DISPID* id) {
        if (member.empty()) return DISP_E_UNKNOWNNAME;
        if (ParseInt32(member, id)) return S_OK;
        std::u16string name = Utf8ToOle(member);
        LPOLESTR names[] = {name.data()};
        return dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    }

    Check Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
        EXCEPINFO info{};
        UINT argErr = 0;
        HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result,
                                       &info, &argErr);
        if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        // The exception's strings are ours to free, whatever the outcome.
        CComBSTR source, description, helpFile;
        source.Attach(info.bstrSource);
        description.Attach(info.bstrDescription);
        helpFile.Attach(info.bstrHelpFile);
        if (SUCCEEDED(hr)) return {};
        std::string why;
        if (hr == DISP_E_EXCEPTION) {
            why = description ? OleToUtf8(description) : std::string();
            if (why.empty() && info.scode) why = HresultToString(info.scode);
        }
        return Error(hr, why);
    }

    Outcome Get(const std::string& rest) {
        if (auto c = NeedDispatch(); !c) return c.error();
        std::string extra;
        std::string member = FirstWord(rest, &extra);
        if (member.empty() || !extra.empty()) return Refuse("get needs one NAME or DISPID");
        DISPID id;
        if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return Error(hr);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        CComVariant result;
        if (auto c = Invoke(id, DISPATCH_PROPERTYGET, &none, &result); !c) return c.error();
        return FormatVariant(result);
    }

    Outcome Put(const std::string& rest) {
        if (auto c = NeedDispatch(); !c) return c.error();
        std::string valueText;
        std::string member = FirstWord(rest, &valueText);
        // An optional type name ends the line.
        VARTYPE vt = VT_EMPTY;
        std::size_t sp = valueText.find_last_of(" \t");
        if (sp != std::string::npos) {
            std::string last = valueText.substr(sp + 1);
            for (VARTYPE t : {VT_I2, VT_I4, VT_R8, VT_BSTR})
                if (last == VarTypeName(t)) vt = t;
            if (vt != VT_EMPTY) valueText = Trim(valueText.substr(0, sp));
        }
        if (member.empty() || valueText.empty())
            return Refuse("put needs NAME|DISPID VALUE [TYPE]");
        bool quoted = valueText.size() >= 2 && valueText.front() == '"' && valueText.back() == '"';
        if (quoted) valueText = valueText.substr(1, valueText.size() - 2);
        DISPID id;
        if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return Error(hr);

        CComVariant arg;
        LONG number = 0;
        if (vt == VT_EMPTY) vt = !quoted && ParseInt32(valueText, &number) ? VT_I4 : VT_BSTR;
        arg.vt = VT_BSTR;
        arg.bstrVal = SysAllocString(Utf8ToOle(valueText).c_str());
        if (vt != VT_BSTR) {
            // The text becomes the asked type by the Automation rules, as a host's would.
            if (HRESULT hr = VariantChangeType(&arg, &arg, 0, vt); FAILED(hr)) return Error(hr);
        }
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&arg, &named, 1, 1};
        if (auto c = Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr); !c) return c.error();
        return std::string("S_OK");
    }

    Outcome Call(const std::string& rest) {
        if (auto c = NeedDispatch(); !c) return c.error();
        std::string extra;
        std::string member = FirstWord(rest, &extra);
        if (member.empty() || !extra.empty()) return Refuse("call needs one NAME or DISPID");
        DISPID id;
        if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return Error(hr);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        CComVariant result;
        if (auto c = Invoke(id, DISPATCH_METHOD, &none, &result); !c) return c.error();
        return result.vt == VT_EMPTY ? std::string("S_OK") : FormatVariant(result);
    }

    static std::string StatusLine(const char* source, DWORD value) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(value));
        return std::string(source) + " " + std::to_string(value) + " " + hex;
    }

    // CLSID\{...}\MiscStatus: the content aspect's own subkey "1", else the default value.
    bool RegistryMiscStatus(DWORD* status) const {
        std::string base = "CLSID\\" + GuidToString(clsid_) + "\\MiscStatus";
        for (const std::string& path : {base + "\\1", base}) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
                continue;
            char text[64] = {};
            DWORD size = sizeof text - 1, type = 0;
            LSTATUS st = RegQueryValueExA(key, nullptr, nullptr, &type,
                                          reinterpret_cast<BYTE*>(text), &size);
            RegCloseKey(key);
            LONG value = 0;
            if (st == ERROR_SUCCESS && type == REG_SZ && ParseInt32(Trim(text), &value)) {
                *status = static_cast<DWORD>(value);
                return true;
            }
        }
        return false;
    }

    Outcome Misc(const std::string& rest) {
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

    Check NeedEmbedding() const {
        if (auto c = NeedObject(); !c) return c;
        if (embedding_) return {};
        return Error(E_NOINTERFACE, "the object offers no control embedding");
    }

    Outcome Verbs(const std::string& rest) {
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

    Outcome Pages(const std::string& rest) {
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

    Outcome Properties(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedEmbedding(); !c) return c.error();
        HRESULT hr = embedding_->DoVerb(OLEIVERB_PROPERTIES);
        if (FAILED(hr)) return Error(hr);
        return std::string(hr == S_OK ? "S_OK" : "S_FALSE");
    }

    Outcome About(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedDispatch(); !c) return c.error();
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (auto c = Invoke(DISPID_ABOUTBOX, DISPATCH_METHOD, &none, nullptr); !c) return c.error();
        return std::string("S_OK");
    }

    static std::string MemberName(ITypeInfo* info, MEMBERID id) {
        CComBSTR name;
        if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr)) || !name)
            return "?";
        return OleToUtf8(name);
    }

    Outcome Members(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedDispatch(); !c) return c.error();
        ComPtr<ITypeInfo> info;
        HRESULT hr = dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
        if (FAILED(hr) || !info) return Error(FAILED(hr) ? hr : E_UNEXPECTED);
        TYPEATTR* attr = nullptr;
        if (FAILED(hr = info->GetTypeAttr(&attr)) || !attr)
            return Error(FAILED(hr) ? hr : E_UNEXPECTED);
        std::string out;
        auto line = [&](MEMBERID id, const std::string& kind, VARTYPE vt) {
            if (!out.empty()) out += "\n";
            out += std::to_string(id) + " " + MemberName(info.Get(), id) + " " + kind + " " +
                   VarTypeText(vt);
        };
        for (UINT i = 0; i < attr->cVars; ++i) {
            VARDESC* var = nullptr;
            if (FAILED(hr = info->GetVarDesc(i, &var)) || !var) {
                out += (out.empty() ? "" : "\n") + Error(hr).message;
                continue;
            }
            line(var->memid, "property", var->elemdescVar.tdesc.vt);
            info->ReleaseVarDesc(var);
        }
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* func = nullptr;
            if (FAILED(hr = info->GetFuncDesc(i, &func)) || !func) {
                out += (out.empty() ? "" : "\n") + Error(hr).message;
                continue;
            }
            const char* kind = func->invkind == INVOKE_PROPERTYGET      ? "propget"
                               : func->invkind == INVOKE_PROPERTYPUT    ? "propput"
                               : func->invkind == INVOKE_PROPERTYPUTREF ? "propputref"
                                                                        : "method";
            line(func->memid, kind, func->elemdescFunc.tdesc.vt);
            if (func->cParams > 0) out += " (" + std::to_string(func->cParams) + " parameters)";
            info->ReleaseFuncDesc(func);
        }
        info->ReleaseTypeAttr(attr);
        return out.empty() ? std::string("no members") : out;
    }

    Outcome Resources(const std::string& path) {
        if (path.empty()) return Refuse("resources needs a PATH");
        const auto read = ReadModuleResources(path);
        if (!read) return Refuse(read.message());
        const std::vector<ResourceEntry>& entries = *read;
        std::string out;
        char buf[96];
        const std::string* version = nullptr;
        for (const ResourceEntry& e : entries) {
            const std::string type = ResourceTypeName(e.type);
            std::snprintf(buf, sizeof buf, " %u 0x%04x %zu", static_cast<unsigned>(e.id),
                          static_cast<unsigned>(e.language), e.bytes.size());
            out += (out.empty() ? "" : "\n") + type + buf;
            if (e.type == ResourceType::Version && !version) version = &e.bytes;
        }
        if (!version) return out.empty() ? std::string("no resources") : out;
        VersionInfo info;
        if (!ParseVersionInfo(*version, &info)) return out + "\nerror malformed version block";
        auto quad = [](const std::uint16_t v[4]) {
            return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) +
                   "." + std::to_string(v[3]);
        };
        out += "\nfile version " + quad(info.fileVersion);
        out += "\nproduct version " + quad(info.productVersion);
        std::snprintf(buf, sizeof buf,
                      "\nfile OS 0x%08x\nfile type 0x%08x\ntranslation 0x%04x 0x%04x",
                      static_cast<unsigned>(info.fileOS), static_cast<unsigned>(info.fileType),
                      static_cast<unsigned>(info.language), static_cast<unsigned>(info.codePage));
        out += buf;
        for (const auto& [key, value] : info.strings) out += "\n" + key + ": " + value;
        return out;
    }

    // ---------------------------------------------------------------- what a host asks first

    // The interfaces the platform stand-in knows, in the order `interfaces` lists them.
    struct KnownInterface {
        const char* name;
        const IID* iid;
    };
    static constexpr KnownInterface kKnownInterfaces[] = {
        {"IUnknown", &IID_IUnknown},
        {"IDispatch", &IID_IDispatch},
        {"IPersist", &IID_IPersist},
        {"IPersistStream", &IID_IPersistStream},
        {"IPersistStreamInit", &IID_IPersistStreamInit},
        {"IPersistPropertyBag", &IID_IPersistPropertyBag},
        {"IConnectionPointContainer", &IID_IConnectionPointContainer},
        {"IConnectionPoint", &IID_IConnectionPoint},
        {"IEnumConnectionPoints", &IID_IEnumConnectionPoints},
        {"IEnumConnections", &IID_IEnumConnections},
        {"IProvideClassInfo", &IID_IProvideClassInfo},
        {"IProvideClassInfo2", &IID_IProvideClassInfo2},
        {"IOleControlEmbedding", &IID_IOleControlEmbedding},
        {"IClassFactory", &IID_IClassFactory},
        {"IPropertyBag", &IID_IPropertyBag},
        {"IErrorLog", &IID_IErrorLog},
        {"ISequentialStream", &IID_ISequentialStream},
        {"IStream", &IID_IStream},
        {"ITypeLib", &IID_ITypeLib},
        {"ITypeInfo", &IID_ITypeInfo},
    };

    Outcome Interfaces(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedObject(); !c) return c.error();
        std::string out;
        for (const KnownInterface& known : kKnownInterfaces) {
            void* p = nullptr;
            if (FAILED(object_->QueryInterface(*known.iid, &p)) || !p) continue;
            static_cast<IUnknown*>(p)->Release();
            out += (out.empty() ? "" : "\n") + std::string(known.name);
        }
        return out.empty() ? std::string("no interfaces") : out;
    }

    // The connection point a host advises: the default source interface's, else the first one.
    HRESULT EventPoint(ComPtr<IConnectionPoint>* point) const {
        ComPtr<IConnectionPointContainer> container;
        HRESULT hr = object_.As(IID_IConnectionPointContainer, std::addressof(container));
        if (FAILED(hr)) return hr;
        ComPtr<IProvideClassInfo2> info;
        GUID source{};
        if (SUCCEEDED(object_.As(IID_IProvideClassInfo2, std::addressof(info))) &&
            SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source)))
            return container->FindConnectionPoint(source, &*point);
        ComPtr<IEnumConnectionPoints> points;
        if (FAILED(hr = container->EnumConnectionPoints(&points))) return hr;
        IConnectionPoint* first = nullptr;
        if (points->Next(1, &first, nullptr) != S_OK || !first) return CONNECT_E_NOCONNECTION;
        point->Attach(first);
        return S_OK;
    }

    Outcome ConnPoints(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedObject(); !c) return c.error();
        ComPtr<IConnectionPointContainer> container;
        HRESULT hr = object_.As(IID_IConnectionPointContainer, std::addressof(container));
        if (FAILED(hr)) return Error(hr, "the object has no connection points");
        ComPtr<IEnumConnectionPoints> points;
        if (FAILED(hr = container->EnumConnectionPoints(&points))) return Error(hr);
        std::string out;
        IConnectionPoint* point = nullptr;
        while (points->Next(1, &point, nullptr) == S_OK && point) {
            IID iid{};
            hr = point->GetConnectionInterface(&iid);
            point->Release();
            out += (out.empty() ? "" : "\n") + (FAILED(hr) ? Error(hr).message : GuidToString(iid));
        }
        return out.empty() ? std::string("no connection points") : out;
    }

    Outcome Advise(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedObject(); !c) return c.error();
        ComPtr<IConnectionPoint> point;
        HRESULT hr = EventPoint(std::addressof(point));
        if (FAILED(hr)) return Error(hr, "the object has no event connection point");
        DWORD cookie = 0;
        if (FAILED(hr = point->Advise(&sink_, &cookie))) return Error(hr);
        cookies_.push_back(cookie);
        return "cookie " + std::to_string(cookie);
    }

    Outcome Unadvise(const std::string& rest) {
        if (auto c = NeedObject(); !c) return c.error();
        DWORD cookie = 0;
        if (!ParseUInt32(rest, &cookie)) return Refuse("unadvise needs a COOKIE");
        ComPtr<IConnectionPoint> point;
        HRESULT hr = EventPoint(std::addressof(point));
        if (FAILED(hr)) return Error(hr, "the object has no event connection point");
        if (FAILED(hr = point->Unadvise(cookie))) return Error(hr);
        std::erase(cookies_, cookie);
        return std::string("S_OK");
    }

    Outcome ClassInfo(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        if (auto c = NeedObject(); !c) return c.error();
        ComPtr<IProvideClassInfo> provider;
        HRESULT hr = object_.As(IID_IProvideClassInfo, std::addressof(provider));
        if (FAILED(hr)) return Error(hr, "the object gives no class information");
        ComPtr<ITypeInfo> info;
        if (FAILED(hr = provider->GetClassInfo(&info))) return Error(hr, TypeLibLastErrorText());
        BSTR name = nullptr;
        if (FAILED(hr = info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)))
            return Error(hr);
        std::string out = name ? OleToUtf8(name) : std::string();
        SysFreeString(name);
        ComPtr<IProvideClassInfo2> provider2;
        GUID source{};
        if (SUCCEEDED(object_.As(IID_IProvideClassInfo2, std::addressof(provider2))) &&
            SUCCEEDED(provider2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source)))
            return out + " " + GuidToString(source);
        return out + " none";
    }

    Check NeedBag(ComPtr<IPersistPropertyBag>* bag) const {
        if (auto c = NeedObject(); !c) return c;
        HRESULT hr = object_.As(IID_IPersistPropertyBag, bag);
        if (FAILED(hr)) return Error(hr, "the object has no named persistence");
        return {};
    }

    Outcome SaveBag(const std::string& rest) {
        if (auto c = NoArguments(rest); !c) return c.error();
        ComPtr<IPersistPropertyBag> persist;
        if (auto c = NeedBag(std::addressof(persist)); !c) return c.error();
        TextPropertyBag bag;
        HRESULT hr = persist->Save(&bag, TRUE, TRUE);
        if (FAILED(hr)) return Error(hr);
        std::string out;
        for (const std::string& line : bag.Lines()) out += (out.empty() ? "" : "\n") + line;
        return out.empty() ? std::string("no properties") : out;
    }

    Outcome LoadBag(const std::string& rest) {
        ComPtr<IPersistPropertyBag> persist;
        if (auto c = NeedBag(std::addressof(persist)); !c) return c.error();
        TextPropertyBag bag;
        if (auto parsed = bag.Parse(rest); !parsed)
            return Refuse("bad property list: " + parsed.message());
        PropertyErrors log;
        HRESULT hr = persist->Load(&bag, &log);
        if (FAILED(hr)) return Error(hr, log.names);
        return std::string("S_OK");
    }

    ComPtr<IUnknown> object_;
    ComPtr<IDispatch> dispatch_;
    ComPtr<IPersistStreamInit> persist_;
    ComPtr<IOleControlEmbedding> embedding_;
    CLSID clsid_ = GUID_NULL;
    HostSink sink_;
    std::vector<DWORD> cookies_;  // what ocxhost advised on the object
};

// In the order the help lists them.
const Command Host::kCommands[] = {
    {"create", "PROGID|{CLSID}", "create the object (not initialised: initnew or load follows)",
     &Host::Create},
    {"initnew", "", "initialise as new (on a live object: reset it)", &Host::InitNew},
    {"load", "HEX", "initialise from stream bytes in hex (spaces optional)", &Host::Load},
    {"save", "", "save to a stream and print its bytes in hex", &Host::Save},
    {"isdirty", "", "S_OK when changed since the last save or load, else S_FALSE", &Host::IsDirty},
    {"get", "NAME|DISPID", "read a property", &Host::Get},
    {"put", "NAME|DISPID VALUE [VT_I2|VT_I4|VT_R8|VT_BSTR]",
     "write a property; without a type an integer goes as VT_I4 and\n"
     "anything else as VT_BSTR; \"quotes\" keep spaces",
     &Host::Put},
    {"call", "NAME|DISPID", "call a method without arguments", &Host::Call},
    {"members", "", "the object's members from its type information:\nDISPID NAME KIND TYPE",
     &Host::Members},
    {"resources", "PATH", "a module's resources (TYPE ID LANGUAGE SIZE) and version block",
     &Host::Resources},
    {"misc", "", "the miscellaneous status bits, from the registry and from the\nobject",
     &Host::Misc},
    {"verbs", "", "the object's verbs: VERB ATTRIBUTES NAME", &Host::Verbs},
    {"pages", "", "the class identities of the object's property pages", &Host::Pages},
    {"properties", "", "run the properties verb (the property frame)", &Host::Properties},
    {"about", "", "call the object's AboutBox (DISPID -552)", &Host::About},
    {"interfaces", "", "the interfaces the object answers QueryInterface for, by name",
     &Host::Interfaces},
    {"connpoints", "", "the interface identity of each of the object's connection points",
     &Host::ConnPoints},
    {"advise", "", "connect ocxhost's own sink to the object's event interface;\nprints its cookie",
     &Host::Advise},
    {"unadvise", "COOKIE", "disconnect the sink advised with COOKIE", &Host::Unadvise},
    {"classinfo", "", "the object's coclass name and default source interface", &Host::ClassInfo},
    {"savebag", "", "save by property name: NAME=VALUE per property, in exchange\norder",
     &Host::SaveBag},
    {"loadbag", "[NAME=VALUE;...]", "load by property name; a property not given takes its default",
     &Host::LoadBag},
    {"release", "", "release the object", &Host::ReleaseCommand},
    {"help", "", "this text", &Host::Help},
    {"quit", "", "end (as does the end of input)", nullptr},
};

std::string Host::HelpText() {
    constexpr std::size_t kColumn = 24;  // where the help starts, after two spaces
    const std::string indent(kColumn + 2, ' ');
    std::string text = kHelpHead;
    for (const Command& c : kCommands) {
        std::string usage = c.name;
        if (*c.arguments) usage += std::string(" ") + c.arguments;
        text += "  " + usage;
        if (usage.size() < kColumn)
            text += std::string(kColumn - usage.size(), ' ');
        else
            text += "\n" + indent;
        for (const char* h = c.help; *h; ++h)
            text += *h == '\n' ? "\n" + indent : std::string(1, *h);
        text += "\n";
    }
    return text + kHelpTail;
}

bool Host::Execute(const std::string& line) {
    std::string rest;
    std::string name = FirstWord(line, &rest);
    if (name.empty() || name[0] == '#') return true;
    if (name == "exit") name = "quit";
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        if (!c.run) return false;
        const Outcome outcome = (this->*c.run)(rest);
        Print(outcome ? *outcome : outcome.message());
        return true;
    }
    Print("error unknown command: " + name);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool closeDialogs = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << Host::HelpText();
            return 0;
        }
        if (arg == "--version") {
            std::cout << "ocxhost " << LENSBAY_VERSION << '\n';
            return 0;
        }
        if (arg == "--close-dialogs") {
            closeDialogs = true;
            continue;
        }
        std::cerr << "ocxhost: unknown option " << arg << "\n" << Host::HelpText();
        return 1;
    }
#ifdef OCXHOST_WITH_UI
    if (closeDialogs) {
        ui::SetDialogShownHookForTesting([](void* widget) {
            auto* w = static_cast<QWidget*>(widget);
            std::cout << "dialog " << w->windowTitle().toStdString() << '\n' << std::flush;
            w->close();
        });
    }
#else
    (void)closeDialogs;  // without the GUI layer no dialog is ever shown
#endif
    // A port cycle a control cannot do (an unusable PORTIO, a refused port) ends the session.
    portio::SetFaultHandler([](const base::Error& fault) {
        std::fprintf(stderr, "%s\n", fault.message.c_str());
        std::exit(3);
    });
    // Every object comes from the class registry: a broken one ends the session before it starts.
    if (const base::Result<> registry = CheckClassRegistry(); !registry) {
        std::cerr << "ocxhost: " << registry.message() << '\n';
        return 1;
    }
    if (const HRESULT hr = CoInitialize(nullptr); FAILED(hr)) {
        std::cerr << "ocxhost: COM initialisation failed (" << HresultToString(hr) << ")\n";
        return 1;
    }
    {
        Host host;
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!host.Execute(line)) break;
        }
    }
    CoUninitialize();
    return 0;
}
