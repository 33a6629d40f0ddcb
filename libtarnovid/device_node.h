#pragma once
// How the C interface numbers what the system says of a device (its names are the link's
// words, failure_words.h).

#include "hid_backend.h"

namespace tarnovid::lib {

int busNumber(HidBus bus); // TARNOVID_BUS_*
HidBus busOf(int number);

} // namespace tarnovid::lib
