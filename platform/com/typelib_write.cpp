// Writing the platform's binary type-library format (layout in typelib_format.h).
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/little_endian.h"
#include "platform/com/typelib_format.h"
#include "platform/com/typelib_layout.h"

namespace typelib {
namespace {

using namespace layout;

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

class Buffer {
public:
    void I32(std::int32_t v) {
        char bytes[4];
        base::PutLe32(bytes, static_cast<std::uint32_t>(v));
        out_.append(bytes, 4);
    }
    void I16(std::int32_t v) {
        char bytes[2];
        base::PutLe16(bytes, static_cast<std::uint16_t>(v));
        out_.append(bytes, 2);
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
        base::PutLe32(out_.data() + at, static_cast<std::uint32_t>(v));
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
        if (auto valid = ValidateTypeLibrary(lib_); !valid) return valid.error();
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
        typeInfos_.I16(VtableSizeInFile(t.vtableSize, lib_.syskind));
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
            records.I16(VtableOffsetInFile(f.vtableOffset, lib_.syskind));
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

base::Result<std::string> SerializeTypeLibrary(const LibraryData& lib) {
    return Writer(lib).Write();
}

}  // namespace typelib
