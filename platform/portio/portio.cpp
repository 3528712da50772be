#include "platform/portio/portio.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/base/output.h"
#include "platform/portio/backend_registry.h"
#include "platform/portio/backends.h"
#include "platform/portio/ending.h"
#include "platform/portio/port_claim.h"

namespace portio {

namespace {

// The hot path reads only these two pointers: the backend (null until the service is opened)
// and the trace stream (null when not tracing).
std::atomic<Backend*> g_backend{nullptr};
std::atomic<std::FILE*> g_trace{nullptr};

// What the lines float to once the process is shutting down (accesses from late destructors).
class FloatingBackend final : public Backend {
public:
    std::uint8_t In8(std::uint16_t) override { return 0xFF; }
    std::uint16_t In16(std::uint16_t) override { return 0xFFFF; }
    void Out8(std::uint16_t, std::uint8_t) override {}
    void Out16(std::uint16_t, std::uint16_t) override {}
};

std::atomic<FaultHandler> g_fault_handler{nullptr};

// While one is alive, the faults this thread's cycles report are kept in it instead of going to
// the handler: how a backend's plain cycles serve as its checked ones.
class FaultCapture {
public:
    FaultCapture() : outer_(current_) { current_ = this; }
    ~FaultCapture() { current_ = outer_; }
    FaultCapture(const FaultCapture&) = delete;
    FaultCapture& operator=(const FaultCapture&) = delete;

    static FaultCapture* Current() { return current_; }
    // Keeps the first fault only: what follows from it says less.
    void Keep(const std::string& message) {
        if (!failed_) fault_ = message;
        failed_ = true;
    }
    // True when no fault came; else the fault becomes this thread's cycle fault.
    bool HandOver() {
        if (!failed_) [[likely]]
            return true;
        SetCycleFault(std::move(fault_));
        return false;
    }

private:
    static constinit thread_local FaultCapture* current_;
    FaultCapture* outer_;
    bool failed_ = false;
    std::string fault_;
};

constinit thread_local FaultCapture* FaultCapture::current_ = nullptr;

// This thread's last refused checked cycle: written and read only when a cycle is refused.
std::string& CycleFault() {
    static thread_local std::string fault;
    return fault;
}

struct Service {
    std::mutex mutex;
    bool decided = false;
    bool ok = false;
    std::string error;
    std::unique_ptr<Backend> backend;
    // The backend stands on the process's claim of the port (a backend a test installed does
    // not): it is closed when the claim's last user ends.
    bool claimed = false;
    std::FILE* trace_file = nullptr;  // owned; stdout is never closed here
    std::string trace_name;
    bool trace_open = false;  // kept when the backend closes, for the next one

    void CloseTrace() {
        g_trace.store(nullptr, std::memory_order_relaxed);
        if (trace_file != nullptr && trace_file != stdout) std::fclose(trace_file);
        trace_file = nullptr;
        trace_open = false;
    }
    void DropBackend() {
        g_backend.store(nullptr, std::memory_order_release);
        backend.reset();  // the simulated board saves its state: the claim still holds
        if (claimed) claim_internal::ReleaseForService();
        claimed = false;
    }
    void Drop() {
        CloseTrace();
        DropBackend();
    }
    // At exit the backend is released (the parallel port is handed back to the driver) and
    // any access that still comes sees floating lines.
    ~Service() {
        static FloatingBackend* floating = new FloatingBackend;
        g_backend.store(floating, std::memory_order_release);
        CloseTrace();
        backend.reset();
    }
};

Service& TheService() {
    static Service service;
    return service;
}

std::string ErrnoText(int err) { return std::strerror(err); }

// Opens the trace target: "" none, "-" standard output, anything else a file (truncated).
base::Result<> OpenTrace(Service& s, const std::string& target) {
    s.CloseTrace();
    s.trace_name = target;
    if (target.empty()) return {};
    if (target == "-") {
        s.trace_file = stdout;
    } else {
        s.trace_file = std::fopen(target.c_str(), "w");
        if (s.trace_file == nullptr) {
            return base::Fail("PORTIO_TRACE: cannot open '" + target +
                              "' for writing: " + ErrnoText(errno));
        }
    }
    g_trace.store(s.trace_file, std::memory_order_relaxed);
    s.trace_open = true;
    return {};
}

base::Result<std::unique_ptr<Backend>> OpenFromEnvironment() {
    const std::string choice = ChosenBackend();
    std::string argument;
    if (const BackendEntry* entry = FindBackend(choice, &argument)) return entry->open(argument);
    return base::Fail("PORTIO='" + choice +
                      "' is not a port backend; accepted: " + AcceptedBackends());
}

base::Result<> Open(Service& s) {
    base::Result<std::unique_ptr<Backend>> backend = OpenFromEnvironment();
    if (!backend) return backend.error();
    // A backend opened again after its last user ended goes on with the same trace.
    const char* env = std::getenv("PORTIO_TRACE");
    const std::string trace = env != nullptr ? env : "";
    if (!s.trace_open || trace != s.trace_name) {
        if (base::Result<> traced = OpenTrace(s, trace); !traced) {
            return traced;  // the backend is released
        }
    }
    s.backend = std::move(*backend);
    g_backend.store(s.backend.get(), std::memory_order_release);
    return {};
}

[[gnu::noinline, gnu::cold]] Backend* OpenOrFault() {
    if (base::Result<> opened = Initialize(); !opened) {
        ReportFault(opened.message());
        // The lines float while the service cannot be opened: no cycle reaches any port.
        static FloatingBackend* unopened = new FloatingBackend;
        return unopened;
    }
    return g_backend.load(std::memory_order_acquire);
}

inline Backend* Current() {
    Backend* b = g_backend.load(std::memory_order_acquire);
    if (__builtin_expect(b != nullptr, 1)) return b;
    return OpenOrFault();
}

// For a checked cycle: the backend, or null (the reason kept as the cycle fault) when the service
// cannot be opened.
[[gnu::noinline, gnu::cold]] Backend* OpenOrRefuse() {
    if (base::Result<> opened = Initialize(); !opened) {
        SetCycleFault(opened.message());
        return nullptr;
    }
    return g_backend.load(std::memory_order_acquire);
}

inline Backend* CurrentOrNull() {
    Backend* b = g_backend.load(std::memory_order_acquire);
    if (__builtin_expect(b != nullptr, 1)) return b;
    return OpenOrRefuse();
}

char Hex(unsigned digit) { return "0123456789abcdef"[digit & 0xF]; }

// One trace line, written and flushed whole so that it lands complete and in order with the
// other lines on the same stream, even if the process ends right after.
[[gnu::noinline]] void TraceCycle(std::FILE* f, const char* op, std::uint16_t port, unsigned value,
                                  int digits) {
    char line[32];
    std::size_t n = 0;
    for (const char* c = op; *c != '\0'; ++c) line[n++] = *c;
    line[n++] = ' ';
    line[n++] = '0';
    line[n++] = 'x';
    for (int shift = 12; shift >= 0; shift -= 4) line[n++] = Hex(port >> shift);
    line[n++] = ' ';
    line[n++] = '0';
    line[n++] = 'x';
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) line[n++] = Hex(value >> shift);
    line[n++] = '\n';
    if (std::fwrite(line, 1, n, f) != n || std::fflush(f) != 0) {
        // A trace with holes would mislead: say so once and stop tracing.
        const int err = errno;
        if (g_trace.exchange(nullptr, std::memory_order_relaxed) != nullptr) {
            std::fprintf(stderr, "PORTIO_TRACE: writing the trace failed (%s); tracing stopped\n",
                         std::strerror(err));
            // On standard output it is the program's output that failed.
            if (f == stdout) base::NoteOutputFailure(1, err, true);
        }
    }
}

// The service's line for a call, unless the backend writes its own.
inline void Trace(const Backend* b, const char* op, std::uint16_t port, unsigned value,
                  int digits) {
    std::FILE* f = g_trace.load(std::memory_order_relaxed);
    if (__builtin_expect(f != nullptr, 0) && !b->TracesOwnCycles()) {
        TraceCycle(f, op, port, value, digits);
    }
}

}  // namespace

// Called by the port claim when its last user ended (port_claim.cpp).
namespace service_internal {
void CloseIfUnused();
}

std::string ChosenBackend() {
    const char* env = std::getenv("PORTIO");
    return env != nullptr && *env != '\0' ? env : kDefaultBackend;
}

base::Result<> Initialize() {
    Service& s = TheService();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.decided) {
        // The port is claimed before the backend opens: a port another process holds is said,
        // and its holder's board is neither read nor touched. The refusal is not kept: the next
        // cycle asks again.
        if (base::Result<> held = claim_internal::HoldForService(); !held) return held;
        s.decided = true;
        s.claimed = true;
        base::Result<> opened = Open(s);
        s.ok = opened.ok();
        if (!s.ok) {
            s.error = opened.message();
            claim_internal::ReleaseForService();
            s.claimed = false;
        }
    }
    if (!s.ok) return base::FailPortRefused(s.error);
    return {};
}

void SetFaultHandler(FaultHandler handler) {
    g_fault_handler.store(handler, std::memory_order_release);
}

void ReportFault(const std::string& message) {
    if (FaultCapture* capture = FaultCapture::Current()) {
        capture->Keep(message);
        return;
    }
    std::fflush(nullptr);  // what came before the fault stays before it
    if (FaultHandler handler = g_fault_handler.load(std::memory_order_acquire)) {
        handler(base::Error{message});
        return;
    }
    // Without a handler the first fault is said; the lines simply float after that.
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true)) std::fprintf(stderr, "%s\n", message.c_str());
}

// An untraced cycle on an open service is handed to the backend as a tail call, so the service
// adds no frame of its own to the port's cost. Everything else (opening the service, tracing)
// goes an out-of-line way, which writes the trace line after the cycle.
namespace {

inline Backend* OpenUntraced() {
    Backend* b = g_backend.load(std::memory_order_acquire);
    return g_trace.load(std::memory_order_relaxed) == nullptr &&
                   !ending_internal::g_armed.load(std::memory_order_relaxed)
               ? b
               : nullptr;
}

// Once an ending is pending, each cycle first gives it its turn; false: the cycle is not made.
inline bool EndingLetsCycle() {
    return !ending_internal::g_armed.load(std::memory_order_relaxed) || ending_internal::AtCycle();
}

// The control register's last value, for an ending.
inline void NoteControl(std::uint16_t port, std::uint8_t value) {
    if (port == kEndingControlPort)
        ending_internal::g_control.store(value, std::memory_order_relaxed);
}

[[gnu::noinline]] std::uint8_t SlowIn8(std::uint16_t port) {
    if (!EndingLetsCycle()) return 0xFF;
    Backend* b = Current();
    const std::uint8_t value = b->In8(port);
    Trace(b, "in8", port, value, 2);
    return value;
}
[[gnu::noinline]] std::uint16_t SlowIn16(std::uint16_t port) {
    if (!EndingLetsCycle()) return 0xFFFF;
    Backend* b = Current();
    const std::uint16_t value = b->In16(port);
    Trace(b, "in16", port, value, 4);
    return value;
}
[[gnu::noinline]] void SlowOut8(std::uint16_t port, std::uint8_t value) {
    if (!EndingLetsCycle()) return;
    NoteControl(port, value);
    Backend* b = Current();
    b->Out8(port, value);
    Trace(b, "out8", port, value, 2);
}
[[gnu::noinline]] void SlowOut16(std::uint16_t port, std::uint16_t value) {
    if (!EndingLetsCycle()) return;
    Backend* b = Current();
    b->Out16(port, value);
    Trace(b, "out16", port, value, 4);
}
// A refused read is traced as a plain one reads: all ones.
[[gnu::noinline]] int SlowCheckedIn8(std::uint16_t port) {
    if (!EndingLetsCycle()) return 0xFF;
    Backend* b = CurrentOrNull();
    if (b == nullptr) return -1;
    const int value = b->CheckedIn8(port);
    Trace(b, "in8", port, value < 0 ? 0xFFu : static_cast<unsigned>(value), 2);
    return value;
}
[[gnu::noinline]] std::int32_t SlowCheckedIn16(std::uint16_t port) {
    if (!EndingLetsCycle()) return 0xFFFF;
    Backend* b = CurrentOrNull();
    if (b == nullptr) return -1;
    const std::int32_t value = b->CheckedIn16(port);
    Trace(b, "in16", port, value < 0 ? 0xFFFFu : static_cast<unsigned>(value), 4);
    return value;
}
[[gnu::noinline]] bool SlowCheckedOut8(std::uint16_t port, std::uint8_t value) {
    if (!EndingLetsCycle()) return true;
    NoteControl(port, value);
    Backend* b = CurrentOrNull();
    if (b == nullptr) return false;
    const bool done = b->CheckedOut8(port, value);
    Trace(b, "out8", port, value, 2);
    return done;
}
[[gnu::noinline]] bool SlowCheckedOut16(std::uint16_t port, std::uint16_t value) {
    if (!EndingLetsCycle()) return true;
    Backend* b = CurrentOrNull();
    if (b == nullptr) return false;
    const bool done = b->CheckedOut16(port, value);
    Trace(b, "out16", port, value, 4);
    return done;
}

}  // namespace

std::uint8_t In8(std::uint16_t port) {
    if (Backend* b = OpenUntraced()) [[likely]]
        return b->In8(port);
    return SlowIn8(port);
}

std::uint16_t In16(std::uint16_t port) {
    if (Backend* b = OpenUntraced()) [[likely]]
        return b->In16(port);
    return SlowIn16(port);
}

void Out8(std::uint16_t port, std::uint8_t value) {
    if (Backend* b = OpenUntraced()) [[likely]] {
        NoteControl(port, value);
        return b->Out8(port, value);
    }
    SlowOut8(port, value);
}

void Out16(std::uint16_t port, std::uint16_t value) {
    if (Backend* b = OpenUntraced()) [[likely]]
        return b->Out16(port, value);
    SlowOut16(port, value);
}

int CheckedIn8(std::uint16_t port) {
    if (Backend* b = OpenUntraced()) [[likely]]
        return b->CheckedIn8(port);
    return SlowCheckedIn8(port);
}

std::int32_t CheckedIn16(std::uint16_t port) {
    if (Backend* b = OpenUntraced()) [[likely]]
        return b->CheckedIn16(port);
    return SlowCheckedIn16(port);
}

bool CheckedOut8(std::uint16_t port, std::uint8_t value) {
    if (Backend* b = OpenUntraced()) [[likely]] {
        NoteControl(port, value);
        return b->CheckedOut8(port, value);
    }
    return SlowCheckedOut8(port, value);
}

bool CheckedOut16(std::uint16_t port, std::uint16_t value) {
    if (Backend* b = OpenUntraced()) [[likely]]
        return b->CheckedOut16(port, value);
    return SlowCheckedOut16(port, value);
}

std::string TakeCycleFault() { return std::exchange(CycleFault(), std::string()); }

void SetCycleFault(std::string message) { CycleFault() = std::move(message); }

int Backend::CheckedIn8(std::uint16_t port) {
    FaultCapture capture;
    const std::uint8_t value = In8(port);
    return capture.HandOver() ? value : -1;
}

std::int32_t Backend::CheckedIn16(std::uint16_t port) {
    FaultCapture capture;
    const std::uint16_t value = In16(port);
    return capture.HandOver() ? value : -1;
}

bool Backend::CheckedOut8(std::uint16_t port, std::uint8_t value) {
    FaultCapture capture;
    Out8(port, value);
    return capture.HandOver();
}

bool Backend::CheckedOut16(std::uint16_t port, std::uint16_t value) {
    FaultCapture capture;
    Out16(port, value);
    return capture.HandOver();
}

void TraceDeviceCycle(const char* op, std::uint16_t port, std::uint8_t value) {
    std::FILE* f = g_trace.load(std::memory_order_relaxed);
    if (f != nullptr) TraceCycle(f, op, port, value, 2);
}

void ending_internal::EndingOut8(std::uint16_t port, std::uint8_t value) {
    Backend* b = g_backend.load(std::memory_order_acquire);
    if (b == nullptr) return;  // the service never opened: no port to leave idle
    NoteControl(port, value);
    // Checked, so that a refusal never reaches the program's fault handler (which exits) from
    // an ending that may itself run at exit; a refused write is simply not done.
    (void)b->CheckedOut8(port, value);
    (void)TakeCycleFault();
    Trace(b, "out8", port, value, 2);
}

BoardOperator* Operator() {
    if (!Initialize()) return nullptr;
    return g_backend.load(std::memory_order_acquire)->Operator();
}

void InstallBackendForTesting(std::unique_ptr<Backend> backend, const std::string& trace) {
    Service& s = TheService();
    std::string error;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.Drop();
        s.decided = true;  // a backend of the test's own: no claim
        base::Result<> traced = OpenTrace(s, trace);
        s.ok = traced.ok();
        s.error = s.ok ? "" : traced.message();
        error = s.error;
        if (s.ok) {
            s.backend = std::move(backend);
            g_backend.store(s.backend.get(), std::memory_order_release);
        }
    }
    if (!error.empty()) ReportFault(error);
}

void ResetForTesting() {
    Service& s = TheService();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.Drop();
    s.decided = false;
    s.ok = false;
    s.error.clear();
}

void service_internal::CloseIfUnused() {
    Service& s = TheService();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.claimed || claim_internal::Users() != 0) return;
    s.DropBackend();
    s.decided = false;
    s.ok = false;
    s.error.clear();
}

void WriteStdoutLine(const std::string& line) {
    // Same stream and same flushing as a trace on standard output, so the two keep their order.
    flockfile(stdout);
    const bool ok = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                    std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
    funlockfile(stdout);
    if (!ok) base::NoteOutputFailure(1, errno);
}

}  // namespace portio
