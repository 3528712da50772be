// Changes of the tree as the registry's writers make them: a mutating call checks its arguments
// against a tree and answers a list of Changes, which ApplyChange replays onto any tree (the file
// as read again under the lock, or a batch's own copy).
#pragma once

#include <string>
#include <vector>

#include "platform/com/reg_file.h"
#include "platform/com/reg_status.h"

namespace reg {

// One change of the tree, replayable onto a tree that others changed meanwhile: each kind says what
// must hold afterwards rather than what the tree looked like before.
struct Change {
    enum Kind {
        kCreateKey,    // the key exists (with every key on its way)
        kSetValue,     // the key exists and holds `value` under `valueName`
        kDeleteValue,  // the key, if present, holds no value `valueName`
        kDeleteKey,    // the key is gone, unless another writer gave it subkeys
                       // meanwhile
        kDeleteTree,   // the key and everything under it are gone
        kClearKey,     // the key, if present, has no values and no subkeys
    } kind;
    Names names;
    std::string valueName;
    Value value;
};
using Changes = std::vector<Change>;

// Replays a change onto a tree, setting *changed when the tree is different afterwards.
void ApplyChange(Key& root, const Change& c, bool* changed);

// The key at `names` under `root`, or null.
const Key* Find(const Key& root, const Names& names);
Key* Find(Key& root, const Names& names);

// Lays `above` over `below`: values of the same name and keys of the same name merge, the upper's
// value winning.
void Overlay(Key& below, const Key& above);

}  // namespace reg
