// A registry file of the test's own in a fresh temporary directory: OLE_REGISTRY points at it
// for the object's life and is restored afterwards, and the directory is removed.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempRegistry {
public:
    TempRegistry() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lensbay-reg-XXXXXX");
        if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        dir_ = pattern;
        path_ = dir_ + "/registry.reg";
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
        std::error_code ec;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    const std::string& dir() const { return dir_; }
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
    std::string dir_, path_, old_;
    bool hadOld_ = false;
};
