// The board calls of the C interface: open, set the outputs, read the inputs, close; each on the
// link the window uses, with its match rule, framing and time-outs.

#include "board_facts.h"
#include "board_link.h"
#include "call_boundary.h"
#include "chosen_board.h"
#include "demo_mode.h"
#include "device_sources.h"
#include "failure_text.h"
#include "last_error.h"
#include "tarnovid.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

static_assert(TARNOVID_TIMEOUT_MS == tarnovid::kReadTimeoutMs);
static_assert(TARNOVID_VENDOR_ID == tarnovid::board::kVendorId &&
              TARNOVID_PRODUCT_ID == tarnovid::board::kProductId &&
              TARNOVID_RELEASE == tarnovid::board::kRelease);

struct tarnovid_board {
    explicit tarnovid_board(std::shared_ptr<tarnovid::HidBackend> devices)
        : link(std::move(devices)) {}

    // One call at a time on the link, whose owner is one thread at a time: a call runs while
    // `busy` is its own. (A flag under a mutex rather than a timed mutex, whose timed wait
    // ThreadSanitizer does not see.)
    std::mutex turnMutex;
    std::condition_variable turnFree;
    bool busy = false;
    tarnovid::BoardLink link;
};

namespace {

using namespace tarnovid;
using namespace tarnovid::lib;

// The board's turn for this call, waited for as long as the longest call takes (a read: the
// request's wait and the answer's) with room to spare.
class Turn {
public:
    explicit Turn(tarnovid_board& board)
        : board_(board) {
        std::unique_lock lock(board.turnMutex);
        held_ = board.turnFree.wait_for(lock, std::chrono::milliseconds(TARNOVID_BUSY_WAIT_MS),
                                        [&] { return !board.busy; });
        board.busy = board.busy || held_;
    }
    ~Turn() {
        if (!held_)
            return;
        {
            const std::lock_guard lock(board_.turnMutex);
            board_.busy = false;
        }
        board_.turnFree.notify_one();
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    explicit operator bool() const { return held_; }

private:
    tarnovid_board& board_;
    bool held_ = false;
};
static_assert(TARNOVID_BUSY_WAIT_MS > 2 * TARNOVID_TIMEOUT_MS);

int busy() {
    return fail(TARNOVID_NO_ANSWER, "no answer: another thread's call on this board did not end "
                                    "within " +
                                        std::to_string(TARNOVID_BUSY_WAIT_MS) + " ms");
}

int failWith(const Failure& failure) { return fail(failure.code, failure.message); }

// One request, as the window's buttons make them: the command and its value.
void send(BoardLink& link, std::uint8_t command, std::uint8_t value) {
    const std::uint8_t bytes[2] = {command, value};
    link.write(bytes, sizeof bytes, 2);
}

// Why the rule found nothing: what it looked at, for the message.
int noBoard(const char* path, const MatchRule& rule) {
    std::vector<HidDeviceInfo> candidates;
    if (const std::shared_ptr<HidBackend> devices = systemDevices()) {
        const EnumerateFilter filter = enumerateFilter(rule);
        const std::lock_guard lock(systemLock());
        candidates = devices->enumerate(filter.vendorId, filter.productId);
    }
    return failWith(noBoardFailure(path, rule, candidates));
}

} // namespace

int tarnovid_open(const char* path, tarnovid_board** board) {
    return callBoundary([&] {
        if (board == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_open: board is NULL");
        *board = nullptr;
        if (path != nullptr && *path == '\0')
            return fail(TARNOVID_BAD_ARGUMENT,
                        "tarnovid_open: the path is empty (NULL opens the first board)");
        const bool demo = path != nullptr && isDemoPath(path);
        std::string badDemo;
        std::shared_ptr<HidBackend> devices = demo ? demoDevices(path, &badDemo) : systemDevices();
        if (demo && !devices)
            return fail(TARNOVID_BAD_ARGUMENT, badDemo);
        if (devices && path != nullptr && !demo)
            devices = std::make_shared<ChosenBoardBackend>(devices, path);
        auto opened = std::make_unique<tarnovid_board>(std::move(devices));
        const MatchRule rule = genuineRule();
        BoardLink::Outcome outcome;
        {
            const std::lock_guard lock(systemLock());
            outcome = opened->link.connect(rule);
        }
        switch (outcome) {
        case BoardLink::Outcome::Opened:
        case BoardLink::Outcome::AlreadyOpen:
            *board = opened.release();
            return TARNOVID_OK;
        case BoardLink::Outcome::NoBoard:
            return noBoard(path, rule);
        case BoardLink::Outcome::Refused:
            break;
        }
        return failWith(refusalFailure(opened->link.refusal()));
    });
}

int tarnovid_set_outputs(tarnovid_board* board, unsigned char outputs) {
    return callBoundary([&] {
        if (board == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_set_outputs: board is NULL");
        const Turn turn(*board);
        if (!turn)
            return busy();
        try {
            send(board->link, board::kSetOutputs, outputs);
            return TARNOVID_OK;
        } catch (const LinkError& error) {
            return failWith(setFailure(error));
        }
    });
}

int tarnovid_read_inputs(tarnovid_board* board, unsigned char* inputs) {
    return callBoundary([&] {
        if (board == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_read_inputs: board is NULL");
        if (inputs == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_read_inputs: inputs is NULL");
        const Turn turn(*board);
        if (!turn)
            return busy();
        try {
            send(board->link, board::kReadInputs, 0);
            const std::vector<std::uint8_t> reply = board->link.read(2);
            if (reply.empty())
                return fail(TARNOVID_NO_ANSWER, "no answer: the board answered empty");
            *inputs = reply[0];
            return TARNOVID_OK;
        } catch (const LinkError& error) {
            return failWith(readFailure(error));
        }
    });
}

void tarnovid_close(tarnovid_board* board) {
    // The link's close never throws and never waits for a report stuck in the system.
    delete board;
}
