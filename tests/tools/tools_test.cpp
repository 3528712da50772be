// The tools as a user runs them: separate processes, a registry file of the test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/com/guid_text.h"
#include "platform/com/wtypes.h"
#include "tests/platform/com/test_server.h"
#include "tests/support/temp_registry.h"

using test_support::TempRegistry;

extern char** environ;

namespace {

const std::string kRegsvr = REGSVR_PATH;
const std::string kOcxhost = OCXHOST_PATH;
const std::string kServer = std::filesystem::canonical(TEST_SERVER_PATH).string();
const std::string kNoExports = std::filesystem::canonical(TEST_NO_EXPORTS_PATH).string();

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs a program with `input` on its standard input; output and errors are captured in files
// beside the registry, so no pipe can fill up.
Outcome RunProgram(const TempRegistry& temp, const std::vector<std::string>& args,
                   const std::string& input = {}) {
    const std::string in = temp.dir() + "/stdin", out = temp.dir() + "/stdout",
                      err = temp.dir() + "/stderr";
    std::ofstream(in, std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Outcome run;
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << args[0] << ": " << std::strerror(rc);
        return run;
    }
    // A tool that hangs (a dialog nobody closes) is killed rather than stalling the suite.
    int status = 0;
    for (int waited = 0;; waited += 10) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) {
            ADD_FAILURE() << "waitpid failed";
            break;
        }
        if (waited == 60000) {
            ADD_FAILURE() << args[0] << " hung; killed";
            kill(pid, SIGKILL);
        }
        usleep(10000);
    }
    EXPECT_TRUE(WIFEXITED(status)) << args[0] << " died with status " << status;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
}

class Tools : public ::testing::Test {
protected:
    // The children show the control's dialogs off screen, whatever the caller's environment.
    void SetUp() override { setenv("QT_QPA_PLATFORM", "offscreen", 1); }
    void TearDown() override { unsetenv("TEST_SERVER_REGISTER_RESULT"); }
    Outcome Regsvr(const std::vector<std::string>& args) {
        std::vector<std::string> all{kRegsvr};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(temp_, all);
    }
    Outcome Ocxhost(const std::string& script) { return RunProgram(temp_, {kOcxhost}, script); }
    TempRegistry temp_;
};

TEST_F(Tools, RegsvrRegistersTheFullPathAndUnregisters) {
    // Given relative to the working directory, stored absolute.
    std::string relative = std::filesystem::relative(kServer).string();
    Outcome r = Regsvr({relative});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // It says which registry file it wrote.
    EXPECT_EQ(r.out, "DllRegisterServer in " + kServer +
                         " succeeded (0x00000000)\nwritten to the class registry " + temp_.path() +
                         "\n");
    std::string file = temp_.Read();
    EXPECT_NE(file.find("InprocServer32]\n@=\"" + kServer + "\"\n"), std::string::npos) << file;
    EXPECT_NE(file.find("[HKEY_CLASSES_ROOT\\LensbayTest.Object.1\\CLSID]"), std::string::npos);

    r = Regsvr({"-u", kServer});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "DllUnregisterServer in " + kServer +
                         " succeeded (0x00000000)\nwritten to the class registry " + temp_.path() +
                         "\n");
    EXPECT_EQ(temp_.Read(), "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID]\n\n");
}

TEST_F(Tools, RegsvrReportsFailuresWithTheirCodeAndExitsOne) {
    setenv("TEST_SERVER_REGISTER_RESULT", "80040200", 1);
    Outcome r = Regsvr({kServer});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "DllRegisterServer in " + kServer + " failed (0x80040200)\n");
    setenv("TEST_SERVER_REGISTER_RESULT", "1", 1);  // S_FALSE is no success either
    r = Regsvr({"-u", kServer});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "DllUnregisterServer in " + kServer + " failed (0x00000001)\n");
    unsetenv("TEST_SERVER_REGISTER_RESULT");

    // A damaged registry: the server's failure, and where the file went wrong.
    const std::string damaged = "REGEDIT4\n\nnonsense\n";
    temp_.Replace(damaged);
    r = Regsvr({kServer});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "DllRegisterServer in " + kServer + " failed (0x80040201)\n");
    EXPECT_NE(r.err.find(temp_.path() + ":3: expected a key or a value"), std::string::npos)
        << r.err;
    EXPECT_EQ(temp_.Read(), damaged);
}

TEST_F(Tools, RegsvrNamesFilesThatWillNotLoad) {
    Outcome r = Regsvr({temp_.dir() + "/missing.ocx"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "regsvr: cannot load " + temp_.dir() + "/missing.ocx: No such file or directory\n");
    const std::string text = temp_.dir() + "/text.ocx";
    std::ofstream(text) << "not a library";
    r = Regsvr({text});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("regsvr: cannot load " + text + ": "), std::string::npos) << r.err;
    r = Regsvr({kNoExports});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("regsvr: " + kNoExports + " has no DllRegisterServer"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(temp_.path()));

    EXPECT_EQ(Regsvr({}).exitCode, 1);
    EXPECT_EQ(Regsvr({"-x", kServer}).exitCode, 1);
    EXPECT_EQ(Regsvr({kServer, kServer}).exitCode, 1);
    r = Regsvr({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Usage: regsvr [-u] PATH"), std::string::npos);
}

TEST_F(Tools, OcxhostDrivesAnObjectLikeAHost) {
    ASSERT_EQ(Regsvr({kServer}).exitCode, 0);
    Outcome r = Ocxhost(
        "get Number\n"
        "create LensbayTest.Object.1\n"
        "initnew\n"
        "get Number\n"
        "get 3\n"
        "isdirty\n"
        "put Number 5\n"
        "put Small 40000 VT_I2\n"
        "put Small 12.5 VT_I2\n"
        "put 2 \"two  words\"\n"
        "get text\n"
        "put Text 7 VT_BSTR\n"
        "get Text\n"
        "put Number 1.5 VT_R8\n"
        "put Number abc\n"
        "isdirty\n"
        "save\n"
        "isdirty\n"
        "load 01000000 0200\n"
        "get Number\n"
        "get Small\n"
        "load 01 02\n"
        "load xyz\n"
        "call Reset\n"
        "get Number\n"
        "get Nothing\n"
        "call Refuse\n"
        "put 99 1\n"
        "misc\n"
        "members\n"
        "resources " +
        kServer +
        "\n"
        "# a comment\n"
        "\n"
        "initnew\n"
        "save\n"
        "release\n"
        "release\n"
        "create {5A1C0E37-2B44-4F0D-9C61-7E32A815D04C}\n"
        "initnew\n"
        "get Small\n"
        "quit\n"
        "get Small\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "error no object (use create first)\n"
              "S_OK\n"
              "S_OK\n"
              "VT_I4 888\n"
              "VT_I2 8\n"
              "S_FALSE\n"
              "S_OK\n"
              "error 0x8002000a\n"
              "S_OK\n"
              "S_OK\n"
              "VT_BSTR two  words\n"
              "S_OK\n"
              "VT_BSTR 7\n"
              "S_OK\n"
              "error 0x80020005\n"
              "S_OK\n"
              "02 00 00 00 0c 00\n"
              "S_FALSE\n"
              "S_OK\n"
              "VT_I4 1\n"
              "VT_I2 2\n"
              "error 0x8003001e\n"
              "error bad hex: xyz\n"
              "S_OK\n"
              "VT_I4 0\n"
              "error 0x80020006: the object has no member named Nothing\n"
              "error 0x80004005: the test object refuses, as asked\n"
              "error 0x80020003\n"  // the earlier command's reason is not this one's
              "registry 132497 0x00020591\n"
              "error 0x8002000b\n"
              "error " +
                  kServer +
                  ": no resource section (.lbrsrc)\n"
                  "S_OK\n"
                  "78 03 00 00 08 00\n"
                  "S_OK\n"
                  "error no object (use create first)\n"
                  "S_OK\n"
                  "S_OK\n"
                  "VT_I2 8\n");
}

TEST_F(Tools, OcxhostExplainsFailedCreations) {
    const std::string missing = temp_.dir() + "/gone.so";
    std::string key = "CLSID\\" + GuidToString(kTestObjectClsid) + "\\InprocServer32";
    temp_.Replace("REGEDIT4\n[HKEY_CLASSES_ROOT\\" + key + "]\n@=\"" + missing + "\"\n");
    Outcome r = Ocxhost(
        "create Unknown.Prog.1\n"
        "create {00000000-0000-0000-0000-000000000001}\n"
        "create {not-a-guid}\n"
        "create " +
        GuidToString(kTestObjectClsid) +
        "\n"
        "create\n"
        "create a b\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "error 0x800401f3: the ProgID \"Unknown.Prog.1\" is not registered\n"
              "error 0x80040154: class {00000000-0000-0000-0000-000000000001} is not registered "
              "as an in-process server\n"
              "error bad class identity: {not-a-guid}\n"
              "error 0x800401f8: cannot load " +
                  missing + ": " + missing +
                  ": cannot open shared object file: No such file or directory\n"
                  "error create needs one PROGID or {CLSID}\n"
                  "error create needs one PROGID or {CLSID}\n");
}

TEST_F(Tools, OcxhostSurvivesAnyInput) {
    ASSERT_EQ(Regsvr({kServer}).exitCode, 0);
    std::string junk = "create LensbayTest.Object.1\ninitnew\n";
    junk += std::string(100000, 'x') + "\n";
    junk += "put\nput Number\nget\nget a b\ncall\nload\nsave extra\nmisc x\n";
    junk += "put Number \"\nput Number \"\" VT_I4\nput -2147483649 1\nget 2147483648\n";
    junk += std::string("\0\x01\xff\xfe garbage\r\n", 14);
    junk += "load 0\nload " + std::string(5000, 'f') + "\ncall 0\nrelease\nsave\nisdirty\n";
    junk += "get Number";  // no final newline
    Outcome r = Ocxhost(junk);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    int lines = 0;
    for (char c : r.out) lines += c == '\n';
    EXPECT_EQ(lines, 23) << r.out;  // one line for each command
    EXPECT_EQ(Ocxhost("").out, "");
    r = RunProgram(temp_, {kOcxhost, "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("create PROGID|{CLSID}"), std::string::npos);
    EXPECT_EQ(RunProgram(temp_, {kOcxhost, "--bogus"}).exitCode, 1);
}

#ifdef PINBUS_PATH
const std::string kPinbus = std::filesystem::canonical(PINBUS_PATH).string();

TEST_F(Tools, PinbusRegistersAndRunsInTheContainer) {
    Outcome r = Regsvr({kPinbus});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "DllRegisterServer in " + kPinbus +
                         " succeeded (0x00000000)\nwritten to the class registry " + temp_.path() +
                         "\n");
    // The stream Lensbay's form holds: extent 1085 x 873, Address 0x378, Bits 8.
    const std::string form = "00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 78 03 00 00 08 00";
    r = RunProgram(temp_, {kOcxhost, "--close-dialogs"},
                   "create PINBUS.PinbusCtrl.1\n"
                   "members\n"
                   "load " +
                       form +
                       "\n"
                       "get Address\n"
                       "get Bits\n"
                       "isdirty\n"
                       "save\n"
                       "put Bits 12\n"
                       "isdirty\n"
                       "put Bits 16\n"
                       "isdirty\n"
                       "get 2\n"
                       "save\n"
                       "initnew\n"
                       "get Bits\n"
                       "misc\n"
                       "pages\n"
                       "verbs\n"
                       "properties\n"
                       "about\n"
                       "get Address\n"
                       "release\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string out = r.out;
    std::string verbs;
    std::size_t v = out.find("0 0x00000001 &Edit\n");
    std::size_t p = out.find("-7 0x00000003 &Properties...\n");
    ASSERT_NE(v, std::string::npos) << out;
    ASSERT_NE(p, std::string::npos) << out;
    out.erase(v, p - v + std::strlen("-7 0x00000003 &Properties...\n"));
    EXPECT_EQ(out,
              "S_OK\n"
              "1 Address property VT_I4\n"
              "2 Bits property VT_I2\n"
              "3 Value property VT_I4\n"
              "-552 AboutBox method VT_VOID\n"
              "S_OK\n"
              "VT_I4 888\n"
              "VT_I2 8\n"
              "S_FALSE\n" +
                  form + "\n" +
                  "S_OK\n"     // Bits 12 is ignored...
                  "S_FALSE\n"  // ...and changes nothing
                  "S_OK\n"
                  "S_OK\n"
                  "VT_I2 16\n"
                  "00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 78 03 00 00 10 00\n"
                  "S_OK\n"
                  "VT_I2 8\n"
                  "registry 132497 0x00020591\n"
                  "object 132497 0x00020591\n"
                  "{6B2F14D4-5C83-11D0-9E41-0040A7B3C250}\n"
                  "dialog Pinbus Control Properties\n"
                  "S_OK\n"
                  "dialog About Pinbus Control\n"
                  "S_OK\n"
                  "VT_I4 888\n"
                  "S_OK\n")
        << r.err;

    // The module's resources, read from the file without loading it.
    r = Ocxhost("resources " + kPinbus + "\n");
    for (const char* line :
         {"TYPELIB 1 0x0409 ", "BITMAP 1 0x0409 ", "ICON 1 0x0409 ", "DIALOG 1 0x0409 ",
          "DIALOG 100 0x0409 ", "STRING 1 0x0409 ", "STRING 2 0x0409 ", "STRING 100 0x0409 ",
          "VERSION 1 0x0409 ", "file version 1.0.2.0\n", "translation 0x0409 0x04b0\n",
          "FileDescription: Pinbus OLE I/O Port Control\n", "OriginalFilename: PINBUS.OCX\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;

    r = Regsvr({"-u", kPinbus});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    r = Ocxhost("create PINBUS.PinbusCtrl.1\n");
    EXPECT_EQ(r.out, "error 0x800401f3: the ProgID \"PINBUS.PinbusCtrl.1\" is not registered\n");
}

// DISPLAY names a server that is not there (the .invalid domain never resolves): the dialogs
// cannot be shown, the host goes on. The About box returns as ever; the properties verb fails.
TEST_F(Tools, PinbusDialogsWithoutAReachableDisplay) {
    ASSERT_EQ(Regsvr({kPinbus}).exitCode, 0);
    unsetenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    setenv("DISPLAY", "nonexistent.invalid:0", 1);
    Outcome r = Ocxhost(
        "create PINBUS.PinbusCtrl.1\ninitnew\nabout\nproperties\nabout\n"
        "properties\nget Address\nactivate\n");
    if (display != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "S_OK\nS_OK\nS_OK\nerror 0x80004005\nS_OK\nerror 0x80004005\nVT_I4 888\n"
              "error no window to activate the object in (no display)\n")
        << r.err;
}

// On a Qt platform that shows nothing to anyone (offscreen), a dialog could never be answered:
// without --close-dialogs ocxhost treats them as where there is no display, at once.
TEST_F(Tools, PinbusDialogsOnAPlatformThatShowsNothingDoNotWait) {
    ASSERT_EQ(Regsvr({kPinbus}).exitCode, 0);
    for (const char* platform : {"offscreen", "minimal;offscreen"}) {
        setenv("QT_QPA_PLATFORM", platform, 1);
        const auto start = std::chrono::steady_clock::now();
        Outcome r =
            Ocxhost("create PINBUS.PinbusCtrl.1\ninitnew\nabout\nproperties\nget Address\n");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << platform;
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "S_OK\nS_OK\nS_OK\nerror 0x80004005\nVT_I4 888\n") << platform << r.err;
    }
}

// ocxhost places the control as a form host does: its site before its state (the control asks
// for that), in place in ocxhost's window only when asked, and every call the control makes on
// the site in order.
TEST_F(Tools, OcxhostPlacesTheControlAndSaysWhatItAskedOfTheSite) {
    ASSERT_EQ(Regsvr({kPinbus}).exitCode, 0);
    ASSERT_EQ(Regsvr({kServer}).exitCode, 0);
    const std::string form = "00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 78 03 00 00 08 00";
    Outcome r = RunProgram(temp_, {kOcxhost, "--close-dialogs"},
                           "create PINBUS.PinbusCtrl.1\nsite\nload " + form +
                               "\nactivate\nsite\nactivate\nsite\ndeactivate\nsite\n"
                               "properties\nsite\nsave\ndraw " +
                               temp_.dir() + "/picture.png 48 44\ndraw " + temp_.dir() +
                               "/picture.png 0 44\n"
                               "release\n"
                               "create LensbayTest.Object.1\nactivate\nsite\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "S_OK\n"
              "no calls\n"
              "S_OK\n"
              "S_OK\n"
              "QueryInterface IOleInPlaceSite\nCanInPlaceActivate\nOnInPlaceActivate\n"
              "GetWindow\nGetWindowContext\n"
              "S_OK\n"
              "no calls\n"
              "S_OK\n"
              "OnInPlaceDeactivate\n"
              "dialog Pinbus Control Properties\n"
              "S_OK\n"
              "QueryInterface IOleControlSite\nShowPropertyFrame\n"
              "QueryInterface IOleInPlaceSite\nGetWindow\n" +
                  form +
                  "\n"
                  "S_OK\n"
                  "error the picture's size must be 1 to 4096 pixels each way\n"
                  "S_OK\n"
                  "S_OK\n"
                  "error 0x80004002: the object is no OLE object (IOleObject)\n"
                  "error 0x80004002: the object is no OLE object (IOleObject)\n")
        << r.err;
    // The picture the view drew, as a PNG file of the size asked for (its header says so).
    const std::string png = Slurp(temp_.dir() + "/picture.png");
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x30\0\0\0\x2c", 8));  // 48 x 44
}

// A control kept in ocxhost's storage and in a memory block, and placed by quick activation.
TEST_F(Tools, OcxhostKeepsTheObjectInAStorageAndAMemoryBlock) {
    ASSERT_EQ(Regsvr({kPinbus}).exitCode, 0);
    const std::string put = "00 00 01 00 7b 02 00 00 46 02 00 00 00 00 00 00 bc 03 00 00 10 00";
    Outcome r = Ocxhost(
        "create PINBUS.PinbusCtrl.1\ninitstorage\ninitstorage\nput Address 956\nput Bits 16\n"
        "savestorage\nisdirty\nhandsoff\nsavestorage\nsavecompleted\nsavestorage\nsavememory\n"
        "release\ncreate PINBUS.PinbusCtrl.1\nloadstorage " +
        put + "\nget Address\nloadstorage " + put +
        "\nrelease\ncreate PINBUS.PinbusCtrl.1\nloadstorage 00 00 01 00\nloadmemory 00 00 01 00\n"
        "loadmemory 00 00 01 00 7b 02 00 00 46 02 00 00 00 00 00 00 78 03 00 00 0c 00\n"
        "get Bits\nquickactivate\nunadvise 1\nsavememory\nrelease\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "S_OK\nS_OK\nerror 0x800401f1\nS_OK\nS_OK\n" + put +
                         "\nS_FALSE\nS_OK\nerror 0x8000ffff\nS_OK\n" + put + "\n" + put +
                         "\nS_OK\nS_OK\nS_OK\nVT_I4 956\nerror 0x800401f1\nS_OK\nS_OK\n"
                         "error 0x8003001e\nerror 0x8003001e\nS_OK\nVT_I2 12\n"
                         "misc 0x00020591 view 0x00000001 eventcookie 1 propnotifycookie 0\n"
                         "S_OK\n"
                         "00 00 01 00 7b 02 00 00 46 02 00 00 00 00 00 00 78 03 00 00 0c 00\n"
                         "S_OK\n")
        << r.err;
}

// What a host asks before it places a control, and named persistence in NAME=VALUE text.
TEST_F(Tools, OcxhostAsksForInterfacesEventsClassInfoAndPropertyBags) {
    ASSERT_EQ(Regsvr({kPinbus}).exitCode, 0);
    Outcome r = Ocxhost(
        "create PINBUS.PinbusCtrl.1\ninitnew\ninterfaces\nconnpoints\nclassinfo\n"
        "advise\nadvise\nunadvise 1\nunadvise 1\nunadvise 4294967296\n"
        "put Address 632\nsavebag\nisdirty\n"
        "loadbag Bits=16\nget Address\nget Bits\n"
        "loadbag Address=632;Bits=x\nget Address\nloadbag\nget Bits\nloadbag =1\nrelease\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "S_OK\nS_OK\n"
              "IUnknown\nIDispatch\nIPersist\nIPersistStreamInit\nIPersistPropertyBag\n"
              "IPersistStorage\nIPersistMemory\nIQuickActivate\n"
              "IConnectionPointContainer\nIProvideClassInfo\nIProvideClassInfo2\n"
              "IOleObject\nIOleWindow\nIOleInPlaceObject\nIOleInPlaceActiveObject\n"
              "IViewObject\nIViewObject2\n"
              "IOleControl\nISpecifyPropertyPages\n"
              "{6B2F14D2-5C83-11D0-9E41-0040A7B3C250}\n"
              "Pinbus {6B2F14D2-5C83-11D0-9E41-0040A7B3C250}\n"
              "cookie 1\ncookie 2\nS_OK\nerror 0x80040200\nerror unadvise needs a COOKIE\n"
              "S_OK\n"
              "_Version=65536\n_ExtentX=635\n_ExtentY=582\n_StockProps=0\nAddress=632\nBits=8\n"
              "S_FALSE\n"
              "S_OK\nVT_I4 888\nVT_I2 16\n"
              "error 0x80020005: Bits\nVT_I4 888\n"
              "S_OK\nVT_I2 8\n"
              "error bad property list: \"=1\" has no name\n"
              "S_OK\n");

    // An object that is no control has none of it.
    ASSERT_EQ(Regsvr({kServer}).exitCode, 0);
    r = Ocxhost("create LensbayTest.Object.1\nconnpoints\nadvise\nclassinfo\nsavebag\n");
    EXPECT_EQ(r.out,
              "S_OK\n"
              "error 0x80004002: the object has no connection points\n"
              "error 0x80004002: the object has no event connection point\n"
              "error 0x80004002: the object gives no class information\n"
              "error 0x80004002: the object has no named persistence\n");
}
#endif

}  // namespace
