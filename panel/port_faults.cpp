#include "panel/port_faults.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace panel {
namespace {

std::mutex g_fault_mutex;
std::string g_fault;
std::atomic<bool> g_faulted{false};

}  // namespace

void RecordPortFault(const base::Error& fault) {
    std::lock_guard lock(g_fault_mutex);
    if (g_fault.empty()) g_fault = fault.message;
    g_faulted.store(true, std::memory_order_release);
}

std::string TakePortFault() {
    if (!g_faulted.load(std::memory_order_acquire)) return "";
    std::lock_guard lock(g_fault_mutex);
    g_faulted.store(false, std::memory_order_relaxed);
    return std::exchange(g_fault, std::string());
}

}  // namespace panel
