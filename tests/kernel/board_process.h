#pragma once
// One run of the board emulator as a child process; its log lines are the board's side of every
// check.

#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnovid::guest {

class BoardProcess {
public:
    BoardProcess(const QString& program, const QStringList& options);
    ~BoardProcess();
    BoardProcess(const BoardProcess&) = delete;
    BoardProcess& operator=(const BoardProcess&) = delete;

    bool started() const { return started_; }

    // Index of the first line from `from` on that contains `text`; waits up to `timeoutMs`.
    std::optional<std::size_t> waitForLine(const std::string& text, std::size_t from = 0,
                                           int timeoutMs = 3000);
    std::size_t lineCount();
    const std::string& line(std::size_t i) const { return lines_.at(i); }

    // The board's own monotonic time stamp: "tarnovid-board [  12.345678] ...".
    static std::chrono::steady_clock::time_point stamp(const std::string& line);

    // SIGTERM, as Ctrl+C or a service manager would stop it. The exit code, or -1 on a crash or
    // a hang.
    int stop();
    // Sends a signal and returns at once.
    void signal(int number);
    // Waits up to timeoutMs for the emulator to end by itself; the exit code as for stop(), or
    // nullopt while it still runs.
    std::optional<int> waitForExit(int timeoutMs);

    // Prints the log, to explain a failed check.
    void dump();

private:
    // The running emulator: a child process of this program on Linux; under Wine, a Linux process
    // that the guest's board controller runs on this program's request.
    struct Child;

    bool running();
    void collect(); // the log lines that came since the last call
    void take(const std::string& text);

    std::unique_ptr<Child> child_;
    bool started_ = false;
    std::string pending_;
    std::vector<std::string> lines_;
};

} // namespace tarnovid::guest
