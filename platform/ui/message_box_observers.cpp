// The message-box observer registry and the test handler. No Qt here: the console front end
// and tools use it without a GUI.
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ui/message_box.h"

namespace ui {
namespace {

using Handler = std::function<void(const std::string&, const std::string&)>;

struct Registry {
    std::mutex mutex;
    int nextHandle = 1;
    std::map<int, MessageBoxObserver> observers;  // ordered by handle: registration order
    Handler testHandler;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // never destroyed: usable from static destructors
    return *registry;
}

}  // namespace

int AddMessageBoxObserver(MessageBoxObserver observer) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    if (!observer) return 0;
    const int handle = r.nextHandle++;
    r.observers.emplace(handle, std::move(observer));
    return handle;
}

void RemoveMessageBoxObserver(int handle) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.observers.erase(handle);
}

void NotifyMessageBoxAcknowledged(const std::string& title, const std::string& text) {
    // Observers run on a copy taken under the lock, so one may add or remove observers
    // (itself included) without deadlock or invalidated iterators.
    std::vector<MessageBoxObserver> observers;
    {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mutex);
        observers.reserve(r.observers.size());
        for (const auto& [handle, observer] : r.observers) observers.push_back(observer);
    }
    for (const auto& observer : observers) observer(title, text);
}

void SetMessageBoxHandlerForTesting(Handler handler) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.testHandler = std::move(handler);
}

Handler MessageBoxHandlerForTesting() {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.testHandler;
}

}  // namespace ui
