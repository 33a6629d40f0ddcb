// tarnovid-board: plugs the emulated board in, serves the host's reports and follows the
// unplug/replug timers until it is told to stop.

#include "board_logic.h"
#include "gadget.h"
#include "instance_lock.h"
#include "options.h"
#include "signals.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnovid::board;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Log lines carry the monotonic clock so that a test on the same machine can time its own
// reaction to an unplug or a plug against the moment the board made it. A log nobody reads any
// more (a closed pipe) is no reason to stop serving: the write just fails.
void logLine(Clock::time_point when, const std::string& text) {
    double seconds = std::chrono::duration<double>(when.time_since_epoch()).count();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "tarnovid-board [%12.6f] ", seconds);
    std::string line = stamp + text + "\n";
    [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

void logLine(const std::string& text) { logLine(Clock::now(), text); }

struct PendingAnswer {
    Clock::time_point due;
    Report report;
};

class Emulator {
public:
    Emulator(const Options& options, std::string udc, Gadget& gadget)
        : options_(options)
        , udc_(std::move(udc))
        , gadget_(gadget) {
        state_.fixedInputs = options.inputs;
        state_.answersReads = !options.neverAnswer;
    }
    ~Emulator() { closeDevice(); }

    // Returns when a signal other than SIGUSR1 arrives on signalFd.
    void run(int signalFd) {
        plug();
        if (options_.unplugAfterMs >= 0)
            unplugAt_ = Clock::now() + milliseconds(options_.unplugAfterMs);
        if (options_.stopReadingAfterMs >= 0)
            stopReadingAt_ = Clock::now() + milliseconds(options_.stopReadingAfterMs);
        for (;;) {
            const auto now = Clock::now();
            if (stopReadingAt_ && now >= *stopReadingAt_) {
                stopReadingAt_.reset();
                setReading(false);
                if (options_.stopReadingForMs >= 0)
                    resumeReadingAt_ = Clock::now() + milliseconds(options_.stopReadingForMs);
                continue;
            }
            if (resumeReadingAt_ && now >= *resumeReadingAt_) {
                resumeReadingAt_.reset();
                setReading(true);
                continue;
            }
            if (unplugAt_ && now >= *unplugAt_) {
                unplugAt_.reset();
                unplug();
                if (options_.replugAfterMs >= 0)
                    replugAt_ = Clock::now() + milliseconds(options_.replugAfterMs);
                continue;
            }
            if (replugAt_ && now >= *replugAt_) {
                replugAt_.reset();
                plug();
                continue;
            }
            bool wantWrite = false;
            if (!answers_.empty() && answers_.front().due <= now && device_ >= 0)
                wantWrite = !sendDueAnswer();

            // While not reading, the gadget's queue fills up and the host's writes stall.
            pollfd fds[2] = {{signalFd, POLLIN, 0},
                             {device_, static_cast<short>(reading_ ? POLLIN : 0), 0}};
            if (wantWrite)
                fds[1].events |= POLLOUT;
            const int count = device_ >= 0 ? 2 : 1;
            int ready = ::poll(fds, count, timeoutMs(wantWrite));
            if (ready < 0 && errno != EINTR)
                throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
            if (ready <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                signalfd_siginfo info{};
                [[maybe_unused]] auto ignored = ::read(signalFd, &info, sizeof info);
                if (info.ssi_signo == SIGUSR1) {
                    resumeReadingAt_.reset();
                    setReading(!reading_);
                    continue;
                }
                logLine(std::string("stopping on ") + strsignal(static_cast<int>(info.ssi_signo)));
                return;
            }
            if (count == 2 && (fds[1].revents & POLLIN))
                receiveReports();
            else if (count == 2 && (fds[1].revents & (POLLERR | POLLHUP))) {
                // The gadget side hung up without an unplug of ours: wait for the next event
                // instead of spinning on a dead descriptor.
                logLine("device node hung up");
                closeDevice();
            }
        }
    }

private:
    void setReading(bool reading) {
        if (reading == reading_)
            return;
        reading_ = reading;
        logLine(reading ? "reading output reports again" : "stopped reading output reports");
    }

    void plug() {
        const auto when = Clock::now();
        gadget_.plug(udc_);
        logLine(when, "plugged into " + udc_);
        openDevice();
    }

    void unplug() {
        closeDevice();
        answers_.clear();
        const auto when = Clock::now();
        gadget_.unplug();
        logLine(when, "unplugged");
    }

    // The node appears once the kernel has bound the function, which happens asynchronously to
    // the UDC write on some controllers.
    void openDevice() {
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        std::string path;
        while (Clock::now() < deadline) {
            path = gadget_.devicePath();
            if (!path.empty()) {
                device_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
                if (device_ >= 0)
                    return;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        throw std::runtime_error("the gadget's device node " +
                                 (path.empty() ? std::string("(none)") : path) +
                                 " did not appear or cannot be opened: " + std::strerror(errno));
    }

    void closeDevice() {
        if (device_ >= 0)
            ::close(device_);
        device_ = -1;
    }

    void receiveReports() {
        std::vector<std::uint8_t> buffer(4096);
        for (;;) {
            ssize_t got = ::read(device_, buffer.data(), buffer.size());
            if (got < 0) {
                if (errno != EAGAIN && errno != EINTR) {
                    // A failing node would wake every poll; give it up like a hang-up.
                    logLine(std::string("read failed: ") + std::strerror(errno));
                    closeDevice();
                }
                return;
            }
            if (got == 0)
                return; // no report ever has zero bytes; reading on would spin
            std::span<const std::uint8_t> report(buffer.data(), static_cast<std::size_t>(got));
            Outcome outcome = handleReport(state_, report);
            std::string line = "out " + std::to_string(got) + " bytes: " + describeBytes(report) +
                               " -> " + outcome.note;
            if (outcome.answer) {
                answers_.push_back(
                    {Clock::now() + milliseconds(options_.answerDelayMs), *outcome.answer});
                if (options_.answerDelayMs > 0)
                    line += " after " + std::to_string(options_.answerDelayMs) + " ms";
            }
            logLine(line);
        }
    }

    // False when the host has not yet collected the previous input report.
    bool sendDueAnswer() {
        const Report& report = answers_.front().report;
        ssize_t written = ::write(device_, report.data(), report.size());
        if (written < 0 && errno == EAGAIN)
            return false;
        if (written != static_cast<ssize_t>(report.size()))
            logLine(std::string("answer lost: ") +
                    (written < 0 ? std::strerror(errno) : "short write"));
        answers_.pop_front();
        return true;
    }

    int timeoutMs(bool waitingForWrite) const {
        std::optional<Clock::time_point> next;
        auto consider = [&](std::optional<Clock::time_point> t) {
            if (t && (!next || *t < *next))
                next = t;
        };
        consider(unplugAt_);
        consider(replugAt_);
        consider(stopReadingAt_);
        consider(resumeReadingAt_);
        if (!answers_.empty() && !waitingForWrite && device_ >= 0)
            consider(answers_.front().due);
        if (!next)
            return -1;
        auto left = std::chrono::ceil<milliseconds>(*next - Clock::now()).count();
        return left < 0 ? 0 : static_cast<int>(left);
    }

    const Options& options_;
    std::string udc_;
    Gadget& gadget_;
    BoardState state_;
    int device_ = -1;
    bool reading_ = true;
    std::deque<PendingAnswer> answers_;
    std::optional<Clock::time_point> unplugAt_;
    std::optional<Clock::time_point> replugAt_;
    std::optional<Clock::time_point> stopReadingAt_;
    std::optional<Clock::time_point> resumeReadingAt_;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const std::string program = argc > 0 ? argv[0] : "tarnovid-board";
    ParsedOptions parsed = parseOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), parsed.error.c_str(),
                     program.c_str());
        return 2;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::fputs(usageText(program).c_str(), stdout);
        return 0;
    }

    // Signals are taken through a descriptor so that the loop, not a handler, unplugs.
    const int signalFd = routeSignals();
    if (signalFd < 0) {
        std::perror("signalfd");
        return 1;
    }
    // Held until the gadget is gone: the tree a second instance would find is never a leftover.
    const InstanceLock lock(lockDirectory(), options.name);
    if (!lock.held()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), lock.error().c_str());
        return 1;
    }

    std::string udc = options.udc.empty() ? firstUdc() : options.udc;
    if (udc.empty()) {
        std::fprintf(stderr,
                     "%s: no USB device controller in /sys/class/udc; on a desktop, "
                     "'modprobe dummy_hcd' provides one\n",
                     program.c_str());
        return 1;
    }
    try {
        Gadget gadget(options.configfs, options.name);
        unplugOnFault(gadget.udcAttribute());
        Emulator emulator(options, udc, gadget);
        emulator.run(signalFd);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), error.what());
        return 1;
    }
    logLine("gadget removed");
    return 0;
}
