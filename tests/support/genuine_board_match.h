#pragma once
// The match settings the window gives its link, for tests and tools that drive the link alone.

#include "board_facts.h"
#include "device_match.h"
#include "hidcomm.h"

namespace tarnovid::test {

inline void matchGenuineBoard(HIDComm& link) {
    link.matchvid = board::kVendorId;
    link.matchpid = board::kProductId;
    link.matchversion = board::kRelease;
    link.matchmethod = kMatchAll;
    link.matchmanufacturer = QString::fromUtf8(board::kManufacturer);
    link.matchproduct = QString::fromUtf8(board::kProduct);
}

} // namespace tarnovid::test
