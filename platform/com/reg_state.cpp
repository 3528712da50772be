#include "platform/com/reg_state.h"

#include <cstdlib>

namespace reg {

State& State::Of() {
    static State* state = new State;  // never destroyed: handles may be closed during exit
    return *state;
}

std::string LayeredMachinePath() {
    const char* env = std::getenv("OLE_REGISTRY");
    if (env && *env) return "";
    return MachineRegistryFilePath();
}

HKEY State::NewHandle(Names names) {
    HKEY h = new HKEY__{std::move(names)};
    handles_.insert(h);
    return h;
}

LSTATUS State::HandleNames(HKEY key, Names* names) const {
    if (key == HKEY_CLASSES_ROOT) {
        names->clear();
        return ERROR_SUCCESS;
    }
    if (!key || !handles_.count(key))
        return Fail(ERROR_INVALID_HANDLE, "not an open registry key handle");
    *names = key->names;
    return ERROR_SUCCESS;
}

LSTATUS State::FullNames(HKEY key, const char* subKey, Names* names) const {
    LSTATUS status = HandleNames(key, names);
    if (status != ERROR_SUCCESS) return status;
    Names sub;
    if (subKey && !SplitKeyPath(subKey, &sub))
        return Fail(ERROR_INVALID_PARAMETER, std::string("bad key name \"") + subKey + "\"");
    names->insert(names->end(), sub.begin(), sub.end());
    return ERROR_SUCCESS;
}

const Key* State::FindForWrite(const Key& root, const Names& names) const {
    const Key* key = Find(root, names);
    if (!key && writing_ && layered_.valid) key = Find(layered_.tree, names);
    return key;
}

LSTATUS State::OpenedKey(const Key& root, HKEY key, Names* names, const Key** out) const {
    LSTATUS status = HandleNames(key, names);
    if (status != ERROR_SUCCESS) return status;
    *out = FindForWrite(root, *names);
    return *out ? ERROR_SUCCESS : KeyDeleted(*names);
}

LSTATUS State::OpenedKey(ReadView& view, HKEY key, Names* names, const Key** out) const {
    LSTATUS status = HandleNames(key, names);
    if (status != ERROR_SUCCESS) return status;
    *out = view.Get(*names);
    return *out ? ERROR_SUCCESS : KeyDeleted(*names);
}

LSTATUS State::CloseHandle(HKEY key) {
    std::lock_guard lock(mu_);
    if (!key || !handles_.erase(key))
        return Fail(ERROR_INVALID_HANDLE, "not an open registry key handle");
    delete key;
    return ERROR_SUCCESS;
}

void State::SetWriteHook(RegistryWriteHook hook) {
    std::lock_guard lock(mu_);
    hook_ = hook;
}

LSTATUS State::UpdateLayered(bool* layered) {
    const std::string machinePath = LayeredMachinePath();
    *layered = !machinePath.empty();
    if (!*layered) return ERROR_SUCCESS;
    LSTATUS status = machine_.Refresh(machinePath, false, true);
    if (status != ERROR_SUCCESS) return status;
    if (!layered_.valid || layered_.user != user_.generation() ||
        layered_.machine != machine_.generation()) {
        if (status = user_.MakeWhole(); status != ERROR_SUCCESS) return status;
        if (status = machine_.MakeWhole(); status != ERROR_SUCCESS) return status;
        layered_.tree = machine_.tree();
        Overlay(layered_.tree, user_.tree());
        layered_.user = user_.generation();
        layered_.machine = machine_.generation();
        layered_.valid = true;
    }
    return ERROR_SUCCESS;
}

LSTATUS State::Read(const std::function<LSTATUS(State&, ReadView&)>& fn) {
    std::lock_guard lock(mu_);
    const Key* whole = nullptr;
    if (batch_.depth > 0) {
        LSTATUS status = LoadBatch();
        if (status != ERROR_SUCCESS) return status;
        whole = &batch_.tree;
    } else {
        LSTATUS status = user_.Refresh(RegistryFilePath(), false);
        if (status != ERROR_SUCCESS) return status;
        bool layered = false;
        status = UpdateLayered(&layered);
        if (status != ERROR_SUCCESS) return status;
        if (layered) whole = &layered_.tree;
    }
    ReadView view(user_, whole);
    const LSTATUS status = fn(*this, view);
    return view.status() != ERROR_SUCCESS ? view.status() : status;
}

LSTATUS State::Edit(const std::function<LSTATUS(State&, const Key&, Changes*)>& fn) {
    std::lock_guard lock(mu_);
    if (batch_.depth > 0) {
        LSTATUS status = LoadBatch();
        if (status != ERROR_SUCCESS) return status;
        Changes changes;
        status = fn(*this, batch_.tree, &changes);
        if (status != ERROR_SUCCESS) return status;
        for (const reg::Change& c : changes) ApplyChange(batch_.tree, c, &batch_.changed);
        batch_.log.insert(batch_.log.end(), changes.begin(), changes.end());
        return ERROR_SUCCESS;
    }
    return Commit(RegistryFilePath(), [&](Key& tree, bool* changed) {
        Changes changes;
        LSTATUS status = fn(*this, tree, &changes);
        if (status != ERROR_SUCCESS) return status;
        for (const reg::Change& c : changes) ApplyChange(tree, c, changed);
        return ERROR_SUCCESS;
    });
}

}  // namespace reg
