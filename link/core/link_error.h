#pragma once

#include <stdexcept>
#include <string>

namespace tarnovid {

// The one error type of the link: no board open, the board lost during a call, a time-out, or a
// refused transfer. what() says which, for stderr.
class LinkError : public std::runtime_error {
public:
    enum class Kind { NotOpen, Lost, TimedOut, Rejected };
    LinkError(Kind kind, const std::string& message)
        : std::runtime_error(message)
        , kind_(kind) {}
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

// Longest time a Read waits for the board's answer.
inline constexpr int kReadTimeoutMs = 500;

} // namespace tarnovid
