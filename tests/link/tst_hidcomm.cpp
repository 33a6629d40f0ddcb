// The link as the window sees it, against simulated boards on real threads.

#include "board_facts.h"
#include "board_report.h"
#include "delayed_unplug.h"
#include "device_match.h"
#include "genuine_board_match.h"
#include "hidcomm.h"
#include "link_failure.h"
#include "open_refusal.h"
#include "sim_board.h"
#include "stall_breaker.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <functional>
#include <optional>
#include <thread>

using namespace tarnovid;

namespace {

// The link's wait for the board, in the unit the checks use.
constexpr int kTimeoutMs = int(tarnovid::BoardLink::kDefaultTimeout.count());

QByteArray request(quint8 command, quint8 value) {
    QByteArray buffer(9, '\0');
    buffer[0] = static_cast<char>(command);
    buffer[1] = static_cast<char>(value);
    return buffer;
}

struct Rig {
    std::shared_ptr<SimBackend> backend = std::make_shared<SimBackend>();
    std::shared_ptr<SimBoard> board = backend->addTarnovid();
    HIDComm link{backend};
    QSignalSpy connected{&link, &HIDComm::Connected};
    QSignalSpy disconnected{&link, &HIDComm::Disconnected};
    Rig() { test::matchGenuineBoard(link); }
};

} // namespace

class HIDCommTest : public QObject {
    Q_OBJECT
private slots:
    void connectsToTheGenuineBoardOnce();
    void picksTheFirstMatchingBoardAndOpensNoOther();
    void eachMatchSettingReachesItsOwnField();
    void matchMethodDecidesWhichFieldsCount();
    void withoutBoardEveryMemberFailsWithLinkError();
    void refusedOpenIsRetriedByTheNextConnectAndReportedOnce();
    void boardThatCannotBeServedIsClosedAndRetried();

    void writeSendsOneZeroPaddedReport();
    void badCountsAreRejectedAndNothingIsSent();
    void readReturnsTheAnswerToTheLastWrite();
    void shortAnswerIsHandedOnAsItCame();
    void stalledBoardTimesOutAfterTheFullWait();
    void reportsFromBeforeTheWriteAreNeverTheAnswer();
    void twoLinksOnOneBoardEachGetEveryReport();
    void boardThatStopsTakingReportsBoundsEveryCall();

    void unplugDuringReadFailsPromptlyAndDisconnectsOnce();
    void idleUnplugIsNoticedOnTheOwnersThread();
    void staleLossNoticeLeavesTheNextBoardAlone();
    void failedWriteGivesTheBoardUpOnce();
    void stuckReportEndedByAnUnplugIsOneLoss();

    void releaseIsQuietAndRepeatable();
    void releaseBeforeThePendingLossNoticeRaisesNothing();
    void releaseDoesNotWaitForAStuckReport();
    void destructionClosesTheBoard();
};

void HIDCommTest::connectsToTheGenuineBoardOnce() {
    Rig rig;
    QVERIFY(!rig.link.IsConnected());
    rig.link.Connect();
    QCOMPARE(rig.connected.count(), 1); // raised before Connect returns
    QVERIFY(rig.link.IsConnected());
    QCOMPARE(rig.link.DeviceText(), QStringLiteral("Dravelko USB Tarnovid"));
    QVERIFY(rig.board->isOpen());

    const int enumerations = rig.backend->enumerateCount();
    rig.link.Connect(); // already open: nothing happens
    QCOMPARE(rig.backend->enumerateCount(), enumerations);
    QCOMPARE(rig.board->openCount(), 1);
    QCOMPARE(rig.connected.count(), 1);
    QCOMPARE(rig.disconnected.count(), 0);
}

void HIDCommTest::picksTheFirstMatchingBoardAndOpensNoOther() {
    auto backend = std::make_shared<SimBackend>();
    HidDeviceInfo impostor = tarnovidDeviceInfo("sim/a");
    impostor.product = "USB Tarnovid II";
    HidDeviceInfo newer = tarnovidDeviceInfo("sim/b");
    newer.releaseNumber = 2;
    HidDeviceInfo wireless = tarnovidDeviceInfo("sim/c");
    wireless.bus = HidBus::Bluetooth;
    HidDeviceInfo lowercase = tarnovidDeviceInfo("sim/c2");
    lowercase.manufacturer = "DRAVELKO";
    HidDeviceInfo otherVendor = tarnovidDeviceInfo("sim/c3");
    otherVendor.vendorId = 0x1235;
    std::vector<std::shared_ptr<SimBoard>> strangers;
    for (const auto& info : {impostor, newer, wireless, lowercase, otherVendor})
        strangers.push_back(backend->addBoard(info));
    auto later = backend->addTarnovid("sim/e");
    auto first = backend->addTarnovid("sim/d");

    HIDComm link(backend);
    test::matchGenuineBoard(link);
    link.Connect();
    QVERIFY(link.IsConnected());
    QVERIFY(first->isOpen());
    QCOMPARE(later->openCount(), 0);
    for (const auto& stranger : strangers)
        QCOMPARE(stranger->openCount(), 0);
}

void HIDCommTest::eachMatchSettingReachesItsOwnField() {
    // Every value differs from every other, so a setting copied into another field of the rule
    // (or the vendor and product ids swapped for the listing) finds no board.
    auto backend = std::make_shared<SimBackend>();
    HidDeviceInfo odd = tarnovidDeviceInfo("sim/odd");
    odd.vendorId = 0x0A0A;
    odd.productId = 0x0B0B;
    odd.releaseNumber = 0x0C0C;
    odd.manufacturer = "Maker";
    odd.product = "Thing";
    auto board = backend->addBoard(odd);
    HIDComm link(backend);
    link.matchvid = 0x0A0A;
    link.matchpid = 0x0B0B;
    link.matchversion = 0x0C0C;
    link.matchmethod = kMatchAll;
    link.matchmanufacturer = QStringLiteral("Maker");
    link.matchproduct = QStringLiteral("Thing");
    link.Connect();
    QVERIFY(link.IsConnected());
    QCOMPARE(board->openCount(), 1);
    QCOMPARE(link.DeviceText(), QStringLiteral("Maker Thing"));
}

void HIDCommTest::matchMethodDecidesWhichFieldsCount() {
    auto backend = std::make_shared<SimBackend>();
    HidDeviceInfo rebadged = tarnovidDeviceInfo("sim/x");
    rebadged.vendorId = 0x4321;
    rebadged.releaseNumber = 7;
    auto board = backend->addBoard(rebadged);

    HIDComm link(backend);
    test::matchGenuineBoard(link);
    link.Connect();
    QVERIFY(!link.IsConnected()); // every field counts

    link.matchmethod = kMatchManufacturer | kMatchProductString | kMatchBusUsb;
    link.Connect(); // ids no longer checked, nor used to narrow the listing
    QVERIFY(link.IsConnected());
    QCOMPARE(board->openCount(), 1);
}

void HIDCommTest::withoutBoardEveryMemberFailsWithLinkError() {
    auto backend = std::make_shared<SimBackend>();
    HIDComm link(backend);
    test::matchGenuineBoard(link);
    QSignalSpy connected(&link, &HIDComm::Connected);
    link.Connect();
    link.Connect();
    QCOMPARE(backend->enumerateCount(), 2); // one look per call, no retry loop inside
    QVERIFY(!link.IsConnected());
    QCOMPARE(connected.count(), 0);
    using K = LinkError::Kind;
    QVERIFY(test::kindOf([&] { link.DeviceText(); }) == K::NotOpen);
    QVERIFY(test::kindOf([&] { link.Write(request(board::kSetOutputs, 1), 2); }) == K::NotOpen);
    QVERIFY(test::kindOf([&] { link.Read(2); }) == K::NotOpen);
    link.Release();
    QVERIFY(!link.IsConnected());
}

void HIDCommTest::refusedOpenIsRetriedByTheNextConnectAndReportedOnce() {
    Rig rig;
    rig.board->setRefuseOpen(true); // as before udev has set the node's permissions
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression("access denied to sim/tarnovid-0 \\(Permission denied\\)"));
    rig.link.Connect();
    QVERIFY(!rig.link.IsConnected());
    QCOMPARE(rig.connected.count(), 0);
    QCOMPARE(rig.link.lastRefusal().path, QStringLiteral("sim/tarnovid-0"));
    QVERIFY(isAccessDenied(rig.link.lastRefusal().reason.toStdString()));

    QTest::failOnWarning(QRegularExpression("^Tarnovid: "));
    rig.link.Connect(); // same reason again: no second line
    QVERIFY(!rig.link.IsConnected());

    QVERIFY(!rig.link.lastRefusal().reason.isEmpty()); // still refused, though not told again

    rig.board->setRefuseOpen(false);
    rig.link.Connect();
    QVERIFY(rig.link.IsConnected());
    QCOMPARE(rig.connected.count(), 1);
    QCOMPARE(rig.board->openCount(), 1);
    QVERIFY(rig.link.lastRefusal().path.isEmpty());

    // A board that is gone is no refusal: nothing was there to refuse.
    rig.link.Release();
    rig.board->setRefuseOpen(true);
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression("access denied to sim/tarnovid-0 \\(Permission denied\\)"));
    rig.link.Connect();
    QVERIFY(!rig.link.lastRefusal().path.isEmpty());
    rig.board->unplug();
    rig.link.Connect();
    QVERIFY(rig.link.lastRefusal().path.isEmpty());
    QVERIFY(rig.link.lastRefusal().reason.isEmpty());
}

void HIDCommTest::boardThatCannotBeServedIsClosedAndRetried() {
    Rig rig;
    rig.backend->setThreadStartFails(true); // the system is out of threads for now
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("cannot open sim/tarnovid-0: .*I/O thread"));
    rig.link.Connect();
    QVERIFY(!rig.link.IsConnected());
    QCOMPARE(rig.connected.count(), 0);
    QCOMPARE(rig.board->openCount(), 1);
    QVERIFY(!rig.board->isOpen()); // not left half-open
    using K = LinkError::Kind;
    QVERIFY(test::kindOf([&] { rig.link.Write(request(board::kSetOutputs, 1), 2); }) == K::NotOpen);

    QTest::failOnWarning(QRegularExpression("^Tarnovid: "));
    rig.link.Connect(); // the next poll tries again, quietly
    QCOMPARE(rig.board->openCount(), 2);
    QVERIFY(!rig.board->isOpen());

    rig.backend->setThreadStartFails(false);
    rig.link.Connect();
    QVERIFY(rig.link.IsConnected());
    QCOMPARE(rig.connected.count(), 1);
    rig.link.Write(request(board::kSetOutputs, 0x42), 2);
    QCOMPARE(rig.board->outputs(), 0x42);
}

void HIDCommTest::writeSendsOneZeroPaddedReport() {
    Rig rig;
    rig.link.Connect();
    QByteArray buffer = request(board::kSetOutputs, 0x81);
    buffer[5] = '\x77'; // beyond the count: must not travel
    rig.link.Write(buffer, 2);
    const auto writes = rig.board->writes();
    QCOMPARE(writes.size(), std::size_t(1));
    QCOMPARE(writes[0], test::boardReport(board::kSetOutputs, 0x81));
    QCOMPARE(rig.board->outputs(), 0x81);
}

void HIDCommTest::badCountsAreRejectedAndNothingIsSent() {
    Rig rig;
    rig.link.Connect();
    using K = LinkError::Kind;
    const QByteArray buffer = request(board::kSetOutputs, 0xFF);
    QVERIFY(test::kindOf([&] { rig.link.Write(buffer, -1); }) == K::Rejected);
    QVERIFY(test::kindOf([&] { rig.link.Write(buffer, 65); }) == K::Rejected);
    QVERIFY(test::kindOf([&] { rig.link.Write(buffer, 10); }) == K::Rejected); // buffer holds 9
    QVERIFY(test::kindOf([&] { rig.link.Read(-1); }) == K::Rejected);
    QVERIFY(test::kindOf([&] { rig.link.Read(65); }) == K::Rejected);
    QVERIFY(rig.board->writes().empty());
    QVERIFY(rig.link.IsConnected()); // a caller's mistake is not a lost board
    QCOMPARE(rig.disconnected.count(), 0);
}

void HIDCommTest::readReturnsTheAnswerToTheLastWrite() {
    Rig rig;
    rig.link.Connect();
    rig.board->setInputs(0x05);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(2), QByteArray("\x05\x00", 2));

    rig.board->wireInputsToOutputs(true);
    rig.link.Write(request(board::kSetOutputs, 0xFE), 2);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(1), QByteArray("\x06", 1));
    rig.link.Release();
    // One thread made every call on the board, reads, writes and the close alike.
    QCOMPARE(rig.board->ioThreads(), std::size_t(1));
}

void HIDCommTest::shortAnswerIsHandedOnAsItCame() {
    Rig rig;
    rig.link.Connect();
    rig.board->setInputs(0x03);
    rig.board->setAnswerLength(1);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(2), QByteArray("\x03", 1));
}

void HIDCommTest::stalledBoardTimesOutAfterTheFullWait() {
    Rig rig;
    rig.link.Connect();
    rig.board->setStall(true);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(test::kindOf([&] { rig.link.Read(2); }) == LinkError::Kind::TimedOut);
    const qint64 waited = clock.elapsed();
    // The figure the README promises users and firmware authors: half a second.
    QVERIFY2(waited >= 500 && waited < 800, qPrintable(QString::number(waited)));
    QVERIFY(rig.link.IsConnected()); // a slow board is still there
    QCOMPARE(rig.disconnected.count(), 0);
}

void HIDCommTest::reportsFromBeforeTheWriteAreNeverTheAnswer() {
    Rig rig;
    rig.link.Connect();
    rig.board->pushInputReport({0x55, 0x55}); // unsolicited
    QTRY_COMPARE(rig.board->pendingInputReports(), std::size_t(0));
    rig.board->setInputs(0x01);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(2), QByteArray("\x01\x00", 2));

    // An answer that comes after its read gave up must not answer the next request.
    rig.board->setAnswerDelayMs(kTimeoutMs + 150);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QVERIFY(test::kindOf([&] { rig.link.Read(2); }) == LinkError::Kind::TimedOut);
    QTRY_COMPARE(rig.board->pendingInputReports(), std::size_t(0)); // the late one is in
    rig.board->setAnswerDelayMs(0);
    rig.board->setInputs(0x02);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(2), QByteArray("\x02\x00", 2));
}

void HIDCommTest::twoLinksOnOneBoardEachGetEveryReport() {
    Rig rig; // the window's link; another program opens the same board beside it
    HIDComm other(rig.backend);
    test::matchGenuineBoard(other);
    rig.link.Connect();
    other.Connect();
    QVERIFY(rig.link.IsConnected() && other.IsConnected());
    QCOMPARE(rig.board->openCount(), 2);

    // Both ask before either reads: each still finds an answer of its own.
    rig.board->setInputs(0x01);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    other.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(1), QByteArray("\x01", 1));
    QCOMPARE(other.Read(1), QByteArray("\x01", 1));

    // The other's answer reaches this link as well, but one that came before this link's own
    // request never answers it.
    QTRY_COMPARE(rig.board->pendingInputReports(), std::size_t(0));
    rig.board->setInputs(0x02);
    other.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(other.Read(1), QByteArray("\x02", 1));
    QTRY_COMPARE(rig.board->pendingInputReports(), std::size_t(0));
    rig.board->setInputs(0x04);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(1), QByteArray("\x04", 1));

    other.Write(request(board::kSetOutputs, 0x81), 2);
    QCOMPARE(rig.board->outputs(), 0x81);
    other.Release();
    QVERIFY(rig.link.IsConnected()); // one program letting go leaves the other's board open
    QCOMPARE(rig.disconnected.count(), 0);
    QCOMPARE(rig.board->closeCount(), 1);
}

void HIDCommTest::boardThatStopsTakingReportsBoundsEveryCall() {
    Rig rig;
    rig.link.Connect();
    rig.board->setWriteStall(true); // hung firmware: hid_write would block for seconds
    QElapsedTimer clock;
    clock.start();
    QVERIFY(test::kindOf([&] { rig.link.Write(request(board::kSetOutputs, 0x11), 2); }) ==
            LinkError::Kind::TimedOut);
    QVERIFY2(clock.elapsed() >= 500 && clock.elapsed() < 800,
             qPrintable(QString::number(clock.elapsed())));
    QVERIFY(rig.link.IsConnected());
    QCOMPARE(rig.disconnected.count(), 0);

    // While that report is stuck: nothing more is sent, and nothing is waited for.
    clock.restart();
    QVERIFY(test::kindOf([&] { rig.link.Write(request(board::kReadInputs, 0), 2); }) ==
            LinkError::Kind::TimedOut);
    QVERIFY(test::kindOf([&] { rig.link.Read(2); }) == LinkError::Kind::TimedOut);
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.board->stuckWrites(), 1);

    // The board drains: the stuck report goes in, the refused one never does, and the link works
    // as before.
    rig.board->setWriteStall(false);
    QTRY_COMPARE(rig.board->writes().size(), std::size_t(1));
    QCOMPARE(rig.board->outputs(), 0x11);
    rig.board->setInputs(0x04);
    // The link is free again as soon as the stuck write returns.
    std::optional<LinkError::Kind> failed = LinkError::Kind::TimedOut;
    for (int i = 0; i < 100 && failed == LinkError::Kind::TimedOut; ++i) {
        failed = test::kindOf([&] { rig.link.Write(request(board::kReadInputs, 0), 2); });
        if (failed)
            QTest::qWait(5);
    }
    QVERIFY(!failed);
    QCOMPARE(rig.link.Read(2), QByteArray("\x04\x00", 2));
    QCOMPARE(rig.board->writes().size(), std::size_t(2));
    QCOMPARE(rig.disconnected.count(), 0);
}

void HIDCommTest::unplugDuringReadFailsPromptlyAndDisconnectsOnce() {
    Rig rig;
    rig.link.Connect();
    rig.board->setStall(true);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QElapsedTimer clock;
    clock.start();
    {
        test::DelayedUnplug unplug(rig.board, std::chrono::milliseconds(100));
        QVERIFY(test::kindOf([&] { rig.link.Read(2); }) == LinkError::Kind::Lost);
    }
    QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!rig.link.IsConnected());
    QCOMPARE(rig.disconnected.count(), 1);
    QCOMPARE(rig.board->closeCount(), 1);

    QTest::qWait(50); // the board thread's own notice arrives now and must change nothing
    QCOMPARE(rig.disconnected.count(), 1);
    QCOMPARE(rig.board->closeCount(), 1);
    QVERIFY(test::kindOf([&] { rig.link.DeviceText(); }) == LinkError::Kind::NotOpen);
}

void HIDCommTest::idleUnplugIsNoticedOnTheOwnersThread() {
    Rig rig;
    rig.link.Connect();
    QThread* raisedOn = nullptr;
    bool flagDuringSignal = true;
    connect(&rig.link, &HIDComm::Disconnected, this, [&] {
        raisedOn = QThread::currentThread();
        flagDuringSignal = rig.link.IsConnected();
    });
    // Nobody announces the unplug here: the board thread's own look finds it.
    rig.board->unplug();
    QVERIFY(rig.disconnected.wait(1500));
    QCOMPARE(raisedOn, QThread::currentThread());
    QVERIFY(!flagDuringSignal);
    QCOMPARE(rig.board->closeCount(), 1);
    QTest::qWait(30);
    QCOMPARE(rig.disconnected.count(), 1);

    rig.board->plug();
    rig.link.Connect();
    QVERIFY(rig.link.IsConnected());
    QCOMPARE(rig.connected.count(), 2);
}

void HIDCommTest::staleLossNoticeLeavesTheNextBoardAlone() {
    Rig rig;
    rig.link.Connect();
    rig.board->setStall(true);
    {
        test::DelayedUnplug unplug(rig.board, std::chrono::milliseconds(50));
        QVERIFY(test::kindOf([&] { rig.link.Read(2); }) == LinkError::Kind::Lost);
    }
    // The board thread's notice is still queued while the board comes back and is opened again.
    rig.board->plug();
    rig.link.Connect();
    QCOMPARE(rig.connected.count(), 2);
    QTest::qWait(50);
    QVERIFY(rig.link.IsConnected());
    QVERIFY(rig.board->isOpen());
    QCOMPARE(rig.disconnected.count(), 1);
}

void HIDCommTest::failedWriteGivesTheBoardUpOnce() {
    Rig rig;
    rig.link.Connect();
    rig.board->unplug();
    // Before the loss notice has been handled the link still believes in the board.
    QVERIFY(test::kindOf([&] { rig.link.Write(request(board::kSetOutputs, 1), 2); }) ==
            LinkError::Kind::Lost);
    QVERIFY(!rig.link.IsConnected());
    QCOMPARE(rig.disconnected.count(), 1);
    QCOMPARE(rig.board->closeCount(), 1);
    QTest::qWait(50);
    QCOMPARE(rig.disconnected.count(), 1);
    QCOMPARE(rig.board->closeCount(), 1);
}

void HIDCommTest::stuckReportEndedByAnUnplugIsOneLoss() {
    Rig rig;
    rig.link.Connect();
    rig.board->setWriteStall(true);
    QVERIFY(test::kindOf([&] { rig.link.Write(request(board::kSetOutputs, 1), 2); }) ==
            LinkError::Kind::TimedOut);
    rig.board->unplug(); // fails the stuck write, and the look after it
    QVERIFY(rig.disconnected.wait(200));
    QVERIFY(!rig.link.IsConnected());
    QTest::qWait(50);
    QCOMPARE(rig.disconnected.count(), 1);
    QCOMPARE(rig.board->closeCount(), 1);
}

void HIDCommTest::releaseIsQuietAndRepeatable() {
    Rig rig;
    rig.link.Release(); // nothing open yet
    rig.link.Connect();
    rig.link.Release();
    QVERIFY(!rig.link.IsConnected());
    QVERIFY(!rig.board->isOpen());
    rig.link.Release();
    QCOMPARE(rig.board->closeCount(), 1);
    QCOMPARE(rig.disconnected.count(), 0); // the owner gave the board up; nothing was lost

    rig.link.Connect();
    QVERIFY(rig.link.IsConnected());
    QCOMPARE(rig.connected.count(), 2);
    rig.board->setInputs(0x07);
    rig.link.Write(request(board::kReadInputs, 0), 2);
    QCOMPARE(rig.link.Read(1), QByteArray("\x07", 1));
}

void HIDCommTest::releaseBeforeThePendingLossNoticeRaisesNothing() {
    Rig rig;
    rig.link.Connect();
    rig.board->unplug();
    QTest::qSleep(30); // the board thread notices and posts, but nothing is delivered yet
    rig.link.Release();
    QTest::qWait(50);
    QCOMPARE(rig.disconnected.count(), 0);
    QCOMPARE(rig.board->closeCount(), 1);
}

void HIDCommTest::releaseDoesNotWaitForAStuckReport() {
    Rig rig;
    rig.link.Connect();
    rig.board->setWriteStall(true);
    QVERIFY(test::kindOf([&] { rig.link.Write(request(board::kSetOutputs, 1), 2); }) ==
            LinkError::Kind::TimedOut);
    QElapsedTimer clock;
    clock.start();
    {
        const test::StallBreaker breaker(rig.board, std::chrono::milliseconds(1000));
        rig.link.Release(); // the window is closing
    }
    QVERIFY2(clock.elapsed() < 50, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!rig.link.IsConnected());
    // The handle stays open under the stuck write, and is closed once the write returns.
    QTest::qWait(30);
    QVERIFY(rig.board->isOpen());
    rig.board->setWriteStall(false);
    QTRY_VERIFY(!rig.board->isOpen());
    QCOMPARE(rig.board->closesDuringCalls(), 0);
    QCOMPARE(rig.disconnected.count(), 0);
}

void HIDCommTest::destructionClosesTheBoard() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    {
        HIDComm link(backend);
        test::matchGenuineBoard(link);
        link.Connect();
        QVERIFY(board->isOpen());
        board->unplug(); // leaves a loss notice behind for an object about to go
        QTest::qSleep(30);
    }
    QTest::qWait(30);
    QCOMPARE(board->openCount(), 1);
    QCOMPARE(board->closeCount(), 1);
}

QTEST_GUILESS_MAIN(HIDCommTest)
#include "tst_hidcomm.moc"
