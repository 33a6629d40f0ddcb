// The board's I/O thread: it hands reports over in order and drops those from before a write,
// reports an unplug once and promptly, sleeps while idle, and when stopped closes the device, but
// never under a call that is still running, and tells its owner nothing more. (What a stalled
// board does to the link's calls is shown through HIDComm, in tst_hidcomm.)

#include "board_facts.h"
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
    void unplugIsReportedOnceAndPromptly();
    void reportsQueuedBeforeLossAreStillHandedOut();
    void idleThreadSleeps();
    void stopClosesTheDeviceAndIsIdempotent();
    void stopLeavesAStuckWriteToCloseTheDeviceAfterIt();
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
    sim.board->pushInputReport({9});
    QTRY_COMPARE(sim.board->pendingInputReports(), std::size_t(0)); // the thread has it
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
    QTRY_COMPARE(sim.board->pendingInputReports(), std::size_t(0));
    QCOMPARE(take(io), (std::vector<std::uint8_t>{8}));
}

void DeviceIoTest::unplugIsReportedOnceAndPromptly() {
    OpenSim sim;
    std::atomic<int> notices{0};
    DeviceIo io(std::move(sim.device), [&] { ++notices; });
    QTest::qWait(30); // let the thread block in its read
    QElapsedTimer clock;
    clock.start();
    sim.board->unplug();
    std::vector<std::uint8_t> report;
    QCOMPARE(io.waitForReport(1000ms, report), DeviceIo::Wait::Lost);
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(io.lost());
    QVERIFY(!io.lossReason().empty());
    // The owner's notice follows the recorded loss at once, and only once (checked below).
    QTRY_COMPARE_WITH_TIMEOUT(notices.load(), 1, 100);
    // The thread has stopped reading and closed the failed handle.
    QTRY_COMPARE_WITH_TIMEOUT(sim.board->closeCount(), 1, 100);
    const int reads = sim.board->readCalls();
    QTest::qWait(50);
    QCOMPARE(sim.board->readCalls(), reads);
    QCOMPARE(io.waitForReport(10ms, report), DeviceIo::Wait::Lost);
    QCOMPARE(io.write(frame(board::kSetOutputs, 1), 100ms), DeviceIo::Write::Lost);
    QCOMPARE(notices.load(), 1);
}

void DeviceIoTest::reportsQueuedBeforeLossAreStillHandedOut() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    sim.board->pushInputReport({0x42});
    QTRY_COMPARE(sim.board->pendingInputReports(), std::size_t(0));
    sim.board->unplug();
    QTRY_VERIFY(io.lost());
    QCOMPARE(take(io), (std::vector<std::uint8_t>{0x42}));
    std::vector<std::uint8_t> report;
    QCOMPARE(io.waitForReport(10ms, report), DeviceIo::Wait::Lost);
}

void DeviceIoTest::idleThreadSleeps() {
    OpenSim sim;
    DeviceIo io(std::move(sim.device), nullptr);
    QTest::qWait(600);
    // Each read blocks for a whole slice; a spinning thread would make thousands of calls.
    const int slices = 600 / static_cast<int>(DeviceIo::kIdleSlice.count());
    QVERIFY2(sim.board->readCalls() <= slices + 2,
             qPrintable(QString::number(sim.board->readCalls())));
}

void DeviceIoTest::stopClosesTheDeviceAndIsIdempotent() {
    OpenSim sim;
    DeviceIo::Options longSlices;
    longSlices.idleSlice = 5000ms;
    DeviceIo io(std::move(sim.device), nullptr, longSlices);
    QTest::qWait(20);
    QElapsedTimer clock;
    clock.start();
    io.stop();
    // The simulated device cuts its read short; hidapi's would run out its slice.
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
        QCOMPARE(io.write(frame(board::kSetOutputs, 1), 50ms), DeviceIo::Write::TimedOut);
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

QTEST_GUILESS_MAIN(DeviceIoTest)
#include "tst_device_io.moc"
