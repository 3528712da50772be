// The class registry over one REGEDIT4 file: the platform's Reg* functions.
//
// Reads use the file's text kept in memory, read again whenever the file may have changed
// (reg_cache.h says when); every change is a transaction under an exclusive flock on "<file>.lock"
// beside the file (symbolic links followed): re-read, apply, write a temporary file, fsync, rename
// into place (reg_commit.cpp).
//
// A read does not need the whole tree: the text is checked once (the same faults as a full parse)
// while its sections are listed, and a file in the order this code writes answers a lookup by
// binary search over them, parsing only the sections under the key asked for. The whole tree is
// parsed when a change, a batch, the machine-wide layering or a file in another order needs it, and
// is kept until the text changes (reg_kept.h).
//
// The transaction seam. A mutating call never edits the tree directly: it checks its arguments
// against a tree and answers a list of Changes, which ApplyChange replays onto any tree
// (reg_change.h). Without a batch, the list is replayed at once onto the freshly read file under
// the lock (State::Commit). In a batch (RegistryBeginBatch, reg_batch.cpp), the changes go onto the
// batch's own copy of the tree, which the batch's reads see, and are kept in order; the batch holds
// the file's lock from its first use, and RegistryCommitBatch re-reads the file, replays them all
// and writes the file once. Whoever reads or writes the file goes through KeptFile::Refresh (reads,
// cached by the file's stamp) and State::Commit (writes); a faster read path belongs there.
#include "platform/com/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/com/reg_state.h"

using reg::Fail;
using reg::Find;
using reg::JoinNames;
using reg::KeyDeleted;
using reg::Names;
using reg::NotFound;

namespace {

// Copies `data` out with the platform's size protocol.
LSTATUS CopyOut(const std::string& data, BYTE* out, DWORD* size) {
    if (out && !size) return Fail(ERROR_INVALID_PARAMETER, "a data buffer without its size");
    if (!size) return ERROR_SUCCESS;
    DWORD needed = static_cast<DWORD>(data.size());
    if (out && *size < needed) {
        *size = needed;
        return Fail(ERROR_MORE_DATA, "the buffer is too small");
    }
    if (out) std::memcpy(out, data.data(), data.size());
    *size = needed;
    return ERROR_SUCCESS;
}

// Copies a name out as RegEnumKeyEx does: *size in chars, NUL included on the way in.
LSTATUS CopyName(const std::string& name, char* out, DWORD* size) {
    if (!out || !size) return Fail(ERROR_INVALID_PARAMETER, "no buffer for the name");
    if (*size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        return Fail(ERROR_MORE_DATA, "the name buffer is too small");
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryFilePath() {
    const char* env = std::getenv("OLE_REGISTRY");
    if (env && *env) return env;
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir = home && *home ? home : "";
        if (homeDir.empty()) {
            struct passwd pw;
            struct passwd* found = nullptr;
            char buf[4096];
            if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found)
                homeDir = found->pw_dir;
        }
        base = (homeDir.empty() ? std::string(".") : homeDir) + "/.local/share";
    }
    return base + "/lensbay/registry.reg";
}

std::string MachineRegistryFilePath() {
    const char* env = std::getenv("OLE_MACHINE_REGISTRY");
    return env && *env ? env : "/var/lib/lensbay/registry.reg";
}

void SetRegistryWriteHookForTesting(RegistryWriteHook hook) { reg::State::Of().SetWriteHook(hook); }

LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM, void*,
                        PHKEY result, DWORD* disposition) {
    if (!result) return Fail(ERROR_INVALID_PARAMETER, "no place for the key handle");
    *result = nullptr;
    Names names;
    // Opening an existing key writes nothing, so it works on a read-only registry too.
    LSTATUS status = reg::State::Of().Read([&](reg::State& s, reg::ReadView& view) {
        LSTATUS st = s.FullNames(key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        Names base;
        s.HandleNames(key, &base);
        if (!view.Has(base)) return KeyDeleted(base);
        if (!view.Has(names)) return ERROR_FILE_NOT_FOUND;
        *result = s.NewHandle(names);
        if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_FILE_NOT_FOUND) return status;
    return reg::State::Of().Edit([&](reg::State& s, const reg::Key& root, reg::Changes* changes) {
        Names base;
        LSTATUS st = s.HandleNames(key, &base);
        if (st != ERROR_SUCCESS) return st;
        if (!s.FindForWrite(root, base)) return KeyDeleted(base);
        const bool created = !Find(root, names);
        if (created) changes->push_back({reg::Change::kCreateKey, names, {}, {}});
        *result = s.NewHandle(names);
        if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return Fail(ERROR_INVALID_PARAMETER, "no place for the key handle");
    *result = nullptr;
    return reg::State::Of().Read([&](reg::State& s, reg::ReadView& view) {
        Names base, names;
        LSTATUS st = s.FullNames(key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        s.HandleNames(key, &base);
        if (!view.Has(base)) return KeyDeleted(base);
        if (!view.Has(names)) return NotFound(names);
        *result = s.NewHandle(names);
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    return reg::State::Of().CloseHandle(key);
}

LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD size) {
    std::string name = valueName ? valueName : "";
    if (!reg::IsStorableValueName(name))
        return Fail(ERROR_INVALID_PARAMETER, "a value name with a control character");
    if (!data && size) return Fail(ERROR_INVALID_PARAMETER, "no data for a non-empty value");
    reg::Value value{type, std::string(reinterpret_cast<const char*>(data), data ? size : 0)};
    return reg::State::Of().Edit([&](reg::State& s, const reg::Key& root, reg::Changes* changes) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = s.OpenedKey(root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        changes->push_back({reg::Change::kSetValue, names, name, value});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    if (data && !size) return Fail(ERROR_INVALID_PARAMETER, "a data buffer without its size");
    return reg::State::Of().Read([&](reg::State& s, reg::ReadView& view) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = s.OpenedKey(view, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        auto it = k->values.find(valueName ? valueName : "");
        if (it == k->values.end())
            return Fail(ERROR_FILE_NOT_FOUND, "no value \"" +
                                                  std::string(valueName ? valueName : "") +
                                                  "\" in " + JoinNames(names));
        if (type) *type = it->second.type;
        return CopyOut(it->second.data, data, size);
    });
}

LSTATUS RegDeleteValueA(HKEY key, const char* valueName) {
    std::string name = valueName ? valueName : "";
    return reg::State::Of().Edit([&](reg::State& s, const reg::Key& root, reg::Changes* changes) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = s.OpenedKey(root, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        if (!k->values.count(name))
            return Fail(ERROR_FILE_NOT_FOUND, "no value \"" + name + "\" in " + JoinNames(names));
        changes->push_back({reg::Change::kDeleteValue, names, name, {}});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!subKey) return Fail(ERROR_INVALID_PARAMETER, "no key name");
    return reg::State::Of().Edit([&](reg::State& s, const reg::Key& root, reg::Changes* changes) {
        Names base, names;
        LSTATUS st = s.FullNames(key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        s.HandleNames(key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (names.empty()) return Fail(ERROR_ACCESS_DENIED, "the root cannot be deleted");
        const reg::Key* k = Find(root, names);
        if (!k) return NotFound(names);
        if (!k->subkeys.empty())
            return Fail(ERROR_ACCESS_DENIED, "the key " + JoinNames(names) + " has subkeys");
        changes->push_back({reg::Change::kDeleteKey, names, {}, {}});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTreeA(HKEY key, const char* subKey) {
    return reg::State::Of().Edit([&](reg::State& s, const reg::Key& root, reg::Changes* changes) {
        Names base, names;
        LSTATUS st = s.FullNames(key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        s.HandleNames(key, &base);
        if (!Find(root, base)) return KeyDeleted(base);
        if (names.size() == base.size()) {
            // No subkey named: the key stays, its values and subkeys go.
            changes->push_back({reg::Change::kClearKey, names, {}, {}});
            return ERROR_SUCCESS;
        }
        if (!Find(root, names)) return NotFound(names);
        changes->push_back({reg::Change::kDeleteTree, names, {}, {}});
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                      char* klass, DWORD* klassSize, void*) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    return reg::State::Of().Read([&](reg::State& s, reg::ReadView& view) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = s.OpenedKey(view, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
        auto it = std::next(k->subkeys.begin(), index);
        st = CopyName(it->first, name, nameSize);
        if (st != ERROR_SUCCESS) return st;
        if (klass && klassSize && *klassSize > 0) klass[0] = '\0';
        if (klassSize) *klassSize = 0;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, char* valueName, DWORD* valueNameSize, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataSize) {
    if (reserved) return Fail(ERROR_INVALID_PARAMETER, "reserved must be null");
    if (data && !dataSize) return Fail(ERROR_INVALID_PARAMETER, "a data buffer without its size");
    return reg::State::Of().Read([&](reg::State& s, reg::ReadView& view) {
        Names names;
        const reg::Key* k = nullptr;
        LSTATUS st = s.OpenedKey(view, key, &names, &k);
        if (st != ERROR_SUCCESS) return st;
        if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
        auto it = std::next(k->values.begin(), index);
        st = CopyName(it->first, valueName, valueNameSize);
        if (st != ERROR_SUCCESS) return st;
        if (type) *type = it->second.type;
        return CopyOut(it->second.data, data, dataSize);
    });
}

LSTATUS RegSetValueA(HKEY key, const char* subKey, DWORD type, const char* data, DWORD) {
    if (type != REG_SZ) return Fail(ERROR_INVALID_PARAMETER, "only REG_SZ can be set this way");
    if (!data) return Fail(ERROR_INVALID_PARAMETER, "no data");
    reg::Value value{REG_SZ, std::string(data, std::strlen(data) + 1)};
    return reg::State::Of().Edit([&](reg::State& s, const reg::Key& root, reg::Changes* changes) {
        Names base, names;
        LSTATUS st = s.FullNames(key, subKey, &names);
        if (st != ERROR_SUCCESS) return st;
        s.HandleNames(key, &base);
        if (!s.FindForWrite(root, base)) return KeyDeleted(base);
        changes->push_back({reg::Change::kSetValue, names, "", value});
        return ERROR_SUCCESS;
    });
}
