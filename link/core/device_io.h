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
// waits a bounded time, and giving the device up never waits for a call on the device.
//
// The device counts as lost only when a look at it fails: a read that fails is one, and a write
// the system fails is followed by one at once. A write the system gives up on while the device is
// still there (usbhid's time-out on a board that stopped reading) is a report not taken, nothing
// more.

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
    // removal sooner (a device watch) asks for a look with checkPresence().
    static constexpr std::chrono::milliseconds kPresenceCheck{1000};
    // Reports nobody asks for are dropped oldest first beyond this many.
    static constexpr std::size_t kMaxQueued = 32;

    using ThreadStarter = std::function<std::thread(std::function<void()>)>;
    struct Options {
        std::chrono::milliseconds presenceCheck = kPresenceCheck;
        ThreadStarter start; // empty: a plain std::thread
    };

    enum class Wait {
        Report,   // one was handed out
        TimedOut, // none within the time given
        Lost,     // none left, and the device has failed
        Stopped,  // cancel() or stop() came first
    };
    enum class Write {
        Sent,     // the device took the report
        TimedOut, // it did not within the time given; the write may still be in the device
        Stuck,    // nothing handed over: an earlier write given up on is still in the device
        NotTaken, // the system gave the write up, the device still there; *reason says why
        Lost,     // the device failed (now or before); lossReason() says why
        Stopped,  // cancel() or stop() came first
    };

    // Takes the device over and starts its thread. onLost runs once, on that thread, when the
    // device fails (after lost() has turned true), and never once cancel() has begun; it must not
    // call back into this object. The thread then ends. Throws what starting the thread throws
    // (std::system_error), the device closed.
    DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost, Options options);
    DeviceIo(std::unique_ptr<HidDevice> device, std::function<void()> onLost);
    ~DeviceIo(); // stop()
    DeviceIo(const DeviceIo&) = delete;
    DeviceIo& operator=(const DeviceIo&) = delete;

    // From any thread, at any moment: every wait in write() and waitForReport(), now or later,
    // ends at once with Stopped, nothing more is handed to the device, and the thread ends after
    // the call on the device it may be in. Idempotent.
    void cancel();
    // The owner's end: cancel(), then the thread is joined when it is idle (or its read for a
    // reader ends within milliseconds), or left to close the device and end by itself when it is
    // in a call on the device that may go on (a stuck write, a read for a reader that left
    // early), so stop() never waits for the board. Idempotent.
    void stop();
    // Hands the frame to the thread, which drops every report read so far (and any the system
    // still holds) and then writes it; waits at most `timeout` for the write to return. After
    // NotTaken, *reason holds the system's word.
    Write write(const OutputFrame& frame, std::chrono::milliseconds timeout,
                std::string* reason = nullptr);
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

    // The thread holds a reference of its own: it may outlive this object when left in a call.
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace tarnovid
