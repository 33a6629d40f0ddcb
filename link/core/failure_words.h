#pragma once
// What the programs say when something fails: the one wording of each failure and of each of a
// board's marks, used by the window's stderr, the C library's tarnovid_last_error() (and through
// it tarnovidctl and the Python module). The README and the manual pages quote these words; a
// test keeps the quotes true.

#include "board_link.h"
#include "device_match.h"
#include "hid_backend.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnovid::words {

// One of a board's marks (a MatchBit), as messages, `tarnovidctl list --json` and the Python
// module name it: "vendor", "product_id", "release", "manufacturer", "product", "bus"; empty for
// anything else.
std::string_view fieldName(int matchBit);
// The marks in `mismatches`, in MatchBit order, joined by ", ".
std::string fieldNames(int mismatches);
// The bus a device sits on: "USB", "Bluetooth", "I2C", "SPI", "unknown".
std::string_view busName(HidBus bus);

// A board that matched but could not be opened, or a device list the system could not give: the
// path, the system's reason and, when that reason is a permission problem, what to do about it.
std::string refusal(const BoardLink::Refusal& refusal);
// No board to open: none at all, only lookalikes, or the device at `path` is none.
// `candidates` are the devices the rule looked at.
std::string noBoard(const char* path, const MatchRule& rule,
                    const std::vector<HidDeviceInfo>& candidates);

// How a failed call on an open board begins, by what happened.
inline constexpr std::string_view kNoAnswer = "no answer: ";
inline constexpr std::string_view kNotTaken = "not taken: ";
inline constexpr std::string_view kBoardLost = "board lost: ";
inline constexpr std::string_view kClosed = "closed: ";
// What a call that another thread's close ended says after kClosed.
inline constexpr std::string_view kClosedMeanwhile = "the board was closed by another thread";

// The system's free text within one line: line breaks and other control characters written as
// escapes (\n, \t, \r, \u{001b}).
std::string escaped(std::string_view text);

} // namespace tarnovid::words
