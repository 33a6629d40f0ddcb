#pragma once
// One device of a fuzzed device list, read off the input in a fixed field order (the kept corpora
// depend on it).

#include "fuzz_input.h"
#include "hid_backend.h"

namespace tarnovid::fuzz {

inline HidDeviceInfo readDevice(FuzzInput& in) {
    HidDeviceInfo d;
    d.path = in.text();
    d.vendorId = in.u16();
    d.productId = in.u16();
    d.releaseNumber = in.u16();
    d.bus = static_cast<HidBus>(in.u8() % 5);
    d.manufacturer = in.text();
    d.product = in.text();
    d.serialNumber = in.text();
    return d;
}

} // namespace tarnovid::fuzz
