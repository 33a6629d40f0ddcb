#pragma once
// The match settings the window gives its link, for tests and tools that drive the link alone.

#include "device_match.h"
#include "hidcomm.h"

namespace tarnovid::test {

inline void matchGenuineBoard(HIDComm& link) {
    link.matchvid = 0x1234;
    link.matchpid = 1;
    link.matchversion = 1;
    link.matchmethod = kMatchAll;
    link.matchmanufacturer = QStringLiteral("Dravelko");
    link.matchproduct = QStringLiteral("USB Tarnovid");
}

} // namespace tarnovid::test
