#pragma once
// Which demo board a path names. "demo" is the wired board that never fails; "demo:<kind>" is
// the same board with one fault, so that a program can practise what it does when a board fails
// without a board, and without root for the emulator:
//   demo:noreply           takes every report, never answers a read
//   demo:stall             takes no report: each write blocks in the device, as with firmware
//                          that stopped reading, until the system gives it up after 5 s
//   demo:short             answers cut short: the 1st, 3rd, ... answer is the inputs byte alone
//                          (read as usual), the 2nd, 4th, ... is empty (read as no answer)
//   demo:unplug-after=MS   goes away MS ms after it is first opened, for good
//   demo:replug-after=MS   goes away MS ms after it is first opened, comes back MS ms later, and
//                          so on every MS ms

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarnovid {

struct DemoMode {
    enum class Kind { Wired, NoReply, Stall, Short, UnplugAfter, ReplugAfter };
    Kind kind = Kind::Wired;
    std::chrono::milliseconds period{0}; // UnplugAfter, ReplugAfter

    bool operator==(const DemoMode&) const = default;
};

// The longest MS a demo path takes: a day.
inline constexpr std::chrono::milliseconds kLongestDemoPeriod{24 * 60 * 60 * 1000};

// "demo", or "demo:" and anything after it: no system device is spelt so.
bool isDemoPath(std::string_view path);

// The mode a demo path names. nullopt, with *why (one line, without the path) set, for a path
// that is no demo path or names no demo board.
std::optional<DemoMode> parseDemoMode(std::string_view path, std::string* why);

} // namespace tarnovid
