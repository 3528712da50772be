// What the type-library reader and writer share of the binary format (typelib_format.h has its
// layout): the header's constants, the segments of the directory and the rules of types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/com/typelib_format.h"

namespace typelib::layout {

inline constexpr std::int32_t kMagic = 0x5446534D;  // "MSFT"
inline constexpr std::int32_t kMagic2 = 0x00010002;
inline constexpr std::size_t kHeaderSize = 0x54;
inline constexpr std::size_t kSegments = 15;
inline constexpr std::int32_t kHelpDllFlag = 0x100;
inline constexpr std::int32_t kHasHelpFile = 0x10;
inline constexpr std::int32_t kImpInfoByGuid = 0x10000;
inline constexpr std::int32_t kFuncHasDefaults = 0x1000;
inline constexpr VARTYPE kTypeMask = 0x0FFF;
inline constexpr VARTYPE kVtSafeArray = 27;
inline constexpr VARTYPE kVtCArray = 28;

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

// The types a TypeRef names by its VARTYPE alone (no pointee, no referenced type).
inline bool IsPlainVt(VARTYPE vt) {
    return vt != VT_PTR && vt != kVtSafeArray && vt != kVtCArray && vt != VT_USERDEFINED &&
           vt <= VT_UINT + 12;  // up to VT_LPWSTR and the record types around it
}

// A type as messages name it.
inline std::string Where(const TypeData& t) { return "type " + (t.name.empty() ? "?" : t.name); }

}  // namespace typelib::layout
