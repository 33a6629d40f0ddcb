// Runs the board emulator for a guest program and collects its log.

#include "board_process.h"

#include <QTest>
#include <csignal>
#include <cstdio>

namespace tarnovid::guest {

BoardProcess::BoardProcess(const QString& program, const QStringList& options) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(program, options);
    started_ = process_.waitForStarted(5000);
}

BoardProcess::~BoardProcess() { stop(); }

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
        return process_.state() == QProcess::NotRunning;
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

int BoardProcess::stop() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
            collect();
            return -1;
        }
    }
    collect();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

void BoardProcess::signal(int number) {
    if (process_.state() != QProcess::NotRunning)
        ::kill(static_cast<pid_t>(process_.processId()), number);
}

std::optional<int> BoardProcess::waitForExit(int timeoutMs) {
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs))
        return std::nullopt;
    collect();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

void BoardProcess::dump() {
    collect();
    for (const auto& l : lines_)
        std::printf("  | %s\n", l.c_str());
    std::fflush(stdout);
}

void BoardProcess::collect() {
    pending_ += process_.readAll().toStdString();
    for (auto nl = pending_.find('\n'); nl != std::string::npos; nl = pending_.find('\n')) {
        lines_.push_back(pending_.substr(0, nl));
        pending_.erase(0, nl + 1);
    }
}

} // namespace tarnovid::guest
