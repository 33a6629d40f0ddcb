#pragma once
// What a failed call says, and with which code: one line each, worded as tarnovidctl has always
// worded them, so the tool can pass them on as they are.

#include "board_link.h"
#include "device_match.h"
#include "hid_backend.h"
#include "link_error.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnovid::lib {

struct Failure {
    int code;
    std::string message;
};

// A board that matched but could not be opened: the path, the system's reason and, when that
// reason is a permission problem, what to do about it.
Failure refusalFailure(const BoardLink::Refusal& refusal);
// No board to open: none at all, only lookalikes, or the device at `path` is none.
// `candidates` are the devices the rule looked at.
Failure noBoardFailure(const char* path, const MatchRule& rule,
                       const std::vector<HidDeviceInfo>& candidates);
// The link's failure during a read of the inputs, or during a set of the outputs.
Failure readFailure(const LinkError& error);
Failure setFailure(const LinkError& error);

// The system's free text within one line: line breaks and other control characters written as
// escapes (\n, \t, \r, \u{001b}).
std::string escaped(std::string_view text);

} // namespace tarnovid::lib
