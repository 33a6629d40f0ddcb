#pragma once
// The board's firmware behaviour: what it does with one output report from the host. Kept free of
// I/O so it can be checked without a kernel.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarnovid::board {

// The emulator keeps its own copy of the board's facts (these codes, and the identity it gives
// its gadget) instead of the tool's link/board_facts.h, on purpose: it stands for the firmware and
// checks the tool from the outside, so a wrong value on the tool's side cannot hide by being
// wrong on both sides.
inline constexpr std::size_t kReportSize = 64;
inline constexpr std::uint8_t kSetOutputs = 0xFB;
inline constexpr std::uint8_t kReadInputs = 0xFC;

using Report = std::array<std::uint8_t, kReportSize>;

struct BoardState {
    std::uint8_t outputs = 0;
    // Unset: the inputs are wired to the outputs, T2..T4 following D0..D2.
    std::optional<std::uint8_t> fixedInputs;
    // False plays a board whose firmware hangs on a read request.
    bool answersReads = true;
};

// The byte the board reports for T2 (bit 0), T3 (bit 1) and T4 (bit 2).
std::uint8_t inputByte(const BoardState& state);

struct Outcome {
    std::optional<Report> answer; // the input report to send back, if any
    std::string note;             // what the board made of the report, for the log
};

// A report that is not exactly kReportSize bytes long is ignored: the real board's endpoint takes
// whole reports only, and a host that frames them wrongly must notice.
Outcome handleReport(BoardState& state, std::span<const std::uint8_t> report);

// Hex bytes with a trailing run of zeros folded, e.g. "fb 81 (+62 zeros)".
std::string describeBytes(std::span<const std::uint8_t> bytes);

} // namespace tarnovid::board
