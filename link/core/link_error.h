#pragma once

#include <stdexcept>
#include <string>

namespace tarnovid {

// The one error type of the link. what() says what happened, in one line, for a person.
class LinkError : public std::runtime_error {
public:
    enum class Kind {
        NotOpen,  // no board is open: never opened, or closed
        Lost,     // the board has gone, in this call or an earlier one
        TimedOut, // the board did not take a report, or did not answer, in time
        Rejected, // the call's arguments: nothing was sent
        Closed,   // another thread closed the board during the call
    };
    LinkError(Kind kind, const std::string& message)
        : std::runtime_error(message)
        , kind_(kind) {}
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

} // namespace tarnovid
