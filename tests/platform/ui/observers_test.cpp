#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/message_box.h"

namespace {

struct Seen {
    std::string who, title, text;
    bool operator==(const Seen&) const = default;
};

class Observers : public ::testing::Test {
protected:
    void TearDown() override {
        for (int handle : handles_) ui::RemoveMessageBoxObserver(handle);
        ui::SetMessageBoxHandlerForTesting(nullptr);
    }
    int Watch(const std::string& who) {
        const int handle = ui::AddMessageBoxObserver(
            [this, who](const std::string& title, const std::string& text) {
                seen_.push_back({who, title, text});
            });
        handles_.push_back(handle);
        return handle;
    }
    std::vector<int> handles_;
    std::vector<Seen> seen_;
};

TEST_F(Observers, RunInRegistrationOrderUntilRemoved) {
    const int first = Watch("first");
    Watch("second");
    EXPECT_NE(first, 0);
    ui::NotifyMessageBoxAcknowledged("Operation Notice",
                                     "Please select VPORT register A[3:0]=1000");
    ui::RemoveMessageBoxObserver(first);
    ui::NotifyMessageBoxAcknowledged("SX540 Control Panel", "x");
    const std::vector<Seen> expected = {
        {"first", "Operation Notice", "Please select VPORT register A[3:0]=1000"},
        {"second", "Operation Notice", "Please select VPORT register A[3:0]=1000"},
        {"second", "SX540 Control Panel", "x"},
    };
    EXPECT_EQ(seen_, expected);
}

TEST_F(Observers, HandlesAreDistinctAndEmptyObserversAreRefused) {
    const int a = Watch("a");
    const int b = Watch("b");
    EXPECT_NE(a, b);
    EXPECT_EQ(ui::AddMessageBoxObserver(nullptr), 0);
    ui::RemoveMessageBoxObserver(0);       // unknown handles are harmless
    ui::RemoveMessageBoxObserver(123456);  // likewise
    ui::NotifyMessageBoxAcknowledged("t", "x");
    EXPECT_EQ(seen_.size(), 2u);
}

TEST_F(Observers, AnObserverMayRemoveItselfWhileBeingNotified) {
    int self = 0;
    int calls = 0;
    self = ui::AddMessageBoxObserver([&](const std::string&, const std::string&) {
        ++calls;
        ui::RemoveMessageBoxObserver(self);
        // Adding while notified must not deadlock either.
        handles_.push_back(
            ui::AddMessageBoxObserver([](const std::string&, const std::string&) {}));
    });
    Watch("other");
    ui::NotifyMessageBoxAcknowledged("t", "one");
    ui::NotifyMessageBoxAcknowledged("t", "two");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen_.size(), 2u);
}

TEST_F(Observers, TestHandlerIsStoredAndCleared) {
    EXPECT_FALSE(ui::MessageBoxHandlerForTesting());
    std::string got;
    ui::SetMessageBoxHandlerForTesting(
        [&](const std::string& title, const std::string& text) { got = title + "|" + text; });
    auto handler = ui::MessageBoxHandlerForTesting();
    ASSERT_TRUE(handler);
    handler("a", "b");
    EXPECT_EQ(got, "a|b");
    ui::SetMessageBoxHandlerForTesting(nullptr);
    EXPECT_FALSE(ui::MessageBoxHandlerForTesting());
}

}  // namespace
