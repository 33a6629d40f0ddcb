// The link's answer to the system's device announcements, fed from a fake announcer in place of
// udev or Windows: which announcements lead to a Connect, how many, that none does after Release,
// and that a removal is acted on at once rather than at the board thread's next look.

#include "device_watch.h"
#include "genuine_board_match.h"
#include "hidcomm.h"
#include "sim_board.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <string_view>

using namespace tarnovid;

namespace {

// Stands in for the system: whoever holds the live watch hears announce().
struct Announcer {
    DeviceWatch::Handler handler; // empty while no watch is alive
    int watchesMade = 0;

    bool watching() const { return static_cast<bool>(handler); }
    void announce(DeviceChange change) {
        if (handler)
            handler(change);
    }
};

class FakeWatch final : public DeviceWatch {
public:
    explicit FakeWatch(Announcer& announcer)
        : announcer_(announcer) {}
    ~FakeWatch() override { announcer_.handler = nullptr; }

private:
    Announcer& announcer_;
};

class AnnouncingBackend final : public SimBackend {
public:
    Announcer announcer;

    std::unique_ptr<DeviceWatch> watchDevices(DeviceWatch::Handler onEvent, std::string*) override {
        ++announcer.watchesMade;
        announcer.handler = std::move(onEvent);
        return std::make_unique<FakeWatch>(announcer);
    }
};

struct Rig {
    std::shared_ptr<AnnouncingBackend> backend = std::make_shared<AnnouncingBackend>();
    std::shared_ptr<SimBoard> board = backend->addTarnovid();
    std::unique_ptr<HIDComm> link = std::make_unique<HIDComm>(backend);
    QSignalSpy connected{link.get(), &HIDComm::Connected};
    QSignalSpy disconnected{link.get(), &HIDComm::Disconnected};

    Rig() {
        test::matchGenuineBoard(*link);
        board->unplug(); // nothing there until a test plugs it in
    }

    void plugAndAnnounce() {
        board->plug();
        backend->announcer.announce(DeviceChange::Arrived);
    }
    void unplugAndAnnounce() {
        board->unplug();
        backend->announcer.announce(DeviceChange::Removed);
    }
    // Whatever the announcements queued gets its turn.
    static void settle() { QTest::qWait(20); }
};

} // namespace

class ConnectOnArrivalTest : public QObject {
    Q_OBJECT
private slots:
    void boardPluggedInConnectsWithoutAPoll();
    void onlyAnArrivalIsWorthALook();
    void aBurstOfAnnouncementsIsOneLook();
    void releaseEndsTheWatchAndCancelsAQueuedConnect();
    void destructionWithAQueuedConnectOpensNothing();
    void aRemovalIsNoticedWithoutWaitingForTheLook();
};

void ConnectOnArrivalTest::boardPluggedInConnectsWithoutAPoll() {
    Rig rig;
    rig.link->watchDevices();
    rig.link->watchDevices(); // the window asks once, but twice must not mean two watches
    QCOMPARE(rig.backend->announcer.watchesMade, 1);

    rig.plugAndAnnounce();
    QCOMPARE(rig.connected.count(), 0); // not from inside the announcement
    QVERIFY(rig.connected.wait(100));
    QVERIFY(rig.link->IsConnected());
    QCOMPARE(rig.link->DeviceText(), QStringLiteral("Dravelko USB Tarnovid"));
    QCOMPARE(rig.board->openCount(), 1);

    // Pulled out and plugged in again: found again, still without anyone calling Connect.
    rig.unplugAndAnnounce();
    QVERIFY(rig.disconnected.wait(100));
    rig.plugAndAnnounce();
    QVERIFY(rig.connected.wait(100));
    QCOMPARE(rig.connected.count(), 2);
    QCOMPARE(rig.board->openCount(), 2);
}

void ConnectOnArrivalTest::onlyAnArrivalIsWorthALook() {
    Rig rig;
    rig.board->plug();
    rig.link->watchDevices();
    const int looks = rig.backend->enumerateCount();
    Announcer& system = rig.backend->announcer;
    // Of udev's words only a hidraw node's coming and going mean anything here.
    QCOMPARE(udevChange("hidraw", "add"), std::optional(DeviceChange::Arrived));
    QCOMPARE(udevChange("hidraw", "remove"), std::optional(DeviceChange::Removed));
    for (const char* action : {"change", "bind", "unbind", "online", ""})
        QCOMPARE(udevChange("hidraw", action), std::nullopt);
    for (const char* subsystem : {"usb", "input", "", "hidraw2"})
        QCOMPARE(udevChange(subsystem, "add"), std::nullopt);
    // Of Windows' notices only a HID interface's arrival and its completed removal do.
    using namespace dbt;
    QCOMPARE(windowsDeviceChange(kDeviceArrival, kDevTypeDeviceInterface, true),
             std::optional(DeviceChange::Arrived));
    QCOMPARE(windowsDeviceChange(kDeviceRemoveComplete, kDevTypeDeviceInterface, true),
             std::optional(DeviceChange::Removed));
    for (std::uint32_t event : {0x8001u, 0x8003u, 0x0007u}) // query remove, pending, nodes changed
        QCOMPARE(windowsDeviceChange(event, kDevTypeDeviceInterface, true), std::nullopt);
    QCOMPARE(windowsDeviceChange(kDeviceArrival, kDevTypeDeviceInterface, false), std::nullopt);
    QCOMPARE(windowsDeviceChange(kDeviceRemoveComplete, 0x0002, true), std::nullopt); // a volume
    // A device that goes while no board is open leaves nothing to look at.
    system.announce(DeviceChange::Removed);
    Rig::settle();
    QCOMPARE(rig.backend->enumerateCount(), looks);
    QVERIFY(!rig.link->IsConnected());

    rig.link->Connect();
    QVERIFY(rig.link->IsConnected());
    const int looksWhileOpen = rig.backend->enumerateCount();
    system.announce(DeviceChange::Arrived); // another device: the open board is kept, no look
    Rig::settle();
    QCOMPARE(rig.backend->enumerateCount(), looksWhileOpen);
    QCOMPARE(rig.board->openCount(), 1);
    QCOMPARE(rig.connected.count(), 1);
}

void ConnectOnArrivalTest::aBurstOfAnnouncementsIsOneLook() {
    Rig rig;
    rig.link->watchDevices();
    rig.board->plug();
    rig.board->setRefuseOpen(true); // as before the node's permissions are in place
    const int looks = rig.backend->enumerateCount();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("access denied to"));
    for (int i = 0; i < 4; ++i)
        rig.backend->announcer.announce(DeviceChange::Arrived);
    Rig::settle();
    QCOMPARE(rig.backend->enumerateCount(), looks + 1);
    QVERIFY(!rig.link->IsConnected());

    // The next burst finds the board willing: opened once, the rest of the burst changes nothing.
    rig.board->setRefuseOpen(false);
    for (int i = 0; i < 4; ++i)
        rig.backend->announcer.announce(DeviceChange::Arrived);
    Rig::settle();
    rig.backend->announcer.announce(DeviceChange::Arrived);
    Rig::settle();
    QCOMPARE(rig.backend->enumerateCount(), looks + 2);
    QCOMPARE(rig.board->openCount(), 1);
    QCOMPARE(rig.connected.count(), 1);
}

void ConnectOnArrivalTest::releaseEndsTheWatchAndCancelsAQueuedConnect() {
    Rig rig;
    rig.link->watchDevices();
    rig.plugAndAnnounce();
    rig.link->Release(); // as the window's teardown does, before the queued Connect has run
    QVERIFY(!rig.backend->announcer.watching());
    Rig::settle();
    QVERIFY(!rig.link->IsConnected());
    QCOMPARE(rig.board->openCount(), 0);

    // The owner may still connect by itself, and may watch again.
    rig.link->Connect();
    QVERIFY(rig.link->IsConnected());
    rig.link->Release();
    rig.link->watchDevices();
    QCOMPARE(rig.backend->announcer.watchesMade, 2);
    rig.backend->announcer.announce(DeviceChange::Arrived);
    QVERIFY(rig.connected.wait(100));
    QCOMPARE(rig.board->openCount(), 2);
}

void ConnectOnArrivalTest::destructionWithAQueuedConnectOpensNothing() {
    Rig rig;
    rig.link->watchDevices();
    rig.plugAndAnnounce();
    rig.link.reset();
    QVERIFY(!rig.backend->announcer.watching());
    Rig::settle();
    QCOMPARE(rig.board->openCount(), 0);
}

void ConnectOnArrivalTest::aRemovalIsNoticedWithoutWaitingForTheLook() {
    Rig rig;
    rig.link->watchDevices();
    rig.plugAndAnnounce();
    QVERIFY(rig.connected.wait(100));
    // Pulled out quietly, the board is noticed only by its thread's own look, a second apart.
    rig.board->unplug();
    QTest::qWait(50);
    QCOMPARE(rig.disconnected.count(), 0);
    // The system's word that a hidraw node went has the thread look at once.
    QElapsedTimer clock;
    clock.start();
    rig.backend->announcer.announce(DeviceChange::Removed);
    QVERIFY(rig.disconnected.wait(500));
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.disconnected.count(), 1);
    QVERIFY(!rig.link->IsConnected());
}

QTEST_GUILESS_MAIN(ConnectOnArrivalTest)
#include "tst_connect_on_arrival.moc"
