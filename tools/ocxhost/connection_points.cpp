// Connection points: the object's event interfaces, ocxhost's sink advised on the default one,
// and the class information that names it.
#include <memory>
#include <string>

#include "platform/com/com_holders.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/typelib.h"
#include "platform/com/utf.h"
#include "platform/com/variant_format.h"
#include "tools/ocxhost/host.h"

namespace ocxhost {

// The connection point a host advises: the default source interface's, else the first one.
HRESULT Host::EventPoint(ComPtr<IConnectionPoint>* point) const {
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

Outcome Host::ConnPoints(const std::string& rest) {
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

Outcome Host::Advise(const std::string& rest) {
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

Outcome Host::Unadvise(const std::string& rest) {
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

Outcome Host::ClassInfo(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedObject(); !c) return c.error();
    ComPtr<IProvideClassInfo> provider;
    HRESULT hr = object_.As(IID_IProvideClassInfo, std::addressof(provider));
    if (FAILED(hr)) return Error(hr, "the object gives no class information");
    ComPtr<ITypeInfo> info;
    if (FAILED(hr = provider->GetClassInfo(&info))) return Error(hr, TakeErrorInfoText());
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

}  // namespace ocxhost
