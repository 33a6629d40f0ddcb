#include "report_framing.h"

#include "link_error.h"

#include <algorithm>
#include <string>

namespace tarnovid {

void checkCount(int count, std::size_t available) {
    if (count < 0 || static_cast<std::size_t>(count) > kReportSize)
        throw LinkError(LinkError::Kind::Rejected, "byte count " + std::to_string(count) +
                                                       " outside 0.." +
                                                       std::to_string(kReportSize));
    if (static_cast<std::size_t>(count) > available)
        throw LinkError(LinkError::Kind::Rejected, "byte count " + std::to_string(count) +
                                                       " exceeds the " + std::to_string(available) +
                                                       " bytes given");
}

OutputFrame frameOutputReport(const std::uint8_t* bytes, std::size_t size, int count) {
    checkCount(count, size);
    OutputFrame frame{}; // report id 0 and zero filler
    std::copy_n(bytes, count, frame.begin() + 1);
    return frame;
}

std::vector<std::uint8_t> replyBytes(const std::vector<std::uint8_t>& report, int count) {
    checkCount(count, kReportSize);
    const std::size_t taken = std::min(report.size(), static_cast<std::size_t>(count));
    return {report.begin(), report.begin() + static_cast<std::ptrdiff_t>(taken)};
}

} // namespace tarnovid
