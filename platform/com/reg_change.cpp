#include "platform/com/reg_change.h"

#include <utility>

namespace reg {
namespace {

// The key at `names`, made with every missing key on the way (setting *changed when any was).
Key* CreatePath(Key& root, const Names& names, bool* changed) {
    Key* key = &root;
    for (const auto& n : names) {
        auto it = key->subkeys.find(n);
        if (it == key->subkeys.end()) {
            it = key->subkeys.emplace(n, Key{}).first;
            *changed = true;
        }
        key = &it->second;
    }
    return key;
}

}  // namespace

const Key* Find(const Key& root, const Names& names) {
    const Key* key = &root;
    for (const auto& n : names) {
        auto it = key->subkeys.find(n);
        if (it == key->subkeys.end()) return nullptr;
        key = &it->second;
    }
    return key;
}

Key* Find(Key& root, const Names& names) {
    Key* key = &root;
    for (const auto& n : names) {
        auto it = key->subkeys.find(n);
        if (it == key->subkeys.end()) return nullptr;
        key = &it->second;
    }
    return key;
}

void Overlay(Key& below, const Key& above) {
    for (const auto& [name, value] : above.values) below.values[name] = value;
    for (const auto& [name, key] : above.subkeys) Overlay(below.subkeys[name], key);
}

void ApplyChange(Key& root, const Change& c, bool* changed) {
    auto parentAndName = [&]() -> std::pair<Key*, const std::string*> {
        if (c.names.empty()) return {nullptr, nullptr};
        Names parentNames(c.names.begin(), c.names.end() - 1);
        return {Find(root, parentNames), &c.names.back()};
    };
    switch (c.kind) {
        case Change::kCreateKey:
            CreatePath(root, c.names, changed);
            break;
        case Change::kSetValue: {
            Key* k = CreatePath(root, c.names, changed);
            auto it = k->values.find(c.valueName);
            if (it == k->values.end()) {
                k->values.emplace(c.valueName, c.value);
                *changed = true;
            } else if (!(it->second == c.value)) {
                it->second = c.value;
                *changed = true;
            }
            break;
        }
        case Change::kDeleteValue:
            if (Key* k = Find(root, c.names); k && k->values.erase(c.valueName)) *changed = true;
            break;
        case Change::kDeleteKey:
        case Change::kDeleteTree: {
            auto [parent, name] = parentAndName();
            if (!parent) break;
            auto it = parent->subkeys.find(*name);
            if (it == parent->subkeys.end()) break;
            if (c.kind == Change::kDeleteKey && !it->second.subkeys.empty()) break;
            parent->subkeys.erase(it);
            *changed = true;
            break;
        }
        case Change::kClearKey:
            if (Key* k = Find(root, c.names); k && (!k->values.empty() || !k->subkeys.empty())) {
                *k = Key{};
                *changed = true;
            }
            break;
    }
}

}  // namespace reg
