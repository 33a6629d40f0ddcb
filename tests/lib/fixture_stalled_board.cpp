// The system's devices of a test build of the shared library: one board whose firmware has
// stopped taking reports, and whose system gives a write up after a second, as usbhid does after
// USB's five. A program that unloads the library after a write timed out then still has the
// board's thread inside that write.

#include "device_sources.h"
#include "sim_board.h"

namespace tarnovid::lib {

std::shared_ptr<HidBackend> makeSystemDevices() {
    auto devices = std::make_shared<SimBackend>();
    auto board = devices->addTarnovid("sim/stalled");
    board->setWriteStall(true);
    board->setSystemWriteTimeoutMs(1000);
    return devices;
}

} // namespace tarnovid::lib
