#include "open_boards.h"

#include "failure_words.h"
#include "last_error.h"

#include <unordered_set>

tarnovid_board::tarnovid_board(std::shared_ptr<tarnovid::HidBackend> devices, const char* path)
    : openedBy(path != nullptr ? path : "")
    , openedByPath(path != nullptr)
    , link(std::move(devices)) {}

namespace tarnovid::lib {

// The open boards. Never destroyed: a board left open when the program ends still has its
// thread running, and a call may still be on its way in.
class Registry {
public:
    static Registry& instance() {
        static auto* const registry = new Registry;
        return *registry;
    }

    void publish(tarnovid_board* board) {
        const std::lock_guard lock(mutex_);
        board->open_ = true;
        open_.insert(board);
    }

    bool enter(tarnovid_board* board) {
        const std::lock_guard lock(mutex_);
        if (open_.count(board) == 0)
            return false;
        ++board->calls_;
        return true;
    }

    // True when the board is closed and this was its last call: the caller frees it.
    bool leave(tarnovid_board* board) {
        const std::lock_guard lock(mutex_);
        return --board->calls_ == 0 && !board->open_;
    }

    // Under the registry's lock throughout, so that no call can leave (and free the board)
    // between the moment it is taken out and the moment its calls are told.
    bool close(tarnovid_board* board, bool& freeNow) {
        const std::lock_guard lock(mutex_);
        if (open_.erase(board) == 0)
            return false;
        board->open_ = false;
        freeNow = board->calls_ == 0;
        if (!freeNow) {
            {
                const std::lock_guard turns(board->mutex_);
                board->closing_ = true;
            }
            board->changed_.notify_all();
            board->link.interrupt();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::unordered_set<tarnovid_board*> open_;
};

void publish(tarnovid_board* board) { Registry::instance().publish(board); }

bool closeBoard(tarnovid_board* board) noexcept {
    bool freeNow = false;
    try {
        if (!Registry::instance().close(board, freeNow))
            return false;
    } catch (...) { // the lock itself failed: the board stays as it was
        return false;
    }
    if (freeNow)
        delete board; // its link lets the device go without waiting for the board
    return true;
}

namespace {

int closed() {
    return fail(TARNOVID_CLOSED,
                std::string(words::kClosed) + std::string(words::kClosedMeanwhile));
}

} // namespace

BoardCall::BoardCall(tarnovid_board* board) {
    if (board != nullptr && Registry::instance().enter(board))
        board_ = board;
}

BoardCall::~BoardCall() {
    if (board_ == nullptr)
        return;
    if (turn_) {
        {
            const std::lock_guard lock(board_->mutex_);
            board_->turns_.pop_front();
        }
        board_->changed_.notify_all();
    }
    if (Registry::instance().leave(board_))
        delete board_;
}

int BoardCall::takeTurn() {
    tarnovid_board& board = *board_;
    std::unique_lock lock(board.mutex_);
    if (board.closing_)
        return closed();
    const std::uint64_t mine = board.nextTurn_++;
    board.turns_.push_back(mine);
    const auto patience = 3 * board.timeout_;
    const bool mayRun = board.changed_.wait_for(
        lock, patience, [&] { return board.closing_ || board.turns_.front() == mine; });
    if (mayRun && !board.closing_) {
        turn_ = mine;
        board.link.setTimeout(board.timeout_);
        return TARNOVID_OK;
    }
    std::erase(board.turns_, mine);
    lock.unlock();
    board.changed_.notify_all();
    if (mayRun)
        return closed();
    return fail(TARNOVID_NO_ANSWER, std::string(words::kNoAnswer) +
                                        "the calls of other threads on this board did not end "
                                        "within " +
                                        std::to_string(patience.count()) + " ms");
}

void BoardCall::setTimeout(std::chrono::milliseconds timeout) {
    const std::lock_guard lock(board_->mutex_);
    board_->timeout_ = timeout;
}

} // namespace tarnovid::lib
