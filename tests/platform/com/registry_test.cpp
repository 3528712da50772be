// The registry functions over their file: platform semantics, transactions, concurrency,
// crashes and damaged files.
#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/reg_file.h"
#include "platform/com/registry_batch.h"
#include "tests/platform/com/reg_file_support.h"
#include "tests/support/temp_registry.h"

using test_support::TempRegistry;

namespace {

LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

// The default value of a key below the root, or "<status N>" when it cannot be read.
std::string DefaultOf(const std::string& path) {
    HKEY key = nullptr;
    LSTATUS st = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
    if (st != ERROR_SUCCESS) return "<status " + std::to_string(st) + ">";
    char buf[512];
    DWORD size = sizeof buf, type = 0;
    st = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (st != ERROR_SUCCESS) return "<status " + std::to_string(st) + ">";
    return std::string(buf, size ? size - 1 : 0);
}

std::vector<std::string> SubkeysOf(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        LSTATUS st = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (st == ERROR_NO_MORE_ITEMS) break;
        EXPECT_EQ(st, ERROR_SUCCESS);
        if (st != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    return names;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Registry : public ::testing::Test {
protected:
    void TearDown() override { SetRegistryWriteHookForTesting(nullptr); }
    TempRegistry temp_;
};

TEST_F(Registry, ValuesOfEveryTypeComeBackAsStored) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const DWORD dword = 132497;
    const BYTE binary[] = {0, 1, 0xfe, 0xff};
    ASSERT_EQ(SetString(key, nullptr, "/opt/lib/PINBUS.OCX"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, "Quote\"d", "back\\slash \"q\""), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "D", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "B", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "E", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%P%"), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // Read back through a fresh handle after the file was read anew by another "process".
    temp_.Replace(temp_.Read());
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid\\{x}\\INPROCSERVER32", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    struct Expect {
        const char* name;
        DWORD type;
        std::string data;
    } expects[] = {
        {"", REG_SZ, std::string("/opt/lib/PINBUS.OCX\0", 20)},
        {"quote\"D", REG_SZ, std::string("back\\slash \"q\"\0", 15)},
        {"d", REG_DWORD, std::string("\x91\x05\x02\x00", 4)},
        {"B", REG_BINARY, std::string("\x00\x01\xfe\xff", 4)},
        {"E", REG_EXPAND_SZ, std::string("%P%\0", 4)},
        {"EMPTY", REG_BINARY, ""},
    };
    for (const auto& e : expects) {
        BYTE buf[64];
        DWORD type = 0, size = sizeof buf;
        ASSERT_EQ(RegQueryValueExA(key, e.name, nullptr, &type, buf, &size), ERROR_SUCCESS)
            << e.name;
        EXPECT_EQ(type, e.type) << e.name;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), e.data) << e.name;
    }
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, &type, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(DefaultOf("CLSID\\{X}\\InprocServer32"), "/opt/lib/PINBUS.OCX");
}

TEST_F(Registry, QueriesReportTheSizeTheyNeed) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "12345", 0), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);  // the NUL counts
    EXPECT_EQ(type, REG_SZ);
    char small[3] = {'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    char exact[6];
    size = sizeof exact;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(exact, "12345");
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "", &reserved, nullptr, nullptr, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), nullptr),
              ERROR_INVALID_PARAMETER);

    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K\\LongName", REG_SZ, "x", 0), ERROR_SUCCESS);
    char name[4];
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 9u);
    char value[8];
    DWORD valueSize = sizeof value;
    BYTE data[2];
    DWORD dataSize = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 0, value, &valueSize, nullptr, &type, data, &dataSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 6u);
    RegCloseKey(key);
}

TEST_F(Registry, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "PINBUS.PinbusCtrl.1\\CLSID", REG_SZ, "{A}", 0),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "pinbus.pinbusctrl.1\\clsid", REG_SZ, "{B}", 0),
              ERROR_SUCCESS);
    EXPECT_EQ(DefaultOf("PINBUS.PINBUSCTRL.1\\Clsid"), "{B}");
    EXPECT_EQ(SubkeysOf(HKEY_CLASSES_ROOT), std::vector<std::string>{"PINBUS.PinbusCtrl.1"});
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Pinbus.PinbusCtrl.1", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    ASSERT_EQ(SetString(key, "Name", "1"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, "NAME", "2"), ERROR_SUCCESS);
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Name");
    EXPECT_EQ(RegEnumValueA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST_F(Registry, FileIsWrittenInSortedRegeditFormatWithItsDirectory) {
    std::string nested = temp_.dir() + "/a/b/registry.reg";
    setenv("OLE_REGISTRY", nested.c_str(), 1);
    EXPECT_EQ(RegistryFilePath(), nested);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "b\\x", REG_SZ, "2", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "A", REG_SZ, "1", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "c", REG_SZ, "q\"\\", 0), ERROR_SUCCESS);
    std::ifstream in(nested);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text,
              "REGEDIT4\n\n"
              "[HKEY_CLASSES_ROOT\\A]\n@=\"1\"\n\n"
              "[HKEY_CLASSES_ROOT\\b]\n\n"
              "[HKEY_CLASSES_ROOT\\b\\x]\n@=\"2\"\n\n"
              "[HKEY_CLASSES_ROOT\\c]\n@=\"q\\\"\\\\\"\n\n");
    // No temporary file is left behind, only the lock beside the registry.
    EXPECT_EQ(FilesIn(temp_.dir() + "/a/b"),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(Registry, PathFollowsTheEnvironmentOnEveryCall) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "first", 0), ERROR_SUCCESS);
    std::string second = temp_.dir() + "/second.reg";
    setenv("OLE_REGISTRY", second.c_str(), 1);
    EXPECT_EQ(DefaultOf("K"), "<status 2>");  // a missing file is an empty registry
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "second", 0), ERROR_SUCCESS);
    setenv("OLE_REGISTRY", temp_.path().c_str(), 1);
    EXPECT_EQ(DefaultOf("K"), "first");

    unsetenv("OLE_REGISTRY");
    setenv("XDG_DATA_HOME", "/xdg/data", 1);
    EXPECT_EQ(RegistryFilePath(), "/xdg/data/lensbay/registry.reg");
    unsetenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string oldHome = home ? home : "";
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(RegistryFilePath(), "/home/someone/.local/share/lensbay/registry.reg");
    if (home)
        setenv("HOME", oldHome.c_str(), 1);
    else
        unsetenv("HOME");
    setenv("OLE_REGISTRY", temp_.path().c_str(), 1);
}

TEST_F(Registry, ChangesByOtherProcessesAreSeenAtOnce) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "one", 0), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(DefaultOf("K"), "one");
    // Rewritten in place with the same size, within the same clock tick.
    std::string text = temp_.Read();
    text.replace(text.find("one"), 3, "two");
    {
        std::ofstream out(temp_.path(), std::ios::binary | std::ios::in | std::ios::out);
        out << text;
    }
    EXPECT_EQ(DefaultOf("K"), "two");
    temp_.Replace("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\K]\n@=\"three\"\n");
    EXPECT_EQ(DefaultOf("K"), "three");
    // The handle names a path, so it outlives the file it was opened on.
    char buf[16];
    DWORD size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "three");
    temp_.Replace("REGEDIT4\n");
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(SetString(key, "x", "y"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetString(key, "x", "y"), ERROR_INVALID_HANDLE);
}

// Reads parse only the keys they look at in a file in the written order; what was parsed for one
// text of the file never answers for the next, and a file in any other order reads the same.
TEST_F(Registry, KeysParsedAloneFollowTheFileAndAnyOrderReadsTheSame) {
    const std::string head = "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{A}]\n@=\"a\"\n\n";
    // Most of the file lies elsewhere, so that no lookup takes the whole tree instead.
    const std::string tail = "[HKEY_CLASSES_ROOT\\Z]\n@=\"" + std::string(400, 'z') + "\"\n\n";
    temp_.Replace(head + "[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\n@=\"a.so\"\n\n" +
                  "[HKEY_CLASSES_ROOT\\CLSID\\{B}]\n@=\"b\"\n\n" + tail);
    HKEY a = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{A}", 0, KEY_READ, &a), ERROR_SUCCESS);
    EXPECT_EQ(SubkeysOf(a), std::vector<std::string>{"InprocServer32"});
    EXPECT_EQ(DefaultOf("CLSID\\{A}\\InprocServer32"), "a.so");
    EXPECT_EQ(DefaultOf("CLSID\\{A}\\Control"), "<status 2>");

    // The same sections, other values: the same runs, parsed again.
    temp_.Replace(head + "[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\n@=\"a1.so\"\n\n" +
                  "[HKEY_CLASSES_ROOT\\CLSID\\{C}]\n@=\"c\"\n\n" + tail);
    EXPECT_EQ(DefaultOf("CLSID\\{A}\\InprocServer32"), "a1.so");
    EXPECT_EQ(SubkeysOf(a), std::vector<std::string>{"InprocServer32"});
    EXPECT_EQ(DefaultOf("CLSID\\{C}"), "c");
    temp_.Replace(head + "[HKEY_CLASSES_ROOT\\CLSID\\{A}\\Control]\n\n" +
                  "[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\n@=\"a2.so\"\n\n" + tail);
    EXPECT_EQ(SubkeysOf(a), (std::vector<std::string>{"Control", "InprocServer32"}));
    EXPECT_EQ(DefaultOf("CLSID\\{A}\\InprocServer32"), "a2.so");
    EXPECT_EQ(DefaultOf("CLSID\\{B}"), "<status 2>");
    RegCloseKey(a);

    // Out of order, one key in two sections spelled two ways: merged, first spelling kept.
    temp_.Replace(
        "REGEDIT4\n[HKEY_CLASSES_ROOT\\clsid\\{b}]\n\"x\"=\"1\"\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{A}]\n@=\"a\"\n[HKEY_CLASSES_ROOT\\CLSID\\{B}]\n@=\"b\"\n");
    HKEY clsid = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
    EXPECT_EQ(SubkeysOf(clsid), (std::vector<std::string>{"{A}", "{b}"}));
    RegCloseKey(clsid);
    EXPECT_EQ(DefaultOf("CLSID\\{B}"), "b");
    HKEY b = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{B}", 0, KEY_READ, &b), ERROR_SUCCESS);
    char data[8] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(b, "X", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(data, "1");
    RegCloseKey(b);
}

TEST_F(Registry, DeletesFollowThePlatformRules) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "T\\A\\B", REG_SZ, "b", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "T\\C", REG_SZ, "c", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "T", REG_SZ, "t", 0), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "T\\A"), ERROR_ACCESS_DENIED);  // has subkeys
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "T\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Nowhere\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "t\\a\\b"), ERROR_SUCCESS);
    EXPECT_EQ(DefaultOf("T\\A"), "<status 2>");  // A is left, without a default value
    HKEY t = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "T", 0, KEY_ALL_ACCESS, &t), ERROR_SUCCESS);
    EXPECT_EQ(SubkeysOf(t), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(RegDeleteValueA(t, "nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(t, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(DefaultOf("T"), "<status 2>");

    // A tree without a subkey name empties the key and keeps it.
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "T", REG_SZ, "t", 0), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(t, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(SubkeysOf(t), std::vector<std::string>{});
    EXPECT_EQ(DefaultOf("T"), "<status 2>");
    ASSERT_EQ(RegSetValueA(t, "X\\Y\\Z", REG_SZ, "z", 0), ERROR_SUCCESS);
    EXPECT_EQ(DefaultOf("T\\X\\Y\\Z"), "z");
    EXPECT_EQ(RegDeleteTreeA(t, "X"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(t, "X"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "T"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(t, nullptr), ERROR_KEY_DELETED);
    RegCloseKey(t);
    EXPECT_EQ(temp_.Read(), "REGEDIT4\n\n");
}

TEST_F(Registry, BadArgumentsAreRefusedNotStored) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A\\\\B", 0, KEY_READ, &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "A\nB", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetString(HKEY_CLASSES_ROOT, "line\nbreak", "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(HKEY_CLASSES_ROOT, "n", 0, REG_BINARY, nullptr, 3),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_DWORD, "1", 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER);
    auto bogus = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234));
    EXPECT_EQ(RegOpenKeyExA(bogus, "A", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(std::filesystem::exists(temp_.path()));
}

TEST_F(Registry, TenConcurrentThreadsLoseNoRegistration) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 10; ++i) {
        threads.emplace_back([i] {
            for (int k = 0; k < 5; ++k) {
                std::string base = "CLSID\\{T" + std::to_string(i) + "-" + std::to_string(k) + "}";
                EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, (base + "\\InprocServer32").c_str(),
                                       REG_SZ, base.c_str(), 0),
                          ERROR_SUCCESS);
            }
        });
    }
    for (auto& t : threads) t.join();
    reg::Key root;
    std::string error;
    ASSERT_TRUE(reg::ParseRegistryText(temp_.Read(), &root, &error)) << error;
    EXPECT_EQ(root.subkeys["CLSID"].subkeys.size(), 50u);
    for (int i = 0; i < 10; ++i)
        for (int k = 0; k < 5; ++k) {
            std::string base = "CLSID\\{T" + std::to_string(i) + "-" + std::to_string(k) + "}";
            EXPECT_EQ(DefaultOf(base + "\\InprocServer32"), base);
        }
}

TEST_F(Registry, TenConcurrentProcessesLoseNoRegistration) {
    // The parent has read the file first, so its cache must notice every child's change.
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Start", REG_SZ, "x", 0), ERROR_SUCCESS);
    EXPECT_EQ(DefaultOf("Start"), "x");
    std::vector<pid_t> children;
    for (int i = 0; i < 10; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int k = 0; k < 5; ++k) {
                std::string base = "CLSID\\{P" + std::to_string(i) + "-" + std::to_string(k) + "}";
                HKEY key = nullptr;
                failures += RegCreateKeyExA(HKEY_CLASSES_ROOT, (base + "\\InprocServer32").c_str(),
                                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                            nullptr) != ERROR_SUCCESS;
                failures += SetString(key, nullptr, base) != ERROR_SUCCESS;
                failures += RegCloseKey(key) != ERROR_SUCCESS;
            }
            _exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    HKEY clsid = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
    EXPECT_EQ(SubkeysOf(clsid).size(), 50u);
    RegCloseKey(clsid);
    for (int i = 0; i < 10; ++i)
        for (int k = 0; k < 5; ++k) {
            std::string base = "CLSID\\{P" + std::to_string(i) + "-" + std::to_string(k) + "}";
            EXPECT_EQ(DefaultOf(base + "\\InprocServer32"), base);
        }
}

TEST_F(Registry, WriterKilledBeforeItsRenameLeavesThePreviousFile) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Kept", REG_SZ, "yes", 0), ERROR_SUCCESS);
    const std::string before = temp_.Read();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        SetRegistryWriteHookForTesting([](const char* step) {
            if (std::strcmp(step, "rename") == 0) kill(getpid(), SIGKILL);
            return 0;
        });
        RegSetValueA(HKEY_CLASSES_ROOT, "Lost", REG_SZ, "never", 0);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(temp_.Read(), before);
    EXPECT_EQ(FilesIn(temp_.dir()).size(), 3u);  // the file, its lock, the orphaned temporary
    EXPECT_EQ(DefaultOf("Lost"), "<status 2>");
    EXPECT_EQ(DefaultOf("Kept"), "yes");
    // The next writer clears the orphan away.
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Next", REG_SZ, "1", 0), ERROR_SUCCESS);
    EXPECT_EQ(FilesIn(temp_.dir()),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(Registry, FailedWritesReportTheReasonAndChangeNothing) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Kept", REG_SZ, "yes", 0), ERROR_SUCCESS);
    const std::string before = temp_.Read();
    struct Case {
        RegistryWriteHook hook;
        LSTATUS status;
        const char* reason;
    } cases[] = {
        {[](const char* s) { return std::strcmp(s, "write") ? 0 : ENOSPC; },
         ERROR_REGISTRY_IO_FAILED, "No space left on device"},
        {[](const char* s) { return std::strcmp(s, "fsync") ? 0 : EIO; }, ERROR_REGISTRY_IO_FAILED,
         "Input/output error"},
        {[](const char* s) { return std::strcmp(s, "rename") ? 0 : EXDEV; },
         ERROR_REGISTRY_IO_FAILED, "Invalid cross-device link"},
        {[](const char* s) { return std::strcmp(s, "open-temp") ? 0 : EACCES; },
         ERROR_ACCESS_DENIED, "Permission denied"},
    };
    for (const auto& c : cases) {
        SetRegistryWriteHookForTesting(c.hook);
        EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "New", REG_SZ, "x", 0), c.status);
        const std::string error = TakeErrorInfoText();
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_NE(error.find(temp_.dir()), std::string::npos) << error;
        SetRegistryWriteHookForTesting(nullptr);
        EXPECT_EQ(temp_.Read(), before);
        EXPECT_EQ(FilesIn(temp_.dir()),
                  (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
        EXPECT_EQ(DefaultOf("New"), "<status 2>");
    }
}

TEST_F(Registry, ReadOnlyDirectoryRefusesChangesButServesReads) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "v", 0), ERROR_SUCCESS);
    std::filesystem::remove(temp_.path() + ".lock");
    ASSERT_EQ(chmod(temp_.dir().c_str(), 0555), 0);
    EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "w", 0), ERROR_ACCESS_DENIED);
    const std::string error = TakeErrorInfoText();
    EXPECT_NE(error.find("registry.reg.lock: Permission denied"), std::string::npos) << error;
    EXPECT_EQ(DefaultOf("K"), "v");
    HKEY key = nullptr;  // opening an existing key through RegCreateKeyEx needs no write
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(chmod(temp_.dir().c_str(), 0755), 0);
}

TEST_F(Registry, DamagedFileFailsEveryCallAndIsNeverRewritten) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "v", 0), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const std::string damaged =
        "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\K]\n@=\"v\"\n\n[HKEY_CLASSES_ROOT\\L]\ngarbage here\n";
    temp_.Replace(damaged);
    const std::string where = temp_.path() + ":7: expected a key or a value";
    HKEY other = nullptr;
    DWORD size = 0;
    char name[8];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, KEY_READ, &other), ERROR_BADDB);
    EXPECT_EQ(TakeErrorInfoText(), where);
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_BADDB);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(SetString(key, "x", "y"), ERROR_BADDB);
    EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "New", REG_SZ, "x", 0), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &other, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "K"), ERROR_BADDB);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "K"), ERROR_BADDB);
    EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_BADDB);
    EXPECT_EQ(TakeErrorInfoText(), where);
    EXPECT_EQ(temp_.Read(), damaged);
    // Repaired by hand: everything works again, the old handle included.
    temp_.Replace("REGEDIT4\n[HKEY_CLASSES_ROOT\\K]\n@=\"fixed\"\n");
    EXPECT_EQ(DefaultOf("K"), "fixed");
    EXPECT_EQ(SetString(key, "x", "y"), ERROR_SUCCESS);
    RegCloseKey(key);
}

// The start-up check of the programs: a missing file is an empty registry; a damaged one is said
// with its place and the way out, and the check passes again once the file is repaired.
TEST_F(Registry, StartUpCheckNamesADamagedFileAndTheWayOut) {
    EXPECT_TRUE(CheckClassRegistry().ok());
    temp_.Replace("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\L]\ngarbage here\n");
    const base::Result<> damaged = CheckClassRegistry();
    ASSERT_FALSE(damaged.ok());
    EXPECT_EQ(damaged.message(),
              "cannot read the class registry " + temp_.path() + ": " + temp_.path() +
                  ":4: expected a key or a value\n" +
                  "repair or remove that file, or set OLE_REGISTRY to another one");
    temp_.Replace("REGEDIT4\n");
    EXPECT_TRUE(CheckClassRegistry().ok());
}

// A registration in a batch: one write of the file, reads see the pending changes, entries other
// processes write meanwhile stay, and an abandoned batch writes nothing.
int g_renames = 0;
TEST_F(Registry, BatchIsOneChangeOverWhatOthersWroteMeanwhile) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Old", REG_SZ, "gone soon", 0), ERROR_SUCCESS);
    const std::string before = temp_.Read();
    g_renames = 0;
    SetRegistryWriteHookForTesting([](const char* step) {
        g_renames += std::strcmp(step, "rename") == 0;
        return 0;
    });
    RegistryBeginBatch();
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32", REG_SZ, "a.so", 0),
              ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\Control", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, "Name", "v"), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Old"), ERROR_SUCCESS);
    // Nested levels (a module's own batch inside the tool's) write nothing of their own.
    RegistryBeginBatch();
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Inner", REG_SZ, "1", 0), ERROR_SUCCESS);
    ASSERT_TRUE(RegistryCommitBatch());
    EXPECT_EQ(DefaultOf("CLSID\\{A}\\InprocServer32"), "a.so");  // read back from the batch
    EXPECT_EQ(DefaultOf("Old"), "<status 2>");
    EXPECT_EQ(temp_.Read(), before);
    EXPECT_EQ(g_renames, 0);
    // Another process registers something else meanwhile, and drops "Old" itself too.
    temp_.Replace("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Other]\n@=\"theirs\"\n\n");
    ASSERT_TRUE(RegistryCommitBatch());
    EXPECT_EQ(g_renames, 1);
    EXPECT_EQ(DefaultOf("Other"), "theirs");
    EXPECT_EQ(DefaultOf("CLSID\\{A}\\InprocServer32"), "a.so");
    EXPECT_EQ(DefaultOf("Inner"), "1");
    EXPECT_EQ(DefaultOf("Old"), "<status 2>");

    // Abandoned, at the top or at an inner level: nothing written.
    const std::string after = temp_.Read();
    RegistryBeginBatch();
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Dropped", REG_SZ, "x", 0), ERROR_SUCCESS);
    RegistryAbandonBatch();
    RegistryBeginBatch();
    RegistryBeginBatch();
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Dropped", REG_SZ, "x", 0), ERROR_SUCCESS);
    RegistryAbandonBatch();
    EXPECT_FALSE(RegistryCommitBatch());
    EXPECT_FALSE(RegistryCommitBatch());  // none open any more
    EXPECT_EQ(temp_.Read(), after);
    EXPECT_EQ(DefaultOf("Dropped"), "<status 2>");
    EXPECT_EQ(g_renames, 1);
}

// Left alone under its lock, a batch writes its own tree once, and nothing when the file already
// says everything it sets.
TEST_F(Registry, BatchWritesOnceOrNotAtAll) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Kept", REG_SZ, "yes", 0), ERROR_SUCCESS);
    g_renames = 0;
    SetRegistryWriteHookForTesting([](const char* step) {
        g_renames += std::strcmp(step, "rename") == 0;
        return 0;
    });
    const auto registration = [] {
        RegistryBeginBatch();
        EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32", REG_SZ, "a.so", 0),
                  ERROR_SUCCESS);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\Control", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_TRUE(RegistryCommitBatch());
    };
    registration();
    EXPECT_EQ(g_renames, 1);
    reg::Key tree;
    std::string error;
    ASSERT_TRUE(reg::ParseRegistryText(temp_.Read(), &tree, &error)) << error;
    EXPECT_EQ(tree.subkeys.at("Kept").values.at(""), (reg::Value{REG_SZ, std::string("yes\0", 4)}));
    EXPECT_EQ(tree.subkeys.at("CLSID").subkeys.at("{A}").subkeys.size(), 2u);
    EXPECT_EQ(DefaultOf("CLSID\\{A}\\InprocServer32"), "a.so");

    struct stat before {};
    ASSERT_EQ(stat(temp_.path().c_str(), &before), 0);
    registration();
    EXPECT_EQ(g_renames, 1);
    struct stat after {};
    ASSERT_EQ(stat(temp_.path().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(DefaultOf("Kept"), "yes");
}

TEST_F(Registry, FailedBatchCommitWritesNothingAndSaysWhy) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Kept", REG_SZ, "yes", 0), ERROR_SUCCESS);
    const std::string before = temp_.Read();
    RegistryBeginBatch();
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "A", REG_SZ, "1", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "B", REG_SZ, "2", 0), ERROR_SUCCESS);
    SetRegistryWriteHookForTesting(
        [](const char* s) { return std::strcmp(s, "write") ? 0 : ENOSPC; });
    base::Result<> r = RegistryCommitBatch();
    ASSERT_FALSE(r);
    EXPECT_NE(r.message().find("No space left on device"), std::string::npos) << r.message();
    EXPECT_EQ(TakeErrorInfoText(), r.message());
    SetRegistryWriteHookForTesting(nullptr);
    EXPECT_EQ(temp_.Read(), before);
    EXPECT_EQ(DefaultOf("A"), "<status 2>");
    EXPECT_EQ(FilesIn(temp_.dir()),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

// The file named may be a link (followed: its target is replaced, the link stays, the lock is
// beside the target) but not a FIFO, device or directory (refused, nothing written, no hang).
TEST_F(Registry, LinksAreFollowedAndOtherNonFilesRefused) {
    const std::string real = temp_.dir() + "/real";
    ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
    {
        std::ofstream(real + "/classes.reg")
            << "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Was]\n@=\"here\"\n";
    }
    ASSERT_EQ(chmod((real + "/classes.reg").c_str(), 0640), 0);
    ASSERT_EQ(symlink("real/classes.reg", temp_.path().c_str()), 0);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "New", REG_SZ, "1", 0), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(lstat(temp_.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat((real + "/classes.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(DefaultOf("Was"), "here");
    EXPECT_EQ(DefaultOf("New"), "1");
    EXPECT_EQ(FilesIn(real), (std::vector<std::string>{"classes.reg", "classes.reg.lock"}));
    EXPECT_EQ(FilesIn(temp_.dir()), (std::vector<std::string>{"real", "registry.reg"}));

    ASSERT_EQ(unlink(temp_.path().c_str()), 0);
    std::vector<std::string> kinds = {"fifo", "dir"};
    if (geteuid() == 0) kinds.push_back("device");
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        int made = kind == "fifo"  ? mkfifo(temp_.path().c_str(), 0644)
                   : kind == "dir" ? mkdir(temp_.path().c_str(), 0755)
                                   : mknod(temp_.path().c_str(), S_IFCHR | 0666, makedev(1, 3));
        if (made != 0 && kind == "device") continue;  // no CAP_MKNOD here
        ASSERT_EQ(made, 0);
        EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "v", 0), ERROR_ACCESS_DENIED);
        const std::string error = TakeErrorInfoText();
        EXPECT_NE(error.find(temp_.path() + " is not a regular file"), std::string::npos) << error;
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Was", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
        EXPECT_NE(CheckClassRegistry().message().find("is not a regular file"), std::string::npos);
        EXPECT_EQ(FilesIn(temp_.dir()), (std::vector<std::string>{"real", "registry.reg"}));
        ASSERT_EQ(lstat(temp_.path().c_str(), &st), 0);
        EXPECT_EQ(S_ISDIR(st.st_mode), kind == "dir");
        std::filesystem::remove(temp_.path());
    }
}

}  // namespace
