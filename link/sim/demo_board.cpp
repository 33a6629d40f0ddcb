#include "demo_board.h"

#include <utility>

namespace tarnovid {

DemoBackend::DemoBackend(DemoMode mode)
    : mode_(mode)
    , board_(addTarnovid(kDemoBoardPath)) {
    board_->wireInputsToOutputs(true);
    switch (mode_.kind) {
    case DemoMode::Kind::NoReply:
        board_->setStall(true);
        break;
    case DemoMode::Kind::Stall:
        board_->setWriteStall(true);
        // As Linux's usbhid does after USB's 5 s: the report is given up, the board stays.
        board_->setSystemWriteTimeoutMs(5000);
        break;
    case DemoMode::Kind::Short:
        // One byte carries all the inputs there are; an empty report is what hidapi reads as
        // nothing at all, so every second read meets a board that did not answer.
        board_->setAnswerLengths({1, 0});
        break;
    case DemoMode::Kind::Wired:
    case DemoMode::Kind::UnplugAfter:
    case DemoMode::Kind::ReplugAfter:
        break;
    }
}

DemoBackend::~DemoBackend() { stopTimer(); }

std::unique_ptr<HidDevice> DemoBackend::open(const std::string& path, std::string* error) {
    std::unique_ptr<HidDevice> device = SimBackend::open(path, error);
    const bool timed =
        mode_.kind == DemoMode::Kind::UnplugAfter || mode_.kind == DemoMode::Kind::ReplugAfter;
    if (device && timed) {
        const std::lock_guard lock(mutex_);
        if (!started_ && !stopped_) {
            started_ = true;
            timer_ = std::thread([this] { runTimer(); });
        }
    }
    return device;
}

void DemoBackend::stopTimer() {
    std::thread timer;
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        timer = std::move(timer_);
    }
    wake_.notify_all();
    if (!timer.joinable())
        return;
    // The last owner may let go from a watch's handler, which runs on the timer's own thread.
    if (timer.get_id() == std::this_thread::get_id())
        timer.detach();
    else
        timer.join();
}

void DemoBackend::runTimer() {
    const bool replugs = mode_.kind == DemoMode::Kind::ReplugAfter;
    // Steps keep to the first open's clock, so a slow plug or unplug does not shift the next one.
    auto next = std::chrono::steady_clock::now() + mode_.period;
    std::unique_lock lock(mutex_);
    for (bool plugged = true;; plugged = !plugged) {
        if (wake_.wait_until(lock, next, [this] { return stopped_; }))
            return;
        // Watches hear of it on this thread, and may call back into this backend.
        lock.unlock();
        if (plugged)
            board_->unplug();
        else
            board_->plug();
        lock.lock();
        if (!replugs)
            return;
        next += mode_.period;
    }
}

std::shared_ptr<DemoBackend> makeDemoBackend(DemoMode mode) {
    return std::make_shared<DemoBackend>(mode);
}

} // namespace tarnovid
