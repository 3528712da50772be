// The subcommands' arguments: every option at most once, values checked before any port cycle.
#include "panel/cli/arguments.h"

#include <gmock/gmock.h>

namespace {

using panel::cli::ParseArguments;
using testing::HasSubstr;

TEST(Arguments, EveryOptionIsRefusedWhenGivenTwice) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> twice = {
        {{"--count", "2", "--count", "3"}, "--count is given twice"},
        {{"--window", "1,5,2,6", "--window", "0,1,0,1"}, "--window is given twice"},
        {{"-o", "a.png", "--output", "b.bmp"}, "-o is given twice"},
        {{"-y", "--yes"}, "--yes is given twice"},
        // Refused for the repeat even when the second value would be refused anyway.
        {{"--count", "2", "--count"}, "--count is given twice"},
    };
    for (const auto& [args, message] : twice) {
        const auto r = ParseArguments("capture", args);
        ASSERT_FALSE(r) << message;
        EXPECT_EQ(r.message(), message);
    }
    EXPECT_EQ(ParseArguments("reset", {"--yes", "-y"}).message(), "--yes is given twice");
    EXPECT_EQ(ParseArguments("set", {"-y", "gain=1", "-y"}).message(), "--yes is given twice");
    // Help is help, however often asked for.
    EXPECT_TRUE(ParseArguments("capture", {"--help", "-h"})->help);
}

TEST(Arguments, ValuesAreCheckedAndKept) {
    auto r = ParseArguments("capture", {"--window", "1,5,2,6", "--count", "3", "-y"});
    ASSERT_TRUE(r) << r.message();
    EXPECT_EQ(r->window, (std::array<std::string, 4>{"1", "5", "2", "6"}));
    EXPECT_EQ(r->count, 3);
    EXPECT_TRUE(r->yes);
    EXPECT_FALSE(r->output);
    EXPECT_THAT(ParseArguments("capture", {"--count", "1000001"}).message(),
                HasSubstr("from 1 to 1000000"));
    EXPECT_THAT(ParseArguments("capture", {"--count", "2x"}).message(), HasSubstr("--count"));
    EXPECT_THAT(ParseArguments("capture", {"--window", "1,2,3"}).message(),
                HasSubstr("four numbers"));
    EXPECT_EQ(ParseArguments("capture", {"--window"}).message(), "--window needs a value");
    // Options belong to their subcommand; a value is shown with its control characters escaped.
    EXPECT_EQ(ParseArguments("reset", {"--count", "2"}).message(), "unknown argument \"--count\"");
    EXPECT_EQ(ParseArguments("capture", {"\x1b[2J"}).message(), "unknown argument \"\\x1b[2J\"");
    r = ParseArguments("set", {"mirror=ON", "exposure= 40 "});
    ASSERT_TRUE(r) << r.message();
    EXPECT_EQ(r->settings.Get(chip::kMirror), 0);
    EXPECT_EQ(r->settings.Get(chip::kExposure), 40);
    EXPECT_EQ(ParseArguments("set", {"exposure=99999999999999999999"}).message(),
              "exposure = 99999999999999999999 is outside 0..127");
}

}  // namespace
