#include "sim_board.h"

#include "board_facts.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <utility>

namespace tarnovid {

namespace {
constexpr std::size_t kReport = 64;
}

HidDeviceInfo tarnovidDeviceInfo(std::string path) {
    HidDeviceInfo info;
    info.path = std::move(path);
    info.vendorId = board::kVendorId;
    info.productId = board::kProductId;
    info.releaseNumber = board::kRelease;
    info.manufacturer = board::kManufacturer;
    info.product = board::kProduct;
    info.bus = HidBus::Usb;
    info.interfaceNumber = 0;
    return info;
}

// One open handle. It remembers the plug session it was opened in and dies with it.
class SimDevice final : public HidDevice {
public:
    SimDevice(std::shared_ptr<SimBoard> board, std::uint64_t handle, std::uint64_t session)
        : board_(std::move(board))
        , handle_(handle)
        , session_(session) {}
    ~SimDevice() override { board_->deviceClosed(handle_, calls_.load() > 0); }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    int write(const std::uint8_t* data, std::size_t length) override {
        const Call call(calls_);
        return board_->deviceWrite(session_, data, length, &error_);
    }
    int readTimeout(std::uint8_t* data, std::size_t length, int milliseconds) override {
        const Call call(calls_);
        error_ = kGone;
        return board_->deviceRead(handle_, data, length, milliseconds);
    }
    // As hidapi's, the word on this handle's last failed call; only its one caller asks.
    std::string lastError() const override { return error_; }

private:
    // Counts the calls running on this handle, so a close under one of them shows.
    class Call {
    public:
        explicit Call(std::atomic<int>& calls)
            : calls_(calls) {
            ++calls_;
        }
        ~Call() { --calls_; }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        std::atomic<int>& calls_;
    };

    static constexpr const char* kGone = "simulated board: device disconnected";

    std::shared_ptr<SimBoard> board_;
    std::uint64_t handle_;
    std::uint64_t session_;
    std::atomic<int> calls_{0};
    std::string error_ = kGone;
};

SimBoard::SimBoard(HidDeviceInfo info)
    : info_(std::move(info)) {}

void SimBoard::plug() {
    {
        std::lock_guard lock(mutex_);
        plugged_ = true;
    }
    announce(true);
}

void SimBoard::unplug() {
    {
        std::lock_guard lock(mutex_);
        plugged_ = false;
        ++session_;
        for (auto& [handle, queue] : queues_)
            queue.reports.clear();
        changed_.notify_all();
    }
    announce(false);
}

void SimBoard::announce(bool plugged) {
    if (announcePlug_)
        announcePlug_(plugged);
}

bool SimBoard::isPlugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

void SimBoard::setInputs(std::uint8_t inputs) {
    std::lock_guard lock(mutex_);
    inputs_ = inputs;
}

void SimBoard::wireInputsToOutputs(bool wired) {
    std::lock_guard lock(mutex_);
    wired_ = wired;
}

void SimBoard::setStall(bool stalled) {
    std::lock_guard lock(mutex_);
    stalled_ = stalled;
}

void SimBoard::setSystemWriteTimeoutMs(int milliseconds) {
    std::lock_guard lock(mutex_);
    systemWriteTimeoutMs_ = milliseconds;
}

void SimBoard::setWriteStall(bool stalled) {
    std::lock_guard lock(mutex_);
    writeStalled_ = stalled;
    changed_.notify_all();
}

void SimBoard::setAnswerLength(int length) { setAnswerLengths({length}); }

void SimBoard::setAnswerLengths(std::vector<int> lengths) {
    if (lengths.empty())
        lengths.push_back(static_cast<int>(kReport));
    for (int& length : lengths)
        length = std::clamp(length, 0, static_cast<int>(kReport));
    std::lock_guard lock(mutex_);
    answerLengths_ = std::move(lengths);
    answersCut_ = 0;
}

void SimBoard::setAnswerDelayMs(int milliseconds) {
    std::lock_guard lock(mutex_);
    answerDelayMs_ = std::max(0, milliseconds);
}

void SimBoard::setRefuseOpen(bool refuse) {
    std::lock_guard lock(mutex_);
    refuseOpen_ = refuse;
}

void SimBoard::pushInputReport(std::vector<std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    deliverLocked({Clock::now(), std::move(report)});
}

bool SimBoard::isOpen() const {
    std::lock_guard lock(mutex_);
    return openCount_ > closeCount_;
}

int SimBoard::openCount() const {
    std::lock_guard lock(mutex_);
    return openCount_;
}

int SimBoard::closeCount() const {
    std::lock_guard lock(mutex_);
    return closeCount_;
}

int SimBoard::readCalls() const {
    std::lock_guard lock(mutex_);
    return readCalls_;
}

int SimBoard::stuckWrites() const {
    std::lock_guard lock(mutex_);
    return stuckWrites_;
}

std::size_t SimBoard::ioThreads() const {
    std::lock_guard lock(mutex_);
    return ioThreads_.size();
}

int SimBoard::closesDuringCalls() const {
    std::lock_guard lock(mutex_);
    return closesDuringCalls_;
}

std::size_t SimBoard::pendingInputReports() const {
    std::lock_guard lock(mutex_);
    std::size_t pending = 0;
    for (const auto& [handle, queue] : queues_)
        pending += queue.reports.size();
    return pending;
}

std::vector<std::vector<std::uint8_t>> SimBoard::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::uint8_t SimBoard::outputs() const {
    std::lock_guard lock(mutex_);
    return outputs_;
}

std::unique_ptr<HidDevice> SimBoard::open(std::string* error) {
    std::lock_guard lock(mutex_);
    const char* refusal = !plugged_     ? "No such device"
                          : refuseOpen_ ? "Permission denied"
                                        : nullptr;
    if (refusal != nullptr) {
        if (error != nullptr)
            *error = refusal;
        return nullptr;
    }
    ++openCount_;
    // Starts empty: reports sent before this handle existed are not its business, as with a
    // fresh hidraw fd.
    const std::uint64_t handle = nextHandle_++;
    queues_[handle] = Queue{session_, {}};
    return std::make_unique<SimDevice>(shared_from_this(), handle, session_);
}

void SimBoard::deviceClosed(std::uint64_t handle, bool duringCall) {
    std::lock_guard lock(mutex_);
    noteIoThreadLocked();
    ++closeCount_;
    if (duringCall)
        ++closesDuringCalls_;
    else
        queues_.erase(handle); // a read still running on it keeps its queue: it is only counted
}

void SimBoard::deliverLocked(const Pending& report) {
    for (auto& [handle, queue] : queues_)
        if (aliveLocked(queue.session))
            queue.reports.push_back(report);
    changed_.notify_all();
}

int SimBoard::deviceWrite(std::uint64_t session, const std::uint8_t* data, std::size_t length,
                          std::string* error) {
    std::unique_lock lock(mutex_);
    noteIoThreadLocked();
    *error = "simulated board: device disconnected";
    if (writeStalled_ && aliveLocked(session)) {
        ++stuckWrites_;
        const auto moved = [&] { return !writeStalled_ || !aliveLocked(session); };
        const bool gaveUp =
            systemWriteTimeoutMs_ > 0
                ? !changed_.wait_for(lock, std::chrono::milliseconds(systemWriteTimeoutMs_), moved)
                : (changed_.wait(lock, moved), false);
        --stuckWrites_;
        if (gaveUp) {
            *error = "Connection timed out"; // usbhid's word, the board still plugged in
            return -1;
        }
    }
    // The board declares no report ids, so only id 0 (hidapi's "none") reaches it.
    if (!aliveLocked(session) || length == 0 || data[0] != 0)
        return -1;
    writes_.emplace_back(data + 1, data + length);
    const std::uint8_t command = length > 1 ? data[1] : 0;
    if (command == board::kSetOutputs) {
        outputs_ = length > 2 ? data[2] : 0;
    } else if (command == board::kReadInputs && !stalled_) {
        std::vector<std::uint8_t> answer(kReport, 0);
        answer[0] = wired_ ? static_cast<std::uint8_t>(outputs_ & 0x07) : inputs_;
        answer.resize(
            static_cast<std::size_t>(answerLengths_[answersCut_++ % answerLengths_.size()]));
        deliverLocked({Clock::now() + std::chrono::milliseconds(answerDelayMs_), answer});
    }
    return static_cast<int>(length);
}

int SimBoard::deviceRead(std::uint64_t handle, std::uint8_t* data, std::size_t length,
                         int milliseconds) {
    std::unique_lock lock(mutex_);
    noteIoThreadLocked();
    ++readCalls_;
    const auto deadline = milliseconds < 0 ? Clock::time_point::max()
                                           : Clock::now() + std::chrono::milliseconds(milliseconds);
    // The handle's queue lives until the handle is closed, which never happens during its read.
    Queue& queue = queues_.at(handle);
    std::deque<Pending>& pending = queue.reports;
    for (;;) {
        if (!aliveLocked(queue.session))
            return -1;
        const auto now = Clock::now();
        if (!pending.empty() && pending.front().due <= now) {
            const std::vector<std::uint8_t> report = std::move(pending.front().bytes);
            pending.pop_front();
            const std::size_t n = std::min(length, report.size());
            std::copy_n(report.begin(), n, data);
            return static_cast<int>(n);
        }
        if (now >= deadline)
            return 0;
        const auto wake = pending.empty() ? deadline : std::min(deadline, pending.front().due);
        changed_.wait_until(lock, wake);
    }
}

// The live watches of one backend. Its mutex is held while their handlers run, so a watch that
// goes waits for a handler still running and is never called after.
struct SimBackend::Watchers {
    std::mutex mutex;
    std::map<std::uint64_t, DeviceWatch::Handler> handlers;
    std::uint64_t next = 0;

    void announce(bool plugged) {
        std::lock_guard lock(mutex);
        for (const auto& [id, handler] : handlers)
            handler(plugged ? DeviceChange::Arrived : DeviceChange::Removed);
    }
};

class SimBackend::Watch final : public DeviceWatch {
public:
    Watch(std::shared_ptr<Watchers> watchers, std::uint64_t id)
        : watchers_(std::move(watchers))
        , id_(id) {}
    ~Watch() override {
        std::lock_guard lock(watchers_->mutex);
        watchers_->handlers.erase(id_);
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

private:
    std::shared_ptr<Watchers> watchers_;
    std::uint64_t id_;
};

SimBackend::SimBackend()
    : watchers_(std::make_shared<Watchers>()) {}

SimBackend::~SimBackend() = default;

std::unique_ptr<DeviceWatch> SimBackend::watchDevices(DeviceWatch::Handler onEvent, std::string*) {
    std::lock_guard lock(watchers_->mutex);
    const std::uint64_t id = watchers_->next++;
    watchers_->handlers.emplace(id, std::move(onEvent));
    return std::make_unique<Watch>(watchers_, id);
}

std::shared_ptr<SimBoard> SimBackend::addBoard(HidDeviceInfo info) {
    auto board = std::make_shared<SimBoard>(std::move(info));
    // The board may outlive its backend; the watches it announces to are kept alive by it.
    board->announcePlug_ = [watchers = watchers_](bool plugged) { watchers->announce(plugged); };
    std::lock_guard lock(mutex_);
    boards_.push_back(board);
    return board;
}

std::shared_ptr<SimBoard> SimBackend::addTarnovid(std::string path) {
    return addBoard(tarnovidDeviceInfo(std::move(path)));
}

int SimBackend::enumerateCount() const {
    std::lock_guard lock(mutex_);
    return enumerateCount_;
}

void SimBackend::setThreadStartFails(bool fails) {
    std::lock_guard lock(mutex_);
    threadStartFails_ = fails;
}

std::thread SimBackend::startThread(std::function<void()> body) {
    {
        std::lock_guard lock(mutex_);
        if (threadStartFails_)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "simulated board: no thread to spare");
    }
    return HidBackend::startThread(std::move(body));
}

std::vector<HidDeviceInfo> SimBackend::enumerate(std::uint16_t vendorId, std::uint16_t productId) {
    std::lock_guard lock(mutex_);
    ++enumerateCount_;
    std::vector<HidDeviceInfo> found;
    for (const auto& board : boards_) {
        const HidDeviceInfo& info = board->info();
        if (!board->isPlugged() || (vendorId != 0 && info.vendorId != vendorId) ||
            (productId != 0 && info.productId != productId))
            continue;
        found.push_back(info);
    }
    return found;
}

std::unique_ptr<HidDevice> SimBackend::open(const std::string& path, std::string* error) {
    std::shared_ptr<SimBoard> board;
    {
        std::lock_guard lock(mutex_);
        for (const auto& candidate : boards_) {
            if (candidate->info().path == path && candidate->isPlugged()) {
                board = candidate;
                break;
            }
        }
    }
    if (!board) {
        if (error != nullptr)
            *error = "No such device";
        return nullptr;
    }
    return board->open(error);
}

} // namespace tarnovid
