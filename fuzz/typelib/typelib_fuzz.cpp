// The type-library reader on arbitrary bytes: a library that parses and fits the writer is written
// to bytes that read back to a library the writer writes the same way, and every member reachable
// through ITypeLib and ITypeInfo, a dual interface's two views included, can be asked for
// (references may fail to resolve, never crash).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/com/typelib.h"
#include "platform/com/typelib_format.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Walk(ITypeInfo* info, bool otherView = false) {
    TYPEATTR* attr = nullptr;
    Check(info->GetTypeAttr(&attr) == S_OK);
    // A dual interface's other view answers as fully, and leads back.
    if (!otherView && attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> other, back;
        Check(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref) == S_OK);
        Check(info->GetRefTypeInfo(ref, &other) == S_OK);
        Walk(other.Get(), true);
        Check(other->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref) == S_OK);
        Check(other->GetRefTypeInfo(ref, &back) == S_OK && back.Get() == info);
    }
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        Check(info->GetFuncDesc(i, &f) == S_OK);
        BSTR names[4] = {};
        UINT count = 0;
        if (SUCCEEDED(info->GetNames(f->memid, names, 4, &count)))
            for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);
        for (SHORT p = 0; p < f->cParams; ++p) {
            const TYPEDESC* t = &f->lprgelemdescParam[p].tdesc;
            while (t->vt == VT_PTR || t->vt == 27) t = t->lptdesc;
            ComPtr<ITypeInfo> target;
            if (t->vt == VT_USERDEFINED) info->GetRefTypeInfo(t->hreftype, &target);
        }
        info->ReleaseFuncDesc(f);
    }
    for (UINT i = 0; i < attr->cVars; ++i) {
        VARDESC* v = nullptr;
        Check(info->GetVarDesc(i, &v) == S_OK);
        BSTR name = nullptr, doc = nullptr;
        Check(info->GetDocumentation(v->memid, &name, &doc, nullptr, nullptr) == S_OK);
        SysFreeString(name);
        SysFreeString(doc);
        info->ReleaseVarDesc(v);
    }
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        Check(info->GetRefTypeOfImplType(i, &ref) == S_OK);
        ComPtr<ITypeInfo> target;
        if (SUCCEEDED(info->GetRefTypeInfo(ref, &target))) {
            TYPEATTR* other = nullptr;
            Check(target->GetTypeAttr(&other) == S_OK);
            target->ReleaseTypeAttr(other);
        }
    }
    info->ReleaseTypeAttr(attr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (const auto parsed = typelib::ParseTypeLibrary(input)) {
        if (const auto written = typelib::SerializeTypeLibrary(*parsed)) {
            const auto reread = typelib::ParseTypeLibrary(*written);
            Check(reread.ok());
            const auto again = typelib::SerializeTypeLibrary(*reread);
            Check(again && *again == *written);
        }
    }
    ComPtr<ITypeLib> lib;
    if (SUCCEEDED(LoadTypeLibFromMemory(input, &lib))) {
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> info;
            Check(lib->GetTypeInfo(i, &info) == S_OK);
            Walk(info.Get());
        }
    }
    return 0;
}
