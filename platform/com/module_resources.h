// Module file lookup: a module's resources read from its ELF64 file as data, without loading it
// (the way the platform reads a library's resources).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"
#include "platform/com/resource_table.h"

// The resources of a module held in memory (the whole ELF64 file): finds the section through the
// section headers and parses its table. Every offset and size is checked against the image.
COM_EXPORT base::Result<std::vector<ResourceEntry>> ReadResourcesFromImage(std::string_view image);

// All resources of the module file at `path`. An error with the path and the reason when the
// file cannot be read or holds no resource section, or the section is malformed.
COM_EXPORT base::Result<std::vector<ResourceEntry>> ReadModuleResources(const std::string& path);
// The bytes of one resource of the module file (any language); an error when absent.
COM_EXPORT base::Result<std::string> FindModuleResource(const std::string& path, ResourceType type,
                                                        std::uint16_t id);
