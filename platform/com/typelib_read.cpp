// Reading the platform's binary type-library format (layout in typelib_format.h).
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/base/little_endian.h"
#include "platform/com/typelib_format.h"
#include "platform/com/typelib_layout.h"

namespace typelib {
namespace {

using namespace layout;

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

class Image {
public:
    explicit Image(std::string_view data) : d_(data) {}
    bool Has(std::int64_t off, std::int64_t n) const {
        return off >= 0 && n >= 0 && static_cast<std::uint64_t>(off + n) <= d_.size();
    }
    std::int32_t I32(std::int64_t off) const {
        if (!Has(off, 4)) return 0;
        return static_cast<std::int32_t>(base::GetLe32(d_.data() + off));
    }
    std::int16_t I16(std::int64_t off) const {
        if (!Has(off, 2)) return 0;
        return static_cast<std::int16_t>(base::GetLe16(d_.data() + off));
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
        for (TypeData& t : lib.types) {
            t.vtableSize = VtableSizeFromFile(t.vtableSize, lib.syskind);
            for (FuncData& f : t.funcs)
                f.vtableOffset = VtableOffsetFromFile(f.vtableOffset, lib.syskind);
        }
        if (auto valid = ValidateTypeLibrary(lib); !valid) Fail(valid.message());
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

}  // namespace

base::Result<LibraryData> ParseTypeLibrary(std::string_view bytes) {
    try {
        return Parser(bytes).Parse();
    } catch (const ParseError& e) {
        return base::Fail((e.unsupported ? "unsupported: " : "") + e.message);
    }
}

}  // namespace typelib
