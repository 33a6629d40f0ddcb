#include "board_link.h"

#include "device_io.h"
#include "report_framing.h"

#include <chrono>
#include <exception>
#include <optional>

namespace tarnovid {

namespace {

const std::chrono::milliseconds kWaitForBoard{kReadTimeoutMs};

[[noreturn]] void throwNotOpen() { throw LinkError(LinkError::Kind::NotOpen, "no board is open"); }

} // namespace

BoardLink::BoardLink(std::shared_ptr<HidBackend> backend, LossNotice onLost)
    : backend_(std::move(backend))
    , onLost_(std::move(onLost)) {}

BoardLink::~BoardLink() { close(); }

BoardLink::Outcome BoardLink::connect(const MatchRule& rule) {
    if (io_)
        return Outcome::AlreadyOpen;
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
                std::move(device), onLost_,
                DeviceIo::Options{.start = [backend = backend_](std::function<void()> body) {
                    return backend->startThread(std::move(body));
                }});
        } catch (const std::exception& e) {
            return refuse(std::string("cannot start its I/O thread: ") + e.what());
        }
        device_ = std::move(*chosen);
        io_ = std::move(io);
        requestNotTaken_ = false;
        return Outcome::Opened;
    } catch (const std::exception& e) {
        return refuse(e.what());
    } catch (...) {
        return refuse("unknown failure");
    }
}

const BoardLink::Refusal& BoardLink::refusal() const { return refusal_; }

bool BoardLink::isOpen() const { return io_ != nullptr; }

const HidDeviceInfo& BoardLink::device() const {
    if (!io_)
        throwNotOpen();
    return device_;
}

void BoardLink::giveUp(const std::string& what) {
    // The thread's own notice may still be on its way; closing here leaves it nothing to act on,
    // so the caller hears of the loss exactly once, from this throw.
    close();
    throw LinkError(LinkError::Kind::Lost, what);
}

void BoardLink::write(const std::uint8_t* bytes, std::size_t size, int count) {
    if (!io_)
        throwNotOpen();
    const OutputFrame frame = frameOutputReport(bytes, size, count);
    switch (io_->write(frame, kWaitForBoard)) {
    case DeviceIo::Write::Sent:
        requestNotTaken_ = false;
        return;
    case DeviceIo::Write::TimedOut:
        requestNotTaken_ = true;
        throw LinkError(LinkError::Kind::TimedOut, "the board did not take the report within " +
                                                       std::to_string(kReadTimeoutMs) + " ms");
    case DeviceIo::Write::Stuck:
        requestNotTaken_ = true;
        throw LinkError(LinkError::Kind::TimedOut,
                        "the board has not yet taken an earlier report; nothing was sent");
    case DeviceIo::Write::Lost:
        break;
    }
    // A board that refuses a write is as good as gone.
    giveUp("write to the board failed: " + io_->lossReason());
}

std::vector<std::uint8_t> BoardLink::read(int count) {
    if (!io_)
        throwNotOpen();
    checkCount(count, kReportSize);
    if (requestNotTaken_)
        throw LinkError(LinkError::Kind::TimedOut,
                        "the board has not taken the last request; it may still reach the board, "
                        "but its answer is not waited for");
    std::vector<std::uint8_t> report;
    switch (io_->waitForReport(kWaitForBoard, report)) {
    case DeviceIo::Wait::Report:
        return replyBytes(report, count);
    case DeviceIo::Wait::TimedOut:
        throw LinkError(LinkError::Kind::TimedOut, "the board did not answer within " +
                                                       std::to_string(kReadTimeoutMs) + " ms");
    case DeviceIo::Wait::Lost:
        break;
    }
    giveUp("the board was lost while waiting for its answer");
}

void BoardLink::checkPresence() {
    if (io_)
        io_->checkPresence();
}

bool BoardLink::dropIfLost() {
    if (!io_ || !io_->lost())
        return false;
    close();
    return true;
}

void BoardLink::close() {
    // The device closes on its own thread after its last call; a call stuck in the kernel is not
    // waited for.
    io_.reset();
    device_ = {};
    requestNotTaken_ = false;
}

} // namespace tarnovid
