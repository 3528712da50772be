// The standard automation library as the libraries that import it see it, for a process where
// no copy of it is registered.
#include <string>
#include <utility>
#include <vector>

#include "platform/com/typelib_objects.h"

namespace typelib {

// The standard automation library as far as libraries refer to it: IUnknown and IDispatch with
// their functions, and the records those take, described as the platform's own copy describes
// them (for a 32-bit module). A registered copy, where there is one, comes first.
LibraryData StandardOleLibrary(const ImportData& imp) {
    LibraryData lib;
    lib.guid = kStdOleGuid;
    lib.major = imp.major;
    lib.minor = imp.minor;
    lib.name = "stdole";
    lib.doc = "OLE Automation";

    auto plain = [](VARTYPE vt) { return TypeRef{vt, 0, {}}; };
    auto ptr = [](TypeRef to) { return TypeRef{VT_PTR, 0, {std::move(to)}}; };
    auto user = [](std::size_t index) { return TypeRef{VT_USERDEFINED, LocalHref(index), {}}; };
    auto in = [](std::string name, TypeRef type) {
        return ParamData{std::move(name), std::move(type), PARAMFLAG_FIN};
    };
    auto out = [](std::string name, TypeRef type) {
        return ParamData{std::move(name), std::move(type), PARAMFLAG_FOUT};
    };
    // The records, each field at its offset in a 32-bit module.
    auto record = [&](std::string name, std::uint32_t size,
                      std::vector<std::pair<std::string, TypeRef>> fields,
                      std::vector<std::int32_t> offsets) {
        TypeData t;
        t.kind = TKIND_RECORD;
        t.name = std::move(name);
        t.size = size;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            VarData v;
            v.memid = static_cast<MEMBERID>(0x40000000 + i);
            v.varkind = VAR_PERINSTANCE;
            v.name = std::move(fields[i].first);
            v.type = std::move(fields[i].second);
            v.value = offsets[i];
            t.vars.push_back(std::move(v));
        }
        lib.types.push_back(std::move(t));
    };
    enum : std::size_t { kGuid, kDispParams, kExcepInfo, kUnknown, kDispatch };
    // GUID's Data4, eight bytes in an array of fixed size, is a field this model does not
    // represent.
    record("GUID", 16,
           {{"Data1", plain(VT_UI4)}, {"Data2", plain(VT_UI2)}, {"Data3", plain(VT_UI2)}},
           {0, 4, 6});
    record("DISPPARAMS", 16,
           {{"rgvarg", ptr(plain(VT_VARIANT))},
            {"rgdispidNamedArgs", ptr(plain(VT_I4))},
            {"cArgs", plain(VT_UINT)},
            {"cNamedArgs", plain(VT_UINT)}},
           {0, 4, 8, 12});
    record("EXCEPINFO", 32,
           {{"wCode", plain(VT_UI2)},
            {"wReserved", plain(VT_UI2)},
            {"bstrSource", plain(VT_BSTR)},
            {"bstrDescription", plain(VT_BSTR)},
            {"bstrHelpFile", plain(VT_BSTR)},
            {"dwHelpContext", plain(VT_UI4)},
            {"pvReserved", ptr(plain(VT_VOID))},
            {"pfnDeferredFillIn", ptr(plain(VT_VOID))},
            {"scode", plain(VT_ERROR)}},
           {0, 2, 4, 8, 12, 16, 20, 24, 28});

    // The interfaces: every function restricted, at its slot of a 32-bit vtable, its member id
    // 0x60000000 plus the interface's depth below IUnknown (high word) and its place (low word).
    auto method = [&](TypeData* t, MEMBERID memid, std::string name, TypeRef ret,
                      std::vector<ParamData> params) {
        FuncData f;
        f.memid = memid;
        f.funckind = FUNC_PUREVIRTUAL;
        f.flags = FUNCFLAG_FRESTRICTED;
        f.vtableOffset = static_cast<SHORT>(t->vtableSize);
        t->vtableSize = static_cast<WORD>(t->vtableSize + 4);
        f.name = std::move(name);
        f.ret = std::move(ret);
        f.params = std::move(params);
        t->funcs.push_back(std::move(f));
    };
    TypeData unknown;
    unknown.kind = TKIND_INTERFACE;
    unknown.guid = kIUnknownGuid;
    unknown.name = "IUnknown";
    unknown.flags = TYPEFLAG_FHIDDEN;
    method(&unknown, 0x60000000, "QueryInterface", plain(VT_HRESULT),
           {in("riid", ptr(user(kGuid))), out("ppvObj", ptr(ptr(plain(VT_VOID))))});
    method(&unknown, 0x60000001, "AddRef", plain(VT_UI4), {});
    method(&unknown, 0x60000002, "Release", plain(VT_UI4), {});

    TypeData dispatch;
    dispatch.kind = TKIND_INTERFACE;
    dispatch.guid = kIDispatchGuid;
    dispatch.name = "IDispatch";
    dispatch.flags = TYPEFLAG_FRESTRICTED;
    dispatch.impls.push_back({LocalHref(kUnknown), 0});
    dispatch.vtableSize = unknown.vtableSize;
    method(&dispatch, 0x60010000, "GetTypeInfoCount", plain(VT_HRESULT),
           {out("pctinfo", ptr(plain(VT_UINT)))});
    method(&dispatch, 0x60010001, "GetTypeInfo", plain(VT_HRESULT),
           {in("itinfo", plain(VT_UINT)), in("lcid", plain(VT_UI4)),
            out("pptinfo", ptr(ptr(plain(VT_VOID))))});
    method(&dispatch, 0x60010002, "GetIDsOfNames", plain(VT_HRESULT),
           {in("riid", ptr(user(kGuid))), in("rgszNames", ptr(ptr(plain(VT_I1)))),
            in("cNames", plain(VT_UINT)), in("lcid", plain(VT_UI4)),
            out("rgdispid", ptr(plain(VT_I4)))});
    method(&dispatch, 0x60010003, "Invoke", plain(VT_HRESULT),
           {in("dispidMember", plain(VT_I4)), in("riid", ptr(user(kGuid))),
            in("lcid", plain(VT_UI4)), in("wFlags", plain(VT_UI2)),
            in("pdispparams", ptr(user(kDispParams))), out("pvarResult", ptr(plain(VT_VARIANT))),
            out("pexcepinfo", ptr(user(kExcepInfo))), out("puArgErr", ptr(plain(VT_UINT)))});
    lib.types.push_back(std::move(unknown));
    lib.types.push_back(std::move(dispatch));
    return lib;
}

}  // namespace typelib
