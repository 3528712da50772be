// Reading and writing the platform's binary type-library format (layout in typelib_format.h).
#include "platform/com/typelib_format.h"

#include <map>
#include <set>

namespace typelib {
namespace {

constexpr std::int32_t kMagic = 0x5446534D;  // "MSFT"
constexpr std::int32_t kMagic2 = 0x00010002;
constexpr std::size_t kHeaderSize = 0x54;
constexpr std::size_t kSegments = 15;
constexpr std::int32_t kHelpDllFlag = 0x100;
constexpr std::int32_t kHasHelpFile = 0x10;
constexpr std::int32_t kImpInfoByGuid = 0x10000;
constexpr std::int32_t kFuncHasDefaults = 0x1000;
constexpr VARTYPE kTypeMask = 0x0FFF;
constexpr VARTYPE kVtSafeArray = 27;
constexpr VARTYPE kVtCArray = 28;

enum Segment {
    kTypeInfoSeg = 0,
    kImpInfoSeg,
    kImpFilesSeg,
    kRefSeg,
    kGuidHashSeg,
    kGuidSeg,
    kNameHashSeg,
    kNameSeg,
    kStringSeg,
    kTypeDescSeg,
    kArrayDescSeg,
    kCustDataSeg,
    kCustGuidSeg,
};

// ------------------------------------------------------------------ text

// Text in a library is in the platform's ANSI code page (Windows-1252 for the locales we write).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string AnsiToUtf8(std::string_view text) {
    std::string out;
    for (char ch : text) {
        unsigned c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c < 0xA0) c = kCp1252High[c - 0x80];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// What we write is plain printable ASCII, the same in every code page.
bool IsPlainText(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The name hash the platform's loaders use for their lookups (its LHashValOfNameSys over the
// Western code page: ASCII letters without regard to case).
std::uint32_t NameHash(std::string_view name) {
    std::uint32_t h = 0x0DEADBEE;
    for (char ch : name) {
        unsigned c = static_cast<unsigned char>(ch);
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        h = 37 * h + c;
    }
    return (h % 65599) & 0xFFFF;
}

int GuidHash(const GUID& g) {
    const std::uint16_t parts[8] = {static_cast<std::uint16_t>(g.Data1),
                                    static_cast<std::uint16_t>(g.Data1 >> 16),
                                    g.Data2,
                                    g.Data3,
                                    static_cast<std::uint16_t>(g.Data4[0] | g.Data4[1] << 8),
                                    static_cast<std::uint16_t>(g.Data4[2] | g.Data4[3] << 8),
                                    static_cast<std::uint16_t>(g.Data4[4] | g.Data4[5] << 8),
                                    static_cast<std::uint16_t>(g.Data4[6] | g.Data4[7] << 8)};
    unsigned h = 0;
    for (std::uint16_t p : parts) h ^= p;
    return static_cast<int>(h & 0x1F);
}

bool IsPlainVt(VARTYPE vt) {
    return vt != VT_PTR && vt != kVtSafeArray && vt != kVtCArray && vt != VT_USERDEFINED &&
           vt <= VT_UINT + 12;  // up to VT_LPWSTR and the record types around it
}

// ------------------------------------------------------------------ validation

std::string Where(const TypeData& t) { return "type " + (t.name.empty() ? "?" : t.name); }

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

base::Result<> Validate(const LibraryData& lib) {
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

// ------------------------------------------------------------------ reading

class Image {
public:
    explicit Image(std::string_view data) : d_(data) {}
    bool Has(std::int64_t off, std::int64_t n) const {
        return off >= 0 && n >= 0 && static_cast<std::uint64_t>(off + n) <= d_.size();
    }
    std::int32_t I32(std::int64_t off) const {
        if (!Has(off, 4)) return 0;
        const auto* p = reinterpret_cast<const unsigned char*>(d_.data() + off);
        return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 |
                                         static_cast<std::uint32_t>(p[3]) << 24);
    }
    std::int16_t I16(std::int64_t off) const {
        if (!Has(off, 2)) return 0;
        const auto* p = reinterpret_cast<const unsigned char*>(d_.data() + off);
        return static_cast<std::int16_t>(p[0] | p[1] << 8);
    }
    std::string_view Bytes(std::int64_t off, std::int64_t n) const {
        if (!Has(off, n)) return {};
        return d_.substr(static_cast<std::size_t>(off), static_cast<std::size_t>(n));
    }
    GUID Guid(std::int64_t off) const {
        GUID g{};
        if (!Has(off, 16)) return g;
        g.Data1 = static_cast<DWORD>(I32(off));
        g.Data2 = static_cast<WORD>(I16(off + 4));
        g.Data3 = static_cast<WORD>(I16(off + 6));
        for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(Bytes(off + 8 + i, 1)[0]);
        return g;
    }
    std::size_t size() const { return d_.size(); }

private:
    std::string_view d_;
};

struct Seg {
    std::int32_t offset = -1;
    std::int32_t length = 0;
    // Whether n bytes at this offset inside the segment are there.
    bool Holds(std::int64_t at, std::int64_t n) const {
        return offset >= 0 && at >= 0 && n >= 0 && at + n <= length;
    }
};

// A malformed library: the message says where; unsupported is set for well-formed content the
// loader does not represent.
struct ParseError {
    std::string message;
    bool unsupported = false;
};

class Parser {
public:
    explicit Parser(std::string_view bytes) : img_(bytes) {}

    LibraryData Parse() {
        if (!img_.Has(0, kHeaderSize) || img_.I32(0) != kMagic)
            Fail("not a type library (bad signature)");
        const std::int32_t varflags = img_.I32(0x14);
        const std::int32_t count = img_.I32(0x20);
        if (count < 0 || count > 0xFFFF) Fail("bad number of types");
        std::int64_t dir = kHeaderSize + (varflags & kHelpDllFlag ? 4 : 0) + 4LL * count;
        if (!img_.Has(dir, kSegments * 16)) Fail("type library truncated");
        for (std::size_t i = 0; i < kSegments; ++i) {
            Seg& s = segs_[i];
            s.offset = img_.I32(dir + 16 * i);
            s.length = img_.I32(dir + 16 * i + 4);
            if (s.offset == -1) {
                s.length = 0;
                continue;
            }
            if (s.length < 0 || !img_.Has(s.offset, s.length))
                Fail("a segment lies outside the library");
        }
        if (img_.I32(dir + 12) != 0x0F || img_.I32(dir + 16 + 12) != 0x0F)
            Fail("no segment directory");

        LibraryData lib;
        lib.guid = Guid(img_.I32(0x08));
        // The library's own locale is the second of the header's two: the platform's compilers
        // put their own system locale in the first.
        lib.lcid = static_cast<LCID>(img_.I32(0x10));
        if ((varflags & 0x0F) > SYS_WIN64) Fail("bad system kind");
        lib.syskind = static_cast<SYSKIND>(varflags & 0x0F);
        const std::int32_t version = img_.I32(0x18);
        lib.major = static_cast<WORD>(version);
        lib.minor = static_cast<WORD>(version >> 16);
        lib.flags = static_cast<WORD>(img_.I32(0x1C));
        lib.doc = String(img_.I32(0x24));
        // The library's help context is read where the platform's loader reads it.
        lib.helpContext = static_cast<DWORD>(img_.I32(0x28));
        lib.name = Name(img_.I32(0x38));
        lib.helpFile = String(img_.I32(0x3C));
        dispatchHref_ = img_.I32(0x4C);

        ReadImports(&lib);
        lib.types.resize(static_cast<std::size_t>(count));
        for (std::int32_t i = 0; i < count; ++i) ReadType(i, &lib.types[i]);
        if (auto valid = Validate(lib); !valid) Fail(valid.message());
        return lib;
    }

private:
    [[noreturn]] static void Fail(std::string message) { throw ParseError{std::move(message)}; }
    [[noreturn]] static void Unsupported(std::string message) {
        throw ParseError{std::move(message), true};
    }

    std::string Name(std::int32_t off) {
        const Seg& s = segs_[kNameSeg];
        if (!s.Holds(off, 12)) Fail("a name lies outside the name table");
        const std::int32_t length = img_.I32(s.offset + off + 8) & 0xFF;
        if (length == 0 || !s.Holds(off + 12, length)) Fail("a name lies outside the name table");
        std::string_view text = img_.Bytes(s.offset + off + 12, length);
        if (text.find('\0') != std::string_view::npos) Fail("a name holds a NUL");
        return AnsiToUtf8(text);
    }
    // -1 is no string.
    std::string String(std::int32_t off) {
        if (off == -1) return {};
        const Seg& s = segs_[kStringSeg];
        if (!s.Holds(off, 2)) Fail("a string lies outside the string table");
        const std::int32_t length = static_cast<std::uint16_t>(img_.I16(s.offset + off));
        if (!s.Holds(off + 2, length)) Fail("a string lies outside the string table");
        std::string_view text = img_.Bytes(s.offset + off + 2, length);
        return AnsiToUtf8(text.substr(0, text.find('\0')));
    }
    GUID Guid(std::int32_t off) {
        if (off == -1) return GUID_NULL;
        const Seg& s = segs_[kGuidSeg];
        if (off % 24 != 0 || !s.Holds(off, 24)) Fail("a GUID lies outside the GUID table");
        return img_.Guid(s.offset + off);
    }

    // A member's or parameter's type: a plain vt (high bit set) or a type description's offset.
    TypeRef Type(std::int32_t encoded, int depth = 0) {
        if (depth > kMaxTypeDepth) Fail("type nested too deeply");
        TypeRef t;
        if (encoded < 0) {
            t.vt = static_cast<VARTYPE>(encoded & kTypeMask);
            if (!IsPlainVt(t.vt)) Fail("bad type");
            return t;
        }
        const Seg& s = segs_[kTypeDescSeg];
        if (encoded % 8 != 0 || !s.Holds(encoded, 8)) Fail("a type lies outside the type table");
        const std::int64_t at = s.offset + encoded;
        const VARTYPE vt = static_cast<VARTYPE>(img_.I16(at) & kTypeMask);
        const std::int16_t lo = img_.I16(at + 4), hi = img_.I16(at + 6);
        t.vt = vt;
        if (vt == VT_PTR || vt == kVtSafeArray) {
            if (hi < 0) {
                TypeRef inner;
                inner.vt = static_cast<VARTYPE>(lo & kTypeMask);
                if (!IsPlainVt(inner.vt)) Fail("bad type");
                t.pointee.push_back(inner);
            } else {
                t.pointee.push_back(Type(lo, depth + 1));
            }
        } else if (vt == VT_USERDEFINED) {
            t.hreftype = static_cast<HREFTYPE>(
                static_cast<std::uint16_t>(lo) |
                static_cast<std::uint32_t>(static_cast<std::uint16_t>(hi)) << 16);
        } else if (vt == kVtCArray) {
            Unsupported("arrays of fixed size are not supported");
        } else if (!IsPlainVt(vt)) {
            Fail("bad type");
        }
        return t;
    }

    void ReadImports(LibraryData* lib) {
        std::map<std::int32_t, std::uint32_t> fileAt;  // offset in the segment -> import index
        const Seg& files = segs_[kImpFilesSeg];
        std::int64_t at = 0;
        while (files.offset >= 0 && at < files.length) {
            if (!files.Holds(at, 14)) Fail("import table truncated");
            const std::int64_t base = files.offset + at;
            ImportData imp;
            imp.guid = Guid(img_.I32(base));
            imp.lcid = static_cast<LCID>(img_.I32(base + 4));
            imp.major = static_cast<WORD>(img_.I16(base + 8));
            imp.minor = static_cast<WORD>(img_.I16(base + 10));
            const std::int64_t length = static_cast<std::uint16_t>(img_.I16(base + 12)) >> 2;
            if (length == 0 || !files.Holds(at + 14, length)) Fail("import table truncated");
            imp.name = AnsiToUtf8(img_.Bytes(base + 14, length));
            fileAt[static_cast<std::int32_t>(at)] = static_cast<std::uint32_t>(lib->imports.size());
            lib->imports.push_back(std::move(imp));
            at = (at + 14 + length + 3) & ~std::int64_t{3};
        }
        const Seg& infos = segs_[kImpInfoSeg];
        if (infos.length % 12 != 0) Fail("bad imported type table");
        for (std::int64_t off = 0; off < infos.length; off += 12) {
            const std::int64_t base = infos.offset + off;
            const std::int32_t flags = img_.I32(base);
            auto file = fileAt.find(img_.I32(base + 4));
            if (file == fileAt.end()) Fail("an imported type refers to no imported library");
            if (!(flags & kImpInfoByGuid)) Unsupported("types imported by index are not supported");
            ImportedRef ref;
            ref.import = file->second;
            ref.guid = Guid(img_.I32(base + 8));
            const unsigned kind = (static_cast<std::uint32_t>(flags) >> 24) & 0xFF;
            if (kind >= TKIND_MAX) Fail("an imported type has a bad kind");
            ref.kind = static_cast<TYPEKIND>(kind);
            lib->refs.push_back(ref);
        }
    }

    void ReadType(std::int32_t index, TypeData* t) {
        const Seg& s = segs_[kTypeInfoSeg];
        const std::int64_t off = std::int64_t{index} * kTypeInfoRecordSize;
        if (!s.Holds(off, kTypeInfoRecordSize)) Fail("a type lies outside the type table");
        const std::int64_t at = s.offset + off;
        const std::int32_t kind = img_.I32(at);
        if ((kind & 0xF) == TKIND_MODULE) Unsupported("module types are not supported");
        if ((kind & 0xF) >= TKIND_MAX) Fail("bad type kind");
        t->kind = static_cast<TYPEKIND>(kind & 0xF);
        t->alignment = static_cast<WORD>((kind >> 11) & 0x1F);
        const std::int32_t elements = img_.I32(at + 0x18);
        const int funcs = elements & 0xFFFF, vars = (elements >> 16) & 0xFFFF;
        t->guid = Guid(img_.I32(at + 0x2C));
        t->flags = static_cast<WORD>(img_.I32(at + 0x30));
        t->name = Name(img_.I32(at + 0x34));
        // A dual interface is stored as its dispatch view; the vtable view is the loader's.
        if (t->kind == TKIND_INTERFACE && (t->flags & TYPEFLAG_FDUAL))
            Unsupported(Where(*t) + ": a dual interface stored as its vtable view");
        const std::int32_t version = img_.I32(at + 0x38);
        t->major = static_cast<WORD>(version);
        t->minor = static_cast<WORD>(version >> 16);
        t->doc = String(img_.I32(at + 0x3C));
        t->helpContext = static_cast<DWORD>(img_.I32(at + 0x44));
        const int implCount = img_.I16(at + 0x4C);
        t->vtableSize = static_cast<WORD>(img_.I16(at + 0x4E));
        t->size = static_cast<std::uint32_t>(img_.I32(at + 0x50));
        const std::int32_t datatype1 = img_.I32(at + 0x54);
        if (t->kind == TKIND_ALIAS) t->alias = Type(datatype1);
        if (implCount < 0) Fail(Where(*t) + ": bad number of implemented types");
        if (implCount > 0) {
            if (t->kind == TKIND_COCLASS) {
                const Seg& refs = segs_[kRefSeg];
                std::int32_t next = datatype1;
                for (int i = 0; i < implCount; ++i) {
                    if (!refs.Holds(next, 16)) Fail(Where(*t) + ": implemented types truncated");
                    const std::int64_t r = refs.offset + next;
                    t->impls.push_back({static_cast<HREFTYPE>(img_.I32(r)), img_.I32(r + 4)});
                    next = img_.I32(r + 12);
                }
            } else if (implCount > 1) {
                Fail(Where(*t) + ": only a coclass implements several interfaces");
            } else if (t->kind == TKIND_DISPATCH) {
                // A dispinterface is reached through IDispatch, which the header names once for
                // the whole library; a dual interface's vtable view derives from the type the
                // record names.
                t->impls.push_back({static_cast<HREFTYPE>(dispatchHref_), 0});
                if (IsDual(*t)) t->dualBase = static_cast<HREFTYPE>(datatype1);
            } else {
                t->impls.push_back({static_cast<HREFTYPE>(datatype1), 0});
            }
        }
        if (funcs + vars > 0) ReadMembers(img_.I32(at + 4), funcs, vars, t);
    }

    void ReadMembers(std::int32_t base, int funcs, int vars, TypeData* t) {
        const std::string where = Where(*t);
        const std::int64_t count = funcs + vars;
        if (!img_.Has(base, 4)) Fail(where + ": members lie outside the library");
        const std::int32_t infoLength = img_.I32(base);
        const std::int64_t records = std::int64_t{base} + 4;
        const std::int64_t ids = records + infoLength;
        if (infoLength < 0 || !img_.Has(ids, count * 12))
            Fail(where + ": members lie outside the library");
        auto recordAt = [&](std::int64_t i, std::int64_t minimum) {
            const std::int32_t rel = img_.I32(ids + 8 * count + 4 * i);
            if (rel < 0 || rel + minimum > infoLength) Fail(where + ": a member lies outside it");
            return records + rel;
        };
        t->funcs.resize(static_cast<std::size_t>(funcs));
        for (int i = 0; i < funcs; ++i) {
            FuncData& f = t->funcs[i];
            const std::int64_t r = recordAt(i, 24);
            const std::int32_t length = img_.I32(r) & 0xFFFF;
            if (length < 24 || r + length > records + infoLength)
                Fail(where + ": a function record lies outside its type");
            const std::int32_t fkccic = img_.I32(r + 16);
            const int nargs = img_.I16(r + 20);
            if (nargs < 0 || 24 + std::int64_t{nargs} * 12 > length)
                Fail(where + ": bad parameter count");
            if (fkccic & kFuncHasDefaults)
                Unsupported(where + ": parameter default values are not supported");
            const unsigned funckind = fkccic & 7, invkind = (fkccic >> 3) & 0xF,
                           callconv = (fkccic >> 8) & 0xF;
            if (funckind > FUNC_DISPATCH || callconv >= CC_MAX ||
                (invkind != INVOKE_FUNC && invkind != INVOKE_PROPERTYGET &&
                 invkind != INVOKE_PROPERTYPUT && invkind != INVOKE_PROPERTYPUTREF))
                Fail(where + ": bad function kind");
            f.funckind = static_cast<FUNCKIND>(funckind);
            f.invkind = static_cast<INVOKEKIND>(invkind);
            f.callconv = static_cast<CALLCONV>(callconv);
            f.memid = img_.I32(ids + 4 * i);
            f.ret = Type(img_.I32(r + 4));
            f.flags = static_cast<WORD>(img_.I32(r + 8));
            f.vtableOffset = img_.I16(r + 12);
            const std::int32_t optional = length - nargs * 12;
            if (optional > 24) f.helpContext = static_cast<DWORD>(img_.I32(r + 24));
            if (optional > 28) f.doc = String(img_.I32(r + 28));
            const std::int32_t nameAt = img_.I32(ids + 4 * (count + i));
            // The second method of a property's get/put pair may leave its name to the first.
            if (nameAt == -1 && i > 0 && f.invkind != INVOKE_FUNC &&
                t->funcs[i - 1].invkind != INVOKE_FUNC)
                f.name = t->funcs[i - 1].name;
            else
                f.name = Name(nameAt);
            f.params.resize(static_cast<std::size_t>(nargs));
            for (int p = 0; p < nargs; ++p) {
                const std::int64_t pa = r + length - std::int64_t{nargs - p} * 12;
                f.params[p].type = Type(img_.I32(pa));
                const std::int32_t pname = img_.I32(pa + 4);
                if (pname != -1) f.params[p].name = Name(pname);
                f.params[p].flags = static_cast<USHORT>(img_.I32(pa + 8));
            }
        }
        t->vars.resize(static_cast<std::size_t>(vars));
        for (int i = 0; i < vars; ++i) {
            VarData& v = t->vars[i];
            const std::int64_t r = recordAt(funcs + i, 20);
            const std::int32_t length = img_.I32(r) & 0xFF;
            if (length < 20 || r + length > records + infoLength)
                Fail(where + ": a variable record lies outside its type");
            v.memid = img_.I32(ids + 4 * (funcs + i));
            v.name = Name(img_.I32(ids + 4 * (count + funcs + i)));
            v.type = Type(img_.I32(r + 4));
            v.flags = static_cast<WORD>(img_.I32(r + 8));
            const int kind = img_.I16(r + 12);
            if (kind < VAR_PERINSTANCE || kind > VAR_DISPATCH) Fail(where + ": bad variable kind");
            v.varkind = static_cast<VARKIND>(kind);
            const std::int32_t value = img_.I32(r + 16);
            if (v.varkind == VAR_CONST)
                ReadValue(value, &v, where);
            else
                v.value = value;
            if (length > 20) v.helpContext = static_cast<DWORD>(img_.I32(r + 20));
            if (length > 24) v.doc = String(img_.I32(r + 24));
        }
    }

    // A constant: packed into the offset when small, else a vt and its value in the custom data.
    void ReadValue(std::int32_t encoded, VarData* v, const std::string& where) {
        if (encoded < 0) {
            v->constVt = static_cast<VARTYPE>((encoded & 0x7C000000) >> 26);
            v->value = encoded & 0x03FFFFFF;
        } else {
            const Seg& s = segs_[kCustDataSeg];
            if (!s.Holds(encoded, 6)) Fail(where + ": a constant lies outside the data");
            v->constVt = static_cast<VARTYPE>(img_.I16(s.offset + encoded));
            v->value = img_.I32(s.offset + encoded + 2);
        }
        switch (v->constVt) {
            case VT_I2:
            case VT_I4:
            case VT_UI2:
            case VT_UI4:
            case VT_INT:
            case VT_UINT:
            case VT_I1:
            case VT_UI1:
            case VT_BOOL:
            case VT_ERROR:
            case VT_HRESULT:
                return;
            default:
                Unsupported(where + ": constants of type " + std::to_string(v->constVt) +
                            " are not supported");
        }
    }

    Image img_;
    Seg segs_[kSegments];
    std::int32_t dispatchHref_ = -1;
};

// ------------------------------------------------------------------ writing

class Buffer {
public:
    void I32(std::int32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    void I16(std::int32_t v) {
        out_.push_back(static_cast<char>(v & 0xFF));
        out_.push_back(static_cast<char>((v >> 8) & 0xFF));
    }
    void Guid(const GUID& g) {
        I32(static_cast<std::int32_t>(g.Data1));
        I16(g.Data2);
        I16(g.Data3);
        for (BYTE b : g.Data4) out_.push_back(static_cast<char>(b));
    }
    void Bytes(std::string_view b) { out_.append(b); }
    // Pads to a multiple of four with the filler the platform's compilers use.
    void Pad() {
        while (out_.size() % 4) out_.push_back(0x57);
    }
    void Set32(std::size_t at, std::int32_t v) {
        for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    std::int32_t size() const { return static_cast<std::int32_t>(out_.size()); }
    std::string& str() { return out_; }

private:
    std::string out_;
};

class Writer {
public:
    explicit Writer(const LibraryData& lib) : lib_(lib) {
        nameHash_.assign(128, -1);
        guidHash_.assign(32, -1);
    }

    base::Result<std::string> Write() {
        if (auto valid = Validate(lib_); !valid) return valid.error();
        if (auto text = CheckText(); !text) return text.error();
        // The file names the type dispinterfaces are reached through once, for all of them.
        for (const TypeData& t : lib_.types) {
            if (t.kind != TKIND_DISPATCH || t.impls.empty()) continue;
            const auto href = static_cast<std::int32_t>(t.impls[0].type);
            if (dispatchHref_ != -1 && dispatchHref_ != href)
                return base::Fail(Where(t) + ": dispinterfaces implement different types");
            dispatchHref_ = href;
        }
        const std::int32_t libName = AddName(lib_.name, -1, 0);
        const std::int32_t libGuid = AddGuid(lib_.guid, -2);
        const std::int32_t libDoc = AddString(lib_.doc);
        const std::int32_t helpFile = AddString(lib_.helpFile);
        WriteImports();
        for (std::size_t i = 0; i < lib_.types.size(); ++i) WriteType(i);

        const std::int32_t varflags = 0x40 | static_cast<std::int32_t>(lib_.syskind) |
                                      (lib_.helpFile.empty() ? 0 : kHasHelpFile);
        Buffer out;
        out.I32(kMagic);
        out.I32(kMagic2);
        out.I32(libGuid);
        out.I32(static_cast<std::int32_t>(lib_.lcid));
        out.I32(static_cast<std::int32_t>(lib_.lcid));
        out.I32(varflags);
        out.I32(lib_.major | lib_.minor << 16);
        out.I32(lib_.flags);
        out.I32(static_cast<std::int32_t>(lib_.types.size()));
        out.I32(libDoc);
        // The help context goes where either kind of loader looks for it.
        out.I32(static_cast<std::int32_t>(lib_.helpContext));
        out.I32(static_cast<std::int32_t>(lib_.helpContext));
        out.I32(nameCount_);
        out.I32(nameChars_);
        out.I32(libName);
        out.I32(helpFile);
        out.I32(-1);  // no custom data
        out.I32(0x20);
        out.I32(0x80);
        out.I32(dispatchHref_);
        out.I32(static_cast<std::int32_t>(lib_.refs.size()));
        for (std::size_t i = 0; i < lib_.types.size(); ++i)
            out.I32(static_cast<std::int32_t>(LocalHref(i)));

        Buffer guidHash, nameHash;
        for (std::int32_t v : guidHash_) guidHash.I32(v);
        for (std::int32_t v : nameHash_) nameHash.I32(v);
        // In the order the platform's compilers lay them out.
        Buffer* order[kSegments] = {};
        order[kTypeInfoSeg] = &typeInfos_;
        order[kGuidHashSeg] = &guidHash;
        order[kGuidSeg] = &guids_;
        order[kRefSeg] = &refs_;
        order[kImpInfoSeg] = &impInfos_;
        order[kImpFilesSeg] = &impFiles_;
        order[kNameHashSeg] = &nameHash;
        order[kNameSeg] = &names_;
        order[kStringSeg] = &strings_;
        order[kTypeDescSeg] = &typeDescs_;
        order[kCustDataSeg] = &custData_;
        static constexpr Segment kLayout[] = {
            kTypeInfoSeg,  kGuidHashSeg, kGuidSeg,    kRefSeg,    kImpInfoSeg,
            kImpFilesSeg,  kNameHashSeg, kNameSeg,    kStringSeg, kTypeDescSeg,
            kArrayDescSeg, kCustDataSeg, kCustGuidSeg};
        std::int32_t at = out.size() + static_cast<std::int32_t>(kSegments) * 16;
        std::int32_t offsets[kSegments];
        for (std::size_t i = 0; i < kSegments; ++i) offsets[i] = -1;
        for (Segment s : kLayout) {
            if (!order[s] || order[s]->size() == 0) continue;
            offsets[s] = at;
            at += order[s]->size();
        }
        const std::int32_t members = at;
        for (std::size_t i = 0; i < kSegments; ++i) {
            out.I32(offsets[i]);
            out.I32(order[i] ? order[i]->size() : 0);
            out.I32(-1);
            out.I32(0x0F);
        }
        // Each type's member offset: past the segments, or the end of the file when it has none.
        const std::int32_t end = members + memberData_.size();
        for (std::size_t i = 0; i < lib_.types.size(); ++i) {
            const std::int32_t rel = memberAt_[i];
            typeInfos_.Set32(i * kTypeInfoRecordSize + 4, rel < 0 ? end : members + rel);
        }
        for (Segment s : kLayout)
            if (order[s]) out.Bytes(order[s]->str());
        out.Bytes(memberData_.str());
        return std::move(out.str());
    }

private:
    base::Result<> CheckText() const {
        auto check = [](const std::string& text, bool isName) -> base::Result<> {
            if (!IsPlainText(text))
                return base::Fail("\"" + text + "\": only printable ASCII text fits the library");
            if (isName && text.size() > 255) return base::Fail(text + ": name too long");
            if (text.size() > 0xFFFF) return base::Fail("a text is too long");
            return {};
        };
        base::Result<> result;
        auto all = [&](const std::string& text, bool isName) {
            if (result) result = check(text, isName);
        };
        all(lib_.name, true);
        all(lib_.doc, false);
        all(lib_.helpFile, false);
        for (const ImportData& imp : lib_.imports) all(imp.name, false);
        for (const TypeData& t : lib_.types) {
            all(t.name, true);
            all(t.doc, false);
            for (const FuncData& f : t.funcs) {
                all(f.name, true);
                all(f.doc, false);
                for (const ParamData& p : f.params) all(p.name, true);
            }
            for (const VarData& v : t.vars) {
                all(v.name, true);
                all(v.doc, false);
            }
        }
        return result;
    }

    // Names are shared without regard to case; the first type that uses one is its owner.
    std::int32_t AddName(const std::string& name, std::int32_t owner, int nameFlags) {
        auto it = nameAt_.find(Lower(name));
        if (it != nameAt_.end()) return it->second;
        const std::uint32_t hash = NameHash(name);
        const std::int32_t at = names_.size();
        names_.I32(owner);
        names_.I32(nameHash_[hash & 0x7F]);
        names_.I32(static_cast<std::int32_t>(name.size() | nameFlags << 8 | hash << 16));
        names_.Bytes(name);
        names_.Pad();
        nameHash_[hash & 0x7F] = at;
        nameAt_.emplace(Lower(name), at);
        ++nameCount_;
        nameChars_ += static_cast<std::int32_t>(name.size());
        return at;
    }
    std::int32_t AddString(const std::string& text) {
        if (text.empty()) return -1;
        auto it = stringAt_.find(text);
        if (it != stringAt_.end()) return it->second;
        const std::int32_t at = strings_.size();
        strings_.I16(static_cast<std::int32_t>(text.size()));
        strings_.Bytes(text);
        if (text.size() < 3) strings_.Bytes("WWWW");  // short strings take at least eight bytes
        strings_.Pad();
        stringAt_.emplace(text, at);
        return at;
    }
    std::int32_t AddGuid(const GUID& g, std::int32_t href) {
        const std::string key(reinterpret_cast<const char*>(&g), sizeof g);
        auto it = guidAt_.find(key);
        if (it != guidAt_.end()) return it->second;
        const int hash = GuidHash(g);
        const std::int32_t at = guids_.size();
        guids_.Guid(g);
        guids_.I32(href);
        guids_.I32(guidHash_[hash]);
        guidHash_[hash] = at;
        guidAt_.emplace(key, at);
        return at;
    }

    // A member's type: a plain vt in the value itself, anything else in the type table.
    std::int32_t EncodeType(const TypeRef& t) {
        if (t.vt != VT_PTR && t.vt != kVtSafeArray && t.vt != VT_USERDEFINED) {
            const std::int32_t low = t.vt == VT_VOID || t.vt == VT_HRESULT ? 0 : t.vt << 16;
            return static_cast<std::int32_t>(0x80000000u | static_cast<std::uint32_t>(low) | t.vt);
        }
        std::int32_t words[4];
        words[0] = t.vt;
        if (t.vt == VT_USERDEFINED) {
            words[1] = 0x7FFF;
            words[2] = static_cast<std::int32_t>(t.hreftype & 0xFFFF);
            words[3] = static_cast<std::int32_t>(t.hreftype >> 16);
        } else {
            const TypeRef& inner = t.pointee[0];
            const std::int32_t encoded = EncodeType(inner);
            if (encoded < 0) {
                words[1] = 0x4000 | inner.vt;
                words[2] = inner.vt;
                words[3] = 0x8000 | inner.vt;
            } else {
                words[1] = 0x7FFF;
                words[2] = encoded;
                words[3] = 0;
            }
        }
        const std::string key(reinterpret_cast<const char*>(words), sizeof words);
        auto it = typeDescAt_.find(key);
        if (it != typeDescAt_.end()) return it->second;
        const std::int32_t at = typeDescs_.size();
        for (std::int32_t w : words) typeDescs_.I16(w);
        typeDescAt_.emplace(key, at);
        return at;
    }

    void WriteImports() {
        std::vector<std::int32_t> fileAt;
        for (const ImportData& imp : lib_.imports) {
            const std::int32_t at = impFiles_.size();
            fileAt.push_back(at);
            impFiles_.I32(AddGuid(imp.guid, at | 2));
            impFiles_.I32(static_cast<std::int32_t>(imp.lcid));
            impFiles_.I16(imp.major);
            impFiles_.I16(imp.minor);
            impFiles_.I16(static_cast<std::int32_t>(imp.name.size() << 2 | 1));
            impFiles_.Bytes(imp.name);
            impFiles_.Pad();
        }
        for (std::size_t i = 0; i < lib_.refs.size(); ++i) {
            const ImportedRef& ref = lib_.refs[i];
            const HREFTYPE href = ImportedHref(i);
            impInfos_.I32(static_cast<std::int32_t>(ref.kind) << 24 | kImpInfoByGuid);
            impInfos_.I32(fileAt[ref.import]);
            impInfos_.I32(AddGuid(ref.guid, static_cast<std::int32_t>(href)));
        }
    }

    void WriteType(std::size_t index) {
        const TypeData& t = lib_.types[index];
        const std::int32_t href = static_cast<std::int32_t>(LocalHref(index));
        const std::int32_t name = AddName(t.name, href, 0x38);
        std::int32_t datatype1 = -1, datatype2 = 0;
        if (t.kind == TKIND_COCLASS) {
            for (std::size_t i = 0; i < t.impls.size(); ++i) {
                if (i == 0) datatype1 = refs_.size();
                refs_.I32(static_cast<std::int32_t>(t.impls[i].type));
                refs_.I32(t.impls[i].flags);
                refs_.I32(-1);
                refs_.I32(i + 1 < t.impls.size() ? refs_.size() + 4 : -1);
            }
        } else if (t.kind == TKIND_ALIAS) {
            datatype1 = EncodeType(t.alias);
        } else if (t.kind == TKIND_INTERFACE && !t.impls.empty()) {
            datatype1 = static_cast<std::int32_t>(t.impls[0].type);
            datatype2 = 1 << 16;  // one level of inheritance
        } else if (IsDual(t)) {
            datatype1 = static_cast<std::int32_t>(t.dualBase);
            datatype2 = 1 << 16;
        }
        memberAt_.push_back(t.funcs.empty() && t.vars.empty() ? -1 : WriteMembers(t, href));

        // The kind's low bits carry the alignment twice, as the platform's compilers write it.
        const std::int32_t align = t.alignment & 0x1F;
        typeInfos_.I32(static_cast<std::int32_t>(t.kind) | 0x20 | align << 6 | align << 11 |
                       static_cast<std::int32_t>(index) << 16);
        typeInfos_.I32(-1);  // member offset, set once the layout is known
        typeInfos_.I32(0);
        typeInfos_.I32(-1);
        typeInfos_.I32(3);
        typeInfos_.I32(0);
        typeInfos_.I32(static_cast<std::int32_t>(t.funcs.size() | t.vars.size() << 16));
        for (int i = 0; i < 4; ++i) typeInfos_.I32(0);
        typeInfos_.I32(t.guid == GUID_NULL ? -1 : AddGuid(t.guid, href));
        typeInfos_.I32(t.flags);
        typeInfos_.I32(name);
        typeInfos_.I32(t.major | t.minor << 16);
        typeInfos_.I32(AddString(t.doc));
        typeInfos_.I32(0);
        typeInfos_.I32(static_cast<std::int32_t>(t.helpContext));
        typeInfos_.I32(-1);
        typeInfos_.I16(static_cast<std::int32_t>(t.impls.size()));
        typeInfos_.I16(t.vtableSize);
        typeInfos_.I32(static_cast<std::int32_t>(t.size));
        typeInfos_.I32(datatype1);
        typeInfos_.I32(datatype2);
        typeInfos_.I32(0);
        typeInfos_.I32(-1);
    }

    // A type's member block: its length, the records, then member ids, names and record offsets.
    std::int32_t WriteMembers(const TypeData& t, std::int32_t owner) {
        Buffer records;
        std::vector<std::int32_t> ids, nameAt, recordAt;
        int index = 0;
        for (const FuncData& f : t.funcs) {
            recordAt.push_back(records.size());
            ids.push_back(f.memid);
            nameAt.push_back(AddName(f.name, owner, 0));
            const bool hasHelp = !f.doc.empty() || f.helpContext != 0;
            const std::int32_t optional = hasHelp ? 8 : 0;
            const std::int32_t length =
                24 + optional + static_cast<std::int32_t>(f.params.size()) * 12;
            records.I32(length | index++ << 16);
            records.I32(EncodeType(f.ret));
            records.I32(f.flags);
            records.I16(f.vtableOffset);
            records.I16(0x34 + static_cast<std::int32_t>(f.params.size()) * 16);
            records.I32(static_cast<std::int32_t>(f.funckind) | f.invkind << 3 | f.callconv << 8);
            short optionalCount = 0;
            for (const ParamData& p : f.params)
                if (p.flags & PARAMFLAG_FOPT) ++optionalCount;
            records.I16(static_cast<std::int32_t>(f.params.size()));
            records.I16(optionalCount);
            if (hasHelp) {
                records.I32(static_cast<std::int32_t>(f.helpContext));
                records.I32(AddString(f.doc));
            }
            for (const ParamData& p : f.params) {
                records.I32(EncodeType(p.type));
                records.I32(p.name.empty() ? -1 : AddName(p.name, -1, 0));
                records.I32(p.flags);
            }
        }
        for (const VarData& v : t.vars) {
            recordAt.push_back(records.size());
            ids.push_back(v.memid);
            nameAt.push_back(AddName(v.name, owner, 0));
            const bool hasHelp = !v.doc.empty() || v.helpContext != 0;
            records.I32((hasHelp ? 28 : 20) | index++ << 16);
            records.I32(EncodeType(v.type));
            records.I32(v.flags);
            records.I16(v.varkind);
            records.I16(0x24);
            records.I32(v.varkind == VAR_CONST ? EncodeValue(v) : v.value);
            if (hasHelp) {
                records.I32(static_cast<std::int32_t>(v.helpContext));
                records.I32(AddString(v.doc));
            }
        }
        const std::int32_t at = memberData_.size();
        memberData_.I32(records.size());
        memberData_.Bytes(records.str());
        for (std::int32_t v : ids) memberData_.I32(v);
        for (std::int32_t v : nameAt) memberData_.I32(v);
        for (std::int32_t v : recordAt) memberData_.I32(v);
        return at;
    }

    // Small non-negative integers fit in the record; the rest go to the custom data.
    std::int32_t EncodeValue(const VarData& v) {
        if (v.value >= 0 && v.value < 0x04000000 && v.constVt < 32)
            return static_cast<std::int32_t>(0x80000000u |
                                             static_cast<std::uint32_t>(v.constVt) << 26 |
                                             static_cast<std::uint32_t>(v.value));
        const std::int32_t at = custData_.size();
        custData_.I16(v.constVt);
        custData_.I32(v.value);
        custData_.Pad();
        return at;
    }

    const LibraryData& lib_;
    Buffer typeInfos_, guids_, refs_, impInfos_, impFiles_, names_, strings_, typeDescs_, custData_,
        memberData_;
    std::vector<std::int32_t> nameHash_, guidHash_, memberAt_;
    std::map<std::string, std::int32_t> nameAt_, stringAt_, guidAt_, typeDescAt_;
    std::int32_t nameCount_ = 0, nameChars_ = 0;
    std::int32_t dispatchHref_ = -1;
};

}  // namespace

base::Result<> ValidateTypeLibrary(const LibraryData& lib) { return Validate(lib); }

base::Result<std::string> SerializeTypeLibrary(const LibraryData& lib) {
    return Writer(lib).Write();
}

base::Result<LibraryData> ParseTypeLibrary(std::string_view bytes) {
    try {
        return Parser(bytes).Parse();
    } catch (const ParseError& e) {
        return base::Fail((e.unsupported ? "unsupported: " : "") + e.message);
    }
}

}  // namespace typelib
