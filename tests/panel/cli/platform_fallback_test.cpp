// A Wayland session where no Qt platform can start: lensbay says so and runs the console instead
// of ending with an abort.
#include <gmock/gmock.h>

#include "tests/support/process.h"

namespace {

using testing::HasSubstr;

TEST(PlatformFallback, AnUnreachableWaylandDisplayFallsBackToTheConsole) {
#ifndef WITH_GUI
    GTEST_SKIP() << "built without the Qt front end";
#endif
    const std::string bin = LENSBAY_BIN_DIR;
    test_support::TempDir dir;
    const std::string registry = dir.path() + "/registry.reg";
    ASSERT_EQ(test_support::RunProcess(test_support::Command({bin + "/regsvr", bin + "/PINBUS.OCX"},
                                                             {{"OLE_REGISTRY", registry}}))
                  .status,
              0);
    for (const char* platform : {"", "wayland", "wayland;xcb"}) {
        test_support::Command c({bin + "/lensbay"},
                                {{"OLE_REGISTRY", registry},
                                 {"PORTIO", "sim"},
                                 {"DISPLAY", ""},
                                 {"QT_QPA_PLATFORM", platform},
                                 {"WAYLAND_DISPLAY", "lensbay-test-no-compositor"},
                                 {"XDG_RUNTIME_DIR", dir.path()}},
                                "quit\n");
        c.cwd = dir.path();
        const test_support::Outcome o = test_support::RunProcess(c);
        EXPECT_EQ(o.status, 0) << platform << o.err;
        EXPECT_THAT(o.err, HasSubstr("no Qt platform can start")) << platform;
        EXPECT_THAT(o.out, HasSubstr("box\tOperation Notice")) << platform;
    }
}

}  // namespace
