#pragma once
// How the emulator meets signals. Whatever ends it must not leave its gadget bound with nobody
// serving it: the signals that would end it are turned into events its loop reads and acts on, a
// fault unplugs the gadget on its way out, and a closed log pipe is only a failed write.

#include <string>

namespace tarnovid::board {

// Ignores SIGPIPE and blocks every other catchable signal whose default action ends the process,
// apart from the faults below; returns a signalfd that delivers them (SIGUSR1 among them, which the
// loop takes as "stop or resume reading"), or -1 with errno set.
int routeSignals();

// From now on a fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP, SIGABRT) first writes an
// empty line to `udcAttribute`, which unbinds the gadget, and then ends the process as the fault
// would have. Only async-signal-safe calls run in the handler; the path is copied here.
void unplugOnFault(const std::string& udcAttribute);

} // namespace tarnovid::board
