// The module resource readers' results unpacked into out-parameters, so that checks can read the
// value and the message apart.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/module_resources.h"

namespace resource_results {

template <typename T>
bool Unpack(base::Result<T> result, T* out, std::string* error) {
    if (!result) {
        if (error) *error = result.message();
        return false;
    }
    if (out) *out = std::move(*result);
    return true;
}

}  // namespace resource_results

inline bool ParseResourceTable(std::string_view table, std::vector<ResourceEntry>* out,
                               std::string* error) {
    return resource_results::Unpack(ParseResourceTable(table), out, error);
}
inline bool ReadResourcesFromImage(std::string_view image, std::vector<ResourceEntry>* out,
                                   std::string* error) {
    return resource_results::Unpack(ReadResourcesFromImage(image), out, error);
}
inline bool ReadModuleResources(const std::string& path, std::vector<ResourceEntry>* out,
                                std::string* error) {
    return resource_results::Unpack(ReadModuleResources(path), out, error);
}
inline bool FindModuleResource(const std::string& path, ResourceType type, std::uint16_t id,
                               std::string* bytes, std::string* error) {
    return resource_results::Unpack(FindModuleResource(path, type, id), bytes, error);
}
