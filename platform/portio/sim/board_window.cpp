#include "platform/portio/sim/board_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "platform/portio/sim/board_operator.h"

namespace sim {

BoardWindow::BoardWindow(Board& board, QWidget* parent) : QWidget(parent), board_(board) {
    setObjectName(QStringLiteral("Board"));
    setWindowTitle(QStringLiteral("SX540 Evaluation Board"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(this);

    auto* switchBox = new QGroupBox(QStringLiteral("A[3:0]"), this);
    auto* switchRow = new QHBoxLayout(switchBox);
    for (int bit = 3; bit >= 0; --bit) {
        auto* sw = new QCheckBox(QStringLiteral("A%1").arg(bit), switchBox);
        sw->setObjectName(QStringLiteral("A%1").arg(bit));
        connect(sw, &QCheckBox::toggled, this, [this, bit](bool on) {
            const auto mask = static_cast<std::uint8_t>(1u << bit);
            const std::uint8_t a = board_.Switches();
            board_.SetSwitches(on ? (a | mask) : (a & ~mask));
        });
        switchRow->addWidget(sw);
        switches_[bit] = sw;
    }
    layout->addWidget(switchBox);

    auto* registerBox = new QGroupBox(QStringLiteral("Registers latched"), this);
    auto* grid = new QGridLayout(registerBox);
    for (int address = FCTL; address <= VWCTL; ++address) {
        grid->addWidget(new QLabel(QString::fromLatin1(RegisterName(address)), registerBox),
                        address - 1, 0);
        auto* value = new QLabel(registerBox);
        value->setObjectName(QString::fromLatin1(RegisterName(address)));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, address - 1, 1);
        registers_[address] = value;
    }
    layout->addWidget(registerBox);

    follow_ = new QCheckBox(QStringLiteral("Switches follow the prompts"), this);
    follow_->setObjectName(QStringLiteral("Follow"));
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) { board_.SetFollowsPrompts(on); });
    layout->addWidget(follow_);

    board_.SetChangeListener([this] { Refresh(); });
    Refresh();
}

BoardWindow::~BoardWindow() { board_.SetChangeListener(nullptr); }

void BoardWindow::Refresh() {
    const std::uint8_t a = board_.Switches();
    for (int bit = 0; bit < 4; ++bit) {
        const QSignalBlocker block(switches_[bit]);
        switches_[bit]->setChecked((a >> bit) & 1);
    }
    const auto& latched = board_.Latched();
    for (int address = FCTL; address <= VWCTL; ++address) {
        const auto& value = latched[address];
        registers_[address]->setText(
            value ? QStringLiteral("0x") +
                        QString::number(*value, 16).rightJustified(2, QLatin1Char('0')).toUpper()
                  : QString(QChar(0x2014)));  // an em dash: nothing latched yet
    }
    const QSignalBlocker block(follow_);
    follow_->setChecked(board_.FollowsPrompts());
}

std::unique_ptr<portio::BoardOperator::Window> SimBoardOperator::OpenWindow(int left, int top) {
    auto window = std::make_unique<BoardWindow>(board_);
    window->adjustSize();
    window->move(left, top);
    window->show();
    return window;
}

}  // namespace sim
