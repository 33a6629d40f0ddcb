// The shipped library's system devices: hidapi.

#include "device_sources.h"

namespace tarnovid::lib {

std::shared_ptr<HidBackend> makeSystemDevices() { return makeHidapiBackend(); }

} // namespace tarnovid::lib
