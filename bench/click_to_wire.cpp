// How fast a click reaches the simulated board, whose reads run their full time as hidapi's do:
// through the window's link, the first click after the board was left alone (the case a board
// thread waiting in reads of its own would hold up) and back-to-back clicks, with how often the
// idle board thread wakes ("wire" is the moment the report reaches the device's write call); and
// in the real window, "Ocitaj" from the click to the indicators painted.
//
//   click_to_wire [--clicks N] [--idle-ms MS]      (defaults: 50 clicks, 3000 ms)

#include "board_facts.h"
#include "genuine_board_match.h"
#include "hid_backend.h"
#include "hidcomm.h"
#include "sim_board.h"
#include "usbport01.h"

#include <QApplication>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace tarnovid;
using Clock = std::chrono::steady_clock;

namespace {

// When each write reached the device.
struct WireLog {
    std::mutex mutex;
    std::vector<Clock::time_point> writes;
};

class StampedDevice final : public HidDevice {
public:
    StampedDevice(std::unique_ptr<HidDevice> device, std::shared_ptr<WireLog> log)
        : device_(std::move(device))
        , log_(std::move(log)) {}
    int write(const std::uint8_t* data, std::size_t length) override {
        {
            std::lock_guard lock(log_->mutex);
            log_->writes.push_back(Clock::now());
        }
        return device_->write(data, length);
    }
    int readTimeout(std::uint8_t* data, std::size_t length, int milliseconds) override {
        return device_->readTimeout(data, length, milliseconds);
    }
    std::string lastError() const override { return device_->lastError(); }

private:
    std::unique_ptr<HidDevice> device_;
    std::shared_ptr<WireLog> log_;
};

class StampedBackend final : public HidBackend {
public:
    SimBackend sim;
    std::shared_ptr<WireLog> log = std::make_shared<WireLog>();
    std::vector<HidDeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
        return sim.enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> open(const std::string& path, std::string* error) override {
        auto device = sim.open(path, error);
        return device ? std::make_unique<StampedDevice>(std::move(device), log) : nullptr;
    }
};

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void report(const char* what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double p) {
        return samples[std::min(samples.size() - 1, std::size_t(p * double(samples.size())))];
    };
    std::printf("%-44s p50 %8.3f ms   p99 %8.3f ms   max %8.3f ms   (%zu clicks)\n", what, at(0.50),
                at(0.99), samples.back(), samples.size());
}

// Clicks "Upisi" `count` times, `pause` apart, and returns each click's time to the wire.
std::vector<double> clicks(HIDComm& link, WireLog& log, int count, Clock::duration pause) {
    std::vector<double> samples;
    QByteArray request(9, '\0');
    request[0] = char(board::kSetOutputs);
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(pause);
        request[1] = char(i);
        const auto start = Clock::now();
        link.Write(request, 2);
        std::lock_guard lock(log.mutex);
        samples.push_back(ms(log.writes.back() - start));
    }
    return samples;
}

} // namespace

// The real window on the offscreen platform, on a board that answers at once: each "Ocitaj"
// click until its indicators are painted.
std::vector<double> ocitajClicks(int count) {
    auto backend = std::make_shared<SimBackend>();
    backend->addTarnovid()->setInputs(0x05);
    Usbport01 window(backend);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) ||
        !QTest::qWaitFor([&] { return window.Command2->isEnabled(); }, 5000))
        return {};
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        window.Shape2(0)->SetBackColor(0x0000FF); // blue, so that the click repaints it
        QApplication::processEvents();
        const auto start = Clock::now();
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                          window.Command2->geometry().center());
        QApplication::processEvents();
        samples.push_back(ms(Clock::now() - start));
    }
    window.close();
    return samples;
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int count = 50;
    int idleMs = 3000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--clicks") == 0)
            count = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--idle-ms") == 0)
            idleMs = std::max(0, std::atoi(argv[i + 1]));
    }

    auto backend = std::make_shared<StampedBackend>();
    auto board = backend->sim.addTarnovid();
    HIDComm link(backend);
    test::matchGenuineBoard(link);
    link.Connect();
    if (!link.IsConnected()) {
        std::fprintf(stderr, "click_to_wire: the simulated board did not open\n");
        return 1;
    }

    const int readsBefore = board->readCalls();
    const auto idleStart = Clock::now();
    const auto afterIdle = clicks(link, *backend->log, count, std::chrono::milliseconds(idleMs));
    const double idleSeconds = ms(Clock::now() - idleStart) / 1000;
    // Every call the idle thread makes on the device is one wake-up; the clicks' own writes
    // make none (the drain before each write is part of the click).
    const int idleReads = board->readCalls() - readsBefore - count;
    char title[64];
    std::snprintf(title, sizeof title, "first click after %d ms idle", idleMs);
    report(title, afterIdle);
    report("back-to-back clicks", clicks(link, *backend->log, 1000, Clock::duration::zero()));
    std::printf("%-44s %.2f per s (%d looks in %.0f s)\n", "idle board thread wake-ups",
                std::max(0, idleReads) / idleSeconds, std::max(0, idleReads), idleSeconds);
    link.Release();
    const std::vector<double> ocitaj = ocitajClicks(100);
    if (ocitaj.empty()) {
        std::fprintf(stderr, "click_to_wire: the window did not connect\n");
        return 1;
    }
    report("Ocitaj click to indicators painted", ocitaj);
    return 0;
}
