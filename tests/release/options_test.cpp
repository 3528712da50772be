// --help and --version of every installed program, and what a wrong option gets.
#include <gmock/gmock.h>

#include "tests/support/process.h"

namespace release_test {
using namespace test_support;
namespace {

using testing::HasSubstr;
using testing::StartsWith;

struct Program {
    std::string name, path;
};

const Program kPrograms[] = {
    {"lensbay", LENSBAY_PATH}, {"regsvr", REGSVR_PATH}, {"ocxhost", OCXHOST_PATH}};

TEST(Options, EveryProgramAnswersHelpVersionAndRejectsUnknownOptions) {
    for (const auto& program : kPrograms) {
        SCOPED_TRACE(program.name);
        // Whatever the environment holds, these answer at once and touch nothing.
        const std::map<std::string, std::string> env = {{"OLE_REGISTRY", "/nonexistent/r.reg"},
                                                        {"PORTIO", "bogus"}};
        Outcome o = RunProcess({{program.path, "--version"}, env});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, program.name + " " + EXPECTED_VERSION + "\n");
        EXPECT_EQ(o.err, "");

        o = RunProcess({{program.path, "--help"}, env});
        EXPECT_EQ(o.status, 0);
        EXPECT_THAT(o.out, StartsWith("Usage: " + program.name));
        EXPECT_THAT(o.out, HasSubstr("--version"));

        o = RunProcess({{program.path, "--no-such-option"}, env});
        EXPECT_EQ(o.status, 1);
        EXPECT_THAT(o.err, HasSubstr("unknown option"));
        EXPECT_THAT(o.err, HasSubstr("--no-such-option"));
        EXPECT_EQ(o.out, "");
    }
}

}  // namespace
}  // namespace release_test
