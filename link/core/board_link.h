#pragma once
// The link to one board, in plain C++: it finds and opens the matching HID device, moves command
// bytes through the board's I/O thread, and decides when the board is lost. The window (through
// HIDComm), tarnovidctl and the C library all reach the board this one way, and every contract
// about a call on the board is stated here; the faces over it point here. No call waits longer
// than the link's time-out for the board, whatever the board does.
//
// State: Closed (no board) → connect() → Open → (the board fails) → Lost → close() → Closed.
// The board is lost only when a look at it fails: a read that fails, the look that follows a
// write the system failed, or the look a device watch asks for when the system says a device
// went. Open → Lost happens in one place, on the owner's thread, and the owner hears of it there
// exactly once per board, through Notices::lost, from whichever of its calls found it.
//
// Threading: one owner thread at a time makes every call, except interrupt(). The board's I/O
// thread only ever calls Notices::boardFailed.

#include "device_match.h"
#include "hid_backend.h"
#include "link_error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnovid {

class DeviceIo;

class BoardLink {
public:
    // How long a call waits for the board to take one report, and again for one answer.
    static constexpr std::chrono::milliseconds kDefaultTimeout{500};
    static constexpr std::chrono::milliseconds kMinTimeout{1};
    static constexpr std::chrono::milliseconds kMaxTimeout{60000};

    struct Notices {
        // On the board's I/O thread, when the open board has failed; never once close() or
        // interrupt() has begun. It must not call into the link: the owner calls updateState()
        // on its own thread, which finds nothing to do if one of its calls has found the loss
        // meanwhile.
        std::function<void()> boardFailed;
        // On the owner's thread, from inside write(), read() or updateState(), when the board
        // turns Lost: once per board, with the system's word on why.
        std::function<void(const std::string& reason)> lost;
    };

    explicit BoardLink(std::shared_ptr<HidBackend> backend, Notices notices = {});
    ~BoardLink(); // close()
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    enum class State { Closed, Open, Lost };
    State state() const;

    enum class Outcome {
        Opened,  // a matching board is open now (or was already)
        NoBoard, // none matches
        Refused, // one matches but could not be used, or the system's device list failed;
                 // refusal() says which and why
    };
    // Finds and opens the first matching board by path; a lost board is closed first. Never throws.
    Outcome connect(const MatchRule& rule);
    // After Refused: the board's path and the system's reason (isAccessDenied() tells a
    // permission problem); an empty path when the system could not list its devices. Empty after
    // any other outcome.
    struct Refusal {
        std::string path;
        std::string reason;
    };
    const Refusal& refusal() const;

    // What the board reported when it was found, while it is open or lost. Throws
    // LinkError(NotOpen) when closed.
    const HidDeviceInfo& device() const;

    // The wait for the board to take a report, and for an answer: kDefaultTimeout until set.
    // Throws LinkError(Rejected) outside kMinTimeout..kMaxTimeout.
    void setTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds timeout() const;

    // Sends bytes[0..count) as one 64-byte output report, zero-padded, and returns once the board
    // has taken it. Reports that arrived before the report goes out are dropped. Waits at most
    // timeout(). Throws LinkError:
    //  NotOpen when closed;
    //  Rejected for count outside 0..64 or beyond size (nothing is sent);
    //  TimedOut when the board did not take the report in time, or the system gave the write up
    //    with the board still there (the board stays open; while a report is still stuck in the
    //    system, a later write fails at once with TimedOut and sends nothing);
    //  Lost when the board has gone (now, with Notices::lost first, or in an earlier call);
    //  Closed after interrupt().
    void write(const std::uint8_t* bytes, std::size_t size, int count);
    // First `count` bytes of the next input report that arrives after the last write (fewer if
    // the report is shorter). Waits at most timeout(). Throws LinkError as write() does, and
    // TimedOut at once when the last write was not taken, since the board has not taken the
    // request it would answer.
    std::vector<std::uint8_t> read(int count);

    // Has the board's thread look at the board now rather than at its next look: a board that
    // has gone is then found at once (a removal announced by the system, say).
    void checkPresence();
    // The owner's answer to Notices::boardFailed: turns a failed board Lost (and tells
    // Notices::lost). Does nothing when the board is well, or already lost or closed. Never throws.
    void updateState();
    // From any thread, while another thread may be in a call (but not during connect() or
    // close()): every call in progress or to come ends at once with LinkError(Closed), and the
    // board's thread lets the device go after the call it may be in. The owner still calls
    // close(). Never throws, never waits.
    void interrupt();
    // Gives the board up, if one is open or lost. Never waits for the board: a call stuck in the
    // system is left to the board's thread, which closes the device as soon as that call returns.
    // Never throws.
    void close();

private:
    // Turns a failed board Lost, once, and tells the owner; true if this call did it.
    bool turnLost();
    void setIo(std::unique_ptr<DeviceIo> io);
    [[noreturn]] void throwLost(const std::string& what);
    // A call on a board lost in an earlier call hears of that loss again.
    void throwIfLostBefore() const;

    std::shared_ptr<HidBackend> backend_;
    Notices notices_;
    State state_ = State::Closed;
    std::chrono::milliseconds timeout_ = kDefaultTimeout;
    // The open board: its thread owns the device. Set only once everything about the board is in
    // place, so there is never half an open board. Only the owner changes it, under ioMutex_,
    // which interrupt() takes to reach it from another thread.
    std::unique_ptr<DeviceIo> io_;
    std::mutex ioMutex_;
    HidDeviceInfo device_;
    std::string lossReason_;
    // The last write was not taken: the board has not taken the request, so no answer is due.
    bool requestNotTaken_ = false;
    Refusal refusal_;
};

} // namespace tarnovid
