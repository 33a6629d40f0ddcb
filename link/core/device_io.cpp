#include "device_io.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace tarnovid {

using Clock = std::chrono::steady_clock;

namespace {
// How near its end a read may be for stop() to wait for it rather than leave the thread to it.
constexpr std::chrono::milliseconds kJoinGrace{10};
} // namespace

struct DeviceIo::Shared {
    std::function<void()> onLost;
    std::chrono::milliseconds presenceCheck;

    std::mutex mutex;
    std::condition_variable changed;
    // Used by the thread alone; the thread also closes it, under the mutex, after its last call.
    std::unique_ptr<HidDevice> device;
    std::deque<std::vector<std::uint8_t>> queue;
    std::optional<OutputFrame> handed; // waiting for the thread to take it
    std::uint64_t handedTicket = 0;    // the write that handed it
    std::uint64_t doneTicket = 0;      // the last write the device returned from
    Write done = Write::Sent;          // ... and how: Sent, NotTaken or Lost
    std::string doneReason;            // the system's word when not Sent
    bool writing = false;              // the thread is in a write (or the drain before it)
    std::optional<Clock::time_point> readingUntil; // the thread is in a read that waits till then
    std::optional<Clock::time_point> readUntil;    // a reader waits for a report until then
    bool checkWanted = false;
    bool stopping = false;
    bool lost = false;
    std::string lossReason;

    // Under the mutex, on the thread: the device failed.
    void markLost(std::string reason) {
        lost = true;
        lossReason = std::move(reason);
        changed.notify_all();
        // Under the mutex, so that cancel() either comes first and silences it or waits for it:
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

void DeviceIo::cancel() {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
    shared_->handed.reset();
    shared_->changed.notify_all();
}

void DeviceIo::stop() {
    if (!thread_.joinable())
        return;
    bool inCall = false;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->handed.reset();
        // Set under the mutex whenever the thread takes such work, so nothing slips in between. A
        // read about to run out (its reader gave up just now) is worth the wait: whoever stops
        // the thread then finds the device closed.
        inCall = shared_->writing ||
                 (shared_->readingUntil && *shared_->readingUntil > Clock::now() + kJoinGrace);
        shared_->changed.notify_all();
    }
    if (inCall)
        thread_.detach(); // it closes the device once its call returns
    else
        thread_.join();
}

DeviceIo::Write DeviceIo::write(const OutputFrame& frame, std::chrono::milliseconds timeout,
                                std::string* reason) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(shared_->mutex);
    if (shared_->stopping)
        return Write::Stopped;
    if (shared_->lost)
        return Write::Lost;
    if (shared_->writing)
        return Write::Stuck;
    const std::uint64_t ticket = shared_->handedTicket + 1;
    shared_->handed = frame;
    shared_->handedTicket = ticket;
    shared_->changed.notify_all();
    shared_->changed.wait_until(lock, deadline, [&] {
        return shared_->doneTicket == ticket || shared_->lost || shared_->stopping;
    });
    if (shared_->doneTicket == ticket) {
        if (shared_->done == Write::NotTaken && reason != nullptr)
            *reason = shared_->doneReason;
        return shared_->done;
    }
    // Not taken yet: it never goes out. Taken: it is in the device, and stays our business.
    shared_->handed.reset();
    if (shared_->stopping)
        return Write::Stopped;
    if (shared_->lost)
        return Write::Lost;
    return Write::TimedOut;
}

DeviceIo::Wait DeviceIo::waitForReport(std::chrono::milliseconds timeout,
                                       std::vector<std::uint8_t>& report) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(shared_->mutex);
    const auto ready = [this] {
        return !shared_->queue.empty() || shared_->lost || shared_->stopping;
    };
    if (!ready()) {
        shared_->readUntil = deadline;
        shared_->changed.notify_all();
        shared_->changed.wait_until(lock, deadline, ready);
        shared_->readUntil.reset();
    }
    if (shared_->stopping)
        return Wait::Stopped;
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

// How the thread's turn on the device ends: the device may be used again, or it has failed
// (marked lost) and the thread ends.
enum class After { DeviceUsable, DeviceFailed };

} // namespace

void DeviceIo::run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    HidDevice& device = *s.device;
    std::vector<std::uint8_t> buffer(kReportSize);

    // Reads as the reader's deadline allows (`until` set) or, for a look, without waiting, and
    // queues what arrives.
    const auto readDevice = [&](std::optional<Clock::time_point> until) {
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
            std::string reason = length < 0 ? device.lastError() : std::string();
            // The read's end is noted with its outcome, under one lock, so that stop() never
            // takes a read that has returned for one still running.
            std::lock_guard lock(s.mutex);
            if (length < 0) {
                s.readingUntil.reset();
                s.markLost(std::move(reason));
                return After::DeviceFailed;
            }
            if (length > 0)
                s.enqueue(buffer, length);
            // Nothing within the reader's time: it has given up by now, or is about to.
            if (length == 0 && until && s.readUntil == until)
                s.readUntil.reset();
            if (length == 0 || i + 1 == most) {
                s.readingUntil.reset();
                break;
            }
        }
        return After::DeviceUsable;
    };

    const auto writeDevice = [&](const OutputFrame& frame, std::uint64_t ticket) {
        // Reports the system already holds came before the request too.
        int drained = 0;
        for (std::size_t i = 0; i < kMaxQueued && drained >= 0; ++i) {
            drained = device.readTimeout(buffer.data(), buffer.size(), 0);
            if (drained == 0)
                break;
        }
        const int written = drained < 0 ? -1 : device.write(frame.data(), frame.size());
        std::string reason = written < 0 ? device.lastError() : std::string();
        // The system may give a write up with the device still there (usbhid after USB's time-out
        // when the board stops reading); only a look that fails too says it has gone.
        bool gone = drained < 0;
        int looked = 0;
        if (written < 0 && !gone) {
            looked = device.readTimeout(buffer.data(), buffer.size(), 0);
            gone = looked < 0;
        }
        std::lock_guard lock(s.mutex);
        s.writing = false;
        s.doneTicket = ticket;
        s.done = written >= 0 ? Write::Sent : gone ? Write::Lost : Write::NotTaken;
        s.doneReason = reason;
        s.changed.notify_all();
        if (looked > 0)
            s.enqueue(buffer, looked);
        if (!gone)
            return After::DeviceUsable;
        s.markLost(std::move(reason));
        return After::DeviceFailed;
    };

    auto nextLook = Clock::now() + s.presenceCheck;
    for (After after = After::DeviceUsable; after == After::DeviceUsable;) {
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
                s.readingUntil = s.readUntil;
            }
            // Any call on the device shows whether it is still there.
            s.checkWanted = false;
            nextLook = Clock::now() + s.presenceCheck;
        }
        after = frame ? writeDevice(*frame, ticket) : readDevice(readUntil);
    }
    // The device's last call has returned; hidapi may close the handle now.
    std::lock_guard lock(s.mutex);
    s.device.reset();
}

} // namespace tarnovid
