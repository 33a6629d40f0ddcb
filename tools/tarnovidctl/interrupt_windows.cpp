#include "interrupt.h"

#include <atomic>
#include <windows.h>

namespace tarnovid::ctl {

namespace {

std::atomic<bool> requested{false};

// Runs on a thread the system starts for the event.
BOOL WINAPI noteInterrupt(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // The second one goes on to the default handler, which ends the program at once.
        return requested.exchange(true) ? FALSE : TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void catchInterrupts() {
    requested.store(false);
    static const bool installed = SetConsoleCtrlHandler(noteInterrupt, TRUE) != 0;
    (void)installed;
}

bool interruptRequested() { return requested.load(); }

} // namespace tarnovid::ctl
