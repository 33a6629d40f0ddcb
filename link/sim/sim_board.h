#pragma once
// A simulated USB Tarnovid board and the backend that offers it, for tests and the demo. It
// speaks the board's protocol over 64-byte reports and can be unplugged, stalled, slowed or made
// to answer short. Like a hidraw node, it may be open several times at once, and every open
// handle gets its own copy of every input report. Its reads behave as hidapi's do: one that
// waits ends only when a report arrives, its time runs out or the board is unplugged; nothing
// cuts it short. Every control is thread-safe; a blocked readTimeout or write wakes on a
// condition variable, never by polling.

#include "hid_backend.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tarnovid {

// What a genuine board reports: vendor 0x1234, product 1, release 1, "Dravelko",
// "USB Tarnovid", on USB.
HidDeviceInfo tarnovidDeviceInfo(std::string path = "sim/tarnovid-0");

class SimBoard : public std::enable_shared_from_this<SimBoard> {
public:
    explicit SimBoard(HidDeviceInfo info);
    const HidDeviceInfo& info() const { return info_; }

    // Unplugging fails every handle opened so far (a blocked read returns -1 at once, writes
    // fail); those handles stay dead after a new plug(), as a real device node would. Both are
    // announced to the backend's device watches, as udev announces a hidraw node that comes or
    // goes.
    void plug();
    void unplug();
    bool isPlugged() const;

    void setInputs(std::uint8_t inputs);
    // Inputs T2, T3, T4 follow outputs D0, D1, D2.
    void wireInputsToOutputs(bool wired);
    // Writes are taken but no answer ever comes.
    void setStall(bool stalled);
    // Writes are not taken: each blocks in the device, as hid_write does when the firmware stops
    // reading output reports, until this is cleared (the report then goes in) or the board is
    // unplugged (the write fails).
    void setWriteStall(bool stalled);
    // A write stalled that long is given up by the system, as usbhid does after USB's 5 s: it
    // fails with "Connection timed out", the board still plugged in. 0 (the default): never.
    void setSystemWriteTimeoutMs(int milliseconds);
    // Answers are cut to this many bytes (0..64). A 0-byte report reads as "nothing arrived",
    // exactly as through hidapi.
    void setAnswerLength(int length);
    // Answers are cut to these lengths in turn, starting again with the first after the last.
    void setAnswerLengths(std::vector<int> lengths);
    void setAnswerDelayMs(int milliseconds);
    void setRefuseOpen(bool refuse);
    // An input report nobody asked for; every open handle gets it.
    void pushInputReport(std::vector<std::uint8_t> report);

    bool isOpen() const;
    int openCount() const;
    int closeCount() const;
    int readCalls() const;   // readTimeout calls so far, to tell a blocked read from a spinning one
    int stuckWrites() const; // writes blocked by setWriteStall right now
    // Threads that have called into any handle of this board, and handles closed while a call on
    // them was still running (which hidapi would not survive).
    std::size_t ioThreads() const;
    int closesDuringCalls() const;
    // Input reports not yet read, over all open handles.
    std::size_t pendingInputReports() const;
    // Every output report received: the bytes after the report id, as written.
    std::vector<std::vector<std::uint8_t>> writes() const;
    std::uint8_t outputs() const;

    // Backend side. nullptr and *error set when unplugged or refusing.
    std::unique_ptr<HidDevice> open(std::string* error);

private:
    friend class SimDevice;
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
    };

    // What one open handle has still to read.
    struct Queue {
        std::uint64_t session;
        std::deque<Pending> reports;
    };

    bool aliveLocked(std::uint64_t session) const { return plugged_ && session == session_; }
    // Hands a report to every handle of the current plug session.
    void deliverLocked(const Pending& report);
    int deviceWrite(std::uint64_t session, const std::uint8_t* data, std::size_t length,
                    std::string* error);
    int deviceRead(std::uint64_t handle, std::uint8_t* data, std::size_t length, int milliseconds);
    void deviceClosed(std::uint64_t handle, bool duringCall);
    void noteIoThreadLocked() { ioThreads_.insert(std::this_thread::get_id()); }
    void announce(bool plugged);

    const HidDeviceInfo info_;
    friend class SimBackend;
    std::function<void(bool plugged)> announcePlug_; // set once by the backend that offers it
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool plugged_ = true;
    std::uint64_t session_ = 0; // bumped by unplug(): handles from before are dead
    std::uint8_t inputs_ = 0;
    std::uint8_t outputs_ = 0;
    bool wired_ = false;
    bool stalled_ = false;
    bool writeStalled_ = false;
    int systemWriteTimeoutMs_ = 0;
    int stuckWrites_ = 0;
    std::set<std::thread::id> ioThreads_;
    int closesDuringCalls_ = 0;
    std::vector<int> answerLengths_{64};
    std::size_t answersCut_ = 0; // answers given since the lengths were set
    int answerDelayMs_ = 0;
    bool refuseOpen_ = false;
    int openCount_ = 0;
    int closeCount_ = 0;
    int readCalls_ = 0;
    std::uint64_t nextHandle_ = 0;
    std::map<std::uint64_t, Queue> queues_; // by handle, for every handle not yet closed
    std::vector<std::vector<std::uint8_t>> writes_;
};

// Offers any number of boards, genuine or not. Plugged boards are listed in the order added.
// Its device watches hear each board's plug and unplug, on the thread that does it.
class SimBackend : public HidBackend {
public:
    SimBackend();
    ~SimBackend() override;

    std::shared_ptr<SimBoard> addBoard(HidDeviceInfo info);
    std::shared_ptr<SimBoard> addTarnovid(std::string path = "sim/tarnovid-0");
    int enumerateCount() const;

    // The system has no thread to give: startThread throws, as std::thread does then.
    void setThreadStartFails(bool fails);

    std::vector<HidDeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
    std::unique_ptr<HidDevice> open(const std::string& path, std::string* error) override;
    std::thread startThread(std::function<void()> body) override;
    std::unique_ptr<DeviceWatch> watchDevices(DeviceWatch::Handler onEvent,
                                              std::string* why) override;

private:
    class Watch;
    struct Watchers;
    std::shared_ptr<Watchers> watchers_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SimBoard>> boards_;
    int enumerateCount_ = 0;
    bool threadStartFails_ = false;
};

} // namespace tarnovid
