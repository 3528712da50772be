#include "panel/qt/board_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "panel/qt/app_icon.h"
#include "platform/ui/message_box.h"
#include "sim/board.h"

namespace panel::qt {
namespace {

constexpr const char* kRegisterNames[] = {"",      "FCTL", "EXCTL", "GCTL",
                                          "FRCTL", "MCTL", "HWCTL", "VWCTL"};

}  // namespace

BoardWindow::BoardWindow(sim::Board& board, QWidget* parent) : QWidget(parent), board_(board) {
    setObjectName(QStringLiteral("Board"));
    setWindowTitle(QStringLiteral("SX540 Evaluation Board"));
    setWindowIcon(LensbayIcon());
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
    for (int address = sim::FCTL; address <= sim::VWCTL; ++address) {
        grid->addWidget(new QLabel(QString::fromLatin1(kRegisterNames[address]), registerBox),
                        address - 1, 0);
        auto* value = new QLabel(registerBox);
        value->setObjectName(QString::fromLatin1(kRegisterNames[address]));
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
    for (int address = sim::FCTL; address <= sim::VWCTL; ++address) {
        const auto& value = latched[address];
        registers_[address]->setText(
            value ? QStringLiteral("0x") +
                        QString::number(*value, 16).rightJustified(2, QLatin1Char('0')).toUpper()
                  : QString(QChar(0x2014)));  // an em dash: nothing latched yet
    }
    const QSignalBlocker block(follow_);
    follow_->setChecked(board_.FollowsPrompts());
}

PromptFollower::PromptFollower(sim::Board& board) {
    sim::Board* target = &board;
    handle_ = ui::AddMessageBoxObserver([target](const std::string&, const std::string& text) {
        std::uint8_t a = 0;
        if (target->FollowsPrompts() && ui::ParseRegisterSelection(text, &a)) {
            target->SetSwitches(a);
        }
    });
}

PromptFollower::~PromptFollower() { ui::RemoveMessageBoxObserver(handle_); }

}  // namespace panel::qt
