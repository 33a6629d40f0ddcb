#include "device_io.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace tarnovid {

using Clock = std::chrono::steady_clock;

struct DeviceIo::Shared {
    std::function<void()> onLost;
    std::chrono::milliseconds presenceCheck;

    std::mutex mutex;
    std::condition_variable changed;
    // Used by the thread alone; the thread also closes it, under the mutex, after its last call.
    std::unique_ptr<HidDevice> device;
    std::deque<std::vector<std::uint8_t>> queue;
    std::optional<OutputFrame> handed;          // waiting for the thread to take it
    std::uint64_t handedTicket = 0;             // the write that handed it
    std::uint64_t doneTicket = 0;               // the last write the device returned from
    bool doneOk = false;                        // ... and how
    bool writing = false;                       // the thread is in a write (or the drain before it)
    std::optional<Clock::time_point> readUntil; // a reader waits for a report until then
    bool checkWanted = false;
    bool stopping = false;
    bool lost = false;
    std::string lossReason;

    // Under the mutex, on the thread: the device failed.
    void markLost(std::string reason) {
        lost = true;
        lossReason = std::move(reason);
        changed.notify_all();
        // Under the mutex, so that stop() either comes first and silences it or waits for it:
        // the owner is never told after it has let go.
        if (!stopping && onLost)
            onLost();
    }

    // Under the mutex, on the thread.
    void enqueue(const std::vector<std::uint8_t>& buffer, int length) {
        if (queue.size() == kMaxQueued)
            queue.pop_front();
        queue.emplace_back(buffer.begin(), buffer.begin() + length);
        changed.notify_all();
    }
};

DeviceIo::DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost)
    : DeviceIo(std::move(device), std::move(onLost), Options{}) {}

DeviceIo::DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost, Options options)
    : shared_(std::make_shared<Shared>()) {
    shared_->onLost = std::move(onLost);
    shared_->presenceCheck = options.presenceCheck;
    shared_->device = std::move(device);
    auto body = [shared = shared_] { run(shared); };
    // On a throw the device goes with shared_, closed on this thread: no other has seen it.
    thread_ = options.start ? options.start(std::move(body)) : std::thread(std::move(body));
}

DeviceIo::~DeviceIo() { stop(); }

void DeviceIo::stop() {
    if (!thread_.joinable())
        return;
    bool stuck = false;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->handed.reset();
        stuck = shared_->writing;
        shared_->changed.notify_all();
    }
    if (stuck)
        thread_.detach(); // it closes the device once the write returns
    else
        thread_.join();
}

DeviceIo::Write DeviceIo::write(const OutputFrame& frame, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(shared_->mutex);
    if (shared_->lost)
        return Write::Lost;
    if (shared_->writing)
        return Write::Stuck;
    const std::uint64_t ticket = shared_->handedTicket + 1;
    shared_->handed = frame;
    shared_->handedTicket = ticket;
    shared_->changed.notify_all();
    shared_->changed.wait_until(lock, deadline,
                                [&] { return shared_->doneTicket == ticket || shared_->lost; });
    if (shared_->doneTicket == ticket)
        return shared_->doneOk ? Write::Sent : Write::Lost;
    if (shared_->lost) {
        shared_->handed.reset();
        return Write::Lost;
    }
    // Not taken yet: it never goes out. Taken: it is in the device, and stays our business.
    shared_->handed.reset();
    return Write::TimedOut;
}

DeviceIo::Wait DeviceIo::waitForReport(std::chrono::milliseconds timeout,
                                       std::vector<std::uint8_t>& report) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(shared_->mutex);
    const auto ready = [this] { return !shared_->queue.empty() || shared_->lost; };
    if (!ready()) {
        shared_->readUntil = deadline;
        shared_->changed.notify_all();
        shared_->changed.wait_until(lock, deadline, ready);
        shared_->readUntil.reset();
    }
    if (!shared_->queue.empty()) {
        report = std::move(shared_->queue.front());
        shared_->queue.pop_front();
        return Wait::Report;
    }
    return shared_->lost ? Wait::Lost : Wait::TimedOut;
}

void DeviceIo::checkPresence() {
    std::lock_guard lock(shared_->mutex);
    shared_->checkWanted = true;
    shared_->changed.notify_all();
}

bool DeviceIo::lost() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lost;
}

std::string DeviceIo::lossReason() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lossReason;
}

namespace {

// How the thread's turn ends: the device may be used again, or it failed (marked lost).
enum class After { Goes, Failed };

} // namespace

void DeviceIo::run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    HidDevice& device = *s.device;
    std::vector<std::uint8_t> buffer(kReportSize);

    // Reads as the reader's deadline allows (`until` set) or, for a look, without waiting, and
    // queues what arrives.
    const auto read = [&](std::optional<Clock::time_point> until) {
        // A reader's read runs until the reader gives up, never longer, so a write after it waits
        // for nothing. Rounded up, so that a read never ends just before the deadline and leaves
        // the thread to spin on the last fraction of a millisecond.
        const int waitMs =
            until
                ? static_cast<int>(std::max<Clock::rep>(
                      0,
                      std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count()))
                : 0;
        // A look takes whatever the system holds; a reader wants one report.
        const std::size_t most = until ? 1 : kMaxQueued;
        for (std::size_t i = 0; i < most; ++i) {
            const int length = device.readTimeout(buffer.data(), buffer.size(), waitMs);
            if (length < 0) {
                // Asked here, right after the failing call: the next call would rewrite it.
                std::string reason = device.lastError();
                std::lock_guard lock(s.mutex);
                s.markLost(std::move(reason));
                return After::Failed;
            }
            std::lock_guard lock(s.mutex);
            if (length == 0) {
                // Nothing within the reader's time: it has given up by now, or is about to.
                if (until && s.readUntil == until)
                    s.readUntil.reset();
                break;
            }
            s.enqueue(buffer, length);
        }
        return After::Goes;
    };

    const auto write = [&](const OutputFrame& frame, std::uint64_t ticket) {
        // Reports the system already holds came before the request too.
        int drained = 0;
        for (std::size_t i = 0; i < kMaxQueued && drained >= 0; ++i) {
            drained = device.readTimeout(buffer.data(), buffer.size(), 0);
            if (drained == 0)
                break;
        }
        const int written = drained < 0 ? -1 : device.write(frame.data(), frame.size());
        std::string reason = written < 0 ? device.lastError() : std::string();
        std::lock_guard lock(s.mutex);
        s.writing = false;
        s.doneTicket = ticket;
        s.doneOk = written >= 0;
        s.changed.notify_all();
        if (written >= 0)
            return After::Goes;
        s.markLost(std::move(reason));
        return After::Failed;
    };

    auto nextLook = Clock::now() + s.presenceCheck;
    for (After after = After::Goes; after == After::Goes;) {
        std::optional<OutputFrame> frame;
        std::uint64_t ticket = 0;
        std::optional<Clock::time_point> readUntil;
        {
            std::unique_lock lock(s.mutex);
            const auto readerWaits = [&] { return s.readUntil && s.queue.empty(); };
            s.changed.wait_until(lock, nextLook, [&] {
                return s.stopping || s.handed || readerWaits() || s.checkWanted;
            });
            if (s.stopping)
                break;
            if (s.handed) {
                frame = std::exchange(s.handed, std::nullopt);
                ticket = s.handedTicket;
                s.writing = true;
                // Whatever arrived before the request cannot be its answer.
                s.queue.clear();
            } else if (readerWaits()) {
                readUntil = s.readUntil;
            }
            // Any call on the device shows whether it is still there.
            s.checkWanted = false;
            nextLook = Clock::now() + s.presenceCheck;
        }
        after = frame ? write(*frame, ticket) : read(readUntil);
    }
    // The device's last call has returned; hidapi may close the handle now.
    std::lock_guard lock(s.mutex);
    s.device.reset();
}

} // namespace tarnovid
