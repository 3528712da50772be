// Where the workbench's windows go beside the main window and the board's on a 1280 x 1024
// screen: never over them nor each other while there is room, kept on the screen when there is
// none.
#include "panel/qt/window_placement.h"

#include <gtest/gtest.h>

namespace {

using panel::qt::PlaceBeside;

bool Overlap(const QRect& a, const std::vector<QRect>& others) {
    for (const QRect& o : others)
        if (a.intersects(o)) return true;
    return false;
}

TEST(WindowPlacement, BesideTheMainAndBoardWindowsCoveringNeither) {
    const QRect screen(0, 0, 1280, 1024);
    const QRect main(0, 0, 394, 368), board(402, 0, 218, 287);
    // The live view and the inspector, as large as they open.
    const std::vector<QSize> sizes = {QSize(404, 380), QSize(727, 580)};
    const std::vector<QPoint> at = PlaceBeside(screen, {main, board}, sizes);
    ASSERT_EQ(at.size(), 2u);
    const QRect live(at[0], sizes[0]), inspector(at[1], sizes[1]);
    EXPECT_EQ(live.topLeft(), QPoint(628, 0));       // right of the board's window, at the top
    EXPECT_EQ(inspector.topLeft(), QPoint(0, 388));  // below, clear of the live view
    for (const QRect& r : {live, inspector}) {
        EXPECT_TRUE(screen.contains(r));
        EXPECT_FALSE(Overlap(r, {main, board}));
    }
    EXPECT_FALSE(live.intersects(inspector));
}

TEST(WindowPlacement, WithoutRoomAWindowCoversTheLeastAndStaysOnTheScreen) {
    const QRect screen(0, 0, 800, 600);
    const QRect main(0, 0, 394, 368);
    const std::vector<QPoint> at = PlaceBeside(screen, {main, QRect()}, {QSize(700, 500)});
    const QRect r(at[0], QSize(700, 500));
    EXPECT_TRUE(screen.contains(r));
    EXPECT_LT(r.intersected(main).width() * r.intersected(main).height(), 394 * 368);
    // A window larger than the screen keeps its top left corner on it.
    const std::vector<QPoint> huge = PlaceBeside(screen, {main}, {QSize(2000, 2000)});
    EXPECT_EQ(huge[0], QPoint(0, 0));
}

}  // namespace
