#pragma once
// The emulator's command line.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnovid::board {

struct Options {
    std::optional<std::uint8_t> inputs; // fixed input byte; unset: wired to the outputs
    int answerDelayMs = 0;
    bool neverAnswer = false;
    int unplugAfterMs = -1; // after the first plug; negative: never
    int replugAfterMs = -1; // after the unplug; negative: stay unplugged
    // A board whose firmware stops taking output reports, so the host's writes stall in the
    // kernel: after the first plug; negative: never (SIGUSR1 still stops and resumes reading).
    int stopReadingAfterMs = -1;
    int stopReadingForMs = -1; // negative: until SIGUSR1
    std::string udc;           // empty: the first controller the kernel lists
    std::string name = "tarnovid";
    std::string configfs = "/sys/kernel/config";
    bool help = false;
};

struct ParsedOptions {
    Options options;
    std::string error; // empty when the command line was understood
};

// args excludes the program name.
ParsedOptions parseOptions(const std::vector<std::string_view>& args);

std::string usageText(std::string_view program);

} // namespace tarnovid::board
