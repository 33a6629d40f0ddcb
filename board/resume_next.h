#pragma once
// The command buttons go on past a failing step: a failed link call, a missing element or a bad
// conversion abandons that one step silently and the next step runs.

#include <utility>

namespace tarnovid {

template <class Step> void resumeNext(Step&& step) noexcept {
    try {
        std::forward<Step>(step)();
    } catch (...) {
    }
}

} // namespace tarnovid
