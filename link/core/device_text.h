#pragma once
// The status-line name of an open board, from what the board itself reports.

#include "hid_backend.h"

#include <string>

namespace tarnovid {

// "<manufacturer> <product>", each trimmed of surrounding white space; either alone when the
// other is empty; "HID vvvv:pppp" (hex ids) when the board reports neither.
std::string deviceText(const HidDeviceInfo& device);

} // namespace tarnovid
