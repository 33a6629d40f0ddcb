// The hidapi layer as hidapi sees it. This program links its own definitions of the hidapi calls
// the layer makes, in place of the library, and drives the link through the layer: what the
// system lists must reach the matcher intact, a click must hand hidapi report id 0 and the 64
// bytes of the report (65 in all), what hid_read_timeout returns must come back as the answer, and
// every call on a handle, its close included, must come from one thread.

#include "board_facts.h"
#include "genuine_board_match.h"
#include "hid_backend.h"
#include "hidcomm.h"
#include "link_failure.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <hidapi.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace tarnovid;

struct hid_device_ {
    std::string path;
    std::wstring error; // hidapi's per-device error slot
    int calls = 0;      // running right now
    bool gone = false;  // unplugged: reads and writes fail
};

namespace {

// What hidapi would offer, and everything the layer hands it.
struct StandIn {
    std::mutex mutex;
    std::condition_variable changed;

    // One listed interface, its strings kept alive here.
    struct Listed {
        std::string path;
        unsigned short vendorId, productId, release;
        std::wstring manufacturer, product, serial;
        bool noStrings = false;
        int interfaceNumber = 0;
    };
    std::vector<Listed> listed;
    std::set<std::string> refused;                  // paths hid_open_path refuses
    std::wstring openError = L"Permission denied";  // hidapi's global error slot
    bool listFails = false;                         // hid_enumerate fails with openError
    std::wstring writeError;                        // set: hid_write fails with it
    std::deque<std::vector<unsigned char>> reports; // what the next reads return

    std::vector<std::pair<unsigned short, unsigned short>> enumerated;
    std::set<hid_device_info*> handedOut;
    int wronglyFreed = 0;
    std::vector<std::string> opened;
    hid_device* current = nullptr;
    std::vector<std::vector<unsigned char>> written;
    std::vector<std::size_t> readLengths;
    std::vector<int> readTimeouts;
    std::set<std::thread::id> callers; // of write, read_timeout and close
    int closes = 0;
    int closesDuringCalls = 0;
};

StandIn* standIn = nullptr;

struct Call {
    explicit Call(hid_device* d)
        : device(d) {
        ++device->calls;
        standIn->callers.insert(std::this_thread::get_id());
    }
    ~Call() { --device->calls; }
    hid_device* device;
};

std::vector<unsigned char> bytes(std::initializer_list<unsigned char> list) { return list; }

} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) { return 0; }

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id) {
    std::lock_guard lock(standIn->mutex);
    standIn->enumerated.emplace_back(vendor_id, product_id);
    if (standIn->listFails)
        return nullptr;
    hid_device_info* head = nullptr;
    for (auto it = standIn->listed.rbegin(); it != standIn->listed.rend(); ++it) {
        if ((vendor_id != 0 && it->vendorId != vendor_id) ||
            (product_id != 0 && it->productId != product_id))
            continue;
        auto* info = new hid_device_info{};
        info->path = const_cast<char*>(it->path.c_str());
        info->vendor_id = it->vendorId;
        info->product_id = it->productId;
        info->release_number = it->release;
        if (!it->noStrings) {
            info->manufacturer_string = const_cast<wchar_t*>(it->manufacturer.c_str());
            info->product_string = const_cast<wchar_t*>(it->product.c_str());
            info->serial_number = const_cast<wchar_t*>(it->serial.c_str());
        }
        info->interface_number = it->interfaceNumber;
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
        info->bus_type = HID_API_BUS_USB;
#endif
        info->next = head;
        head = info;
    }
    // As hidapi 0.13 does: an empty list is no failure, but its global error says so anyway.
    if (head == nullptr)
        standIn->openError = L"No HID devices with requested VID/PID found in the system.";
    standIn->handedOut.insert(head);
    return head;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs) {
    std::lock_guard lock(standIn->mutex);
    if (standIn->handedOut.erase(devs) == 0)
        ++standIn->wronglyFreed;
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        delete devs;
        devs = next;
    }
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
    std::lock_guard lock(standIn->mutex);
    standIn->opened.emplace_back(path);
    if (standIn->refused.count(path) != 0)
        return nullptr;
    standIn->current = new hid_device{path, {}, 0, false};
    return standIn->current;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data,
                                          size_t length) {
    std::lock_guard lock(standIn->mutex);
    const Call call(dev);
    standIn->written.emplace_back(data, data + length);
    if (dev->gone || !standIn->writeError.empty()) {
        dev->error = dev->gone ? L"No such device" : standIn->writeError;
        return -1;
    }
    return static_cast<int>(length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data,
                                                 size_t length, int milliseconds) {
    std::unique_lock lock(standIn->mutex);
    const Call call(dev);
    standIn->readLengths.push_back(length);
    standIn->readTimeouts.push_back(milliseconds);
    dev->error.clear(); // every call rewrites the slot
    standIn->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [&] { return dev->gone || !standIn->reports.empty(); });
    if (dev->gone) {
        dev->error = L"No such device";
        return -1;
    }
    if (standIn->reports.empty())
        return 0;
    const std::vector<unsigned char> report = std::move(standIn->reports.front());
    standIn->reports.pop_front();
    const std::size_t n = std::min(length, report.size());
    std::memcpy(data, report.data(), n);
    return static_cast<int>(n);
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
    std::unique_lock lock(standIn->mutex);
    standIn->callers.insert(std::this_thread::get_id());
    ++standIn->closes;
    if (dev->calls != 0)
        ++standIn->closesDuringCalls;
    if (standIn->current == dev)
        standIn->current = nullptr;
    delete dev;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev) {
    std::lock_guard lock(standIn->mutex);
    if (dev == nullptr)
        return standIn->openError.c_str();
    return dev->error.empty() ? L"Success" : dev->error.c_str();
}

} // extern "C"

namespace {

StandIn::Listed genuine(std::string path) {
    const std::string manufacturer(board::kManufacturer);
    const std::string product(board::kProduct);
    return {std::move(path),
            board::kVendorId,
            board::kProductId,
            board::kRelease,
            std::wstring(manufacturer.begin(), manufacturer.end()),
            std::wstring(product.begin(), product.end()),
            L"0001",
            false,
            0};
}

QByteArray request(quint8 command, quint8 value) {
    QByteArray buffer(9, '\0');
    buffer[0] = static_cast<char>(command);
    buffer[1] = static_cast<char>(value);
    return buffer;
}

} // namespace

class HidapiLayerTest : public QObject {
    Q_OBJECT
private slots:
    void init() { standIn = new StandIn; }
    void cleanup() {
        delete standIn;
        standIn = nullptr;
    }

    void whatTheSystemListsReachesTheMatcherIntact();
    void aClickIsReportIdZeroAndSixtyFourBytesAndTheAnswerComesBack();
    void hidapisOwnWordsExplainAFailure();
};

void HidapiLayerTest::whatTheSystemListsReachesTheMatcherIntact() {
    StandIn::Listed odd = genuine("/dev/hidraw9");
    odd.manufacturer =
        L"Dravelko \u010Ca\u0161a \U0001F600"; // non-ASCII, a surrogate pair on Windows
    odd.product = L"USB Tarnovid";
    odd.serial = L"S/N 42";
    odd.release = 0x0203;
    odd.interfaceNumber = 2;
    StandIn::Listed bare = genuine("/dev/hidraw1");
    bare.noStrings = true; // hidapi hands null pointers for strings it could not read
    standIn->listed = {odd, bare};

    const auto backend = makeHidapiBackend();
    const auto list = backend->enumerate(board::kVendorId, board::kProductId);
    QCOMPARE(standIn->enumerated.size(), std::size_t(1));
    QCOMPARE(standIn->enumerated[0].first, board::kVendorId);
    QCOMPARE(standIn->enumerated[0].second, board::kProductId);
    QVERIFY(standIn->handedOut.empty()); // the list went back to hidapi
    QCOMPARE(standIn->wronglyFreed, 0);

    QCOMPARE(list.size(), std::size_t(2));
    const HidDeviceInfo& first = list[0];
    QCOMPARE(first.path, std::string("/dev/hidraw9"));
    QCOMPARE(first.vendorId, board::kVendorId);
    QCOMPARE(first.productId, board::kProductId);
    QCOMPARE(first.releaseNumber, std::uint16_t(0x0203));
    QCOMPARE(first.manufacturer, std::string("Dravelko \xC4\x8C"
                                             "a\xC5\xA1"
                                             "a \xF0\x9F\x98\x80"));
    QCOMPARE(first.product, std::string(board::kProduct));
    QCOMPARE(first.serialNumber, std::string("S/N 42"));
    QCOMPARE(first.interfaceNumber, 2);
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
    QVERIFY(first.bus == HidBus::Usb);
#endif
    QCOMPARE(list[1].path, std::string("/dev/hidraw1"));
    QVERIFY(list[1].manufacturer.empty() && list[1].product.empty());

    // The window's settings pick the genuine board out of that list through the layer.
    standIn->listed.push_back(genuine("/dev/hidraw4"));
    HIDComm link(backend);
    test::matchGenuineBoard(link);
    link.Connect();
    QVERIFY(link.IsConnected());
    QCOMPARE(standIn->opened, std::vector<std::string>{"/dev/hidraw4"});
    QCOMPARE(link.DeviceText(), QStringLiteral("Dravelko USB Tarnovid"));
}

void HidapiLayerTest::aClickIsReportIdZeroAndSixtyFourBytesAndTheAnswerComesBack() {
    standIn->listed = {genuine("/dev/hidraw0")};
    HIDComm link(makeHidapiBackend());
    test::matchGenuineBoard(link);
    link.Connect();
    QVERIFY(link.IsConnected());

    QByteArray buffer = request(board::kSetOutputs, 0x81);
    buffer[4] = '\x77'; // beyond the count: must not travel
    link.Write(buffer, 2);
    std::vector<unsigned char> expected(65, 0);
    expected[1] = board::kSetOutputs;
    expected[2] = 0x81;
    {
        std::lock_guard lock(standIn->mutex);
        QCOMPARE(standIn->written.size(), std::size_t(1));
        QCOMPARE(standIn->written[0], expected);
    }

    // The board answers a read request with a full report; the caller gets its first bytes.
    link.Write(request(board::kReadInputs, 0), 2);
    {
        std::lock_guard lock(standIn->mutex);
        std::vector<unsigned char> answer(64, 0);
        answer[0] = 0x05;
        answer[1] = 0x09;
        standIn->reports.push_back(answer);
        standIn->changed.notify_all();
    }
    QCOMPARE(link.Read(2), QByteArray("\x05\x09", 2));
    // A short answer comes back as short as it came.
    link.Write(request(board::kReadInputs, 0), 2);
    {
        std::lock_guard lock(standIn->mutex);
        standIn->reports.push_back(bytes({0x03}));
        standIn->changed.notify_all();
    }
    QCOMPARE(link.Read(2), QByteArray("\x03", 1));
    link.Release();

    std::lock_guard lock(standIn->mutex);
    QCOMPARE(standIn->written.size(), std::size_t(3));
    expected[1] = board::kReadInputs;
    expected[2] = 0;
    QCOMPARE(standIn->written[2], expected);
    QVERIFY(!standIn->readLengths.empty());
    for (std::size_t length : standIn->readLengths)
        QCOMPARE(length, std::size_t(64)); // no report id comes in front of an input report
    for (int ms : standIn->readTimeouts)
        QVERIFY2(ms >= 0 && ms <= 1000, qPrintable(QString::number(ms))); // never blocks for good
    QCOMPARE(standIn->closes, 1);
    QCOMPARE(standIn->closesDuringCalls, 0);
    // Reads, writes and the close on one thread, and not on the caller's.
    QCOMPARE(standIn->callers.size(), std::size_t(1));
    QVERIFY(standIn->callers.count(std::this_thread::get_id()) == 0);
}

void HidapiLayerTest::hidapisOwnWordsExplainAFailure() {
    HIDComm link(makeHidapiBackend());
    test::matchGenuineBoard(link);
    // hidapi lists nothing both when nothing is there and when the system cannot say; only the
    // former is quietly "no board".
    link.Connect();
    QVERIFY(!link.IsConnected());
    QCOMPARE(link.lastRefusal().reason, QString());
    standIn->listFails = true;
    standIn->openError = L"Couldn't create udev context";
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("cannot look for boards: Couldn't create udev context"));
    link.Connect();
    QVERIFY(!link.IsConnected());
    standIn->listFails = false;

    standIn->listed = {genuine("/dev/hidraw0")};
    standIn->refused = {"/dev/hidraw0"};
    standIn->openError = L"Failed to open a device with path '/dev/hidraw0': Permission denied";
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("^Tarnovid: access denied to /dev/hidraw0 \\(Failed "
                                            "to open a device with path '/dev/hidraw0': "
                                            "Permission denied\\)"));
    link.Connect();
    QVERIFY(!link.IsConnected());

    standIn->refused.clear();
    link.Connect();
    QVERIFY(link.IsConnected());
    // A write the system fails while the board is still there (usbhid's time-out on a board
    // that stopped reading) is a report not taken, not a lost board.
    standIn->writeError = L"hid_write/ioctl: Connection timed out \u2013 ETIMEDOUT";
    QSignalSpy lost(&link, &HIDComm::Disconnected);
    QCOMPARE(test::kindOf([&] { link.Write(request(board::kSetOutputs, 1), 2); }),
             LinkError::Kind::TimedOut);
    QVERIFY(link.IsConnected());
    QCOMPARE(lost.count(), 0);
    // The same failure with the board gone is a loss, in the system's own words.
    {
        std::lock_guard lock(standIn->mutex);
        standIn->current->gone = true;
    }
    standIn->writeError = L"hid_write/ioctl: Input/output error \u2013 EIO";
    try {
        link.Write(request(board::kSetOutputs, 1), 2);
        QFAIL("the failed write went unnoticed");
    } catch (const LinkError& e) {
        QCOMPARE(e.kind(), LinkError::Kind::Lost);
        QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("No such device")), e.what());
    }
    QCOMPARE(lost.count(), 1);

    // An unplug shows as a failed read, on the link's own thread (its once-a-second look here:
    // nobody announces the unplug), and reaches the owner's.
    standIn->writeError.clear();
    link.Connect();
    QVERIFY(link.IsConnected());
    {
        std::lock_guard lock(standIn->mutex);
        standIn->current->gone = true;
        standIn->changed.notify_all();
    }
    QVERIFY(lost.wait(2500));
    QCOMPARE(lost.count(), 2);
    QVERIFY(!link.IsConnected());
    std::lock_guard lock(standIn->mutex);
    QCOMPARE(standIn->closes, 2);
    QCOMPARE(standIn->closesDuringCalls, 0);
}

QTEST_GUILESS_MAIN(HidapiLayerTest)
#include "tst_hidapi_layer.moc"
