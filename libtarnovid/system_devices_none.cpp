// Test builds: no system devices. A test hands in a simulated board through backend_hook.h.

#include "device_sources.h"

namespace tarnovid::lib {

std::shared_ptr<HidBackend> makeSystemDevices() { return nullptr; }

} // namespace tarnovid::lib
