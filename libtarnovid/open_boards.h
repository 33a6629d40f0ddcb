#pragma once
// The boards a program has open, and the calls on each. This is the one place that decides
// whether a pointer a caller hands in is an open board (it is looked up, never read, so a closed
// or made-up pointer cannot crash the library), whose turn it is on a board (first come, first
// served), and when a board's memory may go (once it is closed and the last call has left it).

#include "board_link.h"
#include "tarnovid.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tarnovid::lib {
class BoardCall;
class Registry;
} // namespace tarnovid::lib

struct tarnovid_board {
    tarnovid_board(std::shared_ptr<tarnovid::HidBackend> devices, const char* path);

    // How the caller named it (NULL: the first board), so tarnovid_wait can find it again.
    const std::string openedBy;
    const bool openedByPath;
    // Used only by the call whose turn it is.
    tarnovid::BoardLink link;
    // What tarnovid_board_info hands out, and the strings it points to; set before the board is
    // published and never changed after.
    tarnovid_device info{};
    std::string path, serial, manufacturer, product;

private:
    friend class tarnovid::lib::BoardCall;
    friend class tarnovid::lib::Registry;

    // Guarded by the registry's lock: whether it is open, and how many calls hold it.
    bool open_ = false;
    int calls_ = 0;

    // Guarded by mutex_: the calls waiting for their turn, the one at the front running.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::uint64_t> turns_;
    std::uint64_t nextTurn_ = 0;
    bool closing_ = false;
    std::chrono::milliseconds timeout_ = tarnovid::BoardLink::kDefaultTimeout;
};

namespace tarnovid::lib {

// Makes a board that has just been opened known, so calls can use it.
void publish(tarnovid_board* board);
// Takes the board out of the open ones: calls in progress or waiting on it end at once with
// TARNOVID_CLOSED, and its memory goes now or when the last of them leaves. Never waits for the
// board. False when it was not open.
bool closeBoard(tarnovid_board* board) noexcept;

// One call's hold on a board.
class BoardCall {
public:
    // Holds the board if it is open; false otherwise, and then nothing of it has been read.
    explicit BoardCall(tarnovid_board* board);
    ~BoardCall(); // leaves its turn; frees a board closed meanwhile if it was the last call
    BoardCall(const BoardCall&) = delete;
    BoardCall& operator=(const BoardCall&) = delete;
    explicit operator bool() const { return board_ != nullptr; }
    tarnovid_board& board() { return *board_; }

    // Waits for this call's turn: TARNOVID_OK, with the board's time-out applied to its link;
    // TARNOVID_CLOSED; or TARNOVID_NO_ANSWER when the calls ahead of it take longer than three of
    // the board's time-outs. The last error says why when it is not OK.
    int takeTurn();
    // The board's time-out, for the calls that come after this one.
    void setTimeout(std::chrono::milliseconds timeout);

private:
    tarnovid_board* board_ = nullptr;
    std::optional<std::uint64_t> turn_;
};

} // namespace tarnovid::lib
