// The emulator's log as the guest programs read it, whichever way the emulator runs.

#include "board_process.h"

#include <QTest>
#include <cstdio>

namespace tarnovid::guest {

std::optional<std::size_t> BoardProcess::waitForLine(const std::string& text, std::size_t from,
                                                     int timeoutMs) {
    std::optional<std::size_t> found;
    auto look = [&] {
        collect();
        for (std::size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].find(text) != std::string::npos) {
                found = i;
                return true;
            }
        return !running();
    };
    if (!look())
        (void)QTest::qWaitFor(look, timeoutMs);
    return found;
}

std::size_t BoardProcess::lineCount() {
    collect();
    return lines_.size();
}

std::chrono::steady_clock::time_point BoardProcess::stamp(const std::string& line) {
    const auto open = line.find('[');
    const double seconds = open == std::string::npos ? 0 : std::stod(line.substr(open + 1));
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds)));
}

void BoardProcess::dump() {
    collect();
    for (const auto& l : lines_)
        std::printf("  | %s\n", l.c_str());
    std::fflush(stdout);
}

void BoardProcess::take(const std::string& text) {
    pending_ += text;
    for (auto nl = pending_.find('\n'); nl != std::string::npos; nl = pending_.find('\n')) {
        lines_.push_back(pending_.substr(0, nl));
        pending_.erase(0, nl + 1);
    }
}

} // namespace tarnovid::guest
