#include "failure_text.h"

#include "failure_words.h"
#include "open_refusal.h"
#include "tarnovid.h"

#include <algorithm>

namespace tarnovid::lib {

namespace {

// The link's own texts are one line already; a system's reason inside them may not be.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string said(std::string_view opening, const LinkError& error) {
    return std::string(opening) + oneLine(error.what());
}

} // namespace

Failure refusalFailure(const BoardLink::Refusal& refusal) {
    const int code = refusal.path.empty()             ? TARNOVID_FAILED
                     : isAccessDenied(refusal.reason) ? TARNOVID_ACCESS_DENIED
                                                      : TARNOVID_FAILED;
    return {code, words::refusal(refusal)};
}

Failure noBoardFailure(const char* path, const MatchRule& rule,
                       const std::vector<HidDeviceInfo>& candidates) {
    return {TARNOVID_NO_BOARD, words::noBoard(path, rule, candidates)};
}

Failure readFailure(const LinkError& error) {
    switch (error.kind()) {
    case LinkError::Kind::TimedOut:
        return {TARNOVID_NO_ANSWER, said(words::kNoAnswer, error)};
    case LinkError::Kind::Lost:
        return {TARNOVID_BOARD_LOST, said(words::kBoardLost, error)};
    case LinkError::Kind::Closed:
        return {TARNOVID_CLOSED, said(words::kClosed, error)};
    case LinkError::Kind::NotOpen: // a board is open from its open to its close
    case LinkError::Kind::Rejected:
        break;
    }
    return {TARNOVID_FAILED, oneLine(error.what())};
}

Failure setFailure(const LinkError& error) {
    // A board that stops taking reports is not slow to answer: nothing was asked of it.
    if (error.kind() == LinkError::Kind::TimedOut)
        return {TARNOVID_NO_ANSWER, said(words::kNotTaken, error)};
    return readFailure(error);
}

} // namespace tarnovid::lib
