// The windowed front end as the program sees it: whether a display can be reached, a start-up
// failure said in a box, and the window's run. A build with Qt makes one; a build without makes
// none, and the program runs the console front end.
#pragma once

#include <memory>
#include <string>

struct IDispatch;

namespace portio {
class BoardOperator;
}

namespace panel {

class KeptBoardRecord;

class WindowFrontEnd {
public:
    virtual ~WindowFrontEnd() = default;
    // "" when the window may go ahead; else what the program says before running the console
    // front end instead ("no display found; running the console front end (...)").
    virtual std::string DisplayProblem() = 0;
    // Says a failure that stops the start in a box, where someone can see one.
    virtual void ShowStartFailure(int argc, char** argv, const std::string& message) = 0;
    // Runs the window until it is closed (see RunQtFrontEnd); returns the exit status.
    virtual int Run(int argc, char** argv, IDispatch* pinbus1, IDispatch* pinbus2,
                    portio::BoardOperator* board, KeptBoardRecord* record) = 0;
};

// The build's windowed front end, or null when it was built without one.
std::unique_ptr<WindowFrontEnd> MakeWindowFrontEnd();

}  // namespace panel
