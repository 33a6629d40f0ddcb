#pragma once
// What the board must receive for a two-byte request: the two bytes, then zero padding to a full
// 64-byte report (the report id is not part of it).

#include <cstdint>
#include <vector>

namespace tarnovid::test {

inline std::vector<std::uint8_t> boardReport(std::uint8_t command, std::uint8_t value) {
    std::vector<std::uint8_t> report(64, 0);
    report[0] = command;
    report[1] = value;
    return report;
}

} // namespace tarnovid::test
