// Signal routing for the emulator: see signals.h.

#include "signals.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace tarnovid::board {

namespace {

// Default action "terminate" or "core", catchable, and not raised by a fault of the process's own.
constexpr int kEnding[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGUSR1,   SIGUSR2, SIGALRM, SIGTERM,
                           SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};
constexpr int kFaults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP, SIGABRT};

char udcPath[PATH_MAX];

extern "C" void unplugAndEnd(int signal) {
    const int fd = ::open(udcPath, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        [[maybe_unused]] auto ignored = ::write(fd, "\n", 1);
        ::close(fd);
    }
    // SA_RESETHAND has put the default action back; the signal is delivered again as soon as this
    // handler returns (a fault would recur anyway, a sent one would not).
    ::raise(signal);
}

} // namespace

int routeSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t routed;
    sigemptyset(&routed);
    for (int signal : kEnding)
        sigaddset(&routed, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&routed, signal);
    if (::sigprocmask(SIG_BLOCK, &routed, nullptr) != 0)
        return -1;
    return ::signalfd(-1, &routed, SFD_CLOEXEC);
}

void unplugOnFault(const std::string& udcAttribute) {
    const std::size_t length = std::min(udcAttribute.size(), sizeof udcPath - 1);
    std::memcpy(udcPath, udcAttribute.data(), length);
    udcPath[length] = '\0';
    struct sigaction action {};
    action.sa_handler = unplugAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : kFaults)
        ::sigaction(signal, &action, nullptr);
}

} // namespace tarnovid::board
