#pragma once
// The exit codes scripts rely on. --help and the man page list them from the same words.

#include <array>
#include <string_view>

namespace tarnovid::ctl {

enum ExitCode : int {
    kExitOk = 0,           // also a watch ended by Ctrl+C
    kExitFailed = 1,       // the board was there but could not be opened for another reason,
                           // or the results could not be written
    kExitUsage = 2,        // the command line was not understood
    kExitNoBoard = 3,      // no matching board (list: none found)
    kExitAccessDenied = 4, // the system refused the board for want of permission
    kExitNoAnswer = 5,     // the board did not answer a read, or take a write, in time
    kExitBoardLost = 6,    // the board went away during the command
};

struct ExitCodeText {
    ExitCode code;
    std::string_view meaning;
};

inline constexpr std::array kExitCodeTexts{
    ExitCodeText{kExitOk, "success; also a watch ended by Ctrl+C"},
    ExitCodeText{kExitFailed, "the board was found but could not be opened (other reason), or "
                              "the results could not be written"},
    ExitCodeText{kExitUsage, "usage error"},
    ExitCodeText{kExitNoBoard, "no board (list: no matching board found)"},
    ExitCodeText{kExitAccessDenied, "access denied: no permission to open the board"},
    ExitCodeText{kExitNoAnswer,
                 "no answer: the board did not answer a read, or take a write, in time"},
    ExitCodeText{kExitBoardLost, "board lost: it went away during the command"},
};

} // namespace tarnovid::ctl
