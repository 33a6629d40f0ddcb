// The C library as a C program meets it: result codes, tarnovid_last_error()'s words, the time
// every call may take, the list, threads; on simulated boards handed in for the system's devices,
// and on the built-in demo board.

#include "backend_hook.h"
#include "board_facts.h"
#include "board_report.h"
#include "sim_board.h"
#include "stall_breaker.h"

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <tarnovid.h>
#include <thread>
#include <vector>

using namespace tarnovid;

namespace {

std::string lastError() { return tarnovid_last_error(); }

// A board opened on `devices` for the system's, or the code the open failed with.
struct Opened {
    int code = -1;
    tarnovid_board* board = nullptr;
    std::string error;
    ~Opened() { tarnovid_close(board); }
};

void openOn(Opened& opened, std::shared_ptr<HidBackend> devices, const char* path = nullptr) {
    const lib::SystemDevicesOverride use(std::move(devices));
    opened.board = reinterpret_cast<tarnovid_board*>(&opened); // must be reset on failure
    opened.code = tarnovid_open(path, &opened.board);
    opened.error = lastError();
}

class BusyBackend : public SimBackend {
public:
    std::unique_ptr<HidDevice> open(const std::string&, std::string* error) override {
        *error = "Device or resource busy";
        return nullptr;
    }
};

// The system's device list itself fails (udev gone, out of memory).
class BrokenBackend : public SimBackend {
public:
    std::vector<HidDeviceInfo> enumerate(std::uint16_t, std::uint16_t) override {
        throw std::runtime_error("the device list is gone");
    }
};

double msSince(const QElapsedTimer& clock) { return double(clock.nsecsElapsed()) / 1e6; }

void sleepUntil(const QElapsedTimer& clock, int ms) {
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms - msSince(clock)));
}

} // namespace

class LibTarnovidTest : public QObject {
    Q_OBJECT
private slots:
    void everyCallRefusesWhatItCannotUse();
    void demoBoardIsWiredAndOneBoardPerProgram();
    void failingDemoBoardsFailAsTheirNamesSay();
    void openFailuresHaveTheirCodesAndWords();
    void callsAreBoundedWhateverTheBoardDoes();
    void oneBoardFromSeveralThreads();
    void closeMayComeFromAnyThreadAtAnyMoment_data();
    void closeMayComeFromAnyThreadAtAnyMoment();
    void aBoardStillThereIsNeverLost();
    void waitOpensTheBoardOnceItIsThere();
    void eachBoardHasItsTimeOutAndItsDetails();
    void listGivesEveryFieldAndWhatDiffers();
};

void LibTarnovidTest::everyCallRefusesWhatItCannotUse() {
    unsigned char inputs = 0x55;
    QCOMPARE(tarnovid_open(nullptr, nullptr), TARNOVID_BAD_ARGUMENT);
    QVERIFY2(lastError().find("board is NULL") != std::string::npos, tarnovid_last_error());
    tarnovid_board* board = nullptr;
    QCOMPARE(tarnovid_open("", &board), TARNOVID_BAD_ARGUMENT);
    QVERIFY(board == nullptr);
    QCOMPARE(tarnovid_set_outputs(nullptr, 1), TARNOVID_BAD_ARGUMENT);
    QCOMPARE(tarnovid_read_inputs(nullptr, &inputs), TARNOVID_BAD_ARGUMENT);
    QCOMPARE(tarnovid_list(1, nullptr), TARNOVID_BAD_ARGUMENT);
    QCOMPARE(tarnovid_open(TARNOVID_DEMO, &board), TARNOVID_OK);
    QCOMPARE(lastError(), std::string()); // a call that succeeds leaves nothing behind
    QCOMPARE(tarnovid_read_inputs(board, nullptr), TARNOVID_BAD_ARGUMENT);
    QVERIFY2(lastError() == "tarnovid_read_inputs: inputs is NULL", tarnovid_last_error());
    QCOMPARE(inputs, 0x55); // left alone
    tarnovid_close(board);
    tarnovid_close(nullptr);
    tarnovid_free_list(nullptr);

    // Each code has its own words, and a code the library never returns is said to be unknown.
    std::set<std::string> texts;
    for (int code = TARNOVID_OK; code <= TARNOVID_BOARD_LOST; ++code)
        texts.insert(tarnovid_strerror(code));
    QCOMPARE(texts.size(), std::size_t(7));
    QCOMPARE(std::string(tarnovid_strerror(42)), std::string("unknown result code"));
    QCOMPARE(std::string(tarnovid_version()), std::string(TARNOVID_TEST_VERSION));

    // The detail belongs to the thread that failed.
    std::thread([] { tarnovid_set_outputs(nullptr, 0); }).join();
    QCOMPARE(lastError(), std::string("tarnovid_read_inputs: inputs is NULL"));
}

void LibTarnovidTest::demoBoardIsWiredAndOneBoardPerProgram() {
    tarnovid_board* writer = nullptr;
    tarnovid_board* reader = nullptr;
    QCOMPARE(tarnovid_open(TARNOVID_DEMO, &writer), TARNOVID_OK);
    QCOMPARE(tarnovid_open(TARNOVID_DEMO, &reader), TARNOVID_OK);
    // T2, T3, T4 follow D0, D1, D2; the other outputs reach no input. What one handle writes the
    // other reads: both are the same board, as two programs share a real one.
    for (int outputs = 0; outputs < 256; ++outputs) {
        unsigned char inputs = 0xFF;
        QCOMPARE(tarnovid_set_outputs(writer, static_cast<unsigned char>(outputs)), TARNOVID_OK);
        QCOMPARE(tarnovid_read_inputs(reader, &inputs), TARNOVID_OK);
        QCOMPARE(int(inputs), outputs & 0x07);
    }
    tarnovid_close(writer);
    tarnovid_close(reader);

    // The demo board is no system device: never listed, never taken for the first board.
    auto nothing = std::make_shared<SimBackend>();
    const lib::SystemDevicesOverride use(nothing);
    tarnovid_device* devices = nullptr;
    QCOMPARE(tarnovid_list(1, &devices), TARNOVID_OK);
    QVERIFY(devices == nullptr);
    QCOMPARE(tarnovid_open(nullptr, &writer), TARNOVID_NO_BOARD);
}

void LibTarnovidTest::failingDemoBoardsFailAsTheirNamesSay() {
    for (const char* wrong : {"demo:nope", "demo:", "demo:noreply=1", "demo:replug-after",
                              "demo:unplug-after=", "demo:unplug-after=-5", "demo:unplug-after=1x",
                              "demo:unplug-after=0"}) {
        tarnovid_board* board = reinterpret_cast<tarnovid_board*>(&wrong);
        QVERIFY2(tarnovid_open(wrong, &board) == TARNOVID_BAD_ARGUMENT, wrong);
        QVERIFY(board == nullptr);
        QVERIFY2(lastError().starts_with(std::string(wrong) + ": "), tarnovid_last_error());
    }
    QCOMPARE(lastError(), std::string("demo:unplug-after=0: unplug-after needs =MS, whole "
                                      "milliseconds from 1 to 86400000"));
    tarnovid_board* board = nullptr;
    QCOMPARE(tarnovid_open("demo:nope", &board), TARNOVID_BAD_ARGUMENT);
    QCOMPARE(lastError(), std::string("demo:nope: no such demo board; there are demo, "
                                      "demo:noreply, demo:stall, demo:short, "
                                      "demo:unplug-after=MS, demo:replug-after=MS"));

    QElapsedTimer clock;
    unsigned char inputs = 0;
    auto inTime = [&](double from, double to) {
        const double ms = msSince(clock);
        return ms >= from && ms < to;
    };
    // Takes reports; a read waits out its time.
    QCOMPARE(tarnovid_open("demo:noreply", &board), TARNOVID_OK);
    QCOMPARE(tarnovid_set_outputs(board, 0x01), TARNOVID_OK);
    clock.start();
    QCOMPARE(tarnovid_read_inputs(board, &inputs), TARNOVID_NO_ANSWER);
    QVERIFY2(inTime(TARNOVID_TIMEOUT_MS, TARNOVID_TIMEOUT_MS + 300),
             qPrintable(QString::number(msSince(clock))));
    tarnovid_close(board);

    // Takes no report: the set is not taken in time, and closing does not wait for it.
    QCOMPARE(tarnovid_open("demo:stall", &board), TARNOVID_OK);
    clock.restart();
    QCOMPARE(tarnovid_set_outputs(board, 0x01), TARNOVID_NO_ANSWER);
    QVERIFY2(inTime(TARNOVID_TIMEOUT_MS, TARNOVID_TIMEOUT_MS + 300),
             qPrintable(QString::number(msSince(clock))));
    QVERIFY2(lastError().starts_with("not taken: "), tarnovid_last_error());
    clock.restart();
    tarnovid_close(board);
    QVERIFY(msSince(clock) < 100);

    // One byte is a whole answer; an empty one is none, and the answer after it comes again.
    QCOMPARE(tarnovid_open("demo:short", &board), TARNOVID_OK);
    QCOMPARE(tarnovid_set_outputs(board, 0x05), TARNOVID_OK);
    QCOMPARE(tarnovid_read_inputs(board, &inputs), TARNOVID_OK);
    QCOMPARE(inputs, 0x05);
    clock.restart();
    QCOMPARE(tarnovid_read_inputs(board, &inputs), TARNOVID_NO_ANSWER);
    QVERIFY2(inTime(TARNOVID_TIMEOUT_MS, TARNOVID_TIMEOUT_MS + 300),
             qPrintable(QString::number(msSince(clock))));
    inputs = 0;
    QCOMPARE(tarnovid_read_inputs(board, &inputs), TARNOVID_OK);
    QCOMPARE(inputs, 0x05);
    tarnovid_close(board);

    // Works until its time after the first open, then is lost, and stays away. Its "no board"
    // never comes from the system's devices, which here cannot even be listed.
    const lib::SystemDevicesOverride unlistable(std::make_shared<BrokenBackend>());
    constexpr int kPeriod = 300;
    clock.restart();
    QCOMPARE(tarnovid_open("demo:unplug-after=300", &board), TARNOVID_OK);
    QCOMPARE(tarnovid_set_outputs(board, 0x02), TARNOVID_OK);
    QCOMPARE(tarnovid_read_inputs(board, &inputs), TARNOVID_OK);
    QCOMPARE(inputs, 0x02);
    QVERIFY(msSince(clock) < kPeriod);
    sleepUntil(clock, kPeriod + 50);
    QCOMPARE(tarnovid_read_inputs(board, &inputs), TARNOVID_BOARD_LOST);
    tarnovid_close(board);
    sleepUntil(clock, 3 * kPeriod);
    QCOMPARE(tarnovid_open("demo:unplug-after=300", &board), TARNOVID_NO_BOARD);
    QCOMPARE(lastError(), std::string("no board at demo:unplug-after=300"));

    // Lost after its time, away for as long, then back: lost, closed, opened again, carry on.
    clock.restart();
    QCOMPARE(tarnovid_open("demo:replug-after=300", &board), TARNOVID_OK);
    QCOMPARE(tarnovid_set_outputs(board, 0x04), TARNOVID_OK);
    sleepUntil(clock, kPeriod + 50);
    QCOMPARE(tarnovid_set_outputs(board, 0x04), TARNOVID_BOARD_LOST);
    tarnovid_close(board);
    QCOMPARE(tarnovid_open("demo:replug-after=300", &board), TARNOVID_NO_BOARD);
    int code = TARNOVID_NO_BOARD;
    while (code == TARNOVID_NO_BOARD && msSince(clock) < 5 * kPeriod) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        code = tarnovid_open("demo:replug-after=300", &board);
    }
    QCOMPARE(code, TARNOVID_OK);
    QVERIFY2(inTime(2 * kPeriod, 2 * kPeriod + 100), qPrintable(QString::number(msSince(clock))));
    QCOMPARE(tarnovid_read_inputs(board, &inputs), TARNOVID_OK);
    QCOMPARE(inputs, 0x04); // the same board: what was set before it went is still set
    tarnovid_close(board);
}

void LibTarnovidTest::openFailuresHaveTheirCodesAndWords() {
    Opened none;
    openOn(none, std::make_shared<SimBackend>());
    QCOMPARE(none.code, TARNOVID_NO_BOARD);
    QVERIFY(none.board == nullptr);
    QCOMPARE(none.error, std::string("no board found"));

    auto backend = std::make_shared<SimBackend>();
    HidDeviceInfo newer = tarnovidDeviceInfo("sim/c");
    newer.releaseNumber = 2;
    newer.bus = HidBus::Bluetooth;
    backend->addBoard(newer);
    Opened lookalike;
    openOn(lookalike, backend);
    QCOMPARE(lookalike.error,
             std::string("no board found; 1 other 1234:0001 device does not match"));
    Opened atLookalike;
    openOn(atLookalike, backend, "sim/c");
    QCOMPARE(atLookalike.code, TARNOVID_NO_BOARD);
    QCOMPARE(atLookalike.error, std::string("no board at sim/c: it differs in release, bus"));

    // A refusal names the board and the system's reason; for want of permission it says what to
    // do, and the code tells the two apart.
    auto board = backend->addTarnovid("sim/\x1b[31mred\n");
    board->setRefuseOpen(true);
    Opened denied;
    openOn(denied, backend);
    QCOMPARE(denied.code, TARNOVID_ACCESS_DENIED);
    QVERIFY(denied.board == nullptr);
    QVERIFY2(
        denied.error.starts_with("access denied to sim/\\u{001b}[31mred\\n (Permission denied)"),
        denied.error.c_str());
    QVERIFY(denied.error.find_first_of("\n\r\x1b") == std::string::npos); // one line, no controls
#ifdef Q_OS_LINUX
    QVERIFY(denied.error.find("70-tarnovid.rules") != std::string::npos);
#endif
    auto busy = std::make_shared<BusyBackend>();
    busy->addTarnovid();
    Opened held;
    openOn(held, busy);
    QCOMPARE(held.code, TARNOVID_FAILED);
    QCOMPARE(held.error, std::string("cannot open sim/tarnovid-0: Device or resource busy"));

    // Whatever the system throws stays inside: a code comes back, not an exception.
    Opened broken;
    openOn(broken, std::make_shared<BrokenBackend>());
    QCOMPARE(broken.code, TARNOVID_FAILED);
    QCOMPARE(broken.error, std::string("cannot look for boards: the device list is gone"));
    {
        const lib::SystemDevicesOverride use(std::make_shared<BrokenBackend>());
        tarnovid_device* devices = nullptr;
        QCOMPARE(tarnovid_list(0, &devices), TARNOVID_FAILED);
        QCOMPARE(lastError(), std::string("cannot look for boards: the device list is gone"));
    }
    auto noThreads = std::make_shared<SimBackend>();
    auto spare = noThreads->addTarnovid("sim/a");
    noThreads->setThreadStartFails(true);
    Opened unserved;
    openOn(unserved, noThreads, "sim/a"); // by path too: the path's filter keeps the fault
    QCOMPARE(unserved.code, TARNOVID_FAILED);
    QVERIFY2(unserved.error.starts_with("cannot open sim/a: cannot start its I/O thread"),
             unserved.error.c_str());
    QCOMPARE(spare->openCount(), spare->closeCount()); // nothing half-open left behind
}

void LibTarnovidTest::callsAreBoundedWhateverTheBoardDoes() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    Opened opened;
    openOn(opened, backend);
    QCOMPARE(opened.code, TARNOVID_OK);
    tarnovid_board* handle = opened.board;
    unsigned char inputs = 0;

    board->setInputs(0x05);
    board->setAnswerLength(1); // a one-byte answer carries all there is
    QCOMPARE(tarnovid_read_inputs(handle, &inputs), TARNOVID_OK);
    QCOMPARE(inputs, 0x05);
    QCOMPARE(board->writes().back(), test::boardReport(board::kReadInputs, 0x00));

    // A board that never answers: the read gives up after the link's wait, not later.
    board->setStall(true);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(tarnovid_read_inputs(handle, &inputs), TARNOVID_NO_ANSWER);
    QVERIFY2(msSince(clock) >= TARNOVID_TIMEOUT_MS && msSince(clock) < 2 * TARNOVID_TIMEOUT_MS,
             qPrintable(QString::number(msSince(clock))));
    QCOMPARE(lastError(), std::string("no answer: the board did not answer within 500 ms"));
    board->setStall(false);

    // A board that stops taking reports: the set gives up after the wait; the read after it fails
    // at once, since its request could not even be sent; closing does not wait for the report
    // still stuck in the device.
    board->setWriteStall(true);
    const test::StallBreaker breaker(board, std::chrono::seconds(5));
    clock.restart();
    QCOMPARE(tarnovid_set_outputs(handle, 0x81), TARNOVID_NO_ANSWER);
    QVERIFY2(msSince(clock) < TARNOVID_TIMEOUT_MS + 300,
             qPrintable(QString::number(msSince(clock))));
    QVERIFY2(lastError().starts_with("not taken: "), tarnovid_last_error());
    clock.restart();
    QCOMPARE(tarnovid_read_inputs(handle, &inputs), TARNOVID_NO_ANSWER);
    QVERIFY(msSince(clock) < 100);
    clock.restart();
    tarnovid_close(handle);
    opened.board = nullptr;
    QVERIFY2(msSince(clock) < 100, qPrintable(QString::number(msSince(clock))));
    board->setWriteStall(false);

    // Unplugged during a read: lost at once, and the board stays lost until opened again.
    openOn(opened, backend);
    board->setAnswerDelayMs(300);
    std::thread unplug([board] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        board->unplug();
    });
    clock.restart();
    QCOMPARE(tarnovid_read_inputs(opened.board, &inputs), TARNOVID_BOARD_LOST);
    unplug.join();
    QVERIFY(msSince(clock) < 250);
    QVERIFY2(lastError().starts_with("board lost: "), tarnovid_last_error());
    board->plug();
    QCOMPARE(tarnovid_set_outputs(opened.board, 1), TARNOVID_BOARD_LOST);
    QVERIFY2(lastError().find("open it again") != std::string::npos, tarnovid_last_error());
}

void LibTarnovidTest::oneBoardFromSeveralThreads() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    board->wireInputsToOutputs(true);
    board->setAnswerDelayMs(1);
    Opened opened;
    openOn(opened, backend);
    QCOMPARE(opened.code, TARNOVID_OK);

    // Many calls from four threads at once all succeed, one at a time on the link; every read
    // gets an answer of its own request, so the board sees exactly one request per call.
    constexpr int kThreads = 4;
    constexpr int kRounds = 100;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                unsigned char inputs = 0;
                if (tarnovid_set_outputs(opened.board, static_cast<unsigned char>(t)) != 0 ||
                    tarnovid_read_inputs(opened.board, &inputs) != 0 || inputs > 0x07)
                    ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(board->writes().size(), std::size_t(2 * kThreads * kRounds));

    // Behind a board that never answers, each call waits its turn for a bounded time: a queue of
    // reads longer than that wait fails with the code of a board that did not answer.
    board->setStall(true);
    constexpr int kWaiting = 6;
    std::vector<std::string> said(kWaiting);
    std::vector<double> took(kWaiting);
    std::vector<int> codes(kWaiting);
    threads.clear();
    for (int t = 0; t < kWaiting; ++t)
        threads.emplace_back([&, t] {
            QElapsedTimer clock;
            clock.start();
            unsigned char inputs = 0;
            codes[t] = tarnovid_read_inputs(opened.board, &inputs);
            took[t] = msSince(clock);
            said[t] = lastError();
        });
    for (std::thread& thread : threads)
        thread.join();
    int waitedInVain = 0;
    for (int t = 0; t < kWaiting; ++t) {
        QCOMPARE(codes[t], TARNOVID_NO_ANSWER);
        QVERIFY2(took[t] < TARNOVID_BUSY_WAIT_MS + TARNOVID_TIMEOUT_MS + 400,
                 qPrintable(QString::number(took[t])));
        waitedInVain += said[t].find("calls of other threads") != std::string::npos;
    }
    QVERIFY(waitedInVain >= 1);

    // Two threads behind each other on that board take turns in the order they came: neither
    // waits longer than the other's one call, so neither gives up waiting.
    threads.clear();
    std::vector<std::string> unfair;
    std::mutex unfairMutex;
    QCOMPARE(tarnovid_set_timeout(opened.board, 100), TARNOVID_OK);
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 4; ++i) {
                unsigned char inputs = 0;
                if (tarnovid_read_inputs(opened.board, &inputs) != TARNOVID_NO_ANSWER ||
                    lastError() != "no answer: the board did not answer within 100 ms") {
                    const std::lock_guard lock(unfairMutex);
                    unfair.push_back(lastError());
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    QVERIFY2(unfair.empty(), unfair.empty() ? "" : unfair.front().c_str());
}

namespace {

// What one call saw: its code, its words, and when it returned.
struct Outcome {
    int code = -1;
    std::string said;
    std::chrono::steady_clock::time_point at;
};

} // namespace

void LibTarnovidTest::closeMayComeFromAnyThreadAtAnyMoment_data() {
    QTest::addColumn<QString>("board");
    QTest::newRow("its writes stall") << "stall";
    QTest::newRow("it never answers") << "noreply";
    QTest::newRow("it is unplugged meanwhile") << "unplug";
}

void LibTarnovidTest::closeMayComeFromAnyThreadAtAnyMoment() {
    QFETCH(QString, board);
    auto backend = std::make_shared<SimBackend>();
    auto sim = backend->addTarnovid();
    sim->setStall(board == "noreply");
    sim->setWriteStall(board == "stall");
    sim->setAnswerDelayMs(board == "unplug" ? 400 : 0);
    const test::StallBreaker breaker(sim, std::chrono::seconds(5));
    tarnovid_board* handle = nullptr;
    {
        const lib::SystemDevicesOverride use(backend);
        QCOMPARE(tarnovid_open(nullptr, &handle), TARNOVID_OK);
    }
    // One thread in a call on the board, two more waiting for their turn behind it.
    using Clock = std::chrono::steady_clock;
    constexpr int kCallers = 3;
    std::vector<Outcome> outcomes(kCallers);
    std::vector<std::thread> callers;
    for (int t = 0; t < kCallers; ++t)
        callers.emplace_back([&, t] {
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * t));
            unsigned char inputs = 0;
            outcomes[t].code =
                t == 1 ? tarnovid_set_outputs(handle, 1) : tarnovid_read_inputs(handle, &inputs);
            outcomes[t].at = Clock::now();
            outcomes[t].said = lastError();
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    if (board == "unplug")
        sim->unplug();
    const auto closing = Clock::now();
    tarnovid_close(handle);
    const auto closed = Clock::now();
    for (std::thread& caller : callers)
        caller.join();

    using std::chrono::milliseconds;
    const auto ms = [](Clock::duration d) { return QString::number(d.count() / 1e6); };
    QVERIFY2(closed - closing < milliseconds(20), qPrintable(ms(closed - closing)));
    for (const Outcome& outcome : outcomes) {
        // Each ends at once: the close, or the unplug just before it, ends its wait.
        QVERIFY2(outcome.at - closing < milliseconds(50), qPrintable(ms(outcome.at - closing)));
        if (board == "unplug")
            QVERIFY2(outcome.code == TARNOVID_CLOSED || outcome.code == TARNOVID_BOARD_LOST,
                     outcome.said.c_str());
        else
            QCOMPARE(outcome.code, TARNOVID_CLOSED);
        QVERIFY2(outcome.code != TARNOVID_CLOSED ||
                     outcome.said == "closed: the board was closed by another thread",
                 outcome.said.c_str());
    }
    // Gone for good: the pointer is known to be no board, and nothing of it is read.
    QCOMPARE(tarnovid_set_outputs(handle, 1), TARNOVID_BAD_ARGUMENT);
    QVERIFY2(lastError().find("not an open board") != std::string::npos, tarnovid_last_error());
    tarnovid_close(handle); // twice: nothing happens
    int notABoard = 0;
    QCOMPARE(tarnovid_set_outputs(reinterpret_cast<tarnovid_board*>(&notABoard), 1),
             TARNOVID_BAD_ARGUMENT);
    QVERIFY(tarnovid_board_info(reinterpret_cast<tarnovid_board*>(&notABoard)) == nullptr);
    // The device itself goes once the board's thread is out of its last call on it.
    sim->setWriteStall(false);
    QTRY_COMPARE(sim->closeCount(), sim->openCount());
}

void LibTarnovidTest::aBoardStillThereIsNeverLost() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    board->wireInputsToOutputs(true);
    Opened opened;
    openOn(opened, backend);
    QCOMPARE(opened.code, TARNOVID_OK);
    unsigned char inputs = 0;

    // The firmware stops taking reports and the system gives the write up (usbhid after USB's
    // 5 s, Windows after 1 s; here 300 ms, before the library's own wait is up): no answer, in
    // the system's words, and the board is still the board.
    board->setWriteStall(true);
    board->setSystemWriteTimeoutMs(300);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(tarnovid_set_outputs(opened.board, 0x01), TARNOVID_NO_ANSWER);
    QVERIFY2(msSince(clock) < TARNOVID_TIMEOUT_MS, qPrintable(QString::number(msSince(clock))));
    QVERIFY2(lastError().starts_with("not taken: ") &&
                 lastError().find("Connection timed out") != std::string::npos,
             tarnovid_last_error());
    // After the library's own wait: the system gives up later, with nobody waiting.
    board->setSystemWriteTimeoutMs(800);
    QCOMPARE(tarnovid_set_outputs(opened.board, 0x02), TARNOVID_NO_ANSWER);
    QTRY_COMPARE(board->stuckWrites(), 0);
    QCOMPARE(tarnovid_read_inputs(opened.board, &inputs), TARNOVID_NO_ANSWER);
    QCOMPARE(lastError(),
             std::string("no answer: the board did not take the report within 500 ms"));
    // The firmware reads again: the same board serves on, once the report held up has gone in.
    board->setWriteStall(false);
    QTRY_COMPARE(tarnovid_set_outputs(opened.board, 0x04), TARNOVID_OK);
    QCOMPARE(tarnovid_read_inputs(opened.board, &inputs), TARNOVID_OK);
    QCOMPARE(inputs, 0x04);
    QCOMPARE(board->openCount(), 1);
}

void LibTarnovidTest::waitOpensTheBoardOnceItIsThere() {
    // A board plugged in during the wait is opened as the system announces it, not at a look.
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    board->unplug();
    const lib::SystemDevicesOverride use(backend);
    tarnovid_board* handle = nullptr;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(tarnovid_wait(nullptr, 100, &handle), TARNOVID_NO_BOARD);
    QVERIFY(handle == nullptr);
    QVERIFY2(msSince(clock) >= 100 && msSince(clock) < 400,
             qPrintable(QString::number(msSince(clock))));
    QCOMPARE(lastError(), std::string("no board found (waited 100 ms)"));

    std::thread plug([board] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        board->plug();
    });
    clock.restart();
    QCOMPARE(tarnovid_wait(nullptr, -1, &handle), TARNOVID_OK);
    plug.join();
    QVERIFY2(msSince(clock) < 150 + 100, qPrintable(QString::number(msSince(clock))));
    QCOMPARE(tarnovid_set_outputs(handle, 1), TARNOVID_OK);

    // Lost, then back: the program closes it and waits for it again.
    board->unplug();
    QCOMPARE(tarnovid_set_outputs(handle, 2), TARNOVID_BOARD_LOST);
    tarnovid_close(handle);
    board->plug();
    QCOMPARE(tarnovid_wait("sim/tarnovid-0", 0, &handle), TARNOVID_OK);
    tarnovid_close(handle);

    // A failure other than "not there" ends the wait at once.
    board->setRefuseOpen(true);
    clock.restart();
    QCOMPARE(tarnovid_wait(nullptr, 2000, &handle), TARNOVID_ACCESS_DENIED);
    QVERIFY(msSince(clock) < 100);
    QCOMPARE(tarnovid_wait(nullptr, 10, nullptr), TARNOVID_BAD_ARGUMENT);
    QCOMPARE(tarnovid_wait("", 10, &handle), TARNOVID_BAD_ARGUMENT);
}

void LibTarnovidTest::eachBoardHasItsTimeOutAndItsDetails() {
    auto backend = std::make_shared<SimBackend>();
    HidDeviceInfo info = tarnovidDeviceInfo("sim/a");
    info.serialNumber = "A1";
    auto board = backend->addBoard(info);
    Opened opened;
    openOn(opened, backend);
    QCOMPARE(opened.code, TARNOVID_OK);

    const tarnovid_device* details = tarnovid_board_info(opened.board);
    QVERIFY(details != nullptr);
    QCOMPARE(std::string(details->path), std::string("sim/a"));
    QCOMPARE(std::string(details->serial), std::string("A1"));
    QCOMPARE(std::string(details->product), std::string(TARNOVID_PRODUCT));
    QCOMPARE(details->bus, TARNOVID_BUS_USB);
    QCOMPARE(details->differs, 0u);
    QVERIFY(details->next == nullptr);

    for (const int wrong : {0, -1, TARNOVID_TIMEOUT_MAX_MS + 1})
        QCOMPARE(tarnovid_set_timeout(opened.board, wrong), TARNOVID_BAD_ARGUMENT);
    QCOMPARE(tarnovid_set_timeout(nullptr, 100), TARNOVID_BAD_ARGUMENT);
    QCOMPARE(tarnovid_set_timeout(opened.board, TARNOVID_TIMEOUT_MAX_MS), TARNOVID_OK);
    // A short time-out is the wait of the next call, and of no other board.
    QCOMPARE(tarnovid_set_timeout(opened.board, 60), TARNOVID_OK);
    board->setStall(true);
    unsigned char inputs = 0;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(tarnovid_read_inputs(opened.board, &inputs), TARNOVID_NO_ANSWER);
    QVERIFY2(msSince(clock) >= 60 && msSince(clock) < 200,
             qPrintable(QString::number(msSince(clock))));
    QCOMPARE(lastError(), std::string("no answer: the board did not answer within 60 ms"));
    tarnovid_board* demo = nullptr;
    QCOMPARE(tarnovid_open(TARNOVID_DEMO, &demo), TARNOVID_OK);
    QCOMPARE(tarnovid_read_inputs(demo, &inputs), TARNOVID_OK);
    // A demo board's path opens it again.
    QCOMPARE(std::string(tarnovid_board_info(demo)->path), std::string(TARNOVID_DEMO));
    // Still there once the board is lost, gone once it is closed.
    board->unplug();
    QCOMPARE(tarnovid_read_inputs(opened.board, &inputs), TARNOVID_BOARD_LOST);
    QVERIFY(tarnovid_board_info(opened.board) == details);
    tarnovid_close(demo);
    QVERIFY(tarnovid_board_info(demo) == nullptr);
    QVERIFY2(lastError().find("not an open board") != std::string::npos, tarnovid_last_error());

    QCOMPARE(tarnovid_version_number(), TARNOVID_VERSION_NUMBER);
    QCOMPARE(TARNOVID_VERSION_NUMBER,
             TARNOVID_MAKE_VERSION(TARNOVID_VERSION_MAJOR, TARNOVID_VERSION_MINOR,
                                   TARNOVID_VERSION_PATCH));
    QCOMPARE(QString::fromUtf8(tarnovid_version()), QStringLiteral("%1.%2.%3")
                                                        .arg(TARNOVID_VERSION_MAJOR)
                                                        .arg(TARNOVID_VERSION_MINOR)
                                                        .arg(TARNOVID_VERSION_PATCH));
}

void LibTarnovidTest::listGivesEveryFieldAndWhatDiffers() {
    auto backend = std::make_shared<SimBackend>();
    HidDeviceInfo second = tarnovidDeviceInfo("sim/b");
    HidDeviceInfo first = tarnovidDeviceInfo("sim/a");
    first.serialNumber = "A1";
    HidDeviceInfo odd = tarnovidDeviceInfo("sim/0"); // sorts first by path, but is no board
    odd.manufacturer = "DRAVELKO";
    odd.product = "USB Tarnovid \xe2\x9c\x93";
    odd.bus = HidBus::I2c;
    HidDeviceInfo mouse = tarnovidDeviceInfo("sim/m");
    mouse.vendorId = 0x046d; // not even a lookalike
    auto secondBoard = backend->addBoard(second);
    backend->addBoard(odd);
    auto firstBoard = backend->addBoard(first);
    backend->addBoard(mouse);
    const lib::SystemDevicesOverride use(backend);

    tarnovid_device* boards = nullptr;
    QCOMPARE(tarnovid_list(0, &boards), TARNOVID_OK);
    QVERIFY(boards != nullptr && boards->next != nullptr && boards->next->next == nullptr);
    QCOMPARE(std::string(boards->path), std::string("sim/a"));
    QCOMPARE(std::string(boards->serial), std::string("A1"));
    QCOMPARE(std::string(boards->manufacturer), std::string(TARNOVID_MANUFACTURER));
    QCOMPARE(std::string(boards->product), std::string(TARNOVID_PRODUCT));
    QCOMPARE(int(boards->vendor_id), TARNOVID_VENDOR_ID);
    QCOMPARE(int(boards->product_id), TARNOVID_PRODUCT_ID);
    QCOMPARE(int(boards->release), TARNOVID_RELEASE);
    QCOMPARE(boards->bus, TARNOVID_BUS_USB);
    QCOMPARE(boards->differs, 0u);
    QCOMPARE(std::string(boards->next->path), std::string("sim/b"));
    tarnovid_free_list(boards);

    tarnovid_device* all = nullptr;
    QCOMPARE(tarnovid_list(1, &all), TARNOVID_OK);
    // The boards, then the lookalike, then every other HID device: a board whose firmware gives
    // another vendor is listed too, and says so.
    const tarnovid_device* lookalike = all->next->next;
    QVERIFY(lookalike != nullptr);
    QCOMPARE(std::string(lookalike->path), std::string("sim/0"));
    QCOMPARE(lookalike->differs, unsigned(TARNOVID_DIFFERS_MANUFACTURER | TARNOVID_DIFFERS_PRODUCT |
                                          TARNOVID_DIFFERS_BUS));
    QCOMPARE(lookalike->bus, TARNOVID_BUS_I2C);
    QCOMPARE(std::string(lookalike->product), odd.product);
    const tarnovid_device* last = lookalike->next;
    QVERIFY(last != nullptr && last->next == nullptr);
    QCOMPARE(std::string(last->path), std::string("sim/m"));
    QCOMPARE(last->differs, unsigned(TARNOVID_DIFFERS_VENDOR_ID));
    QCOMPARE(std::string(tarnovid_field_name(last->differs)), std::string("vendor"));
    QCOMPARE(std::string(tarnovid_bus_name(lookalike->bus)), std::string("I2C"));
    QCOMPARE(std::string(tarnovid_field_name(TARNOVID_DIFFERS_PRODUCT_ID)),
             std::string("product_id"));
    QCOMPARE(std::string(tarnovid_field_name(3)), std::string()); // two bits are no one field
    QCOMPARE(std::string(tarnovid_bus_name(42)), std::string("unknown"));
    tarnovid_free_list(all);

    // The first board in that order is the one opened without a path.
    tarnovid_board* board = nullptr;
    QCOMPARE(tarnovid_open(nullptr, &board), TARNOVID_OK);
    tarnovid_close(board);
    QCOMPARE(firstBoard->openCount(), 1);
    QCOMPARE(secondBoard->openCount(), 0);
}

QTEST_MAIN(LibTarnovidTest)
#include "tst_libtarnovid.moc"
