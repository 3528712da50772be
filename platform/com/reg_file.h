// The in-memory form of the HKEY_CLASSES_ROOT tree and its REGEDIT4 text: parsing and writing.
// Pure functions, no file or lock handling (that is reg_kept.cpp and reg_commit.cpp's job).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/registry.h"

namespace reg {

// Key and value names compare case-insensitively (ASCII letters), as the platform does.
struct NoCaseLess {
    using is_transparent = void;
    static char Fold(char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    bool operator()(std::string_view a, std::string_view b) const {
        std::size_t n = a.size() < b.size() ? a.size() : b.size();
        for (std::size_t i = 0; i < n; ++i) {
            auto x = static_cast<unsigned char>(Fold(a[i]));
            auto y = static_cast<unsigned char>(Fold(b[i]));
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};
COM_EXPORT bool NoCaseEqual(std::string_view a, std::string_view b);

struct Value {
    DWORD type = 0;
    std::string data;  // raw bytes; a REG_SZ value's data includes its NUL
    bool operator==(const Value&) const = default;
};

// A key: its values (the default value has the empty name) and its subkeys, both keyed by the
// name as first spelled.
struct Key {
    std::map<std::string, Value, NoCaseLess> values;
    std::map<std::string, Key, NoCaseLess> subkeys;
};
// Exact equality, names' spelling included.
COM_EXPORT bool operator==(const Key& a, const Key& b);

// The name of the one root the file holds.
inline constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";

// Parses REGEDIT4 text (LF or CRLF lines) into *root. On failure leaves *root unspecified and
// says "LINE: reason" (line numbers from 1).
COM_EXPORT base::Result<> ParseRegistryText(std::string_view text, Key* root);

// Where the sections of a REGEDIT4 text lie, so that a lookup can parse only the sections under
// the key it wants instead of the whole file.
struct SectionIndex {
    struct Section {
        std::uint32_t begin;     // offset of the header line
        std::uint32_t end;       // offset just past the section's last line
        std::uint32_t path;      // offset of the key path below the root ("A\B", or empty)
        std::uint32_t pathSize;  // its length
    };
    std::vector<Section> sections;
    // Every section's path is greater than the one before, by name as WriteRegistryText orders
    // them; only then can Under() be used (no key has two sections, and the sections under a
    // key are one run). Also false for a text too large for the offsets (no sections listed).
    bool ordered = true;

    // The run [first, last) of the sections of `names` and every key under it. An ordered index
    // only. The key exists exactly when the run is not empty (or it is the root).
    COM_EXPORT std::pair<std::size_t, std::size_t> Under(
        std::string_view text, const std::vector<std::string>& names) const;
};

// Checks REGEDIT4 text exactly as ParseRegistryText does (the same message for the same fault)
// without building the tree, and lists its sections in *index.
COM_EXPORT base::Result<> IndexRegistryText(std::string_view text, SectionIndex* index);

// Parses the sections [first, last) of an indexed text into *root (which then holds those keys
// and their ancestors only).
COM_EXPORT base::Result<> ParseSections(std::string_view text, const SectionIndex& index,
                                        std::size_t first, std::size_t last, Key* root);

// The REGEDIT4 text of a tree: header, then one section per key (every key, so every parent is
// present) in case-insensitive sorted tree order, a blank line after each section.
COM_EXPORT std::string WriteRegistryText(const Key& root);

// Splits "A\B\C" into its names. False for an empty name between separators, a leading
// separator, or a name holding a control character (the file could not keep it). A single
// trailing separator is tolerated. An empty path is the key itself (no names).
COM_EXPORT bool SplitKeyPath(std::string_view path, std::vector<std::string>* names);

// Whether a value name can be kept in the file (no control characters).
COM_EXPORT bool IsStorableValueName(std::string_view name);

}  // namespace reg
