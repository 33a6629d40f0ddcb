// The board calls of the C interface: open, wait, set the outputs, read the inputs, the time-out,
// what the board is, close; each on the link the window uses, with its match rule and framing.

#include "board_facts.h"
#include "board_link.h"
#include "call_boundary.h"
#include "chosen_board.h"
#include "demo_mode.h"
#include "device_node.h"
#include "device_sources.h"
#include "failure_text.h"
#include "last_error.h"
#include "open_boards.h"
#include "stay_loaded.h"
#include "tarnovid.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

static_assert(TARNOVID_TIMEOUT_MS == tarnovid::BoardLink::kDefaultTimeout.count() &&
              TARNOVID_TIMEOUT_MIN_MS == tarnovid::BoardLink::kMinTimeout.count() &&
              TARNOVID_TIMEOUT_MAX_MS == tarnovid::BoardLink::kMaxTimeout.count());
static_assert(TARNOVID_BUSY_WAIT_MS == 3 * TARNOVID_TIMEOUT_MS);
static_assert(TARNOVID_VENDOR_ID == tarnovid::board::kVendorId &&
              TARNOVID_PRODUCT_ID == tarnovid::board::kProductId &&
              TARNOVID_RELEASE == tarnovid::board::kRelease);

namespace {

using namespace tarnovid;
using namespace tarnovid::lib;
using Clock = std::chrono::steady_clock;

int failWith(const Failure& failure) { return fail(failure.code, failure.message); }

int notOpen(const char* function) {
    return fail(TARNOVID_BAD_ARGUMENT,
                std::string(function) + ": not an open board (closed already, or never opened)");
}

// One request, as the window's buttons make them: the command and its value.
void send(BoardLink& link, std::uint8_t command, std::uint8_t value) {
    const std::uint8_t bytes[2] = {command, value};
    link.write(bytes, sizeof bytes, 2);
}

// Why the rule found nothing: what it looked at among `devices` (all of them, not only the one
// `path` names), for the message.
int noBoard(const std::shared_ptr<HidBackend>& devices, const char* path, const MatchRule& rule) {
    std::vector<HidDeviceInfo> candidates;
    if (devices) {
        const EnumerateFilter filter = enumerateFilter(rule);
        const std::lock_guard lock(systemLock());
        candidates = devices->enumerate(filter.vendorId, filter.productId);
    }
    return failWith(noBoardFailure(path, rule, candidates));
}

bool isDemoPath(const char* path) { return path != nullptr && tarnovid::isDemoPath(path); }

// Where the board `path` names is looked for: `*devices`, or a code for a demo mode spelt wrong.
int devicesFor(const char* path, std::shared_ptr<HidBackend>* devices) {
    if (!isDemoPath(path)) {
        *devices = systemDevices();
        return TARNOVID_OK;
    }
    std::string why;
    *devices = demoDevices(path, &why);
    return *devices ? TARNOVID_OK : fail(TARNOVID_BAD_ARGUMENT, why);
}

int checkPath(const char* function, const char* path, tarnovid_board** board) {
    if (board == nullptr)
        return fail(TARNOVID_BAD_ARGUMENT, std::string(function) + ": board is NULL");
    *board = nullptr;
    if (path != nullptr && *path == '\0')
        return fail(TARNOVID_BAD_ARGUMENT,
                    std::string(function) + ": the path is empty (NULL opens the first board)");
    return TARNOVID_OK;
}

void describe(tarnovid_board& board, const char* openedAs) {
    const HidDeviceInfo& device = board.link.device();
    // A demo board's path is the one it was opened by, so that it opens the same board again.
    board.path = isDemoPath(openedAs) ? openedAs : device.path;
    board.serial = device.serialNumber;
    board.manufacturer = device.manufacturer;
    board.product = device.product;
    board.info.path = board.path.c_str();
    board.info.serial = board.serial.c_str();
    board.info.manufacturer = board.manufacturer.c_str();
    board.info.product = board.product.c_str();
    board.info.vendor_id = device.vendorId;
    board.info.product_id = device.productId;
    board.info.release = device.releaseNumber;
    board.info.bus = busNumber(device.bus);
}

// One attempt at the board `path` names, among `devices`.
int openOn(const std::shared_ptr<HidBackend>& devices, const char* path, tarnovid_board** board) {
    std::shared_ptr<HidBackend> chosen = devices;
    if (devices && path != nullptr && !isDemoPath(path))
        chosen = std::make_shared<ChosenBoardBackend>(devices, path);
    auto opened = std::make_unique<tarnovid_board>(std::move(chosen), path);
    const MatchRule rule = genuineRule();
    BoardLink::Outcome outcome;
    {
        const std::lock_guard lock(systemLock());
        outcome = opened->link.connect(rule);
    }
    switch (outcome) {
    case BoardLink::Outcome::Opened:
        break;
    case BoardLink::Outcome::NoBoard:
        return noBoard(devices, path, rule);
    case BoardLink::Outcome::Refused:
        return failWith(refusalFailure(opened->link.refusal()));
    }
    describe(*opened, path);
    // Its thread runs library code from now on, whatever the program does with the library.
    stayLoaded();
    publish(opened.get());
    *board = opened.release();
    return TARNOVID_OK;
}

// Announcements of arrivals, for a wait to look again at once.
class Arrivals {
public:
    void note() {
        {
            const std::lock_guard lock(mutex_);
            ++count_;
        }
        changed_.notify_all();
    }
    // Until the next arrival after `seen`, or `until`.
    void waitAfter(std::uint64_t& seen, Clock::time_point until) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until, [&] { return count_ != seen; });
        seen = count_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t count_ = 0;
};

// Between looks while waiting for a board: often where the system announces nothing, seldom
// (only against an announcement missed) where it does.
constexpr std::chrono::milliseconds kLookWithoutNotices{200};
constexpr std::chrono::milliseconds kLookWithNotices{1000};

} // namespace

int tarnovid_open(const char* path, tarnovid_board** board) {
    return callBoundary([&] {
        if (const int code = checkPath("tarnovid_open", path, board); code != TARNOVID_OK)
            return code;
        std::shared_ptr<HidBackend> devices;
        if (const int code = devicesFor(path, &devices); code != TARNOVID_OK)
            return code;
        return openOn(devices, path, board);
    });
}

int tarnovid_wait(const char* path, int timeout_ms, tarnovid_board** board) {
    return callBoundary([&] {
        if (const int code = checkPath("tarnovid_wait", path, board); code != TARNOVID_OK)
            return code;
        const auto started = Clock::now();
        const bool forever = timeout_ms < 0;
        const Clock::time_point deadline =
            started + std::chrono::milliseconds(forever ? 0 : timeout_ms);
        std::shared_ptr<HidBackend> devices;
        if (const int code = devicesFor(path, &devices); code != TARNOVID_OK)
            return code;
        // Listening starts before the first look, so a board that arrives in between is heard.
        Arrivals arrivals;
        std::unique_ptr<DeviceWatch> watch;
        if (devices) {
            try {
                std::string why;
                watch = devices->watchDevices(
                    [&arrivals](DeviceChange change) {
                        if (change == DeviceChange::Arrived)
                            arrivals.note();
                    },
                    &why);
            } catch (const std::exception&) { // no announcements: the looks alone find it
            }
        }
        const auto lookEvery = watch ? kLookWithNotices : kLookWithoutNotices;
        std::uint64_t seen = 0;
        for (;;) {
            const int code = openOn(devices, path, board);
            if (code != TARNOVID_NO_BOARD)
                return code;
            const auto now = Clock::now();
            if (!forever && now >= deadline)
                return fail(TARNOVID_NO_BOARD, std::string(lastError()) + " (waited " +
                                                   std::to_string(timeout_ms) + " ms)");
            arrivals.waitAfter(seen,
                               forever ? now + lookEvery : std::min(deadline, now + lookEvery));
        }
    });
}

int tarnovid_set_outputs(tarnovid_board* board, unsigned char outputs) {
    return callBoundary([&] {
        if (board == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_set_outputs: board is NULL");
        BoardCall call(board);
        if (!call)
            return notOpen("tarnovid_set_outputs");
        if (const int code = call.takeTurn(); code != TARNOVID_OK)
            return code;
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
        BoardCall call(board);
        if (!call)
            return notOpen("tarnovid_read_inputs");
        if (const int code = call.takeTurn(); code != TARNOVID_OK)
            return code;
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

int tarnovid_set_timeout(tarnovid_board* board, int timeout_ms) {
    return callBoundary([&] {
        if (board == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_set_timeout: board is NULL");
        if (timeout_ms < TARNOVID_TIMEOUT_MIN_MS || timeout_ms > TARNOVID_TIMEOUT_MAX_MS)
            return fail(TARNOVID_BAD_ARGUMENT,
                        "tarnovid_set_timeout: " + std::to_string(timeout_ms) + " ms is not from " +
                            std::to_string(TARNOVID_TIMEOUT_MIN_MS) + " to " +
                            std::to_string(TARNOVID_TIMEOUT_MAX_MS) + " ms");
        BoardCall call(board);
        if (!call)
            return notOpen("tarnovid_set_timeout");
        // Taken up by the next call at its turn, so a call in progress keeps the time it began
        // with.
        call.setTimeout(std::chrono::milliseconds(timeout_ms));
        return TARNOVID_OK;
    });
}

const tarnovid_device* tarnovid_board_info(tarnovid_board* board) {
    const tarnovid_device* info = nullptr;
    callBoundary([&] {
        if (board == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_board_info: board is NULL");
        BoardCall call(board);
        if (!call)
            return notOpen("tarnovid_board_info");
        info = &call.board().info; // set before the board was published, never changed
        return TARNOVID_OK;
    });
    return info;
}

void tarnovid_close(tarnovid_board* board) {
    // Never waits for the board: calls still on it end at once, and the last one frees it.
    closeBoard(board);
}
