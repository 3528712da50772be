// regsvr --system registers for every user: a user with no registry of their own finds Pinbus in
// the machine-wide one, until it is unregistered there.
#include <gmock/gmock.h>

#include "tests/support/process.h"

namespace {

using testing::HasSubstr;

TEST(MachineRegistry, RegsvrSystemServesEveryUserUntilUnregistered) {
    const std::string bin = LENSBAY_BIN_DIR;
    test_support::TempDir dir;
    const std::string machine = dir.path() + "/var/registry.reg";
    // --system ignores OLE_REGISTRY and writes the machine-wide file.
    const std::map<std::string, std::string> env = {{"OLE_MACHINE_REGISTRY", machine},
                                                    {"OLE_REGISTRY", dir.path() + "/other.reg"}};
    auto o = test_support::RunProcess({{bin + "/regsvr", "--system", bin + "/PINBUS.OCX"}, env});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    std::string text;
    ASSERT_TRUE(test_support::ReadWholeFile(machine, &text));
    EXPECT_THAT(text, HasSubstr("PINBUS.OCX"));

    // A user of their own (an empty data folder), no OLE_REGISTRY.
    test_support::Command user({bin + "/lensbay", "reset"},
                               {{"OLE_MACHINE_REGISTRY", machine},
                                {"OLE_REGISTRY", ""},
                                {"XDG_DATA_HOME", dir.path() + "/home-data"},
                                {"PORTIO", "sim"}});
    user.cwd = dir.path();
    o = test_support::RunProcess(user);
    EXPECT_EQ(o.status, 0) << o.err;
    // OLE_REGISTRY still means its file alone.
    test_support::Command only = user;
    only.env["OLE_REGISTRY"] = dir.path() + "/other.reg";
    EXPECT_EQ(test_support::RunProcess(only).status, 2);

    o = test_support::RunProcess({{bin + "/regsvr", "--system", "-u", bin + "/PINBUS.OCX"}, env});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    o = test_support::RunProcess(user);
    EXPECT_EQ(o.status, 2);
    EXPECT_THAT(o.err, HasSubstr("is not registered"));
}

}  // namespace
