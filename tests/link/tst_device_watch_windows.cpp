// The Windows device watch itself, on Windows or under Wine, where no HID device comes or goes:
// the system's notices are handed to the watch's window as the system hands them, so that what
// reaches the handler, on which thread, and that nothing can once the watch is gone are shown
// without a board. The real notices are the kernel stage's.

#include "device_watch.h"

#include <QTest>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// windows.h before the headers that build on it.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

using namespace tarnovid;

namespace {

constexpr GUID kHidClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr GUID kUsbDeviceClass = {
    0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

// What the handler heard, and on which thread.
struct Heard {
    std::mutex mutex;
    std::vector<DeviceChange> changes;
    std::vector<DWORD> threads;

    DeviceWatch::Handler handler() {
        return [this](DeviceChange change) {
            std::lock_guard lock(mutex);
            changes.push_back(change);
            threads.push_back(GetCurrentThreadId());
        };
    }
    std::vector<DeviceChange> taken() {
        std::lock_guard lock(mutex);
        return changes;
    }
};

// The watches' windows in this process: message-only, of the watch's class.
std::vector<HWND> watchWindows() {
    std::vector<HWND> found;
    for (HWND window = nullptr;
         (window = FindWindowExW(HWND_MESSAGE, window, L"TarnovidDeviceWatch", nullptr));) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            found.push_back(window);
    }
    return found;
}

// A device interface's notice as the system sends it: the event and what it is about.
void sendInterfaceNotice(HWND window, WPARAM event, const GUID& interfaceClass) {
    DEV_BROADCAST_DEVICEINTERFACE_W notice{};
    notice.dbcc_size = sizeof notice;
    notice.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    notice.dbcc_classguid = interfaceClass;
    SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&notice));
}

// Ends the watch on a thread of its own and says whether that took less than `limitMs`; a watch
// whose end hangs is left behind rather than waited for.
bool endsWithin(std::unique_ptr<DeviceWatch> watch, int limitMs, double* tookMs) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool ended = false;
    };
    auto shared = std::make_shared<Shared>();
    const auto start = std::chrono::steady_clock::now();
    std::thread([shared, watch = std::move(watch)]() mutable {
        watch.reset();
        std::lock_guard lock(shared->mutex);
        shared->ended = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    const bool ended = shared->done.wait_for(lock, std::chrono::milliseconds(limitMs),
                                             [&] { return shared->ended; });
    *tookMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return ended;
}

// A watch that, should its end hang, hangs a thread of its own rather than the test.
struct HeldWatch {
    std::unique_ptr<DeviceWatch> watch;
    ~HeldWatch() {
        double tookMs = 0;
        if (watch)
            (void)endsWithin(std::move(watch), 2000, &tookMs);
    }
    explicit operator bool() const { return watch != nullptr; }
};

} // namespace

class DeviceWatchWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void onlyAHidInterfaceComingOrGoneReachesTheHandler();
    void stopsAtOnceAndLeavesNothingToNotify();
};

void DeviceWatchWindowsTest::onlyAHidInterfaceComingOrGoneReachesTheHandler() {
    Heard heard;
    std::string why;
    HeldWatch watch{watchSystemDevices(heard.handler(), &why)};
    QVERIFY2(watch, why.c_str());
    const auto windows = watchWindows();
    QCOMPARE(windows.size(), std::size_t(1));
    const HWND window = windows[0];

    // SendMessage returns once the watch's thread has handled the notice.
    sendInterfaceNotice(window, DBT_DEVICEARRIVAL, kHidClass);
    sendInterfaceNotice(window, DBT_DEVICEQUERYREMOVE, kHidClass);
    sendInterfaceNotice(window, DBT_DEVICEREMOVEPENDING, kHidClass);
    sendInterfaceNotice(window, DBT_DEVICEREMOVECOMPLETE, kHidClass);
    sendInterfaceNotice(window, DBT_DEVICEARRIVAL, kUsbDeviceClass);
    sendInterfaceNotice(window, DBT_DEVICEREMOVECOMPLETE, kUsbDeviceClass);
    // Notices that carry no device, or a device of another kind (a drive letter).
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << 4;
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));

    QCOMPARE(heard.taken(), (std::vector{DeviceChange::Arrived, DeviceChange::Removed}));
    // On the watch's own thread, never on the one that made the watch.
    QCOMPARE(heard.threads[0], GetWindowThreadProcessId(window, nullptr));
    QVERIFY(heard.threads[0] != GetCurrentThreadId());

    // A second watch beside the first: a window of its own, on the same window class.
    Heard second;
    HeldWatch other{watchSystemDevices(second.handler(), &why)};
    QVERIFY2(other, why.c_str());
    QCOMPARE(watchWindows().size(), std::size_t(2));
    for (HWND each : watchWindows())
        if (each != window)
            sendInterfaceNotice(each, DBT_DEVICEARRIVAL, kHidClass);
    QCOMPARE(second.taken(), std::vector{DeviceChange::Arrived});
    QCOMPARE(heard.taken().size(), std::size_t(2));
}

void DeviceWatchWindowsTest::stopsAtOnceAndLeavesNothingToNotify() {
    Heard heard;
    std::string why;
    HeldWatch watch{watchSystemDevices(heard.handler(), &why)};
    QVERIFY2(watch, why.c_str());
    const auto windows = watchWindows();
    QCOMPARE(windows.size(), std::size_t(1));
    double tookMs = 0;
    QVERIFY2(endsWithin(std::move(watch.watch), 2000, &tookMs),
             "the watch's destructor did not return within 2 s");
    QVERIFY2(tookMs < 500, qPrintable(QString::number(tookMs)));
    // Its window is gone, so the system has nothing left to send a notice to.
    QVERIFY(!IsWindow(windows[0]));
    QVERIFY(watchWindows().empty());
    sendInterfaceNotice(windows[0], DBT_DEVICEARRIVAL, kHidClass);
    QVERIFY(heard.taken().empty());
}

QTEST_APPLESS_MAIN(DeviceWatchWindowsTest)
#include "tst_device_watch_windows.moc"
