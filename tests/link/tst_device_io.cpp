// The board's I/O thread on a device whose reads, like hidapi's, nothing cuts short: it hands
// reports over in order and drops those from before a write, is never caught in a read when a
// write comes, reports an unplug once (at once when asked to look, within its look interval when
// not), sleeps while idle, and when stopped closes the device, but never under a call that is
// still running, and tells its owner nothing more. (What a stalled board does to the link's calls
// is shown through HIDComm, in tst_hidcomm.)

#include "board_facts.h"
#include "delayed_unplug.h"
#include "device_io.h"
#include "sim_board.h"
#include "stall_breaker.h"

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

using namespace tarnovid;
using namespace std::chrono_literals;

namespace {

struct OpenSim {
    std::shared_ptr<SimBoard> board = std::make_shared<SimBoard>(tarnovidDeviceInfo());
    std::unique_ptr<HidDevice> device = board->open(nullptr);
};

std::vector<std::uint8_t> take(DeviceIo& io, std::chrono::milliseconds timeout = 1000ms) {
    std::vector<std::uint8_t> report;
    if (io.waitForReport(timeout, report) != DeviceIo::Wait::Report)
        return {0xEE, 0xEE, 0xEE}; // never a report these tests push
    return report;
}

// Has the thread take every report the device holds into its queue, as its looks do.
void lookUntilEmpty(DeviceIo& io, SimBoard& board) {
    QTRY_VERIFY((io.checkPresence(), board.pendingInputReports() == 0));
}

OutputFrame frame(std::uint8_t command, std::uint8_t value) {
    OutputFrame f{};
    f[1] = command;
    f[2] = value;
    return f;
}

} // namespace

class DeviceIoTest : public QObject {
    Q_OBJECT
private slots:
    void reportsArriveInOrder();
    void waitWithoutReportTimesOut();
    void aWriteDropsEveryReportFromBeforeIt();
    void oldestReportsGiveWayWhenNobodyReads();
    void writesAreNeverHeldUpByARead();
    void unplugIsReportedOnceAndPromptly();
    void idleUnplugIsFoundByTheLookOrAtOnceWhenAsked();
    void reportsQueuedBeforeLossAreStillHandedOut();
    void idleThreadSleeps();
    void stopClosesTheDeviceAndIsIdempotent();
    void stopLeavesAStuckWriteToCloseTheDeviceAfterIt();
    void cancelEndsEveryWaitAtOnceAndStopLeavesARunningRead();
    void aWriteTheSystemGivesUpIsNotALoss();
};

void DeviceIoTest::reportsArriveInOrder() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    sim.board->pushInputReport({1, 2, 3});
    sim.board->pushInputReport({4});
    QCOMPARE(take(io), (std::vector<std::uint8_t>{1, 2, 3}));
    QCOMPARE(take(io), (std::vector<std::uint8_t>{4}));
}

void DeviceIoTest::waitWithoutReportTimesOut() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    std::vector<std::uint8_t> report;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(io.waitForReport(120ms, report), DeviceIo::Wait::TimedOut);
    QVERIFY2(clock.elapsed() >= 119, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!io.lost());
}

void DeviceIoTest::aWriteDropsEveryReportFromBeforeIt() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    sim.board->pushInputReport({8});
    lookUntilEmpty(io, *sim.board);  // one in the thread's queue ...
    sim.board->pushInputReport({9}); // ... and one still in the system
    QCOMPARE(io.write(frame(board::kSetOutputs, 1), 1000ms), DeviceIo::Write::Sent);
    sim.board->pushInputReport({10});
    QCOMPARE(take(io), (std::vector<std::uint8_t>{10}));
}

void DeviceIoTest::oldestReportsGiveWayWhenNobodyReads() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    const int pushed = static_cast<int>(DeviceIo::kMaxQueued) + 8;
    for (int i = 0; i < pushed; ++i)
        sim.board->pushInputReport({static_cast<std::uint8_t>(i)});
    lookUntilEmpty(io, *sim.board);
    QCOMPARE(take(io), (std::vector<std::uint8_t>{8}));
}

void DeviceIoTest::writesAreNeverHeldUpByARead() {
    OpenSim sim;
    DeviceIo::Options often;
    often.presenceCheck = 30ms;
    DeviceIo io(std::move(sim.device), nullptr, often);
    // Writes at moments spread over the thread's looks, and right after a reader gave up: a
    // thread waiting in a read of its own would hold each one up for the rest of that read.
    std::vector<std::uint8_t> report;
    qint64 slowest = 0;
    for (int i = 0; i < 8; ++i) {
        if (i % 2 == 0)
            QCOMPARE(io.waitForReport(40ms, report), DeviceIo::Wait::TimedOut);
        else
            QTest::qWait(7 * i);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(io.write(frame(board::kSetOutputs, std::uint8_t(i)), 1000ms),
                 DeviceIo::Write::Sent);
        slowest = std::max(slowest, clock.elapsed());
    }
    QVERIFY2(slowest < 20, qPrintable(QString::number(slowest)));
    QCOMPARE(sim.board->writes().size(), std::size_t(8));
}

void DeviceIoTest::unplugIsReportedOnceAndPromptly() {
    OpenSim sim;
    std::atomic<int> notices{0};
    DeviceIo io(std::move(sim.device), [&] { ++notices; });
    // Pulled out while a reader waits: its read fails at once.
    const test::DelayedUnplug unplug(sim.board, 30ms);
    QElapsedTimer clock;
    clock.start();
    std::vector<std::uint8_t> report;
    QCOMPARE(io.waitForReport(1000ms, report), DeviceIo::Wait::Lost);
    QVERIFY2(clock.elapsed() < 130, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(io.lost());
    QVERIFY(!io.lossReason().empty());
    // The owner's notice follows the recorded loss at once, and only once (checked below).
    QTRY_COMPARE_WITH_TIMEOUT(notices.load(), 1, 100);
    // The thread has stopped reading and closed the failed handle.
    QTRY_COMPARE_WITH_TIMEOUT(sim.board->closeCount(), 1, 100);
    const int reads = sim.board->readCalls();
    io.checkPresence();
    QTest::qWait(50);
    QCOMPARE(sim.board->readCalls(), reads);
    QCOMPARE(io.waitForReport(10ms, report), DeviceIo::Wait::Lost);
    QCOMPARE(io.write(frame(board::kSetOutputs, 1), 100ms), DeviceIo::Write::Lost);
    QCOMPARE(notices.load(), 1);
}

void DeviceIoTest::idleUnplugIsFoundByTheLookOrAtOnceWhenAsked() {
    {
        OpenSim sim;
        DeviceIo::Options often;
        often.presenceCheck = 150ms;
        DeviceIo io(std::move(sim.device), nullptr, often);
        QTest::qWait(20);
        QElapsedTimer clock;
        clock.start();
        sim.board->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(io.lost(), 1000);
        QVERIFY2(clock.elapsed() >= 100 && clock.elapsed() < 400,
                 qPrintable(QString::number(clock.elapsed())));
    }
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    sim.board->unplug();
    QElapsedTimer clock;
    clock.start();
    io.checkPresence();
    QTRY_VERIFY_WITH_TIMEOUT(io.lost(), 1000);
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
}

void DeviceIoTest::reportsQueuedBeforeLossAreStillHandedOut() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    sim.board->pushInputReport({0x42});
    lookUntilEmpty(io, *sim.board);
    sim.board->unplug();
    io.checkPresence();
    QTRY_VERIFY(io.lost());
    QCOMPARE(take(io), (std::vector<std::uint8_t>{0x42}));
    std::vector<std::uint8_t> report;
    QCOMPARE(io.waitForReport(10ms, report), DeviceIo::Wait::Lost);
}

void DeviceIoTest::idleThreadSleeps() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    QTest::qWait(2500);
    // One look a second, each a read that does not wait; a spinning thread would make thousands.
    QVERIFY2(sim.board->readCalls() <= 3, qPrintable(QString::number(sim.board->readCalls())));
}

void DeviceIoTest::stopClosesTheDeviceAndIsIdempotent() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    QTest::qWait(20);
    QElapsedTimer clock;
    clock.start();
    io.stop();
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!sim.board->isOpen());
    const int reads = sim.board->readCalls();
    io.stop();
    QTest::qWait(50);
    QCOMPARE(sim.board->readCalls(), reads);
    QCOMPARE(sim.board->closeCount(), 1);
    // Stopping is not a loss.
    QVERIFY(!io.lost());
}

void DeviceIoTest::stopLeavesAStuckWriteToCloseTheDeviceAfterIt() {
    OpenSim sim;
    const auto board = sim.board;
    std::atomic<int> notices{0};
    {
        DeviceIo io(std::move(sim.device), [&] { ++notices; });
        board->setWriteStall(true);
        // The link's own wait, not less: a report the thread has not taken when the write gives
        // up never goes out, and on a loaded machine the thread may first run 50 ms later.
        QCOMPARE(io.write(frame(board::kSetOutputs, 1), 500ms), DeviceIo::Write::TimedOut);
        const test::StallBreaker breaker(board, 1000ms);
        QElapsedTimer clock;
        clock.start();
        io.stop(); // and the object goes right after
        QVERIFY2(clock.elapsed() < 50, qPrintable(QString::number(clock.elapsed())));
    }
    // The write is still in the device, so the device is still open.
    QTest::qWait(50);
    QVERIFY(board->isOpen());
    QCOMPARE(board->stuckWrites(), 1);
    // Once the write fails the thread closes the device and ends, telling nobody.
    board->unplug();
    QTRY_VERIFY(!board->isOpen());
    QCOMPARE(board->closeCount(), 1);
    QCOMPARE(board->closesDuringCalls(), 0);
    QTest::qWait(20);
    QCOMPARE(notices.load(), 0);
}

void DeviceIoTest::cancelEndsEveryWaitAtOnceAndStopLeavesARunningRead() {
    OpenSim sim;
    const auto board = sim.board;
    board->setStall(true); // takes reports, never answers
    DeviceIo io(std::move(sim.device), nullptr);
    QCOMPARE(io.write(frame(board::kReadInputs, 0), 500ms), DeviceIo::Write::Sent);
    // A reader waits for the answer; another thread cancels 100 ms in.
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        io.cancel();
    });
    QElapsedTimer clock;
    clock.start();
    std::vector<std::uint8_t> report;
    QCOMPARE(io.waitForReport(2000ms, report), DeviceIo::Wait::Stopped);
    canceller.join();
    QVERIFY2(clock.elapsed() < 150, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(io.write(frame(board::kSetOutputs, 1), 500ms), DeviceIo::Write::Stopped);
    // The thread is still in the reader's read, which nothing cuts short: stop() leaves it
    // there and the device goes when the read runs out.
    clock.restart();
    io.stop();
    QVERIFY2(clock.elapsed() < 20, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(board->isOpen());
    QTRY_VERIFY(!board->isOpen());
    QCOMPARE(board->closesDuringCalls(), 0);
    QVERIFY(!io.lost());
}

void DeviceIoTest::aWriteTheSystemGivesUpIsNotALoss() {
    OpenSim sim;
    const auto board = sim.board;
    std::atomic<int> notices{0};
    DeviceIo io(std::move(sim.device), [&] { ++notices; });
    board->setWriteStall(true);
    board->setSystemWriteTimeoutMs(100);
    std::string reason;
    QCOMPARE(io.write(frame(board::kSetOutputs, 1), 500ms, &reason), DeviceIo::Write::NotTaken);
    QCOMPARE(reason, std::string("Connection timed out"));
    QVERIFY(!io.lost());
    board->setWriteStall(false);
    QCOMPARE(io.write(frame(board::kSetOutputs, 2), 500ms), DeviceIo::Write::Sent);
    QCOMPARE(board->outputs(), 2);
    // The same failure with the board gone is a loss: the look after it fails too.
    board->setWriteStall(true);
    std::thread unplug([&] {
        std::this_thread::sleep_for(30ms);
        board->unplug();
    });
    QCOMPARE(io.write(frame(board::kSetOutputs, 3), 500ms), DeviceIo::Write::Lost);
    unplug.join();
    QVERIFY(io.lost());
    QCOMPARE(notices.load(), 1);
}

QTEST_GUILESS_MAIN(DeviceIoTest)
#include "tst_device_io.moc"
