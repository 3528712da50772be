// The rules a type library keeps beyond its layout, checked before writing and after reading.
#include <map>
#include <set>

#include "platform/com/typelib_format.h"
#include "platform/com/typelib_layout.h"

namespace typelib {
namespace {

using namespace layout;

bool HrefValid(const LibraryData& lib, HREFTYPE href) {
    if (IsImportedHref(href)) return (href - 1) / 12 < lib.refs.size();
    return href % kTypeInfoRecordSize == 0 && href / kTypeInfoRecordSize < lib.types.size();
}

base::Result<> CheckTypeRef(const LibraryData& lib, const TypeRef& t, int depth,
                            const std::string& what) {
    if (depth > kMaxTypeDepth) return base::Fail(what + ": type nested too deeply");
    if (t.vt == VT_PTR || t.vt == kVtSafeArray) {
        if (t.pointee.size() != 1) return base::Fail(what + ": pointer without its type");
        return CheckTypeRef(lib, t.pointee[0], depth + 1, what);
    }
    if (!t.pointee.empty()) return base::Fail(what + ": only pointers point at a type");
    if (t.vt == VT_USERDEFINED) {
        if (!HrefValid(lib, t.hreftype))
            return base::Fail(what + ": refers to a type outside the library");
        return {};
    }
    if (!IsPlainVt(t.vt)) return base::Fail(what + ": bad type");
    return {};
}

}  // namespace

base::Result<> ValidateTypeLibrary(const LibraryData& lib) {
    if (lib.name.empty()) return base::Fail("the library has no name");
    if (lib.syskind > SYS_WIN64) return base::Fail("bad system kind");
    for (const ImportData& imp : lib.imports)
        if (imp.name.empty()) return base::Fail("an imported library has no file name");
    for (const ImportedRef& ref : lib.refs) {
        if (ref.import >= lib.imports.size())
            return base::Fail("an imported type refers to no imported library");
        if (ref.kind < TKIND_ENUM || ref.kind >= TKIND_MAX)
            return base::Fail("an imported type has a bad kind");
    }
    std::set<std::string> guids;
    for (const TypeData& t : lib.types) {
        if (t.name.empty()) return base::Fail("a type has no name");
        const std::string where = Where(t);
        if (t.kind < TKIND_ENUM || t.kind >= TKIND_MAX || t.kind == TKIND_MODULE)
            return base::Fail(where + ": bad kind");
        std::string key(reinterpret_cast<const char*>(&t.guid), sizeof(GUID));
        if (t.guid != GUID_NULL && !guids.insert(key).second)
            return base::Fail(where + ": its GUID is taken by another type");
        if (t.kind == TKIND_ALIAS) {
            if (auto check = CheckTypeRef(lib, t.alias, 0, where); !check) return check.error();
        }
        std::map<MEMBERID, unsigned> kinds;  // member id -> invoke kinds taken
        for (const FuncData& f : t.funcs) {
            const std::string what = where + " member " + f.name;
            if (f.name.empty()) return base::Fail(where + ": a function has no name");
            if ((f.invkind != INVOKE_FUNC && f.invkind != INVOKE_PROPERTYGET &&
                 f.invkind != INVOKE_PROPERTYPUT && f.invkind != INVOKE_PROPERTYPUTREF) ||
                f.funckind < FUNC_VIRTUAL || f.funckind > FUNC_DISPATCH ||
                f.callconv < CC_FASTCALL || f.callconv >= CC_MAX) {
                return base::Fail(what + ": bad kind");
            }
            unsigned& taken = kinds[f.memid];
            if (taken & f.invkind)
                return base::Fail(what + ": member id " + std::to_string(f.memid) + " used twice");
            taken |= f.invkind;
            if (auto check = CheckTypeRef(lib, f.ret, 0, what); !check) return check.error();
            if (f.params.size() > 0x7FFF) return base::Fail(what + ": too many parameters");
            for (const ParamData& p : f.params)
                if (auto check = CheckTypeRef(lib, p.type, 0, what); !check) return check.error();
        }
        for (const VarData& v : t.vars) {
            const std::string what = where + " member " + v.name;
            if (v.name.empty()) return base::Fail(where + ": a variable has no name");
            if (v.varkind < VAR_PERINSTANCE || v.varkind > VAR_DISPATCH)
                return base::Fail(what + ": bad kind");
            unsigned& taken = kinds[v.memid];
            if (taken != 0)
                return base::Fail(what + ": member id " + std::to_string(v.memid) + " used twice");
            taken = 0xF;  // a variable answers every kind of access
            if (auto check = CheckTypeRef(lib, v.type, 0, what); !check) return check.error();
        }
        if (!t.impls.empty() && t.kind != TKIND_COCLASS && t.kind != TKIND_DISPATCH &&
            t.kind != TKIND_INTERFACE)
            return base::Fail(where + ": only interfaces and classes implement types");
        if (t.kind != TKIND_COCLASS && t.impls.size() > 1)
            return base::Fail(where + ": only a coclass implements several interfaces");
        if (IsDual(t)) {
            if (t.impls.size() != 1 || !HrefValid(lib, t.dualBase))
                return base::Fail(where + ": a dual interface derives from no interface");
            // Its dispatch view gives each function's return value in place of the last
            // parameter, which must then be a pointer to it.
            for (const FuncData& f : t.funcs)
                if (!f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL) &&
                    f.params.back().type.vt != VT_PTR)
                    return base::Fail(where + " member " + f.name +
                                      ": a return value that is not a pointer");
        }
        for (const ImplData& impl : t.impls)
            if (!HrefValid(lib, impl.type))
                return base::Fail(where + ": implements a type outside the library");
    }
    return {};
}

}  // namespace typelib
