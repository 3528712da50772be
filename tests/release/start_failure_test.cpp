// Every program ends cleanly when what it needs is not there: no display, Pinbus not registered
// or its file gone, the port refused, the class registry unreadable, a working directory that
// cannot be written. Clean means: no crash, no hang, a message that names the problem and the
// fix, and a non-zero status (lensbay 2 for the port objects, 3 for the port backend).
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/process.h"

namespace release_test {
using namespace test_support;
namespace {

using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

const std::string kLensbay = LENSBAY_PATH;
const std::string kRegsvr = REGSVR_PATH;
const std::string kOcxhost = OCXHOST_PATH;
const std::string kPinbus = PINBUS_PATH;

constexpr char kFirstBox[] = "box\tOperation Notice\tPlease select VPORT register A[3:0]=1000";

// Whether this process can run a child as an ordinary user: as root it drops to nobody; else
// it must hold no capabilities itself (a raw-I/O capability would let PORTIO=direct through).
bool CanRunUnprivileged(bool* as_nobody) {
    *as_nobody = ::geteuid() == 0;
    if (*as_nobody) return true;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapEff:", 0) == 0) return line.find_first_not_of("0\t ", 7) == line.npos;
    }
    return false;
}

class StartFailureTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        // Readable by the unprivileged child in the cases that use one.
        ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
        registry_ = dir_.path() + "/registry.reg";
    }

    void Register() {
        const Outcome o = RunProcess({{kRegsvr, kPinbus}, {{"OLE_REGISTRY", registry_}}});
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        ASSERT_EQ(::chmod(registry_.c_str(), 0644), 0);
    }

    Command Lensbay(std::vector<std::string> args, std::string input,
                    std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), kLensbay);
        env.emplace("OLE_REGISTRY", registry_);
        env.emplace("PORTIO", "sim");
        env.emplace("PORTIO_TRACE", "");
        return Command(args, env, input);
    }

    TempDir dir_;
    std::string registry_;
};

// The one-line notice a fallback gives, and an ordinary session after it.
void ExpectConsoleFallback(const Outcome& o, const std::string& reason) {
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, HasSubstr(reason));
    EXPECT_THAT(o.err, HasSubstr("running the console front end"));
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(o.out, std::string(kFirstBox) + "\n");
}

TEST_F(StartFailureTest, WithoutADisplayLensbayFallsBackToTheConsole) {
    Register();
    const std::map<std::string, std::string> none = {
        {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
    ExpectConsoleFallback(RunProcess(Lensbay({}, "quit\n", none)), "no display found");

    auto xcb = none;
    xcb["QT_QPA_PLATFORM"] = "xcb";
    ExpectConsoleFallback(RunProcess(Lensbay({}, "quit\n", xcb)), "no display found");

    // A DISPLAY naming a server that is not there (a closed session): Qt itself would abort.
    if (::access("/tmp/.X11-unix/X97", F_OK) == 0) GTEST_SKIP() << "an X server runs at :97";
    auto stale = none;
    stale["DISPLAY"] = ":97";
    ExpectConsoleFallback(RunProcess(Lensbay({}, "quit\n", stale)),
                          "cannot connect to the X display ':97'");
    stale["QT_QPA_PLATFORM"] = "xcb";
    ExpectConsoleFallback(RunProcess(Lensbay({}, "quit\n", stale)),
                          "cannot connect to the X display ':97'");
}

TEST_F(StartFailureTest, PinbusNotRegisteredOrItsFileGone) {
    // regsvr beside lensbay, not on the search path: named by its path, as the user can type it.
    const std::string hint = "register it with: " + kRegsvr + " " + kPinbus;
    for (const bool console : {true, false}) {
        SCOPED_TRACE(console ? "console" : "window");
        // The window front end on an offscreen platform: a box there would never be answered.
        const std::vector<std::string> args =
            console ? std::vector<std::string>{"--console"} : std::vector<std::string>{};
        const std::map<std::string, std::string> env = {{"QT_QPA_PLATFORM", "offscreen"},
                                                        {"PORTIO_TRACE", "-"}};
        Outcome o = RunProcess(Lensbay(args, "quit\n", env));
        EXPECT_FALSE(o.timed_out);
        EXPECT_EQ(o.status, 2);
        EXPECT_THAT(o.err, HasSubstr("is not registered"));
        EXPECT_THAT(o.err, HasSubstr(hint));
        EXPECT_EQ(o.out, "") << "no port cycle before the port objects exist";
    }

    // Registered, then the file deleted: the registry entry points nowhere.
    Register();
    std::string text;
    ASSERT_TRUE(ReadWholeFile(registry_, &text));
    const std::string gone = dir_.path() + "/deleted/PINBUS.OCX";
    std::size_t replaced = 0;
    for (auto at = text.find(kPinbus); at != std::string::npos; at = text.find(kPinbus, at)) {
        text.replace(at, kPinbus.size(), gone);
        at += gone.size();
        ++replaced;
    }
    ASSERT_GT(replaced, 0u);
    ASSERT_TRUE(WriteWholeFile(registry_, text));
    Outcome o = RunProcess(Lensbay({"--console"}, "quit\n"));
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.status, 2);
    EXPECT_THAT(o.err, HasSubstr("will not load"));
    EXPECT_THAT(o.err, HasSubstr(gone));
    EXPECT_THAT(o.err, HasSubstr(hint));

    // The container says the same for the object, and unregistering the lost file is refused.
    o = RunProcess({{kOcxhost}, {{"OLE_REGISTRY", registry_}}, "create Pinbus.PinbusCtrl.1\n"});
    EXPECT_EQ(o.status, 0) << "a failed command does not end the session";
    EXPECT_THAT(o.out, HasSubstr("error 0x800401f8: cannot load " + gone));
    o = RunProcess({{kRegsvr, "-u", gone}, {{"OLE_REGISTRY", registry_}}});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("cannot load " + gone + ": No such file or directory"));
}

TEST_F(StartFailureTest, RefusedPortAccessEndsBeforeAnyPortCycle) {
    Register();
    Outcome o = RunProcess(Lensbay({"--console"}, "press Command1\n",
                                   {{"PORTIO", "ppdev:/dev/nonexistent"}, {"PORTIO_TRACE", "-"}}));
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, "");
    EXPECT_THAT(o.err, HasSubstr("PORTIO=ppdev:/dev/nonexistent: cannot open /dev/nonexistent"));

    // Not a parallel port at all.
    o = RunProcess(Lensbay({"--console"}, "press Command1\n",
                           {{"PORTIO", "ppdev:/dev/null"}, {"PORTIO_TRACE", "-"}}));
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, "");
    EXPECT_THAT(o.err, HasSubstr("/dev/null"));

    bool as_nobody = false;
    if (!CanRunUnprivileged(&as_nobody)) GTEST_SKIP() << "cannot run without port privileges";
    Command direct =
        Lensbay({"--console"}, "press Command1\n", {{"PORTIO", "direct"}, {"PORTIO_TRACE", "-"}});
    direct.as_nobody = as_nobody;
    o = RunProcess(direct);
    ASSERT_TRUE(o.started) << o.err;
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, "");
    EXPECT_THAT(o.err, HasSubstr("PORTIO=direct"));
    EXPECT_THAT(o.err, HasSubstr("PORTIO=ppdev:/dev/parport0")) << "names the way that works";
}

TEST_F(StartFailureTest, UnreadableRegistryIsSaidAndLeftAsItIs) {
    struct Case {
        std::string name;
        std::function<void(const std::string&)> make;
        bool unprivileged;
    };
    const std::vector<Case> cases = {
        {"a directory", [](const std::string& p) { std::filesystem::create_directory(p); }, false},
        {"not a registry",
         [](const std::string& p) { WriteWholeFile(p, "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\x\n"); },
         false},
        {"binary junk",
         [](const std::string& p) {
             WriteWholeFile(p, std::string("\x7f"
                                           "ELF\0\1",
                                           6));
         },
         false},
        {"no read permission",
         [](const std::string& p) {
             WriteWholeFile(p, "REGEDIT4\n");
             ::chmod(p.c_str(), 0);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_.path() + "/" + std::to_string(&c - cases.data()) + ".reg";
        c.make(path);
        bool as_nobody = false;
        if (c.unprivileged && !CanRunUnprivileged(&as_nobody)) continue;
        std::string before;
        const bool readable = ReadWholeFile(path, &before);

        struct Expectation {
            Command run;
            int status;
        };
        const std::map<std::string, std::string> env = {{"OLE_REGISTRY", path}, {"PORTIO", "sim"}};
        std::vector<Expectation> runs = {
            {{{kLensbay, "--console"}, env, "quit\n"}, 2},
            {{{kLensbay}, {{"OLE_REGISTRY", path}, {"QT_QPA_PLATFORM", "offscreen"}}, "quit\n"}, 2},
            {{{kRegsvr, kPinbus}, env}, 1},
            {{{kRegsvr, "-u", kPinbus}, env}, 1},
            {{{kOcxhost}, env, "create Pinbus.PinbusCtrl.1\n"}, 1},
        };
        for (auto& [run, status] : runs) {
            SCOPED_TRACE(run.args[0] + (run.args.size() > 1 ? " " + run.args[1] : ""));
            run.as_nobody = as_nobody;
            const Outcome o = RunProcess(run);
            ASSERT_TRUE(o.started) << o.err;
            EXPECT_FALSE(o.timed_out);
            EXPECT_EQ(o.status, status);
            EXPECT_THAT(o.err, HasSubstr("cannot read the class registry " + path));
            EXPECT_THAT(o.err, HasSubstr("OLE_REGISTRY")) << "says how to get past it";
            EXPECT_THAT(o.out, Not(HasSubstr("succeeded")));
        }
        // Never silently replaced by a fresh one.
        std::string after;
        EXPECT_EQ(ReadWholeFile(path, &after), readable);
        EXPECT_EQ(after, before);
        EXPECT_EQ(std::filesystem::is_directory(path), c.name == "a directory");
    }
}

TEST_F(StartFailureTest, UnwritableWorkingDirectory) {
    Register();
    const std::string work = dir_.path() + "/read-only";
    ASSERT_EQ(::mkdir(work.c_str(), 0555), 0);
    bool as_nobody = false;
    // Root writes anywhere; the directory is only read-only to an ordinary user.
    if (!CanRunUnprivileged(&as_nobody)) GTEST_SKIP() << "cannot run as an ordinary user";
    Command run =
        Lensbay({"--console"}, "enter Text1 100\npress Command1\npress Capture\nshow\nquit\n");
    run.cwd = work;
    run.as_nobody = as_nobody;
    const Outcome o = RunProcess(run);
    ASSERT_TRUE(o.started) << o.err;
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr(std::string(kFirstBox) + "\n"));
    EXPECT_THAT(o.out, HasSubstr("box\tLensbay\tCan't create the .raw file.\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("monitor\t")));
    EXPECT_THAT(o.out, HasSubstr("show\t")) << "the session goes on after the failed capture";
    EXPECT_TRUE(std::filesystem::is_empty(work));
}

TEST_F(StartFailureTest, RegsvrOnFilesThatAreNotServers) {
    const std::map<std::string, std::string> env = {{"OLE_REGISTRY", registry_}};
    Outcome o = RunProcess({{kRegsvr, dir_.path() + "/missing.ocx"}, env});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("cannot load " + dir_.path() + "/missing.ocx"));

    const std::string text = dir_.path() + "/text.ocx";
    ASSERT_TRUE(WriteWholeFile(text, "not a shared object\n"));
    o = RunProcess({{kRegsvr, text}, env});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("cannot load " + text));

    o = RunProcess({{kRegsvr, dir_.path()}, env});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("cannot load"));

    o = RunProcess({{kRegsvr}, env});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Usage: regsvr"));
    EXPECT_FALSE(std::filesystem::exists(registry_)) << "nothing was registered";

    o = RunProcess({{kOcxhost}, env, "resources " + dir_.path() + "/missing.ocx\n"});
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("error"));
    EXPECT_THAT(o.out, HasSubstr("missing.ocx"));
}

}  // namespace
}  // namespace release_test
