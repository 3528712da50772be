// `cmake --install` into a scratch prefix: exactly the programs, libraries and data files a user
// gets, nothing of the tests, and the installed programs working from there on their own.
#include <gmock/gmock.h>

#include <filesystem>
#include <set>

#include "tests/support/process.h"

namespace release_test {
using namespace test_support;
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::IsSupersetOf;

class InstallTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_dir_ = new TempDir;
        Command install(
            {CMAKE_COMMAND_PATH, "--install", BUILD_DIR, "--prefix", prefix_dir_->path()},
            {{"DESTDIR", ""}});
        install.timeout_seconds = 120;
        const Outcome o = RunProcess(install);
        install_log_ = o.out + o.err;
        installed_ = o.status == 0;
    }
    static void TearDownTestSuite() {
        delete prefix_dir_;
        prefix_dir_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed_) << install_log_; }

    static std::string Prefix() { return prefix_dir_->path(); }

    static std::set<std::string> Files() {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(Prefix())) {
            if (!entry.is_directory()) files.insert(fs::relative(entry.path(), Prefix()).string());
        }
        return files;
    }

    static TempDir* prefix_dir_;
    static bool installed_;
    static std::string install_log_;
};

TempDir* InstallTest::prefix_dir_ = nullptr;
bool InstallTest::installed_ = false;
std::string InstallTest::install_log_;

#ifdef GST_PLUGIN_INSTALL_DIR
// The GStreamer element goes where the system's GStreamer looks for plugins.
const std::string kGstPlugin = GST_PLUGIN_INSTALL_DIR "/libgstlensbay.so";
#else
const std::string kGstPlugin = "(no GStreamer plugin)";
#endif
#ifdef PYTHON_INSTALL_DIR
// The Python package goes where the system's python3 looks for packages.
const std::string kPythonPackage = PYTHON_INSTALL_DIR "/";
#else
const std::string kPythonPackage = "(no Python module)";
#endif

TEST_F(InstallTest, LaysOutProgramsLibrariesAndDataAndNothingOfTheTests) {
    const std::set<std::string> files = Files();
    std::set<std::string> programs;
    for (const auto& f : files)
        if (f.rfind("bin/", 0) == 0) programs.insert(f);
    EXPECT_EQ(programs, (std::set<std::string>{"bin/lensbay", "bin/ocxhost", "bin/regsvr"}));
    std::vector<std::string> expected = {"lib/lensbay/PINBUS.OCX", "lib/lensbay/libcom.so",
                                         "lib/lensbay/libctl.so",  "lib/lensbay/libportio.so",
                                         "lib/lensbay/libsim.so",  "lib/lensbay/libui_core.so",
                                         "share/lensbay/bmphead1", "share/doc/lensbay/copyright"};
#ifdef WITH_GUI
    expected.insert(expected.end(), {"lib/lensbay/libui.so", "share/applications/lensbay.desktop",
                                     "share/icons/hicolor/16x16/apps/lensbay.png",
                                     "share/icons/hicolor/32x32/apps/lensbay.png",
                                     "share/icons/hicolor/48x48/apps/lensbay.png"});
#endif
    EXPECT_THAT(files, IsSupersetOf(expected));
    for (const auto& f : files) {
        EXPECT_TRUE(f.rfind("bin/", 0) == 0 || f.rfind("lib/lensbay/", 0) == 0 ||
                    f.rfind("share/", 0) == 0 || f == kGstPlugin || f.rfind(kPythonPackage, 0) == 0)
            << f;
        for (const char* word :
             {"test", "TEST", "bench", "fuzz", "rescomp", "write_bmphead1", "render_icon"}) {
            EXPECT_EQ(f.find(word), std::string::npos) << f << " must not be installed";
        }
    }
}

#ifdef WITH_GUI
TEST_F(InstallTest, DesktopEntryAndIconAreWhatTheMenuNeeds) {
    std::string entry;
    ASSERT_TRUE(ReadWholeFile(Prefix() + "/share/applications/lensbay.desktop", &entry));
    EXPECT_THAT(entry, testing::StartsWith("[Desktop Entry]\n"));
    for (const char* line : {"Type=Application\n", "Name=Lensbay\n", "Exec=lensbay\n",
                             "Icon=lensbay\n", "Categories=Development;Electronics;\n"}) {
        EXPECT_THAT(entry, HasSubstr(line));
    }
    EXPECT_THAT(entry, HasSubstr("\nComment="));

    // A PNG whose header gives the size its folder names.
    for (int size : {16, 32, 48}) {
        const std::string dim = std::to_string(size);
        std::string png;
        ASSERT_TRUE(ReadWholeFile(
            Prefix() + "/share/icons/hicolor/" + dim + "x" + dim + "/apps/lensbay.png", &png));
        ASSERT_GT(png.size(), 24u);
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        auto be32 = [&](std::size_t at) {
            return (static_cast<unsigned char>(png[at]) << 24) |
                   (static_cast<unsigned char>(png[at + 1]) << 16) |
                   (static_cast<unsigned char>(png[at + 2]) << 8) |
                   static_cast<unsigned char>(png[at + 3]);
        };
        EXPECT_EQ(be32(16), static_cast<unsigned>(size));
        EXPECT_EQ(be32(20), static_cast<unsigned>(size));
    }
}
#endif

TEST_F(InstallTest, InstalledProgramsRunFromThePrefixAlone) {
    TempDir work;
    const std::string registry = work.path() + "/registry.reg";
    const std::string ocx = Prefix() + "/lib/lensbay/PINBUS.OCX";
    // Nothing of the build tree on any search path.
    const std::map<std::string, std::string> env = {{"OLE_REGISTRY", registry},
                                                    {"PORTIO", "sim"},
                                                    {"PORTIO_TRACE", ""},
                                                    {"LD_LIBRARY_PATH", ""},
                                                    {"PATH", Prefix() + "/bin:/usr/bin:/bin"}};

    // Not registered yet: the hint names the installed control, and regsvr as the search path
    // finds it.
    Outcome o = RunProcess({{Prefix() + "/bin/lensbay", "--console"}, env, "quit\n"});
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_THAT(o.err, HasSubstr("register it with: regsvr " + ocx + "\n"));

    o = RunProcess({{Prefix() + "/bin/regsvr", ocx}, env});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    std::string text;
    ASSERT_TRUE(ReadWholeFile(registry, &text));
    EXPECT_THAT(text, HasSubstr(ocx)) << "the registry keeps the installed path";

    Command capture({Prefix() + "/bin/lensbay", "--console"}, env,
                    "enter Text1 100\npress Command1\npress Capture\nquit\n");
    capture.cwd = work.path();
    o = RunProcess(capture);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("box\tSX540 Control Panel\tPlease select EXCTL register "
                                 "A[3:0]=0010\n"));
    EXPECT_THAT(o.out, HasSubstr("monitor\t6144\t4608\tpicture\n"));
    EXPECT_EQ(fs::file_size(work.path() + "/image.bmp"), 111959u);

    o = RunProcess(
        {{Prefix() + "/bin/ocxhost"}, env, "create Pinbus.PinbusCtrl.1\ninitnew\nget Address\n"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("VT_I4 888\n"));
}

TEST_F(InstallTest, TheCopyrightFileSaysTheLicenceInDebiansFormat) {
    std::string copyright, licence;
    ASSERT_TRUE(ReadWholeFile(Prefix() + "/share/doc/lensbay/copyright", &copyright));
    ASSERT_TRUE(ReadWholeFile(LICENSE_PATH, &licence));
    EXPECT_THAT(copyright, testing::StartsWith("Format: https://www.debian.org/doc/"
                                               "packaging-manuals/copyright-format/1.0/\n"));
    EXPECT_THAT(copyright, HasSubstr("\nFiles: *\nCopyright: 2026 the Lensbay authors\n"
                                     "License: Expat\n"));
    EXPECT_THAT(licence, HasSubstr("Copyright (c) 2026 the Lensbay authors\n"));
    // The licence's text, from "Permission" on, as the format writes it: each line indented by
    // one space, an empty line as " .".
    std::string expected;
    std::size_t at = licence.find("Permission is hereby granted");
    ASSERT_NE(at, std::string::npos);
    while (at < licence.size()) {
        const std::size_t end = licence.find('\n', at);
        const std::string line = licence.substr(at, end - at);
        expected += line.empty() ? " .\n" : " " + line + "\n";
        at = end == std::string::npos ? licence.size() : end + 1;
    }
    EXPECT_THAT(copyright, HasSubstr("\nLicense: Expat\n" + expected));
}

#ifdef PYTHON_INSTALL_DIR
// The installed package, imported by the system's python3 from the prefix alone, finds its
// libraries and names the installed PINBUS.OCX in its advice.
TEST_F(InstallTest, TheInstalledPythonPackageFindsItsLibraries) {
    for (const char* file : {"__init__.py", "__init__.pyi", "py.typed"})
        EXPECT_TRUE(fs::exists(Prefix() + "/" + kPythonPackage + file)) << file;
    TempDir work;
    const Outcome o =
        RunProcess({{SYSTEM_PYTHON_PATH, "-c",
                     "import lensbay\nprint(lensbay.__file__)\ntry:\n    lensbay.Camera()\n"
                     "except lensbay.NotRegistered as e:\n    print(e)\n"},
                    {{"PYTHONPATH", Prefix() + "/" PYTHON_INSTALL_DIR "/.."},
                     {"OLE_REGISTRY", work.path() + "/registry.reg"},
                     {"PORTIO", "sim"},
                     {"LD_LIBRARY_PATH", ""},
                     {"PATH", "/usr/bin:/bin"}}});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr(Prefix() + "/" + kPythonPackage + "__init__.py\n"));
    EXPECT_THAT(o.out, HasSubstr(" " + Prefix() + "/lib/lensbay/PINBUS.OCX\n"));
}
#endif

#if defined(GST_PLUGIN_INSTALL_DIR) && !defined(LENSBAY_SANITIZED)
TEST_F(InstallTest, TheInstalledElementFindsItsLibraries) {
    ASSERT_TRUE(fs::exists(Prefix() + "/" + kGstPlugin));
    const std::string inspect = GST_INSPECT_PATH;
    if (inspect.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "no gst-inspect-1.0";
    TempDir work;
    const Outcome o = RunProcess({{inspect, "lensbaysrc"},
                                  {{"GST_PLUGIN_PATH_1_0", Prefix() + "/" GST_PLUGIN_INSTALL_DIR},
                                   {"GST_PLUGIN_SYSTEM_PATH_1_0", work.path()},
                                   {"GST_REGISTRY_1_0", work.path() + "/registry.bin"},
                                   {"LD_LIBRARY_PATH", ""},
                                   {"PATH", "/usr/bin:/bin"}}});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr(Prefix() + "/" + kGstPlugin));
    EXPECT_THAT(o.out, testing::ContainsRegex("License +MIT/X11\n"));
}
#endif

}  // namespace
}  // namespace release_test
