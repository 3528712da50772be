// Helpers shared by the type-library and resource tests.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tltest {

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory removed with everything in it when the object goes.
using TempDir = test_support::TempDir;

// The modules that carry PINBUS.OCX's resources in this build.
inline std::vector<std::string> ResourceModules() {
    std::vector<std::string> paths = {TEST_MODULE_PATH};
#ifdef PINBUS_PATH
    paths.push_back(PINBUS_PATH);
#endif
    return paths;
}

}  // namespace tltest
