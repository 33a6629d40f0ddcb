// The whole link against a system that hands it anything: odd device lists and match settings,
// opens that fail with any message, writes that fail, answers of any size, unsolicited reports,
// unplugs at any point; and the caller's counts as they come. The link must never crash, must
// pick the device matching would pick, must answer within the count asked, and must report each
// board it loses exactly once.
//
// Input: match settings (method u16, vendor, product and version u32, manufacturer and product
// strings), the devices (u8 count, each as in fuzz_device_match), whether opening is refused
// (u8, odd = refused) and the refusal text; then operations until the input ends, each a u8
// code followed by its own arguments (see run()).

#include "device_match.h"
#include "device_text.h"
#include "fuzz_device.h"
#include "fuzz_input.h"
#include "hid_backend.h"
#include "hidcomm.h"
#include "link_failure.h"
#include "report_framing.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

using namespace tarnovid;
using namespace tarnovid::fuzz;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::atomic<int> liveHandles{0};

// One plugged-in board as its handle sees it. The link's I/O thread writes and reads; unplugging
// fails both for good.
struct Board {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Bytes> pending;
    bool gone = false;
    bool refuseWrites = false;
    // What the board sends for each write, in turn; nothing once these run out.
    std::deque<std::optional<Bytes>> answers;

    void send(Bytes report) {
        std::lock_guard lock(mutex);
        pending.push_back(std::move(report));
        changed.notify_all();
    }
    void unplug() {
        std::lock_guard lock(mutex);
        gone = true;
        changed.notify_all();
    }
};

class FuzzDevice final : public HidDevice {
public:
    explicit FuzzDevice(std::shared_ptr<Board> board)
        : board_(std::move(board)) {
        ++liveHandles;
    }
    ~FuzzDevice() override { --liveHandles; }

    int write(const std::uint8_t* data, std::size_t length) override {
        FUZZ_CHECK(length == kReportSize + 1 && data[0] == 0);
        std::unique_lock lock(board_->mutex);
        if (board_->gone || board_->refuseWrites)
            return -1;
        if (!board_->answers.empty()) {
            std::optional<Bytes> answer = std::move(board_->answers.front());
            board_->answers.pop_front();
            if (answer) {
                board_->pending.push_back(std::move(*answer));
                board_->changed.notify_all();
            }
        }
        return static_cast<int>(length);
    }
    int readTimeout(std::uint8_t* data, std::size_t length, int milliseconds) override {
        FUZZ_CHECK(length == kReportSize);
        std::unique_lock lock(board_->mutex);
        // A slice much shorter than asked keeps each Release quick; the thread just asks again.
        board_->changed.wait_for(lock, std::chrono::milliseconds(std::min(milliseconds, 1)),
                                 [&] { return board_->gone || !board_->pending.empty(); });
        if (board_->gone)
            return -1;
        if (board_->pending.empty())
            return 0;
        const Bytes report = std::move(board_->pending.front());
        board_->pending.pop_front();
        const std::size_t n = std::min(length, report.size());
        std::copy_n(report.begin(), n, data);
        return static_cast<int>(n);
    }
    std::string lastError() const override { return "fuzzed device failure \xff\xfe"; }

private:
    std::shared_ptr<Board> board_;
};

class FuzzBackend final : public HidBackend {
public:
    std::vector<HidDeviceInfo> devices;
    bool present = true;
    bool refuseOpen = false;
    std::string refusal;
    std::shared_ptr<Board> board = std::make_shared<Board>();
    std::shared_ptr<Board> opened; // the board of the last handle given out

    std::vector<HidDeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
        std::vector<HidDeviceInfo> found;
        for (const HidDeviceInfo& d : devices)
            if (present && (vendorId == 0 || d.vendorId == vendorId) &&
                (productId == 0 || d.productId == productId))
                found.push_back(d);
        return found;
    }
    std::unique_ptr<HidDevice> open(const std::string&, std::string* error) override {
        if (!present || refuseOpen) {
            *error = refusal;
            return nullptr;
        }
        opened = board;
        return std::make_unique<FuzzDevice>(board);
    }
};

bool badCount(int count, std::size_t available) {
    return count < 0 || count > int(kReportSize) || std::size_t(count) > available;
}

void run(FuzzInput& in) {
    auto backend = std::make_shared<FuzzBackend>();
    HIDComm link(backend);
    link.matchmethod = static_cast<qint16>(in.u16());
    link.matchvid = static_cast<qint32>(in.u32());
    link.matchpid = static_cast<qint32>(in.u32());
    link.matchversion = static_cast<qint32>(in.u32());
    link.matchmanufacturer = QString::fromStdString(in.text());
    link.matchproduct = QString::fromStdString(in.text());
    for (int n = in.u8() % 8; n > 0; --n)
        backend->devices.push_back(readDevice(in));
    backend->refuseOpen = in.u8() & 1;
    backend->refusal = in.text();

    int connected = 0;
    int disconnected = 0;
    int released = 0; // boards given up by Release, which raises no signal
    QObject::connect(&link, &HIDComm::Connected, [&] { ++connected; });
    QObject::connect(&link, &HIDComm::Disconnected, [&] { ++disconnected; });
    QString expectedText;
    const auto balanced = [&] {
        return connected - disconnected - released == (link.IsConnected() ? 1 : 0);
    };

    for (int op = 0; op < 64 && !in.empty(); ++op) {
        const bool wasOpen = link.IsConnected();
        switch (in.u8() % 9) {
        case 0: {
            link.Connect();
            if (wasOpen)
                break;
            const MatchRule rule = link.matchRule();
            const EnumerateFilter filter = enumerateFilter(rule);
            const auto chosen =
                pickDevice(rule, backend->enumerate(filter.vendorId, filter.productId));
            FUZZ_CHECK(link.IsConnected() == (chosen && !backend->refuseOpen));
            if (link.IsConnected())
                expectedText = QString::fromStdString(deviceText(*chosen));
            break;
        }
        case 1: {
            QString text;
            const auto kind = test::kindOf([&] { text = link.DeviceText(); });
            FUZZ_CHECK(kind ? *kind == LinkError::Kind::NotOpen && !wasOpen
                            : wasOpen && text == expectedText && !text.isEmpty());
            break;
        }
        case 2: {
            const Bytes raw = in.bytes(in.u8());
            const QByteArray bytes(reinterpret_cast<const char*>(raw.data()),
                                   qsizetype(raw.size()));
            const int count = static_cast<qint16>(in.u16());
            // What the board will send for this write: nothing, or a report of any length.
            if (in.u8() & 1) {
                std::lock_guard lock(backend->board->mutex);
                backend->board->answers.push_back(in.bytes(in.u8()));
            }
            const auto kind = test::kindOf([&] { link.Write(bytes, static_cast<qint16>(count)); });
            if (!wasOpen)
                FUZZ_CHECK(kind == LinkError::Kind::NotOpen);
            else if (badCount(count, raw.size()))
                FUZZ_CHECK(kind == LinkError::Kind::Rejected && link.IsConnected());
            else if (kind) {
                bool gone;
                {
                    // The board the link holds, which a replug may have replaced in the list.
                    std::lock_guard lock(backend->opened->mutex);
                    gone = backend->opened->gone;
                }
                // A write the system failed is a loss only when the board is gone too; one
                // still there that refused it keeps its link.
                FUZZ_CHECK(*kind == LinkError::Kind::Lost
                               ? !link.IsConnected()
                               : *kind == LinkError::Kind::TimedOut && !gone);
            }
            break;
        }
        case 3: {
            const int count = static_cast<qint16>(in.u16());
            // Only wait where something must end the wait at once: a queued report or a dead
            // board. A silent board would cost the full read time-out on every input.
            bool quick;
            {
                std::lock_guard lock(backend->board->mutex);
                // A zero-length report reads as nothing arrived, so it ends no wait.
                quick = backend->board->gone ||
                        std::any_of(backend->board->pending.begin(), backend->board->pending.end(),
                                    [](const Bytes& r) { return !r.empty(); });
            }
            if (wasOpen && !badCount(count, kReportSize) && !quick)
                break;
            QByteArray reply;
            const auto kind = test::kindOf([&] { reply = link.Read(static_cast<qint16>(count)); });
            if (!wasOpen)
                FUZZ_CHECK(kind == LinkError::Kind::NotOpen);
            else if (badCount(count, kReportSize))
                FUZZ_CHECK(kind == LinkError::Kind::Rejected);
            else if (!kind)
                FUZZ_CHECK(reply.size() <= count);
            else
                FUZZ_CHECK(*kind != LinkError::Kind::NotOpen && *kind != LinkError::Kind::Rejected);
            break;
        }
        case 4:
            link.Release();
            if (wasOpen)
                ++released;
            FUZZ_CHECK(!link.IsConnected());
            break;
        case 5: // unplugged: gone from the list, its handle dead
            backend->present = false;
            backend->board->unplug();
            break;
        case 6: // plugged back in: a fresh board
            backend->present = true;
            backend->board = std::make_shared<Board>();
            break;
        case 7:
            backend->board->send(in.bytes(in.u8()));
            break;
        case 8: {
            std::lock_guard lock(backend->board->mutex);
            backend->board->refuseWrites = in.u8() & 1;
            break;
        }
        }
        QCoreApplication::processEvents();
        FUZZ_CHECK(balanced());
    }

    if (link.IsConnected())
        ++released;
    link.Release();
    QCoreApplication::processEvents();
    FUZZ_CHECK(balanced());
    FUZZ_CHECK(liveHandles == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    // The link says on stderr why an open was refused; at thousands of inputs a second that is
    // noise, and the checks above are what count.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    run(in);
    return 0;
}
