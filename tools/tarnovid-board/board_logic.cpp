// The board's answers to the host's reports.

#include "board_logic.h"

#include <cstdio>

namespace tarnovid::board {

namespace {

std::string hexByte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

} // namespace

std::uint8_t inputByte(const BoardState& state) {
    return state.fixedInputs.value_or(static_cast<std::uint8_t>(state.outputs & 0x07));
}

Outcome handleReport(BoardState& state, std::span<const std::uint8_t> report) {
    if (report.size() != kReportSize)
        return {std::nullopt, "ignored: " + std::to_string(report.size()) + " bytes, a report is " +
                                  std::to_string(kReportSize)};
    switch (report[0]) {
    case kSetOutputs:
        state.outputs = report[1];
        return {std::nullopt, "outputs " + hexByte(state.outputs)};
    case kReadInputs: {
        if (!state.answersReads)
            return {std::nullopt, "read request left unanswered"};
        Report answer{};
        answer[0] = inputByte(state);
        return {answer, "answer inputs " + hexByte(answer[0])};
    }
    default:
        return {std::nullopt, "ignored: unknown command " + hexByte(report[0])};
    }
}

std::string describeBytes(std::span<const std::uint8_t> bytes) {
    std::size_t shown = bytes.size();
    while (shown > 0 && bytes[shown - 1] == 0)
        --shown;
    // A lone zero reads better than "(+1 zeros)".
    if (bytes.size() - shown == 1)
        shown = bytes.size();
    std::string text;
    char hex[4];
    for (std::size_t i = 0; i < shown; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        if (!text.empty())
            text += ' ';
        text += hex;
    }
    if (shown < bytes.size()) {
        if (!text.empty())
            text += ' ';
        text += "(+" + std::to_string(bytes.size() - shown) + " zeros)";
    }
    return text.empty() ? "(empty)" : text;
}

} // namespace tarnovid::board
