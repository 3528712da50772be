// Our binary type-library format and the library model it stores.
//
// All integers little-endian; a string is a u16 byte count and that many bytes of UTF-8; a GUID
// is u32 Data1, u16 Data2, u16 Data3, 8 bytes Data4. A type is u16 vt, then for VT_PTR and
// VT_SAFEARRAY the type pointed at, for VT_USERDEFINED a u32 index into the library's types.
//
//   magic "LBTYPLIB", u16 format version (1)
//   library:  GUID, u16 major, u16 minor, u32 lcid, u16 syskind, u16 flags (LIBFLAG_*),
//             name, help string, help file, u32 help context
//   u16 import count, per import: name, GUID, u16 major, u16 minor
//   u16 type count, per type:
//     u8 kind (TKIND_*), u16 flags (TYPEFLAG_*), GUID, name, help string, u32 help context,
//     u16 major, u16 minor,
//     u16 function count, per function:
//       i32 member id, u8 invoke kind, u8 function kind, u8 calling convention, u16 flags,
//       name, help string, u32 help context, return type,
//       u16 parameter count, per parameter: name, type, u16 flags (PARAMFLAG_*)
//     u16 variable count, per variable:
//       i32 member id, u8 variable kind, u16 flags, name, help string, u32 help context, type
//     u16 implemented-type count, per implemented type: u32 type index, i32 flags (IMPLTYPEFLAG_*)
//
// The type index of VT_USERDEFINED and of implemented types is the HREFTYPE that ITypeInfo hands
// out. Parsing rejects truncated data, trailing bytes, unknown kinds, names that are empty or not
// UTF-8, indices outside the library, pointer chains deeper than kMaxTypeDepth, and two types
// with one GUID.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/typelib.h"

namespace typelib {

inline constexpr char kTypeLibMagic[] = "LBTYPLIB";
inline constexpr std::size_t kTypeLibMagicSize = 8;
inline constexpr WORD kFormatVersion = 1;
inline constexpr int kMaxTypeDepth = 8;

struct TypeRef {
    VARTYPE vt = VT_EMPTY;
    std::uint32_t hreftype = 0;    // VT_USERDEFINED: index of the type in the library
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
};

struct ImplData {
    std::uint32_t type = 0;  // index of the implemented type in the library
    INT flags = 0;           // IMPLTYPEFLAG_*
};

struct TypeData {
    TYPEKIND kind = TKIND_DISPATCH;
    WORD flags = 0;
    GUID guid{};
    std::string name;
    std::string doc;
    DWORD helpContext = 0;
    WORD major = 0, minor = 0;
    std::vector<FuncData> funcs;
    std::vector<VarData> vars;
    std::vector<ImplData> impls;
};

struct ImportData {
    std::string name;
    GUID guid{};
    WORD major = 0, minor = 0;
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
    std::vector<TypeData> types;
};

// An error when the library does not fit the format (a string over 65535 bytes, more than 65535
// items) or breaks its rules (see ValidateTypeLibrary).
COM_EXPORT base::Result<std::string> SerializeTypeLibrary(const LibraryData& lib);
COM_EXPORT base::Result<LibraryData> ParseTypeLibrary(std::string_view bytes);
// The rules a library must keep beyond its layout: names present and UTF-8, indices inside the
// library, type GUIDs unique, member ids unique per type and invoke kind.
COM_EXPORT base::Result<> ValidateTypeLibrary(const LibraryData& lib);

}  // namespace typelib
