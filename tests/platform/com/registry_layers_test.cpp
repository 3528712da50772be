// The user's class registry over the machine-wide one: reads fall through, the user's values win,
// changes go to the user's file only, and OLE_REGISTRY means its file alone.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/registry.h"

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class RegistryLayers : public testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        dir_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/registry-layers-XXXXXX";
        ASSERT_NE(::mkdtemp(dir_.data()), nullptr);
        for (const char* name : {"OLE_REGISTRY", "OLE_MACHINE_REGISTRY", "XDG_DATA_HOME"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        machine_ = dir_ + "/machine.reg";
        user_ = dir_ + "/lensbay/registry.reg";
        ::unsetenv("OLE_REGISTRY");
        ::setenv("OLE_MACHINE_REGISTRY", machine_.c_str(), 1);
        ::setenv("XDG_DATA_HOME", dir_.c_str(), 1);
        std::filesystem::create_directories(dir_ + "/lensbay");
        Write(machine_,
              "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\n@=\"/machine/a.so\"\n"
              "\"ThreadingModel\"=\"Apartment\"\n\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{B}\\InprocServer32]\n@=\"/machine/b.so\"\n\n");
        Write(user_,
              "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\n@=\"/user/a.so\"\n\n");
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path) << text;
    }
    // The default value of a key, or "<status N>".
    static std::string Default(const char* key, const char* value = "") {
        HKEY k = nullptr;
        LSTATUS st = RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &k);
        if (st != ERROR_SUCCESS) return "<status " + std::to_string(st) + ">";
        char data[256] = {};
        DWORD size = sizeof data;
        st = RegQueryValueExA(k, value, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(k);
        return st == ERROR_SUCCESS ? std::string(data) : "<status " + std::to_string(st) + ">";
    }

    std::string dir_, machine_, user_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(RegistryLayers, TheUsersValuesWinAndTheRestFallsThrough) {
    EXPECT_EQ(Default("CLSID\\{A}\\InprocServer32"), "/user/a.so");
    EXPECT_EQ(Default("CLSID\\{A}\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Default("CLSID\\{B}\\InprocServer32"), "/machine/b.so");
    HKEY clsid = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
    char name[64];
    DWORD size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(clsid, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "{B}");
    RegCloseKey(clsid);
    // A change of the machine's file shows at once.
    Write(machine_, "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{C}]\n@=\"c\"\n\n");
    EXPECT_EQ(Default("CLSID\\{C}"), "c");
    EXPECT_EQ(Default("CLSID\\{B}\\InprocServer32"), "<status 2>");
}

TEST_F(RegistryLayers, ChangesGoToTheUsersFileEvenUnderAMachineKey) {
    const std::string machine_before = Slurp(machine_);
    HKEY b = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{B}", 0, KEY_ALL_ACCESS, &b), ERROR_SUCCESS);
    const char text[] = "mine";
    ASSERT_EQ(RegSetValueExA(b, "Note", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5),
              ERROR_SUCCESS)
        << TakeErrorInfoText();
    RegCloseKey(b);
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{B}\\Sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &created, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(created);
    EXPECT_EQ(Slurp(machine_), machine_before);
    EXPECT_NE(Slurp(user_).find("\"Note\"=\"mine\""), std::string::npos) << Slurp(user_);
    EXPECT_EQ(Default("CLSID\\{B}", "Note"), "mine");
    EXPECT_EQ(Default("CLSID\\{B}\\InprocServer32"), "/machine/b.so");
    // The user cannot delete what only the machine has.
    EXPECT_NE(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{B}\\InprocServer32"), ERROR_SUCCESS);
    EXPECT_EQ(Default("CLSID\\{B}\\InprocServer32"), "/machine/b.so");
}

TEST_F(RegistryLayers, OleRegistryMeansItsFileAloneAndABadMachineFileIsSaid) {
    ::setenv("OLE_REGISTRY", user_.c_str(), 1);
    EXPECT_EQ(Default("CLSID\\{B}\\InprocServer32"), "<status 2>");
    EXPECT_TRUE(CheckClassRegistry().ok());
    ::unsetenv("OLE_REGISTRY");
    Write(machine_, "not a registry\n");
    EXPECT_EQ(Default("CLSID\\{A}\\InprocServer32"), "<status 1009>");
    EXPECT_NE(CheckClassRegistry().message().find(machine_), std::string::npos)
        << CheckClassRegistry().message();
    // A missing machine file is an empty one.
    std::filesystem::remove(machine_);
    EXPECT_EQ(Default("CLSID\\{A}\\InprocServer32"), "/user/a.so");
}

}  // namespace
