#pragma once
// The match settings a link is given, in the form the window definition stores them, and the
// settings that single out a genuine board. The window, the command-line tool and the C library
// all take theirs from here, so none of them can disagree on which device is the board.

#include "board_facts.h"
#include "device_match.h"

#include <string_view>

namespace tarnovid {

struct MatchSettings {
    int matchvid;
    int matchpid;
    int matchversion;
    int matchmethod;
    std::string_view matchmanufacturer;
    std::string_view matchproduct;
};

// Every field the board reports, all of them checked.
inline constexpr MatchSettings kGenuineBoardLink{board::kVendorId,     board::kProductId,
                                                 board::kRelease,      kMatchAll,
                                                 board::kManufacturer, board::kProduct};

// The settings as the matcher takes them. The method is the window definition's 16-bit value:
// only its low 16 bits count, as they would once stored in the window's control.
MatchRule matchRule(const MatchSettings& settings);

} // namespace tarnovid
