// Automation: reading and writing properties and calling methods through IDispatch, by name
// or DISPID, and the members the type information lists.
#include <string>
#include <vector>

#include "platform/com/com_holders.h"
#include "platform/com/typelib.h"
#include "platform/com/variant_format.h"
#include "tools/ocxhost/host.h"

namespace ocxhost {

Check Host::NeedDispatch() const {
    if (auto c = NeedObject(); !c) return c;
    if (dispatch_) return {};
    return Error(E_NOINTERFACE, "the object has no IDispatch");
}

// A member by DISPID (a decimal number) or by name through GetIDsOfNames.
HRESULT Host::Resolve(const std::string& member, DISPID* id) {
    if (member.empty()) return DISP_E_UNKNOWNNAME;
    if (ParseInt32(member, id)) return S_OK;
    std::u16string name = Utf8ToOle(member);
    LPOLESTR names[] = {name.data()};
    return dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

// A member the object does not know by that name says which name.
base::Error Host::UnknownMember(HRESULT hr, const std::string& member) {
    return Error(hr, hr == DISP_E_UNKNOWNNAME ? "the object has no member named " + member : "");
}

Check Host::Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    EXCEPINFO info{};
    UINT argErr = 0;
    HRESULT hr =
        dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &info, &argErr);
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

Outcome Host::Get(const std::string& rest) {
    if (auto c = NeedDispatch(); !c) return c.error();
    std::string extra;
    std::string member = FirstWord(rest, &extra);
    if (member.empty() || !extra.empty()) return Refuse("get needs one NAME or DISPID");
    DISPID id;
    if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return UnknownMember(hr, member);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    CComVariant result;
    if (auto c = Invoke(id, DISPATCH_PROPERTYGET, &none, &result); !c) return c.error();
    return FormatVariant(result);
}

Outcome Host::Put(const std::string& rest) {
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
    if (member.empty() || valueText.empty()) return Refuse("put needs NAME|DISPID VALUE [TYPE]");
    bool quoted = valueText.size() >= 2 && valueText.front() == '"' && valueText.back() == '"';
    if (quoted) valueText = valueText.substr(1, valueText.size() - 2);
    DISPID id;
    if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return UnknownMember(hr, member);

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

Outcome Host::Call(const std::string& rest) {
    if (auto c = NeedDispatch(); !c) return c.error();
    std::string extra;
    std::string member = FirstWord(rest, &extra);
    if (member.empty() || !extra.empty()) return Refuse("call needs one NAME or DISPID");
    DISPID id;
    if (HRESULT hr = Resolve(member, &id); FAILED(hr)) return UnknownMember(hr, member);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    CComVariant result;
    if (auto c = Invoke(id, DISPATCH_METHOD, &none, &result); !c) return c.error();
    return result.vt == VT_EMPTY ? std::string("S_OK") : FormatVariant(result);
}

Outcome Host::About(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedDispatch(); !c) return c.error();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (auto c = Invoke(DISPID_ABOUTBOX, DISPATCH_METHOD, &none, nullptr); !c) return c.error();
    return std::string("S_OK");
}

std::string Host::MemberName(ITypeInfo* info, MEMBERID id) {
    CComBSTR name;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr)) || !name) return "?";
    return OleToUtf8(name);
}

Outcome Host::Members(const std::string& rest) {
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

}  // namespace ocxhost
