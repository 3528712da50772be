#include "platform/portio/sim/board_operator.h"

#include "platform/ui/message_box.h"

namespace sim {

namespace {

class MessageBoxWatch final : public portio::BoardOperator::PromptWatch {
public:
    explicit MessageBoxWatch(portio::BoardOperator& op) {
        portio::BoardOperator* target = &op;
        handle_ = ui::AddMessageBoxObserver([target](const std::string&, const std::string& text) {
            target->PromptAcknowledged(text);
        });
    }
    ~MessageBoxWatch() override { ui::RemoveMessageBoxObserver(handle_); }
    MessageBoxWatch(const MessageBoxWatch&) = delete;
    MessageBoxWatch& operator=(const MessageBoxWatch&) = delete;

private:
    int handle_ = -1;
};

}  // namespace

void SimBoardOperator::PromptAcknowledged(const std::string& text) {
    std::uint8_t a = 0;
    if (board_.FollowsPrompts() && ParseRegisterSelection(text, &a)) board_.SetSwitches(a);
}

std::unique_ptr<portio::BoardOperator::PromptWatch> SimBoardOperator::WatchPrompts() {
    return std::make_unique<MessageBoxWatch>(*this);
}

}  // namespace sim
