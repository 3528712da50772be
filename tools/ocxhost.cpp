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

#include "platform/com/combase.h"
#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"
#include "platform/com/registry.h"
#include "platform/com/resources.h"
#include "platform/com/typelib.h"
#include "platform/ctl/embedding.h"
#include "platform/portio/portio.h"

#ifndef LENSBAY_VERSION
#define LENSBAY_VERSION "unknown"
#endif

#ifdef OCXHOST_WITH_UI
#include <QWidget>

#include "platform/ui/dialogs.h"
#endif

namespace {

const char kHelp[] =
    "Usage: ocxhost [--close-dialogs] [--help] [--version]\n"
    "A control test container: reads commands from standard input, one per line, and prints\n"
    "each result on standard output. The class registry is the file named by OLE_REGISTRY.\n"
    "  --close-dialogs  print \"dialog TITLE\" for each dialog the object shows and close it\n"
    "                   at once, for scripted runs\n"
    "\n"
    "  create PROGID|{CLSID}   create the object (not initialised: initnew or load follows)\n"
    "  initnew                 initialise as new (on a live object: reset it)\n"
    "  load HEX                initialise from stream bytes in hex (spaces optional)\n"
    "  save                    save to a stream and print its bytes in hex\n"
    "  isdirty                 S_OK when changed since the last save or load, else S_FALSE\n"
    "  get NAME|DISPID         read a property\n"
    "  put NAME|DISPID VALUE [VT_I2|VT_I4|VT_R8|VT_BSTR]\n"
    "                          write a property; without a type an integer goes as VT_I4 and\n"
    "                          anything else as VT_BSTR; \"quotes\" keep spaces\n"
    "  call NAME|DISPID        call a method without arguments\n"
    "  members                 the object's members from its type information:\n"
    "                          DISPID NAME KIND TYPE\n"
    "  resources PATH          a module's resources (TYPE ID LANGUAGE SIZE) and version block\n"
    "  misc                    the miscellaneous status bits, from the registry and from the\n"
    "                          object\n"
    "  verbs                   the object's verbs: VERB ATTRIBUTES NAME\n"
    "  pages                   the class identities of the object's property pages\n"
    "  properties              run the properties verb (the property frame)\n"
    "  about                   call the object's AboutBox (DISPID -552)\n"
    "  release                 release the object\n"
    "  help                    this text\n"
    "  quit                    end (as does the end of input)\n"
    "\n"
    "Results print as \"VT_I4 888\", \"S_OK\", \"S_FALSE\" or \"error 0x80020005\".\n"
    "Empty lines and lines starting with # are ignored.\n";

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

std::string Error(HRESULT hr, const std::string& why = {}) {
    return "error " + HresultToString(hr) + (why.empty() ? "" : ": " + why);
}

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

const char* VarTypeName(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
            return "VT_EMPTY";
        case VT_NULL:
            return "VT_NULL";
        case VT_I2:
            return "VT_I2";
        case VT_I4:
            return "VT_I4";
        case VT_R4:
            return "VT_R4";
        case VT_R8:
            return "VT_R8";
        case VT_CY:
            return "VT_CY";
        case VT_DATE:
            return "VT_DATE";
        case VT_BSTR:
            return "VT_BSTR";
        case VT_DISPATCH:
            return "VT_DISPATCH";
        case VT_ERROR:
            return "VT_ERROR";
        case VT_BOOL:
            return "VT_BOOL";
        case VT_VARIANT:
            return "VT_VARIANT";
        case VT_UNKNOWN:
            return "VT_UNKNOWN";
        case VT_I1:
            return "VT_I1";
        case VT_UI1:
            return "VT_UI1";
        case VT_UI2:
            return "VT_UI2";
        case VT_UI4:
            return "VT_UI4";
        case VT_I8:
            return "VT_I8";
        case VT_UI8:
            return "VT_UI8";
        case VT_INT:
            return "VT_INT";
        case VT_UINT:
            return "VT_UINT";
        case VT_VOID:
            return "VT_VOID";
        case VT_HRESULT:
            return "VT_HRESULT";
        case VT_PTR:
            return "VT_PTR";
        case VT_USERDEFINED:
            return "VT_USERDEFINED";
        default:
            return nullptr;
    }
}

std::string TypeName(VARTYPE vt) {
    const char* name = VarTypeName(vt);
    return name ? name : "VT_" + std::to_string(vt);
}

std::string FormatVariant(const VARIANT& v) {
    char buf[64];
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return TypeName(v.vt);
        case VT_I2:
            return "VT_I2 " + std::to_string(v.iVal);
        case VT_I4:
            return "VT_I4 " + std::to_string(v.lVal);
        case VT_UI1:
            return "VT_UI1 " + std::to_string(v.bVal);
        case VT_BOOL:
            return "VT_BOOL " + std::to_string(v.boolVal);
        case VT_ERROR:
            return "VT_ERROR " + HresultToString(v.scode);
        case VT_R4:
            std::snprintf(buf, sizeof buf, "VT_R4 %.9g", v.fltVal);
            return buf;
        case VT_R8:
            std::snprintf(buf, sizeof buf, "VT_R8 %.17g", v.dblVal);
            return buf;
        case VT_BSTR:
            return "VT_BSTR " + (v.bstrVal ? OleToUtf8(v.bstrVal) : std::string());
        default:
            break;
    }
    VARIANT text;
    VariantInit(&text);
    std::string out = TypeName(v.vt);
    if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR)) && text.bstrVal)
        out += " " + OleToUtf8(text.bstrVal);
    VariantClear(&text);
    return out;
}

class Host {
public:
    ~Host() { Release(); }

    // Runs one command line; false when the host should end.
    bool Execute(const std::string& line) {
        std::string rest;
        std::string command = FirstWord(line, &rest);
        if (command.empty() || command[0] == '#') return true;
        if (command == "quit" || command == "exit") return false;
        if (command == "help")
            std::cout << kHelp;
        else if (command == "create")
            Print(Create(rest));
        else if (command == "release")
            Print(ReleaseCommand(rest));
        else if (command == "initnew")
            Print(InitNew(rest));
        else if (command == "load")
            Print(Load(rest));
        else if (command == "save")
            Print(Save(rest));
        else if (command == "isdirty")
            Print(IsDirty(rest));
        else if (command == "get")
            Print(Get(rest));
        else if (command == "put")
            Print(Put(rest));
        else if (command == "call")
            Print(Call(rest));
        else if (command == "misc")
            Print(Misc(rest));
        else if (command == "members")
            Print(Members(rest));
        else if (command == "resources")
            Print(Resources(rest));
        else if (command == "verbs")
            Print(Verbs(rest));
        else if (command == "pages")
            Print(Pages(rest));
        else if (command == "properties")
            Print(Properties(rest));
        else if (command == "about")
            Print(About(rest));
        else
            Print("error unknown command: " + command);
        return true;
    }

private:
    static void Print(const std::string& text) { std::cout << text << '\n' << std::flush; }

    static std::string NoArguments(const std::string& rest) {
        return rest.empty() ? std::string() : "error unexpected arguments: " + rest;
    }

    std::string NeedObject() const {
        return object_ ? std::string() : "error no object (use create first)";
    }

    void Release() {
        dispatch_.Reset();
        persist_.Reset();
        embedding_.Reset();
        object_.Reset();
        CoFreeUnusedLibraries();
    }

    std::string Create(const std::string& rest) {
        std::string name = FirstWord(rest, nullptr);
        if (name.empty() || name != rest) return "error create needs one PROGID or {CLSID}";
        CLSID clsid;
        if (!name.empty() && name[0] == '{') {
            if (!GuidFromString(name, &clsid)) return "error bad class identity: " + name;
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
        return "S_OK";
    }

    std::string ReleaseCommand(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedObject(); !e.empty()) return e;
        Release();
        return "S_OK";
    }

    std::string NeedPersist() const {
        if (auto e = NeedObject(); !e.empty()) return e;
        return persist_ ? std::string()
                        : Error(E_NOINTERFACE, "the object has no stream persistence");
    }

    std::string InitNew(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedPersist(); !e.empty()) return e;
        HRESULT hr = persist_->InitNew();
        return FAILED(hr) ? Error(hr) : "S_OK";
    }

    std::string Load(const std::string& rest) {
        if (auto e = NeedPersist(); !e.empty()) return e;
        std::string bytes;
        if (!ParseHex(rest, &bytes)) return "error bad hex: " + rest;
        ComPtr<IStream> stream;
        HRESULT hr = CreateStreamOnMemory(bytes.data(), static_cast<ULONG>(bytes.size()), &stream);
        if (FAILED(hr)) return Error(hr);
        hr = persist_->Load(stream.Get());
        return FAILED(hr) ? Error(hr) : "S_OK";
    }

    std::string Save(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedPersist(); !e.empty()) return e;
        ComPtr<IStream> stream;
        HRESULT hr = CreateStreamOnMemory(nullptr, 0, &stream);
        if (FAILED(hr)) return Error(hr);
        hr = persist_->Save(stream.Get(), TRUE);
        if (FAILED(hr)) return Error(hr);
        std::string bytes;
        if (!GetMemoryStreamBytes(stream.Get(), &bytes)) return Error(E_UNEXPECTED);
        return Hex(bytes);
    }

    std::string IsDirty(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedPersist(); !e.empty()) return e;
        HRESULT hr = persist_->IsDirty();
        if (hr == S_OK) return "S_OK";
        if (hr == S_FALSE) return "S_FALSE";
        return Error(hr);
    }

    std::string NeedDispatch() const {
        if (auto e = NeedObject(); !e.empty()) return e;
        return dispatch_ ? std::string() : Error(E_NOINTERFACE, "the object has no IDispatch");
    }

    // A member by DISPID (a decimal number) or by name through GetIDsOfNames.
    HRESULT Resolve(const std::string& member, DISPID* id) {
        if (member.empty()) return DISP_E_UNKNOWNNAME;
        if (ParseInt32(member, id)) return S_OK;
        std::u16string name = Utf8ToOle(member);
        LPOLESTR names[] = {name.data()};
        return dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    }

    std::string Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
        EXCEPINFO info{};
        UINT argErr = 0;
        HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result,
                                       &info, &argErr);
        std::string why;
        if (hr == DISP_E_EXCEPTION) {
            if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
            if (info.bstrDescription) why = OleToUtf8(info.bstrDescription);
            if (why.empty() && info.scode) why = HresultToString(info.scode);
        }
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return FAILED(hr) ? Error(hr, why) : std::string();
    }

    std::string Get(const std::string& rest) {
        if (auto e = NeedDispatch(); !e.empty()) return e;
        std::string extra;
        std::string member = FirstWord(rest, &extra);
        if (member.empty() || !extra.empty()) return "error get needs one NAME or DISPID";
        DISPID id;
        if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return Error(hr);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        std::string e = Invoke(id, DISPATCH_PROPERTYGET, &none, &result);
        std::string out = e.empty() ? FormatVariant(result) : e;
        VariantClear(&result);
        return out;
    }

    std::string Put(const std::string& rest) {
        if (auto e = NeedDispatch(); !e.empty()) return e;
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
        if (member.empty() || valueText.empty()) return "error put needs NAME|DISPID VALUE [TYPE]";
        bool quoted = valueText.size() >= 2 && valueText.front() == '"' && valueText.back() == '"';
        if (quoted) valueText = valueText.substr(1, valueText.size() - 2);
        DISPID id;
        if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return Error(hr);

        VARIANT arg;
        VariantInit(&arg);
        LONG number = 0;
        if (vt == VT_EMPTY) vt = !quoted && ParseInt32(valueText, &number) ? VT_I4 : VT_BSTR;
        arg.vt = VT_BSTR;
        arg.bstrVal = SysAllocString(Utf8ToOle(valueText).c_str());
        if (vt != VT_BSTR) {
            // The text becomes the asked type by the Automation rules, as a host's would.
            HRESULT hr = VariantChangeType(&arg, &arg, 0, vt);
            if (FAILED(hr)) {
                VariantClear(&arg);
                return Error(hr);
            }
        }
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&arg, &named, 1, 1};
        std::string e = Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr);
        VariantClear(&arg);
        return e.empty() ? "S_OK" : e;
    }

    std::string Call(const std::string& rest) {
        if (auto e = NeedDispatch(); !e.empty()) return e;
        std::string extra;
        std::string member = FirstWord(rest, &extra);
        if (member.empty() || !extra.empty()) return "error call needs one NAME or DISPID";
        DISPID id;
        if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return Error(hr);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        std::string e = Invoke(id, DISPATCH_METHOD, &none, &result);
        std::string out = !e.empty() ? e : result.vt == VT_EMPTY ? "S_OK" : FormatVariant(result);
        VariantClear(&result);
        return out;
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

    std::string Misc(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedObject(); !e.empty()) return e;
        std::string out;
        DWORD status = 0;
        if (RegistryMiscStatus(&status)) out = StatusLine("registry", status);
        if (embedding_) {
            HRESULT hr = embedding_->GetMiscStatus(DVASPECT_CONTENT, &status);
            if (!out.empty()) out += "\n";
            out += FAILED(hr) ? Error(hr) : StatusLine("object", status);
        }
        return out.empty() ? "error no MiscStatus for " + GuidToString(clsid_) : out;
    }

    std::string NeedEmbedding() const {
        if (auto e = NeedObject(); !e.empty()) return e;
        return embedding_ ? std::string()
                          : Error(E_NOINTERFACE, "the object offers no control embedding");
    }

    std::string Verbs(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedEmbedding(); !e.empty()) return e;
        ULONG count = 0;
        if (HRESULT hr = embedding_->GetVerbCount(&count); FAILED(hr)) return Error(hr);
        std::string out;
        for (ULONG i = 0; i < count; ++i) {
            LONG verb = 0;
            BSTR name = nullptr;
            DWORD attribs = 0;
            HRESULT hr = embedding_->GetVerb(i, &verb, &name, &attribs);
            if (!out.empty()) out += "\n";
            if (FAILED(hr)) {
                out += Error(hr);
                continue;
            }
            char head[48];
            std::snprintf(head, sizeof head, "%ld 0x%08x ", static_cast<long>(verb),
                          static_cast<unsigned>(attribs));
            out += head + (name ? OleToUtf8(name) : std::string());
            SysFreeString(name);
        }
        return out.empty() ? "no verbs" : out;
    }

    std::string Pages(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedEmbedding(); !e.empty()) return e;
        ULONG count = 0;
        if (HRESULT hr = embedding_->GetPages(0, nullptr, &count); FAILED(hr)) return Error(hr);
        std::vector<CLSID> pages(count);
        if (HRESULT hr = embedding_->GetPages(count, pages.data(), &count); FAILED(hr))
            return Error(hr);
        std::string out;
        for (ULONG i = 0; i < count && i < pages.size(); ++i)
            out += (out.empty() ? "" : "\n") + GuidToString(pages[i]);
        return out.empty() ? "no pages" : out;
    }

    std::string Properties(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedEmbedding(); !e.empty()) return e;
        HRESULT hr = embedding_->DoVerb(OLEIVERB_PROPERTIES);
        if (FAILED(hr)) return Error(hr);
        return hr == S_OK ? "S_OK" : "S_FALSE";
    }

    std::string About(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedDispatch(); !e.empty()) return e;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        std::string e = Invoke(DISPID_ABOUTBOX, DISPATCH_METHOD, &none, nullptr);
        return e.empty() ? "S_OK" : e;
    }

    static std::string MemberName(ITypeInfo* info, MEMBERID id) {
        BSTR name = nullptr;
        if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr)) || !name)
            return "?";
        std::string text = OleToUtf8(name);
        SysFreeString(name);
        return text;
    }

    std::string Members(const std::string& rest) {
        if (auto e = NoArguments(rest); !e.empty()) return e;
        if (auto e = NeedDispatch(); !e.empty()) return e;
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
                   TypeName(vt);
        };
        for (UINT i = 0; i < attr->cVars; ++i) {
            VARDESC* var = nullptr;
            if (FAILED(hr = info->GetVarDesc(i, &var)) || !var) {
                out += (out.empty() ? "" : "\n") + Error(hr);
                continue;
            }
            line(var->memid, "property", var->elemdescVar.tdesc.vt);
            info->ReleaseVarDesc(var);
        }
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* func = nullptr;
            if (FAILED(hr = info->GetFuncDesc(i, &func)) || !func) {
                out += (out.empty() ? "" : "\n") + Error(hr);
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
        return out.empty() ? "no members" : out;
    }

    static std::string Resources(const std::string& path) {
        if (path.empty()) return "error resources needs a PATH";
        std::vector<ResourceEntry> entries;
        std::string error;
        if (!ReadModuleResources(path, &entries, &error)) return "error " + error;
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
        if (!version) return out.empty() ? "no resources" : out;
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

    ComPtr<IUnknown> object_;
    ComPtr<IDispatch> dispatch_;
    ComPtr<IPersistStreamInit> persist_;
    ComPtr<IOleControlEmbedding> embedding_;
    CLSID clsid_ = GUID_NULL;
};

}  // namespace

int main(int argc, char** argv) {
    bool closeDialogs = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
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
        std::cerr << "ocxhost: unknown option " << arg << "\n" << kHelp;
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
    if (const std::string problem = RegistryProblem(); !problem.empty()) {
        std::cerr << "ocxhost: " << problem << '\n';
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
