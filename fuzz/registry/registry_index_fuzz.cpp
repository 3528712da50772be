// Any text: the checking pass behind lookups refuses exactly what the parse refuses, with the same
// message; on a text in the written order, the run of sections under a key parses to the same key
// as the whole text, and the run is empty exactly when the key is absent.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/reg_file.h"

namespace {

const reg::Key* Find(const reg::Key& root, const std::vector<std::string>& names) {
    const reg::Key* key = &root;
    for (const std::string& name : names) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) return nullptr;
        key = &it->second;
    }
    return key;
}

// Looks `names` up both ways; aborts when they disagree.
void Compare(std::string_view text, const reg::SectionIndex& index, const reg::Key& whole,
             const std::vector<std::string>& names) {
    const auto [first, last] = index.Under(text, names);
    const reg::Key* expected = Find(whole, names);
    if (names.empty() ? first != 0 || last != index.sections.size()
                      : (first < last) != (expected != nullptr))
        std::abort();
    if (!expected || names.empty()) return;
    reg::Key piece;
    if (!reg::ParseSections(text, index, first, last, &piece)) std::abort();
    const reg::Key* got = Find(piece, names);
    if (!got || !(*got == *expected)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    reg::Key whole;
    reg::SectionIndex index;
    const base::Result<> parsed = reg::ParseRegistryText(text, &whole);
    const base::Result<> checked = reg::IndexRegistryText(text, &index);
    if (parsed.ok() != checked.ok() || (!parsed && parsed.message() != checked.message()))
        std::abort();
    if (!checked || !index.ordered) return 0;
    // Every section's key, each of its ancestors, and a name just beside it.
    std::size_t looked = 0;
    for (const reg::SectionIndex::Section& s : index.sections) {
        if (++looked > 64) break;
        std::vector<std::string> names;
        std::string_view path(text.data() + s.path, s.pathSize);
        while (!path.empty()) {
            const std::size_t sep = path.find('\\');
            names.emplace_back(path.substr(0, sep));
            path = sep == std::string_view::npos ? std::string_view() : path.substr(sep + 1);
            Compare(text, index, whole, names);
        }
        Compare(text, index, whole, {});
        if (!names.empty()) {
            names.back() += 'x';
            Compare(text, index, whole, names);
            names.back().pop_back();
            names.back().pop_back();
            if (!names.back().empty()) Compare(text, index, whole, names);
        }
    }
    return 0;
}
