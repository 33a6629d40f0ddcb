#include "report_pump.h"

#include "report_framing.h"

namespace tarnovid {

ReportPump::ReportPump(HidDevice& device, std::function<void()> onLost,
                       std::chrono::milliseconds readSlice)
    : device_(device)
    , onLost_(std::move(onLost))
    , readSlice_(readSlice)
    , thread_([this] { run(); }) {}

ReportPump::~ReportPump() { stop(); }

void ReportPump::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable())
        thread_.join();
}

void ReportPump::discardQueued() {
    std::lock_guard lock(mutex_);
    queue_.clear();
}

ReportPump::Wait ReportPump::waitForReport(std::chrono::milliseconds timeout,
                                           std::vector<std::uint8_t>& report) {
    std::unique_lock lock(mutex_);
    const bool ready =
        arrived_.wait_for(lock, timeout, [this] { return !queue_.empty() || lost_; });
    if (!queue_.empty()) {
        report = std::move(queue_.front());
        queue_.pop_front();
        return Wait::Report;
    }
    return ready ? Wait::Lost : Wait::TimedOut;
}

bool ReportPump::lost() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

void ReportPump::run() {
    std::vector<std::uint8_t> buffer(kReportSize);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        const int length =
            device_.readTimeout(buffer.data(), buffer.size(), static_cast<int>(readSlice_.count()));
        if (length < 0) {
            {
                std::lock_guard lock(mutex_);
                lost_ = true;
                arrived_.notify_all();
            }
            // After lost_ is set, so that whoever the notice reaches finds the loss recorded.
            if (onLost_)
                onLost_();
            return;
        }
        if (length == 0)
            continue; // nothing within this slice
        std::lock_guard lock(mutex_);
        if (queue_.size() == kMaxQueued)
            queue_.pop_front();
        queue_.emplace_back(buffer.begin(), buffer.begin() + length);
        arrived_.notify_all();
    }
}

} // namespace tarnovid
