#pragma once
// Which result code a failure is, with the link's words for it (failure_words.h).

#include "board_link.h"
#include "device_match.h"
#include "hid_backend.h"
#include "link_error.h"

#include <string>
#include <vector>

namespace tarnovid::lib {

struct Failure {
    int code;
    std::string message;
};

Failure refusalFailure(const BoardLink::Refusal& refusal);
Failure noBoardFailure(const char* path, const MatchRule& rule,
                       const std::vector<HidDeviceInfo>& candidates);
// The link's failure during a read of the inputs, or during a set of the outputs.
Failure readFailure(const LinkError& error);
Failure setFailure(const LinkError& error);

} // namespace tarnovid::lib
