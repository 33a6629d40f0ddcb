#pragma once
// The match settings a link is given, in the form the window definition stores them, and the
// settings that single out a genuine board. The window and the command-line tool both take theirs
// from here, so the two can never disagree on which device is the board.

#include "board_facts.h"
#include "device_match.h"

#include <string_view>

namespace tarnovid {

class HIDComm;

struct LinkSpec {
    int matchvid;
    int matchpid;
    int matchversion;
    int matchmethod;
    std::string_view matchmanufacturer;
    std::string_view matchproduct;
};

// Every field the board reports, all of them checked.
inline constexpr LinkSpec kGenuineBoardLink{board::kVendorId,     board::kProductId,
                                            board::kRelease,      kMatchAll,
                                            board::kManufacturer, board::kProduct};

// Hands the settings to a link before its first Connect().
void applyLinkSpec(HIDComm& link, const LinkSpec& settings);

} // namespace tarnovid
