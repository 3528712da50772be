// Reading and writing our binary type-library format (layout in typelib_format.h).
#include "platform/com/typelib_format.h"

#include <map>
#include <set>

#include "platform/com/le_bytes.h"

namespace typelib {
namespace {

bool IsUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i <= n) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

std::string Where(const TypeData& t) { return "type " + (t.name.empty() ? "?" : t.name); }

// A kind read from a file becomes its enumeration only when the enumeration declares that value
// or one below it: holding any other value in it would be undefined. False leaves *out alone.
template <typename Enum>
bool ToKind(unsigned raw, Enum last, Enum* out) {
    if (raw > static_cast<unsigned>(last)) return false;
    *out = static_cast<Enum>(raw);
    return true;
}

base::Result<> CheckName(const std::string& name, const std::string& what) {
    if (name.empty()) return base::Fail(what + " has no name");
    return {};
}

base::Result<> CheckText(const std::string& text, const std::string& what) {
    if (!IsUtf8(text)) return base::Fail(what + ": text is not UTF-8");
    return {};
}

base::Result<> CheckTypeRef(const TypeRef& t, std::size_t typeCount, int depth,
                            const std::string& what) {
    if (depth > kMaxTypeDepth) return base::Fail(what + ": type nested too deeply");
    if (t.vt == VT_PTR || t.vt == 27 /* VT_SAFEARRAY */) {
        if (t.pointee.size() != 1) return base::Fail(what + ": pointer without its type");
        return CheckTypeRef(t.pointee[0], typeCount, depth + 1, what);
    }
    if (!t.pointee.empty()) return base::Fail(what + ": only pointers point at a type");
    if (t.vt == VT_USERDEFINED && t.hreftype >= typeCount)
        return base::Fail(what + ": refers to a type outside the library");
    if ((t.vt & 0xF000) != 0) return base::Fail(what + ": bad type");
    return {};
}

void WriteTypeRef(lebytes::Writer& w, const TypeRef& t) {
    w.U16(t.vt);
    if (t.vt == VT_PTR || t.vt == 27) {
        if (t.pointee.size() == 1)
            WriteTypeRef(w, t.pointee[0]);
        else
            w.Fail();
    } else if (t.vt == VT_USERDEFINED) {
        w.U32(t.hreftype);
    }
}

bool ReadTypeRef(lebytes::Reader& r, TypeRef* t, int depth) {
    if (depth > kMaxTypeDepth) return false;
    t->vt = r.U16();
    if (t->vt == VT_PTR || t->vt == 27) {
        t->pointee.resize(1);
        return ReadTypeRef(r, &t->pointee[0], depth + 1);
    }
    if (t->vt == VT_USERDEFINED) t->hreftype = r.U32();
    return r.ok();
}

base::Result<> Validate(const LibraryData& lib) {
    if (auto check = CheckName(lib.name, "the library"); !check) return check.error();
    if (auto check = CheckText(lib.name + lib.doc + lib.helpFile, "the library"); !check)
        return check.error();
    if (lib.syskind > SYS_WIN64) return base::Fail("bad system kind");
    for (const ImportData& imp : lib.imports) {
        if (auto check = CheckName(imp.name, "an imported library"); !check) return check.error();
        if (auto check = CheckText(imp.name, "imported library"); !check) return check.error();
    }
    const std::size_t n = lib.types.size();
    std::set<std::string> guids;
    for (const TypeData& t : lib.types) {
        if (auto check = CheckName(t.name, "a type"); !check) return check.error();
        const std::string where = Where(t);
        if (auto check = CheckText(t.name + t.doc, where); !check) return check.error();
        if (t.kind < TKIND_ENUM || t.kind >= TKIND_MAX) return base::Fail(where + ": bad kind");
        std::string key(reinterpret_cast<const char*>(&t.guid), sizeof(GUID));
        if (t.guid != GUID_NULL && !guids.insert(key).second)
            return base::Fail(where + ": its GUID is taken by another type");
        std::map<MEMBERID, unsigned> kinds;  // member id -> invoke kinds taken
        for (const FuncData& f : t.funcs) {
            const std::string what = where + " member " + f.name;
            if (auto check = CheckName(f.name, where + ": a function"); !check)
                return check.error();
            if (auto check = CheckText(f.name + f.doc, what); !check) return check.error();
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
            if (auto check = CheckTypeRef(f.ret, n, 0, what); !check) return check.error();
            if (f.params.size() > 0x7FFF) return base::Fail(what + ": too many parameters");
            for (const ParamData& p : f.params) {
                if (auto check = CheckName(p.name, what + ": a parameter"); !check)
                    return check.error();
                if (auto check = CheckText(p.name, what); !check) return check.error();
                if (auto check = CheckTypeRef(p.type, n, 0, what); !check) return check.error();
            }
        }
        for (const VarData& v : t.vars) {
            const std::string what = where + " member " + v.name;
            if (auto check = CheckName(v.name, where + ": a variable"); !check)
                return check.error();
            if (auto check = CheckText(v.name + v.doc, what); !check) return check.error();
            if (v.varkind < VAR_PERINSTANCE || v.varkind > VAR_DISPATCH)
                return base::Fail(what + ": bad kind");
            unsigned& taken = kinds[v.memid];
            if (taken != 0)
                return base::Fail(what + ": member id " + std::to_string(v.memid) + " used twice");
            taken = 0xF;  // a variable answers every kind of access
            if (auto check = CheckTypeRef(v.type, n, 0, what); !check) return check.error();
        }
        for (const ImplData& impl : t.impls) {
            if (impl.type >= n)
                return base::Fail(where + ": implements a type outside the library");
        }
    }
    return {};
}

base::Result<std::string> Serialize(const LibraryData& lib) {
    if (auto valid = Validate(lib); !valid) return valid.error();
    lebytes::Writer w;
    w.Bytes(std::string_view(kTypeLibMagic, kTypeLibMagicSize));
    w.U16(kFormatVersion);
    w.Guid(lib.guid);
    w.U16(lib.major);
    w.U16(lib.minor);
    w.U32(lib.lcid);
    w.U16(static_cast<WORD>(lib.syskind));
    w.U16(lib.flags);
    w.Str(lib.name);
    w.Str(lib.doc);
    w.Str(lib.helpFile);
    w.U32(lib.helpContext);
    w.Count16(lib.imports.size());
    for (const ImportData& imp : lib.imports) {
        w.Str(imp.name);
        w.Guid(imp.guid);
        w.U16(imp.major);
        w.U16(imp.minor);
    }
    w.Count16(lib.types.size());
    for (const TypeData& t : lib.types) {
        w.U8(static_cast<std::uint8_t>(t.kind));
        w.U16(t.flags);
        w.Guid(t.guid);
        w.Str(t.name);
        w.Str(t.doc);
        w.U32(t.helpContext);
        w.U16(t.major);
        w.U16(t.minor);
        w.Count16(t.funcs.size());
        for (const FuncData& f : t.funcs) {
            w.I32(f.memid);
            w.U8(static_cast<std::uint8_t>(f.invkind));
            w.U8(static_cast<std::uint8_t>(f.funckind));
            w.U8(static_cast<std::uint8_t>(f.callconv));
            w.U16(f.flags);
            w.Str(f.name);
            w.Str(f.doc);
            w.U32(f.helpContext);
            WriteTypeRef(w, f.ret);
            w.Count16(f.params.size());
            for (const ParamData& p : f.params) {
                w.Str(p.name);
                WriteTypeRef(w, p.type);
                w.U16(p.flags);
            }
        }
        w.Count16(t.vars.size());
        for (const VarData& v : t.vars) {
            w.I32(v.memid);
            w.U8(static_cast<std::uint8_t>(v.varkind));
            w.U16(v.flags);
            w.Str(v.name);
            w.Str(v.doc);
            w.U32(v.helpContext);
            WriteTypeRef(w, v.type);
        }
        w.Count16(t.impls.size());
        for (const ImplData& impl : t.impls) {
            w.U32(impl.type);
            w.I32(impl.flags);
        }
    }
    if (w.failed())
        return base::Fail("the library is too large for the format (a text or a list over 65535)");
    return std::move(w.str());
}

base::Result<LibraryData> Parse(std::string_view bytes) {
    lebytes::Reader r(bytes);
    if (r.Bytes(kTypeLibMagicSize) != std::string_view(kTypeLibMagic, kTypeLibMagicSize))
        return base::Fail("not a type library (bad signature)");
    if (WORD version = r.U16(); version != kFormatVersion)
        return base::Fail(r.ok() ? "unsupported type library format " + std::to_string(version)
                                 : "type library truncated");
    const std::string truncated = "type library truncated";
    LibraryData lib;
    lib.guid = r.Guid();
    lib.major = r.U16();
    lib.minor = r.U16();
    lib.lcid = r.U32();
    if (!ToKind(r.U16(), SYS_WIN64, &lib.syskind))
        return base::Fail(r.ok() ? "bad system kind" : "type library truncated");
    lib.flags = r.U16();
    lib.name = r.Str();
    lib.doc = r.Str();
    lib.helpFile = r.Str();
    lib.helpContext = r.U32();
    WORD importCount = r.U16();
    // Smallest encodings: an import 2+16+4 bytes, a type 1+2+16+2+2+4+4+6, a function
    // 4+3+2+2+2+4+2+2, a parameter 2+2+2, a variable 4+1+2+2+2+4+2, an implemented type 8.
    if (!r.CanHold(importCount, 22)) return base::Fail(truncated);
    lib.imports.resize(importCount);
    for (ImportData& imp : lib.imports) {
        imp.name = r.Str();
        imp.guid = r.Guid();
        imp.major = r.U16();
        imp.minor = r.U16();
    }
    WORD typeCount = r.U16();
    if (!r.CanHold(typeCount, 37)) return base::Fail(truncated);
    lib.types.resize(typeCount);
    for (TypeData& t : lib.types) {
        const unsigned kind = r.U8();
        t.flags = r.U16();
        t.guid = r.Guid();
        t.name = r.Str();
        if (!ToKind(kind, TKIND_MAX, &t.kind)) {  // TKIND_MAX itself is refused when validated
            return base::Fail(r.ok() ? Where(t) + ": bad kind" : truncated);
        }
        t.doc = r.Str();
        t.helpContext = r.U32();
        t.major = r.U16();
        t.minor = r.U16();
        WORD funcCount = r.U16();
        if (!r.CanHold(funcCount, 21)) return base::Fail(truncated);
        t.funcs.resize(funcCount);
        for (FuncData& f : t.funcs) {
            f.memid = r.I32();
            const unsigned invkind = r.U8(), funckind = r.U8(), callconv = r.U8();
            f.flags = r.U16();
            f.name = r.Str();
            if (!ToKind(invkind, INVOKE_PROPERTYPUTREF, &f.invkind) ||
                !ToKind(funckind, FUNC_DISPATCH, &f.funckind) ||
                !ToKind(callconv, CC_MAX, &f.callconv)) {
                return base::Fail(r.ok() ? Where(t) + " member " + f.name + ": bad kind"
                                         : truncated);
            }
            f.doc = r.Str();
            f.helpContext = r.U32();
            if (!ReadTypeRef(r, &f.ret, 0))
                return base::Fail(r.ok() ? "type nested too deeply" : truncated);
            WORD paramCount = r.U16();
            if (!r.CanHold(paramCount, 6)) return base::Fail(truncated);
            f.params.resize(paramCount);
            for (ParamData& p : f.params) {
                p.name = r.Str();
                if (!ReadTypeRef(r, &p.type, 0))
                    return base::Fail(r.ok() ? "type nested too deeply" : truncated);
                p.flags = r.U16();
            }
        }
        WORD varCount = r.U16();
        if (!r.CanHold(varCount, 17)) return base::Fail(truncated);
        t.vars.resize(varCount);
        for (VarData& v : t.vars) {
            v.memid = r.I32();
            const unsigned varkind = r.U8();
            v.flags = r.U16();
            v.name = r.Str();
            if (!ToKind(varkind, VAR_DISPATCH, &v.varkind))
                return base::Fail(r.ok() ? Where(t) + " member " + v.name + ": bad kind"
                                         : truncated);
            v.doc = r.Str();
            v.helpContext = r.U32();
            if (!ReadTypeRef(r, &v.type, 0))
                return base::Fail(r.ok() ? "type nested too deeply" : truncated);
        }
        WORD implCount = r.U16();
        if (!r.CanHold(implCount, 8)) return base::Fail(truncated);
        t.impls.resize(implCount);
        for (ImplData& impl : t.impls) {
            impl.type = r.U32();
            impl.flags = r.I32();
        }
        if (!r.ok()) return base::Fail(truncated);
    }
    if (!r.ok()) return base::Fail(truncated);
    if (!r.AtEnd()) return base::Fail("trailing bytes after the type library");
    if (auto valid = Validate(lib); !valid) return valid.error();
    return lib;
}

}  // namespace

base::Result<> ValidateTypeLibrary(const LibraryData& lib) { return Validate(lib); }

base::Result<std::string> SerializeTypeLibrary(const LibraryData& lib) { return Serialize(lib); }

base::Result<LibraryData> ParseTypeLibrary(std::string_view bytes) { return Parse(bytes); }

}  // namespace typelib
