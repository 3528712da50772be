// The platform's binary type-library format (the one whose files begin with "MSFT", as the
// platform's IDL compilers write it and LoadTypeLib reads it) and the library model it stores.
//
// A file is a header, the offsets of its type descriptions, a directory of fifteen segments and the
// segments themselves; every integer is little-endian and every cross reference is a byte offset
// into one segment. The segments this code knows:
//   type infos   one 100-byte record per type (kind, GUID, name, flags, counts, help, base type)
//   import info  12 bytes per type taken from another library (count/kind flags, file, GUID)
//   import files per imported library: GUID offset, lcid, version, length-prefixed file name
//   references   16 bytes per interface a coclass implements (type, IMPLTYPEFLAG_*, next)
//   GUID hash    32 buckets chaining GUID entries;  GUIDs: GUID, HREFTYPE, next in bucket
//   name hash    128 buckets chaining names;  names: HREFTYPE, next, length|hash<<16, text
//   strings      u16 length and text (help strings, help file)
//   type descs   8 bytes each: pointers, safe arrays and user-defined types
//   custom data  values of enumeration constants that do not fit a packed integer
// Each type's members sit after the segments: a length, one record per function and variable,
// then their member ids, name offsets and record offsets.
//
// An HREFTYPE is the offset of the type's record in the type info segment (a multiple of 100), or
// for a type of an imported library the offset of its import info entry plus one. The model keeps
// HREFTYPEs exactly as the file does, which is also what ITypeInfo hands out.
//
// A dual interface is stored once, as a dispinterface flagged TYPEFLAG_FDUAL whose functions are
// its vtable functions; the header's dispatch type is what its dispatch view derives from, and the
// type it names itself (dualBase) is what its vtable view derives from.
//
// Reading refuses, with a message, what the loader cannot represent or what points outside the
// data: module types, arrays of fixed size (VT_CARRAY), parameter default values, a dual interface
// stored as its vtable view, unknown kinds, offsets or counts outside their segment, pointer
// chains deeper than kMaxTypeDepth, and text that is not a name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/typelib.h"

namespace typelib {

inline constexpr char kTypeLibMagic[] = "MSFT";
inline constexpr std::size_t kTypeLibMagicSize = 4;
inline constexpr int kMaxTypeDepth = 8;
inline constexpr std::uint32_t kTypeInfoRecordSize = 100;

// The HREFTYPE of the type at this index of its own library, and of the imported type at this
// index of LibraryData::refs.
constexpr HREFTYPE LocalHref(std::size_t index) {
    return static_cast<HREFTYPE>(index * kTypeInfoRecordSize);
}
constexpr HREFTYPE ImportedHref(std::size_t index) { return static_cast<HREFTYPE>(index * 12 + 1); }
constexpr bool IsImportedHref(HREFTYPE href) { return (href & 3) == 1; }

// The automation library every control description imports, and its dispatch interface.
inline constexpr GUID kStdOleGuid = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIDispatchGuid = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIUnknownGuid = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct TypeRef {
    VARTYPE vt = VT_EMPTY;
    HREFTYPE hreftype = 0;         // VT_USERDEFINED
    std::vector<TypeRef> pointee;  // VT_PTR / VT_SAFEARRAY: exactly one element
};

struct ParamData {
    std::string name;
    TypeRef type;
    USHORT flags = PARAMFLAG_NONE;
};

struct FuncData {
    MEMBERID memid = 0;
    INVOKEKIND invkind = INVOKE_FUNC;
    FUNCKIND funckind = FUNC_DISPATCH;
    CALLCONV callconv = CC_STDCALL;
    WORD flags = 0;
    SHORT vtableOffset = 0;  // as a 32-bit module lays out its table; 0 for FUNC_DISPATCH
    std::string name;
    std::string doc;
    DWORD helpContext = 0;
    TypeRef ret;
    std::vector<ParamData> params;
};

struct VarData {
    MEMBERID memid = 0;
    VARKIND varkind = VAR_DISPATCH;
    WORD flags = 0;
    std::string name;
    std::string doc;
    DWORD helpContext = 0;
    TypeRef type;
    // VAR_CONST: the value (an integer of type constVt: VT_I2, VT_I4, VT_UI4, ...);
    // VAR_PERINSTANCE: the byte offset in the record.
    VARTYPE constVt = VT_EMPTY;
    std::int32_t value = 0;
};

struct ImplData {
    HREFTYPE type = 0;  // the implemented (or, for an interface, inherited) type
    INT flags = 0;      // IMPLTYPEFLAG_*
};

struct TypeData {
    TYPEKIND kind = TKIND_DISPATCH;
    WORD flags = 0;
    GUID guid{};
    std::string name;
    std::string doc;
    DWORD helpContext = 0;
    WORD major = 0, minor = 0;
    WORD vtableSize = 0;     // bytes of the interface's own functions in a 32-bit table
    std::uint32_t size = 0;  // instance size in a 32-bit module
    WORD alignment = 4;      // instance alignment in a 32-bit module
    TypeRef alias;           // TKIND_ALIAS: the type it names
    std::vector<FuncData> funcs;
    std::vector<VarData> vars;
    std::vector<ImplData> impls;
    // A dual interface (TKIND_DISPATCH with TYPEFLAG_FDUAL): the interface its vtable view derives
    // from (impls holds, as for every dispinterface, the type its dispatch view derives from).
    HREFTYPE dualBase = 0;
};

// Whether the type is a dual interface as the library stores it.
inline bool IsDual(const TypeData& t) {
    return t.kind == TKIND_DISPATCH && (t.flags & TYPEFLAG_FDUAL) != 0;
}

struct ImportData {
    std::string name;  // the file the library was imported from
    GUID guid{};
    LCID lcid = 0;
    WORD major = 0, minor = 0;
};

// A type of an imported library that this library refers to.
struct ImportedRef {
    std::uint32_t import = 0;  // index into LibraryData::imports
    GUID guid{};               // the type's GUID
    TYPEKIND kind = TKIND_INTERFACE;
};

struct LibraryData {
    GUID guid{};
    WORD major = 0, minor = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD flags = 0;
    std::string name;
    std::string doc;
    std::string helpFile;
    DWORD helpContext = 0;
    std::vector<ImportData> imports;
    std::vector<ImportedRef> refs;
    std::vector<TypeData> types;
};

// The file keeps vtable sizes and offsets in the pointers of the library's system kind: 8 bytes
// each in a SYS_WIN64 library, 4 in any other. LibraryData keeps them as a 32-bit table lays them
// out, whatever the kind; these convert (an offset's low bit is a flag and stays as it is).
inline int VtableScale(SYSKIND syskind) { return syskind == SYS_WIN64 ? 2 : 1; }
inline WORD VtableSizeInFile(WORD size, SYSKIND syskind) {
    return static_cast<WORD>(size * VtableScale(syskind));
}
inline WORD VtableSizeFromFile(WORD size, SYSKIND syskind) {
    return static_cast<WORD>(size / VtableScale(syskind));
}
inline SHORT VtableOffsetInFile(SHORT offset, SYSKIND syskind) {
    const auto bits = static_cast<USHORT>(offset);
    return static_cast<SHORT>((bits & ~1u) * VtableScale(syskind) | (bits & 1u));
}
inline SHORT VtableOffsetFromFile(SHORT offset, SYSKIND syskind) {
    const auto bits = static_cast<USHORT>(offset);
    return static_cast<SHORT>((bits & ~1u) / VtableScale(syskind) | (bits & 1u));
}

// An error when the library breaks the rules of ValidateTypeLibrary or does not fit the format
// (text other than printable ASCII, a name over 255 bytes, a string over 65535).
COM_EXPORT base::Result<std::string> SerializeTypeLibrary(const LibraryData& lib);
COM_EXPORT base::Result<LibraryData> ParseTypeLibrary(std::string_view bytes);
// The rules a library must keep beyond its layout: names present, references inside the library
// or its imports, type GUIDs unique, member ids unique per type and invoke kind.
COM_EXPORT base::Result<> ValidateTypeLibrary(const LibraryData& lib);

}  // namespace typelib
