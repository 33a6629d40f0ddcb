#include "board_link.h"

#include "device_io.h"
#include "failure_words.h"
#include "report_framing.h"

#include <exception>
#include <optional>
#include <utility>

namespace tarnovid {

namespace {

[[noreturn]] void throwNotOpen() { throw LinkError(LinkError::Kind::NotOpen, "no board is open"); }

[[noreturn]] void throwClosed() {
    throw LinkError(LinkError::Kind::Closed, std::string(words::kClosedMeanwhile));
}

std::string within(std::chrono::milliseconds timeout) {
    return "within " + std::to_string(timeout.count()) + " ms";
}

} // namespace

BoardLink::BoardLink(std::shared_ptr<HidBackend> backend, Notices notices)
    : backend_(std::move(backend))
    , notices_(std::move(notices)) {}

BoardLink::~BoardLink() { close(); }

BoardLink::State BoardLink::state() const { return state_; }

BoardLink::Outcome BoardLink::connect(const MatchRule& rule) {
    if (state_ == State::Open)
        return Outcome::Opened;
    close(); // a lost board
    refusal_ = {};
    if (!backend_)
        return Outcome::NoBoard;
    // Nothing is kept until the board is wholly open: a failure on the way closes what was opened
    // (the device goes with its local owner) and leaves the next attempt to try again.
    std::optional<HidDeviceInfo> chosen;
    const auto refuse = [&](std::string reason) noexcept {
        try {
            refusal_ = {chosen ? chosen->path : std::string(), std::move(reason)};
        } catch (...) { // out of memory even for that: the outcome still says it
        }
        return Outcome::Refused;
    };
    try {
        const EnumerateFilter filter = enumerateFilter(rule);
        chosen = pickDevice(rule, backend_->enumerate(filter.vendorId, filter.productId));
        if (!chosen)
            return Outcome::NoBoard;
        std::string error;
        std::unique_ptr<HidDevice> device = backend_->open(chosen->path, &error);
        // Right after a plug the device node may not have its permissions yet; the next attempt
        // simply tries again.
        if (!device)
            return refuse(error.empty() ? "cannot open" : error);
        std::unique_ptr<DeviceIo> io;
        try {
            io = std::make_unique<DeviceIo>(
                std::move(device), notices_.boardFailed,
                DeviceIo::Options{.start = [backend = backend_](std::function<void()> body) {
                    return backend->startThread(std::move(body));
                }});
        } catch (const std::exception& e) {
            return refuse(std::string("cannot start its I/O thread: ") + e.what());
        }
        device_ = std::move(*chosen);
        setIo(std::move(io));
        state_ = State::Open;
        requestNotTaken_ = false;
        return Outcome::Opened;
    } catch (const std::exception& e) {
        return refuse(e.what());
    } catch (...) {
        return refuse("unknown failure");
    }
}

const BoardLink::Refusal& BoardLink::refusal() const { return refusal_; }

const HidDeviceInfo& BoardLink::device() const {
    if (state_ == State::Closed)
        throwNotOpen();
    return device_;
}

void BoardLink::setTimeout(std::chrono::milliseconds timeout) {
    if (timeout < kMinTimeout || timeout > kMaxTimeout)
        throw LinkError(LinkError::Kind::Rejected,
                        "the time-out must be from " + std::to_string(kMinTimeout.count()) +
                            " to " + std::to_string(kMaxTimeout.count()) + " ms, not " +
                            std::to_string(timeout.count()));
    timeout_ = timeout;
}

std::chrono::milliseconds BoardLink::timeout() const { return timeout_; }

bool BoardLink::turnLost() {
    if (state_ != State::Open || !io_ || !io_->lost())
        return false;
    state_ = State::Lost;
    lossReason_ = io_->lossReason();
    requestNotTaken_ = false;
    // Its thread has ended or is ending: the device is let go now, not at close().
    setIo(nullptr);
    if (notices_.lost)
        notices_.lost(lossReason_);
    return true;
}

void BoardLink::throwIfLostBefore() const {
    if (state_ == State::Lost)
        throw LinkError(LinkError::Kind::Lost, "the board went away during an earlier call (" +
                                                   lossReason_ + "); close it and open it again");
}

void BoardLink::throwLost(const std::string& what) {
    // Notices::lost has run by now, inside this call, before the caller hears of it.
    throw LinkError(LinkError::Kind::Lost, what);
}

void BoardLink::write(const std::uint8_t* bytes, std::size_t size, int count) {
    if (state_ == State::Closed)
        throwNotOpen();
    const OutputFrame frame = frameOutputReport(bytes, size, count);
    throwIfLostBefore();
    std::string notTaken;
    switch (io_->write(frame, timeout_, &notTaken)) {
    case DeviceIo::Write::Sent:
        requestNotTaken_ = false;
        return;
    case DeviceIo::Write::TimedOut:
        requestNotTaken_ = true;
        throw LinkError(LinkError::Kind::TimedOut,
                        "the board did not take the report " + within(timeout_));
    case DeviceIo::Write::Stuck:
        requestNotTaken_ = true;
        throw LinkError(LinkError::Kind::TimedOut,
                        "the board has not yet taken an earlier report; nothing was sent");
    case DeviceIo::Write::NotTaken:
        requestNotTaken_ = true;
        throw LinkError(LinkError::Kind::TimedOut,
                        "the board did not take the report, and the system gave it up: " +
                            notTaken);
    case DeviceIo::Write::Stopped:
        throwClosed();
    case DeviceIo::Write::Lost:
        break;
    }
    turnLost();
    throwLost("write to the board failed: " + lossReason_);
}

std::vector<std::uint8_t> BoardLink::read(int count) {
    if (state_ == State::Closed)
        throwNotOpen();
    checkCount(count, kReportSize);
    throwIfLostBefore();
    if (requestNotTaken_)
        throw LinkError(LinkError::Kind::TimedOut,
                        "the board has not taken the last request; it may still reach the board, "
                        "but its answer is not waited for");
    std::vector<std::uint8_t> report;
    switch (io_->waitForReport(timeout_, report)) {
    case DeviceIo::Wait::Report:
        return replyBytes(report, count);
    case DeviceIo::Wait::TimedOut:
        throw LinkError(LinkError::Kind::TimedOut, "the board did not answer " + within(timeout_));
    case DeviceIo::Wait::Stopped:
        throwClosed();
    case DeviceIo::Wait::Lost:
        break;
    }
    turnLost();
    throwLost("the board went away while waiting for its answer: " + lossReason_);
}

void BoardLink::checkPresence() {
    if (state_ == State::Open && io_)
        io_->checkPresence();
}

void BoardLink::updateState() {
    try {
        turnLost();
    } catch (...) { // the owner's notice threw; the state is Lost all the same
    }
}

void BoardLink::interrupt() {
    const std::lock_guard lock(ioMutex_);
    if (io_)
        io_->cancel();
}

void BoardLink::setIo(std::unique_ptr<DeviceIo> io) {
    std::unique_ptr<DeviceIo> old;
    {
        const std::lock_guard lock(ioMutex_);
        old = std::exchange(io_, std::move(io));
    }
    // Stopped outside the lock: an interrupt() meanwhile finds the new one, or none.
}

void BoardLink::close() {
    // The device closes on its own thread after its last call; a call stuck in the system is not
    // waited for.
    setIo(nullptr);
    device_ = {};
    lossReason_.clear();
    state_ = State::Closed;
    requestNotTaken_ = false;
}

} // namespace tarnovid
