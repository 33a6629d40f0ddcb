#pragma once
// The one thread that does all I/O on an open device. hidapi is not safe for two threads on one
// handle (they would share its error slot), so this thread makes every call on the device and in
// the end closes it; nothing else touches the device.
//
// The thread never blocks in a read that nobody waits for. hidapi's reads cannot be cut short, so
// a thread parked in one would make every write wait for the read to run out. Idle, it sleeps on a
// condition variable: a write, a waiting reader or a request to look wakes it at once, and once
// every kPresenceCheck it looks by itself with a read that does not wait, which is also how an
// unplug shows up while nobody calls. A write stuck in the kernel (a board that stops taking
// output reports holds it until USB's time-out, seconds later) stalls only this thread: its owner
// waits a bounded time, and giving the device up never waits for a stuck call.

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
    // How often an idle thread looks whether the device is still there. An owner that hears of a
    // removal sooner (udev) asks for a look with checkPresence().
    static constexpr std::chrono::milliseconds kPresenceCheck{1000};
    // Reports nobody asks for are dropped oldest first beyond this many.
    static constexpr std::size_t kMaxQueued = 32;

    using ThreadStarter = std::function<std::thread(std::function<void()>)>;
    struct Options {
        std::chrono::milliseconds presenceCheck = kPresenceCheck;
        ThreadStarter start; // empty: a plain std::thread
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

    // Ends the thread and, with it, the device. Returns at once unless the thread is in a read for
    // a reader (which ends by that reader's deadline); a thread stuck in a write is left to close
    // the device and end as soon as the write returns. Idempotent.
    void stop();
    // Hands the frame to the thread, which drops every report read so far (and any the system
    // still holds) and then writes it; waits at most `timeout` for the write to return.
    Write write(const OutputFrame& frame, std::chrono::milliseconds timeout);
    // Takes the oldest report read since the last write, or has the thread read the device until
    // one arrives, waiting at most `timeout`. Reports read before a loss are still handed out;
    // Lost only once none is left. One reader at a time.
    Wait waitForReport(std::chrono::milliseconds timeout, std::vector<std::uint8_t>& report);
    // Wakes the thread to look at the device now (a read that does not wait), as if its presence
    // check were due: a device that has gone is then lost at once. Any thread may call it.
    void checkPresence();
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
