#include "platform/base/output.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace base {
namespace {

std::atomic<bool> g_failed{false};
std::atomic<bool> g_said{false};

}  // namespace

void GuardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is the one missing; anything else is moved into place.
        const int opened = ::open("/dev/null", O_RDONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void NoteOutputFailure(int fd, int err, bool said) {
    g_failed.store(true);
    if (said) g_said.store(true);
    if (g_said.exchange(true)) return;
    if (err == EPIPE) {
        struct sigaction pipe {};
        if (::sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler != SIG_IGN) return;
    }
    const char* stream = fd == 2 ? "standard error" : "standard output";
    if (err != 0) {
        std::fprintf(stderr, "%s: write failed: %s\n", stream, std::strerror(err));
    } else {
        std::fprintf(stderr, "%s: write failed\n", stream);
    }
}

int FinishOutput(int status) {
    // A failure the stream kept from an earlier write has no reason left to say.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) NoteOutputFailure(1, errno);
    errno = 0;
    if (std::fflush(stderr) != 0 || std::ferror(stderr)) NoteOutputFailure(2, errno);
    if (g_failed.load() && status == 0) return 1;
    return status;
}

}  // namespace base
