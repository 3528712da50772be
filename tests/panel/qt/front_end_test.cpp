#include <QTimer>
#include <QWidget>

#include "tests/panel/qt/panel_fixture.h"

namespace {

QWidget* TopLevel(const QString& title) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == title && w->isVisible()) return w;
    return nullptr;
}

TEST(QtFrontEnd, PromptsBeforeShowingThenRunsUntilTheWindowCloses) {
    sim::Board* board = portio::SimulatedBoard();
    ASSERT_NE(board, nullptr);
    board->SetSwitches(0x3);
    board->SetFollowsPrompts(true);
    std::vector<std::string> boxes;
    bool windowVisibleAtPrompt = true;
    ui::SetMessageBoxHandlerForTesting([&](const std::string& title, const std::string& text) {
        boxes.push_back(title + "|" + text);
        windowVisibleAtPrompt = TopLevel("SX540 Control Panel") != nullptr;
    });
    bool boardShownBeside = false;
    QTimer::singleShot(0, [&] {
        QWidget* main = TopLevel("SX540 Control Panel");
        QWidget* boardWindow = TopLevel("SX540 Evaluation Board");
        if (main == nullptr || boardWindow == nullptr) {
            ADD_FAILURE() << "the windows are not shown";
            QApplication::quit();
            return;
        }
        boardShownBeside = boardWindow->x() > main->x();
        main->close();  // ends the program
    });
    testing_support::FakePinbus pinbus1, pinbus2;
    char name[] = "lensbay";
    char* argv[] = {name, nullptr};
    const int status = RunQtFrontEnd(1, argv, &pinbus1, &pinbus2, portio::Operator());
    ui::SetMessageBoxHandlerForTesting(nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(boxes, std::vector<std::string>{
                         "Operation Notice|Please select VPORT register A[3:0]=1000"});
    EXPECT_FALSE(windowVisibleAtPrompt);
    EXPECT_TRUE(boardShownBeside);
    EXPECT_EQ(board->Switches(), sim::VPORT);  // followed the start-up prompt
    EXPECT_EQ(pinbus1.refs(), 0u);             // released with the window
}

}  // namespace
