#pragma once
// How command bytes travel in the board's HID reports. The board declares no report ids and
// exchanges fixed 64-byte reports in both directions.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnovid {

inline constexpr std::size_t kReportSize = 64;

// What goes to HidDevice::write: report id 0 (the board has none), then bytes[0..count), then
// zeros up to the full report.
using OutputFrame = std::array<std::uint8_t, kReportSize + 1>;

// Throws LinkError(Rejected) unless 0 <= count <= kReportSize and count <= available.
void checkCount(int count, std::size_t available);

// Throws LinkError(Rejected) on a count checkCount refuses.
OutputFrame frameOutputReport(const std::uint8_t* bytes, std::size_t size, int count);

// The first `count` bytes of an input report, or the whole report when it is shorter (a short
// reply is handed on as it came, possibly empty). Throws LinkError(Rejected) on a bad count.
std::vector<std::uint8_t> replyBytes(const std::vector<std::uint8_t>& report, int count);

} // namespace tarnovid
