// The system's devices of a test build of the shared library, simulated, so that the Python
// module's list and open run through the real C interface: two boards that answer, one whose
// system refuses access, one that never answers, and a lookalike.

#include "device_sources.h"
#include "sim_board.h"

namespace tarnovid::lib {

std::shared_ptr<HidBackend> makeSystemDevices() {
    auto devices = std::make_shared<SimBackend>();
    devices->addTarnovid("sim/b")->setInputs(0x01);
    HidDeviceInfo first = tarnovidDeviceInfo("sim/a");
    first.serialNumber = "A1";
    devices->addBoard(first)->setInputs(0x06);
    HidDeviceInfo newer = tarnovidDeviceInfo("sim/0");
    newer.releaseNumber = 0x0102;
    newer.product = "USB Tarnovid \xe2\x9c\x93";
    newer.bus = HidBus::Bluetooth;
    devices->addBoard(newer);
    devices->addTarnovid("sim/locked")->setRefuseOpen(true);
    devices->addTarnovid("sim/stalled")->setStall(true);
    return devices;
}

} // namespace tarnovid::lib
