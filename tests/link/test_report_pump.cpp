// The reader thread: it hands reports over in order, reports an unplug once and promptly, sleeps
// while idle and stops when told.

#include "report_pump.h"
#include "sim_board.h"

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

std::vector<std::uint8_t> take(ReportPump& pump, std::chrono::milliseconds timeout = 1000ms) {
    std::vector<std::uint8_t> report;
    if (pump.waitForReport(timeout, report) != ReportPump::Wait::Report)
        return {0xEE, 0xEE, 0xEE}; // never a report these tests push
    return report;
}

} // namespace

class ReportPumpTest : public QObject {
    Q_OBJECT
private slots:
    void reportsArriveInOrder();
    void waitWithoutReportTimesOut();
    void discardForgetsQueuedReports();
    void oldestReportsGiveWayWhenNobodyReads();
    void unplugIsReportedOnceAndPromptly();
    void reportsQueuedBeforeLossAreStillHandedOut();
    void idleReaderSleeps();
    void stopEndsTheReaderAndIsIdempotent();
};

void ReportPumpTest::reportsArriveInOrder() {
    OpenSim sim;
    ReportPump pump(*sim.device, nullptr);
    sim.board->pushInputReport({1, 2, 3});
    sim.board->pushInputReport({4});
    QCOMPARE(take(pump), (std::vector<std::uint8_t>{1, 2, 3}));
    QCOMPARE(take(pump), (std::vector<std::uint8_t>{4}));
}

void ReportPumpTest::waitWithoutReportTimesOut() {
    OpenSim sim;
    ReportPump pump(*sim.device, nullptr);
    std::vector<std::uint8_t> report;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(pump.waitForReport(120ms, report), ReportPump::Wait::TimedOut);
    QVERIFY2(clock.elapsed() >= 119, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!pump.lost());
}

void ReportPumpTest::discardForgetsQueuedReports() {
    OpenSim sim;
    ReportPump pump(*sim.device, nullptr);
    sim.board->pushInputReport({9});
    QTRY_COMPARE(sim.board->pendingInputReports(), std::size_t(0)); // the reader has it
    pump.discardQueued();
    sim.board->pushInputReport({10});
    QCOMPARE(take(pump), (std::vector<std::uint8_t>{10}));
}

void ReportPumpTest::oldestReportsGiveWayWhenNobodyReads() {
    OpenSim sim;
    ReportPump pump(*sim.device, nullptr);
    const int pushed = static_cast<int>(ReportPump::kMaxQueued) + 8;
    for (int i = 0; i < pushed; ++i)
        sim.board->pushInputReport({static_cast<std::uint8_t>(i)});
    QTRY_COMPARE(sim.board->pendingInputReports(), std::size_t(0));
    QCOMPARE(take(pump), (std::vector<std::uint8_t>{8}));
}

void ReportPumpTest::unplugIsReportedOnceAndPromptly() {
    OpenSim sim;
    std::atomic<int> notices{0};
    ReportPump pump(*sim.device, [&] { ++notices; });
    QTest::qWait(30); // let the reader block in its read
    QElapsedTimer clock;
    clock.start();
    sim.board->unplug();
    std::vector<std::uint8_t> report;
    QCOMPARE(pump.waitForReport(1000ms, report), ReportPump::Wait::Lost);
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(pump.lost());
    // The owner's notice follows the recorded loss at once, and only once (checked below).
    QTRY_COMPARE_WITH_TIMEOUT(notices.load(), 1, 100);
    // The reader has stopped reading: the failed handle is not read again.
    const int reads = sim.board->readCalls();
    QTest::qWait(50);
    QCOMPARE(sim.board->readCalls(), reads);
    QCOMPARE(pump.waitForReport(10ms, report), ReportPump::Wait::Lost);
    QCOMPARE(notices.load(), 1);
}

void ReportPumpTest::reportsQueuedBeforeLossAreStillHandedOut() {
    OpenSim sim;
    ReportPump pump(*sim.device, nullptr);
    sim.board->pushInputReport({0x42});
    QTRY_COMPARE(sim.board->pendingInputReports(), std::size_t(0));
    sim.board->unplug();
    QTRY_VERIFY(pump.lost());
    QCOMPARE(take(pump), (std::vector<std::uint8_t>{0x42}));
    std::vector<std::uint8_t> report;
    QCOMPARE(pump.waitForReport(10ms, report), ReportPump::Wait::Lost);
}

void ReportPumpTest::idleReaderSleeps() {
    OpenSim sim;
    ReportPump pump(*sim.device, nullptr);
    QTest::qWait(600);
    // Each read blocks for a whole slice; a spinning reader would make thousands of calls.
    const int slices = 600 / static_cast<int>(ReportPump::kReadSlice.count());
    QVERIFY2(sim.board->readCalls() <= slices + 2,
             qPrintable(QString::number(sim.board->readCalls())));
}

void ReportPumpTest::stopEndsTheReaderAndIsIdempotent() {
    OpenSim sim;
    ReportPump pump(*sim.device, nullptr, 40ms);
    QTest::qWait(20);
    QElapsedTimer clock;
    clock.start();
    pump.stop();
    QVERIFY(clock.elapsed() < 40 + 100);
    const int reads = sim.board->readCalls();
    pump.stop();
    QTest::qWait(100);
    QCOMPARE(sim.board->readCalls(), reads);
    // Stopping is not a loss.
    QVERIFY(!pump.lost());
}

QTEST_GUILESS_MAIN(ReportPumpTest)
#include "test_report_pump.moc"
