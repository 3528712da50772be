// A registry file of the test's own in a fresh temporary directory: OLE_REGISTRY points at it
// for the object's life and is restored afterwards, and the directory is removed.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace test_support {

class TempRegistry {
public:
    TempRegistry() : dir_("lensbay-reg"), path_(dir_.File("registry.reg")) {
        if (dir_.path().empty()) ADD_FAILURE() << "mkdtemp failed";
        if (const char* old = std::getenv("OLE_REGISTRY")) {
            hadOld_ = true;
            old_ = old;
        }
        setenv("OLE_REGISTRY", path_.c_str(), 1);
    }
    ~TempRegistry() {
        if (hadOld_)
            setenv("OLE_REGISTRY", old_.c_str(), 1);
        else
            unsetenv("OLE_REGISTRY");
    }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    const std::string& dir() const { return dir_.path(); }
    const std::string& path() const { return path_; }

    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Replaces the file the way another process would (new file renamed into place).
    void Replace(const std::string& text) const {
        std::string temp = path_ + ".other";
        {
            std::ofstream out(temp, std::ios::binary);
            out << text;
        }
        std::filesystem::rename(temp, path_);
    }

private:
    TempDir dir_;
    std::string path_, old_;
    bool hadOld_ = false;
};

}  // namespace test_support
