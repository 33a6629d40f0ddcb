#pragma once
// The link to one board, in plain C++: it finds and opens the matching HID device, moves command
// bytes through the board's I/O thread, and says when the board is lost. The window (through
// HIDComm), tarnovidctl and the C library all reach the board this one way. No call waits longer
// than kReadTimeoutMs for the board, whatever the board does.
//
// Threading: one owner thread at a time makes every call. The loss notice runs on the board's I/O
// thread.

#include "device_match.h"
#include "hid_backend.h"
#include "link_error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnovid {

class DeviceIo;

class BoardLink {
public:
    // Runs on the board's I/O thread, once, when the open board fails while none of the owner's
    // calls is there to find it; never after close() has begun. It must not call into the link:
    // the owner acts on it on its own thread, through dropIfLost().
    using LossNotice = std::function<void()>;

    explicit BoardLink(std::shared_ptr<HidBackend> backend, LossNotice onLost = {});
    ~BoardLink(); // close()
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    enum class Outcome {
        Opened,      // a matching board is open now
        AlreadyOpen, // one was open before; nothing was looked at
        NoBoard,     // none matches
        Refused,     // one matches but could not be used; refusal() says which and why
    };
    // Finds and opens the first matching board by path. Never throws.
    Outcome connect(const MatchRule& rule);
    // After Refused: the board's path and the system's reason (isAccessDenied() tells a
    // permission problem). Empty after any other outcome.
    struct Refusal {
        std::string path;
        std::string reason;
    };
    const Refusal& refusal() const;

    // True while a board is open, including one that has failed and is not yet dropped.
    bool isOpen() const;
    // What the open board reported when it was found. Throws LinkError(NotOpen).
    const HidDeviceInfo& device() const;

    // Sends bytes[0..count) as one 64-byte output report, zero-padded, and returns once the board
    // has taken it. Reports that arrived before the report goes out are dropped. Waits at most
    // kReadTimeoutMs. Throws LinkError: NotOpen; Rejected for count outside 0..64 or beyond size
    // (nothing is sent); TimedOut when the board did not take the report in time (the board
    // stays open; while that report is still stuck, a later write fails at once with TimedOut
    // and sends nothing); Lost when the write fails, the board then closed.
    void write(const std::uint8_t* bytes, std::size_t size, int count);
    // First `count` bytes of the next input report that arrives after the last write (fewer if
    // the report is shorter). Waits at most kReadTimeoutMs. Throws LinkError: NotOpen; Rejected
    // for count outside 0..64; TimedOut (the board stays open), at once when the last write timed
    // out, since the board has not taken the request it would answer; Lost when the board goes
    // away meanwhile, the board then closed.
    std::vector<std::uint8_t> read(int count);

    // Has the board's thread look at the board now rather than at its next look: a board that
    // has gone is then lost at once (a removal announced by the system, say).
    void checkPresence();
    // The owner's answer to a loss notice: closes the board and returns true if the open board
    // has failed; false if none is open or it is well (the notice was about a board already
    // given up). Never throws.
    bool dropIfLost();
    // Gives the board up, if one is open. Never waits for a write stuck in the kernel: the
    // board's thread closes the device as soon as that write returns. Never throws.
    void close();

private:
    [[noreturn]] void giveUp(const std::string& what);

    std::shared_ptr<HidBackend> backend_;
    LossNotice onLost_;
    // The open board: its thread owns the device. Set only once everything about the board is in
    // place, so there is never half an open board.
    std::unique_ptr<DeviceIo> io_;
    HidDeviceInfo device_;
    // The last write timed out: the board has not taken the request, so no answer is due.
    bool requestNotTaken_ = false;
    Refusal refusal_;
};

} // namespace tarnovid
