#pragma once
// Which LinkError a call ends in, if any: tests compare the kind, not the message.

#include "link_error.h"

#include <functional>
#include <optional>

namespace tarnovid::test {

inline std::optional<LinkError::Kind> kindOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const LinkError& e) {
        return e.kind();
    }
    return std::nullopt;
}

} // namespace tarnovid::test
