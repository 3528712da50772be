#include "platform/portio/backend_registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace portio {

namespace {

// Built on first use, so that a registrar constructed before this file's own static objects
// still finds it.
std::vector<BackendEntry>& Table() {
    static std::vector<BackendEntry> table;
    return table;
}

std::string Form(const BackendEntry& e) {
    return e.argument != nullptr ? std::string(e.name) + ":" + e.argument : e.name;
}

}  // namespace

BackendRegistrar::BackendRegistrar(const BackendEntry& entry) {
    std::vector<BackendEntry>& table = Table();
    for (const BackendEntry& e : table) {
        if (std::strcmp(e.name, entry.name) == 0) {
            // Two files claiming one name is a build fault no run can recover from.
            std::fprintf(stderr, "port backends: '%s' is registered twice\n", entry.name);
            std::abort();
        }
    }
    table.push_back(entry);
}

std::vector<BackendEntry> RegisteredBackends() {
    std::vector<BackendEntry> sorted = Table();
    std::sort(sorted.begin(), sorted.end(), [](const BackendEntry& a, const BackendEntry& b) {
        const bool a_default = std::strcmp(a.name, kDefaultBackend) == 0;
        const bool b_default = std::strcmp(b.name, kDefaultBackend) == 0;
        if (a_default != b_default) return a_default;
        return std::strcmp(a.name, b.name) < 0;
    });
    return sorted;
}

const BackendEntry* FindBackend(const std::string& choice, std::string* argument) {
    for (const BackendEntry& e : Table()) {
        const std::size_t n = std::strlen(e.name);
        if (e.argument == nullptr) {
            if (choice == e.name) {
                argument->clear();
                return &e;
            }
        } else if (choice.size() > n + 1 && choice.compare(0, n, e.name) == 0 && choice[n] == ':') {
            *argument = choice.substr(n + 1);
            return &e;
        }
    }
    return nullptr;
}

std::string AcceptedBackends() {
    const std::vector<BackendEntry> all = RegisteredBackends();
    std::string text;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) text += i + 1 == all.size() ? " or " : ", ";
        text += "PORTIO=" + Form(all[i]);
        if (std::strcmp(all[i].name, kDefaultBackend) == 0) text += " (the default when unset)";
    }
    return text;
}

std::string BackendHelp(int indent) {
    std::string text;
    for (const BackendEntry& e : RegisteredBackends()) {
        std::string line(static_cast<std::size_t>(indent), ' ');
        line += Form(e);
        line.resize(std::max(line.size() + 2, static_cast<std::size_t>(indent) + 22), ' ');
        text += line + e.help;
        if (std::strcmp(e.name, kDefaultBackend) == 0) text += " (the default)";
        text += "\n";
    }
    return text;
}

}  // namespace portio
