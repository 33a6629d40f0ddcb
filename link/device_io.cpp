#include "device_io.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace tarnovid {

using Clock = std::chrono::steady_clock;

struct DeviceIo::Shared {
    std::function<void()> onLost;
    std::chrono::milliseconds idleSlice;
    std::chrono::milliseconds busySlice;

    std::mutex mutex;
    std::condition_variable changed;
    // Used by the thread alone, apart from interruptRead() under the mutex; the thread also
    // closes it under the mutex, so that call never meets a closed device.
    std::unique_ptr<HidDevice> device;
    std::deque<std::vector<std::uint8_t>> queue;
    std::optional<OutputFrame> handed; // waiting for the thread to take it
    std::uint64_t handedTicket = 0;    // the write that handed it
    std::uint64_t doneTicket = 0;      // the last write the device returned from
    bool doneOk = false;               // ... and how
    bool writing = false;              // the thread is in a write (or the drain before it)
    bool stopping = false;
    bool lost = false;
    std::string lossReason;
    Clock::time_point busyUntil{};

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
};

DeviceIo::DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost)
    : DeviceIo(std::move(device), std::move(onLost), Options{}) {}

DeviceIo::DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost, Options options)
    : shared_(std::make_shared<Shared>()) {
    shared_->onLost = std::move(onLost);
    shared_->idleSlice = options.idleSlice;
    shared_->busySlice = std::min(kBusySlice, options.idleSlice);
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
        if (shared_->device)
            shared_->device->interruptRead();
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
    shared_->busyUntil = Clock::now() + kBusyFor;
    if (shared_->device)
        shared_->device->interruptRead();
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
    std::unique_lock lock(shared_->mutex);
    const bool ready = shared_->changed.wait_for(
        lock, timeout, [this] { return !shared_->queue.empty() || shared_->lost; });
    if (!shared_->queue.empty()) {
        report = std::move(shared_->queue.front());
        shared_->queue.pop_front();
        return Wait::Report;
    }
    return ready ? Wait::Lost : Wait::TimedOut;
}

bool DeviceIo::lost() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lost;
}

std::string DeviceIo::lossReason() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lossReason;
}

void DeviceIo::run(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    HidDevice& device = *s.device;
    std::vector<std::uint8_t> buffer(kReportSize);
    for (;;) {
        OutputFrame frame{};
        std::uint64_t ticket = 0;
        std::chrono::milliseconds slice{};
        {
            std::lock_guard lock(s.mutex);
            if (s.stopping)
                break;
            if (s.handed) {
                frame = *s.handed;
                ticket = s.handedTicket;
                s.handed.reset();
                s.writing = true;
                // Whatever arrived before the request cannot be its answer.
                s.queue.clear();
            }
            slice = Clock::now() < s.busyUntil ? s.busySlice : s.idleSlice;
        }

        if (ticket != 0) {
            // Reports the system already holds came before the request too.
            int drained = 0;
            for (std::size_t i = 0; i < kMaxQueued && drained >= 0; ++i) {
                drained = device.readTimeout(buffer.data(), buffer.size(), 0);
                if (drained == 0)
                    break;
            }
            const int written = drained < 0 ? -1 : device.write(frame.data(), frame.size());
            // Asked here, right after the failing call: the next call would rewrite the reason.
            std::string reason = written < 0 ? device.lastError() : std::string();
            std::lock_guard lock(s.mutex);
            s.writing = false;
            s.doneTicket = ticket;
            s.doneOk = written >= 0;
            s.changed.notify_all();
            if (written < 0) {
                s.markLost(std::move(reason));
                break;
            }
            continue;
        }

        const int length =
            device.readTimeout(buffer.data(), buffer.size(), static_cast<int>(slice.count()));
        if (length < 0) {
            std::string reason = device.lastError();
            std::lock_guard lock(s.mutex);
            s.markLost(std::move(reason));
            break;
        }
        if (length == 0)
            continue; // nothing within this slice, or cut short for a write
        std::lock_guard lock(s.mutex);
        if (s.queue.size() == kMaxQueued)
            s.queue.pop_front();
        s.queue.emplace_back(buffer.begin(), buffer.begin() + length);
        s.changed.notify_all();
    }
    // The device's last call has returned; hidapi may close the handle now.
    std::lock_guard lock(s.mutex);
    s.device.reset();
}

} // namespace tarnovid
