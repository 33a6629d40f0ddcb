#pragma once
// How the C interface numbers what the system says of a device.

#include "hid_backend.h"

namespace tarnovid::lib {

int busNumber(HidBus bus); // TARNOVID_BUS_*

} // namespace tarnovid::lib
