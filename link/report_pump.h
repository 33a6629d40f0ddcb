#pragma once
// The one reader of an open device. A thread of its own blocks in HidDevice::readTimeout, queues
// every input report, and on the first read error (how an unplug shows) tells its owner once and
// stops. The owner keeps writing on its own thread; it must destroy (or stop()) the pump before
// it closes the device, so the device never closes under a running read.

#include "hid_backend.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnovid {

class ReportPump {
public:
    // How long one readTimeout blocks. It bounds how late stop() returns; it costs nothing while
    // idle, since the thread sleeps in the read.
    static constexpr std::chrono::milliseconds kReadSlice{250};
    // Reports nobody asks for are dropped oldest first beyond this many.
    static constexpr std::size_t kMaxQueued = 32;

    enum class Wait { Report, TimedOut, Lost };

    // onLost runs once, on the reader thread, when the device fails, after lost() has turned
    // true; the reader then stops.
    ReportPump(HidDevice& device, std::function<void()> onLost,
               std::chrono::milliseconds readSlice = kReadSlice);
    ~ReportPump(); // stop()
    ReportPump(const ReportPump&) = delete;
    ReportPump& operator=(const ReportPump&) = delete;

    // Ends the reader and joins it. Idempotent.
    void stop();
    // Forgets every report queued so far.
    void discardQueued();
    // Takes the oldest queued report, waiting at most `timeout` for one. Queued reports are
    // handed out even after the device failed; Lost only once none is left.
    Wait waitForReport(std::chrono::milliseconds timeout, std::vector<std::uint8_t>& report);
    bool lost() const;

private:
    void run();

    HidDevice& device_;
    std::function<void()> onLost_;
    std::chrono::milliseconds readSlice_;

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::vector<std::uint8_t>> queue_;
    bool stopping_ = false;
    bool lost_ = false;

    std::thread thread_; // last: started once everything above exists
};

} // namespace tarnovid
