#pragma once
// The one thread that does all I/O on an open device. hidapi is not safe for two threads on one
// handle (they would share its error slot), so this thread reads in slices, queuing every input
// report, writes what its owner hands it, and in the end closes the device; nothing else touches
// the device. A write stuck in the kernel (a board that stops taking output reports holds it until
// USB's time-out, seconds later) stalls only this thread: its owner waits a bounded time, and
// giving the device up never waits for a stuck call.

#include "hid_backend.h"
#include "report_framing.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarnovid {

class DeviceIo {
public:
    // How long one readTimeout blocks while nobody writes. A write that finds the thread in its
    // read waits for the slice to run out where the device cannot cut it short (hidapi), and so
    // does stop(); each slice costs a wake-up, and an idle board is the usual case.
    static constexpr std::chrono::milliseconds kIdleSlice{250};
    // The slice for a while after each write: more clicks, and the reads they ask for, tend to
    // follow at once.
    static constexpr std::chrono::milliseconds kBusySlice{10};
    static constexpr std::chrono::milliseconds kBusyFor{2000};
    // Reports nobody asks for are dropped oldest first beyond this many.
    static constexpr std::size_t kMaxQueued = 32;

    using ThreadStarter = std::function<std::thread(std::function<void()>)>;
    struct Options {
        std::chrono::milliseconds idleSlice = kIdleSlice; // the busy slice is never longer
        ThreadStarter start;                              // empty: a plain std::thread
    };

    enum class Wait { Report, TimedOut, Lost };
    enum class Write {
        Sent,     // the device took the report
        TimedOut, // it did not within the time given; the write may still be in the device
        Stuck,    // nothing handed over: an earlier write given up on is still in the device
        Lost,     // the device failed (now or before); lossReason() says why
    };

    // Takes the device over and starts its thread. onLost runs once, on that thread, when the
    // device fails (after lost() has turned true), and never after stop() has begun; it must not
    // call back into this object. The thread then ends. Throws what starting the thread throws
    // (std::system_error), the device closed.
    DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost, Options options);
    DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost);
    ~DeviceIo(); // stop()
    DeviceIo(const DeviceIo&) = delete;
    DeviceIo& operator=(const DeviceIo&) = delete;

    // Ends the thread and, with it, the device. Waits for it (at most one read slice) unless it is
    // stuck in a write: then it is left to close the device and end as soon as the write returns.
    // Idempotent.
    void stop();
    // Hands the frame to the thread, which drops every report read so far (and any the system
    // still holds) and then writes it; waits at most `timeout` for the write to return.
    Write write(const OutputFrame& frame, std::chrono::milliseconds timeout);
    // Takes the oldest queued report, waiting at most `timeout` for one. Queued reports are
    // handed out even after the device failed; Lost only once none is left.
    Wait waitForReport(std::chrono::milliseconds timeout, std::vector<std::uint8_t>& report);
    bool lost() const;
    // The system's word on the failure, once lost().
    std::string lossReason() const;

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);

    // The thread holds a reference of its own: it may outlive this object when left stuck.
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace tarnovid
