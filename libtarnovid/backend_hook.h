#pragma once
// For the test suite only; the shared library does not export it. While one of these lives, the
// library's calls take `devices` for the system's HID devices ("demo" stays the demo board), so
// the tests drive every fault of the simulated board through the C interface.

#include "hid_backend.h"

#include <memory>

namespace tarnovid::lib {

class SystemDevicesOverride {
public:
    explicit SystemDevicesOverride(std::shared_ptr<HidBackend> devices);
    ~SystemDevicesOverride(); // the system's devices again
    SystemDevicesOverride(const SystemDevicesOverride&) = delete;
    SystemDevicesOverride& operator=(const SystemDevicesOverride&) = delete;
};

} // namespace tarnovid::lib
