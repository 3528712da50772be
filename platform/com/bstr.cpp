// BSTR: a 32-bit byte count, then the characters, then a NUL character. The pointer handed out
// points at the characters, so a BSTR reads as an ordinary NUL-terminated OLE string.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/com/oleauto.h"

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* Prefix(BSTR text) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(text) - kPrefix);
}

std::size_t OleLength(LPCOLESTR text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    // The byte count must fit its 32-bit prefix.
    if (length > std::numeric_limits<std::uint32_t>::max() / sizeof(OLECHAR) - 1) return nullptr;
    const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
    void* block = std::malloc(kPrefix + bytes + sizeof(OLECHAR));
    if (!block) return nullptr;
    *static_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(bytes);
    BSTR result = reinterpret_cast<BSTR>(static_cast<char*>(block) + kPrefix);
    if (text)
        std::memcpy(result, text, bytes);
    else
        std::memset(result, 0, bytes);  // no text: a string of NUL characters, never garbage
    result[length] = 0;
    return result;
}

BSTR SysAllocString(LPCOLESTR text) {
    if (!text) return nullptr;
    const std::size_t length = OleLength(text);
    if (length > std::numeric_limits<UINT>::max()) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

void SysFreeString(BSTR text) {
    if (text) std::free(Prefix(text));
}

UINT SysStringByteLen(BSTR text) { return text ? *Prefix(text) : 0; }

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

BOOL SysReAllocString(BSTR* target, LPCOLESTR text) {
    if (!target) return FALSE;
    // The new copy is made before the old string goes: text may point into it.
    BSTR copy = nullptr;
    if (text) {
        copy = SysAllocString(text);
        if (!copy) return FALSE;
    }
    SysFreeString(*target);
    *target = copy;
    return TRUE;
}
