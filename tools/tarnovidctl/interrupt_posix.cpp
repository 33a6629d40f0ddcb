#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace tarnovid::ctl {

namespace {

// Written from the signal handler: it must be lock-free to be safe there.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void noteInterrupt(int) { requested.store(true); }

} // namespace

void catchInterrupts() {
    requested.store(false);
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    // Back to the default after the first signal: a second Ctrl+C ends the program at once.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interruptRequested() { return requested.load(); }

} // namespace tarnovid::ctl
