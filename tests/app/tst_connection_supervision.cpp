// The window keeps itself connected: one connect at load, one per poll tick while no board is
// open, buttons and status line following the link's events, the board released on close.

#include "board_facts.h"
#include "colours.h"
#include "hidcomm.h"
#include "window_fixture.h"

#include <QSignalSpy>
#include <QTest>

using namespace tarnovid;
using tarnovid::test::ShownWindow;

namespace {
const QString kDisconnected = QStringLiteral("Tarnovid - diskonektovano");
const QString kDeviceText = QStringLiteral("Dravelko USB Tarnovid");
constexpr int kTestPollMs = 20;
} // namespace

class ConnectionSupervisionTest : public QObject {
    Q_OBJECT

    static bool buttonsEnabled(const Usbport01& u, bool enabled) {
        return u.Command1->isEnabled() == enabled && u.Command2->isEnabled() == enabled;
    }

private slots:
    void absentBoardIsPolledOncePerTick() {
        ShownWindow w;
        Usbport01& u = *w.window;
        QCOMPARE(w.backend->enumerateCount(), 1); // the connect at load
        QVERIFY(buttonsEnabled(u, false));
        QVERIFY(u.Text1->text().isEmpty());

        QSignalSpy ticks(u.Timer1, &QTimer::timeout);
        u.Timer1->setInterval(kTestPollMs);
        QTRY_VERIFY(ticks.count() >= 3);
        u.Timer1->stop();
        QCOMPARE(w.backend->enumerateCount(), 1 + int(ticks.count()));
        QVERIFY(buttonsEnabled(u, false));
        QVERIFY(u.Text1->text().isEmpty());
    }

    void boardPresentAtStartConnectsDuringLoad() {
        auto backend = std::make_shared<SimBackend>();
        auto board = backend->addTarnovid();
        ShownWindow w(backend);
        QVERIFY(buttonsEnabled(*w.window, true));
        QCOMPARE(w.window->Text1->text(), kDeviceText);
        QVERIFY(board->isOpen());
        // An open board stops the polling from connecting again.
        QSignalSpy ticks(w.window->Timer1, &QTimer::timeout);
        w.window->Timer1->setInterval(kTestPollMs);
        QTRY_VERIFY(ticks.count() >= 2);
        QCOMPARE(board->openCount(), 1);
    }

    void plugUnplugReplugFollowTheBoard() {
        ShownWindow w;
        Usbport01& u = *w.window;
        u.Timer1->setInterval(kTestPollMs);
        auto board = w.backend->addTarnovid();
        QTRY_VERIFY(buttonsEnabled(u, true));
        QCOMPARE(u.Text1->text(), kDeviceText);

        // State the user made must survive the board going away.
        w.pressAtTwips(405, 1305); // D7 on
        board->setInputs(0x02);
        u.Command2_Click();
        QCOMPARE(u.Broj1, qint16(2));
        QCOMPARE(u.Shape2(0)->BackColor(), colour::Blue);

        QSignalSpy lost(u.HIDComm1, &HIDComm::Disconnected);
        u.Timer1->stop(); // the unplug must be noticed by the link itself, not by a poll
        board->unplug();
        QVERIFY(lost.wait(50));
        QVERIFY(buttonsEnabled(u, false));
        QCOMPARE(u.Text1->text(), kDisconnected);
        QCOMPARE(u.Shape1(7)->BackColor(), colour::Red);
        QCOMPARE(u.Broj, std::optional<int>(128));
        QCOMPARE(u.Broj1, qint16(2));
        QCOMPARE(u.Shape2(1)->BackColor(), colour::White);
        QCOMPARE(u.Shape2(0)->BackColor(), colour::Blue);

        board->plug();
        u.Timer1->start();
        QTRY_VERIFY(buttonsEnabled(u, true));
        QCOMPARE(u.Text1->text(), kDeviceText);
        QCOMPARE(lost.count(), 1);
    }

    void lookalikeBoardsAreNeverOpened() {
        // Each differs from the genuine board in its manufacturer, its release or its product
        // string alone and is listed before it, so only the window's own match settings keep
        // them shut.
        auto backend = std::make_shared<SimBackend>();
        HidDeviceInfo otherMaker = tarnovidDeviceInfo("sim/a");
        otherMaker.manufacturer = std::string(board::kManufacturer) + " Clone";
        HidDeviceInfo otherRelease = tarnovidDeviceInfo("sim/b");
        otherRelease.releaseNumber = board::kRelease + 1;
        HidDeviceInfo otherProduct = tarnovidDeviceInfo("sim/c");
        otherProduct.product = std::string(board::kProduct) + " II";
        std::vector<std::shared_ptr<SimBoard>> lookalikes;
        for (const auto& info : {otherMaker, otherRelease, otherProduct})
            lookalikes.push_back(backend->addBoard(info));

        ShownWindow w(backend);
        Usbport01& u = *w.window;
        QSignalSpy ticks(u.Timer1, &QTimer::timeout);
        u.Timer1->setInterval(kTestPollMs);
        QTRY_VERIFY(ticks.count() >= 3);
        QVERIFY(buttonsEnabled(u, false));
        QVERIFY(u.Text1->text().isEmpty());
        for (const auto& lookalike : lookalikes)
            QCOMPARE(lookalike->openCount(), 0);

        auto genuine = backend->addTarnovid("sim/d");
        QTRY_VERIFY(buttonsEnabled(u, true));
        QCOMPARE(u.Text1->text(), kDeviceText);
        QVERIFY(genuine->isOpen());
        for (const auto& lookalike : lookalikes)
            QCOMPARE(lookalike->openCount(), 0);
    }

    void openRefusedIsRetriedByThePoll() {
        auto backend = std::make_shared<SimBackend>();
        auto board = backend->addTarnovid();
        board->setRefuseOpen(true); // e.g. permissions not set yet right after the plug
        ShownWindow w(backend);
        QVERIFY(buttonsEnabled(*w.window, false));
        w.window->Timer1->setInterval(kTestPollMs);
        board->setRefuseOpen(false);
        QTRY_VERIFY(buttonsEnabled(*w.window, true));
        QCOMPARE(board->openCount(), 1);
    }

    void connectedWhileConnectedOnlyRefreshesText() {
        auto backend = std::make_shared<SimBackend>();
        backend->addTarnovid();
        ShownWindow w(backend);
        Usbport01& u = *w.window;
        u.Text1->setText(QStringLiteral("typed by the user"));
        emit u.HIDComm1->Connected(0);
        QVERIFY(buttonsEnabled(u, true));
        QCOMPARE(u.Text1->text(), kDeviceText);
    }

    void failingDeviceTextEndsTheHandlerWithoutEscaping() {
        ShownWindow w; // no board: the device text cannot be read
        Usbport01& u = *w.window;
        emit u.HIDComm1->Connected(0);
        QVERIFY(u.Command1->isEnabled());
        QVERIFY(!u.Command2->isEnabled());
        QVERIFY(u.Text1->text().isEmpty());
    }

    void closingTheWindowReleasesTheBoardOnce() {
        auto backend = std::make_shared<SimBackend>();
        auto board = backend->addTarnovid();
        {
            ShownWindow w(backend);
            QVERIFY(board->isOpen());
            w.window->close();
            QVERIFY(!board->isOpen());
            QCOMPARE(board->closeCount(), 1);
            QVERIFY(!w.window->Timer1->isActive()); // nothing reconnects after the release
        }
        QCOMPARE(board->closeCount(), 1);
    }
};

QTEST_MAIN(ConnectionSupervisionTest)
#include "tst_connection_supervision.moc"
