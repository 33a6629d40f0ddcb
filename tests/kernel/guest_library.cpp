// Runs inside the test kernel: the C library as another program uses it, against the board
// emulator through hidapi and the kernel's hidraw. The README's C example runs as installed, then
// this program calls the library itself: per-call times, and the bounds of tarnovid.h against a
// board that never answers, one that stops taking reports, one that goes away and one that comes
// while a program waits for it.

#include "board_process.h"
#include "guest_report.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <mutex>
#include <string>
#include <tarnovid.h>
#include <thread>
#include <vector>

namespace {

using namespace tarnovid::guest;

// usbhid's limit for one output report (USB_CTRL_SET_TIMEOUT): it gives the write up then, with
// "Connection timed out".
constexpr std::chrono::milliseconds kUsbTimeout{5000};

QString exampleProgram() {
    return QCoreApplication::applicationDirPath() + "/tarnovid-running-light";
}

// The kernel lists a gadget's hidraw node a moment after the emulator has plugged it in.
bool boardListed() {
    return QTest::qWaitFor(
        [] {
            tarnovid_device* boards = nullptr;
            const bool listed = tarnovid_list(0, &boards) == TARNOVID_OK && boards != nullptr;
            tarnovid_free_list(boards);
            return listed;
        },
        5000);
}

tarnovid_board* openBoard() {
    tarnovid_board* board = nullptr;
    const int code = tarnovid_open(nullptr, &board);
    check(code == TARNOVID_OK, std::string("the library opens the emulated board: ") +
                                   (code == TARNOVID_OK ? "yes" : tarnovid_last_error()));
    return board;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void exampleAndFigures(BoardProcess& board) {
    QProcess example;
    example.start(exampleProgram(), {});
    const bool finished = example.waitForFinished(15000);
    const QString out = QString::fromLocal8Bit(example.readAllStandardOutput());
    std::printf("  | $ tarnovid-running-light\n");
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        std::printf("  | %s\n", qPrintable(line));
    check(finished && example.exitCode() == 0 &&
              out.startsWith("D0 on: T2=1 T3=0 T4=0\nD1 on: T2=0 T3=1 T4=0\n"
                             "D2 on: T2=0 T3=0 T4=1\nD3 on: T2=0 T3=0 T4=0\n") &&
              out.count('\n') == 8,
          "the C example lights each output in turn and reads T2..T4 following D0..D2");
    check(board.waitForLine("out 64 bytes: fb 80 (+62 zeros)").has_value(),
          "the board received the example's last step, FB 80, as one 64-byte report");

    // A program that keeps the board open pays for the calls alone.
    tarnovid_board* open = openBoard();
    std::vector<double> sets, reads;
    bool right = true;
    for (int i = 0; i < 100; ++i) {
        const auto start = Clock::now();
        right = tarnovid_set_outputs(open, static_cast<unsigned char>(i)) == TARNOVID_OK && right;
        const auto set = Clock::now();
        unsigned char inputs = 0xFF;
        right = tarnovid_read_inputs(open, &inputs) == TARNOVID_OK && inputs == (i & 7) && right;
        sets.push_back(msBetween(start, set));
        reads.push_back(msBetween(set, Clock::now()));
    }
    check(right, "100 sets and reads through the library, each read back as set");
    figure("lib_set_call_median", median(sets));
    figure("lib_read_call_median", median(reads));
    tarnovid_close(open);
}

// Another thread closes the board while a read waits for an answer that never comes: the read
// must end with TARNOVID_CLOSED at once, not when its own wait runs out.
void closeDuringRead(tarnovid_board* open) {
    std::mutex mutex;
    std::condition_variable changed;
    bool reading = false;
    Clock::time_point readStart;
    Clock::time_point returned;
    int code = -1;
    std::thread reader([&] {
        {
            const std::lock_guard lock(mutex);
            reading = true;
            readStart = Clock::now();
        }
        changed.notify_all();
        unsigned char inputs = 0;
        const int result = tarnovid_read_inputs(open, &inputs);
        const auto at = Clock::now();
        const std::lock_guard lock(mutex);
        code = result;
        returned = at;
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return reading; });
    }
    std::this_thread::sleep_until(readStart + std::chrono::milliseconds(150));
    const auto closing = Clock::now();
    tarnovid_close(open);
    const double closeMs = msBetween(closing, Clock::now());
    reader.join();
    const double endMs = msBetween(closing, returned);
    figure("close_returns_ms", closeMs);
    figure("closed_call_returns_ms", endMs);
    check(code == TARNOVID_CLOSED && endMs < 50 && closeMs < 20,
          "a close from another thread 150 ms into a read: the read returns " +
              std::to_string(code) + " " + std::to_string(endMs) + " ms after the close began, " +
              "the close takes " + std::to_string(closeMs) + " ms");
}

void neverAnswers(const QString& program) {
    BoardProcess board(program, {"--never-answer"});
    board.waitForLine("plugged into");
    (void)boardListed();
    tarnovid_board* open = openBoard();
    unsigned char inputs = 0;
    const auto start = Clock::now();
    const int code = tarnovid_read_inputs(open, &inputs);
    const double ms = msBetween(start, Clock::now());
    figure("lib_read_no_answer", ms);
    check(code == TARNOVID_NO_ANSWER && ms >= TARNOVID_TIMEOUT_MS && ms < 2 * TARNOVID_TIMEOUT_MS,
          "a board that never answers: the read returns 5 after 500 ms: " + std::to_string(ms));
    closeDuringRead(open);
}

// Sets until one finds the gadget's queue full: the kernel takes a few reports from a board that
// stopped reading before its writes stall. The last set's code and how long it took.
int setUntilStalled(tarnovid_board* open, double& ms) {
    int code = TARNOVID_OK;
    for (int i = 0; i < 12 && code == TARNOVID_OK; ++i) {
        const auto start = Clock::now();
        code = tarnovid_set_outputs(open, static_cast<unsigned char>(i));
        ms = msBetween(start, Clock::now());
    }
    return code;
}

// Firmware that stops taking output reports, on the real usbhid: it gives a stalled write up
// after USB's 5 s with the board still plugged in. That is no loss, whoever waits for the write
// then: the caller (a time-out above 5 s) or nobody (the default, whose set has returned).
void stopsTakingReports(const QString& program) {
    BoardProcess board(program, {"--stop-reading-after", "0"});
    board.waitForLine("stopped reading output reports");
    (void)boardListed();
    tarnovid_board* open = openBoard();
    if (open == nullptr)
        return;
    tarnovid_set_timeout(open, 8000);
    double ms = 0;
    int code = setUntilStalled(open, ms);
    const std::string why = tarnovid_last_error();
    figure("lib_set_given_up_by_the_system", ms);
    check(code == TARNOVID_NO_ANSWER && ms > kUsbTimeout.count() - 500 && ms < 7000 &&
              why.find("Connection timed out") != std::string::npos,
          "with an 8 s time-out, the set the system gives up after USB's 5 s returns 5 with its "
          "reason: " +
              std::to_string(ms) + " ms, " + why);

    tarnovid_set_timeout(open, TARNOVID_TIMEOUT_MS);
    const auto stalled = Clock::now();
    code = tarnovid_set_outputs(open, 0x07);
    ms = msBetween(stalled, Clock::now());
    figure("lib_set_not_taken", ms);
    check(code == TARNOVID_NO_ANSWER && ms >= TARNOVID_TIMEOUT_MS && ms < TARNOVID_TIMEOUT_MS + 250,
          "with the default time-out, set returns 5 after its wait: " + std::to_string(ms) + " ms");

    // The report stays in usbhid until USB's time-out, with nobody waiting for it; a loss then
    // would make the next call 6 at once.
    QTest::qWait(std::max(0, int(msBetween(Clock::now(), stalled + kUsbTimeout))) + 1000);
    unsigned char inputs = 0xFF;
    code = tarnovid_read_inputs(open, &inputs);
    check(code == TARNOVID_NO_ANSWER && inputs == 0xFF,
          "after the system gave that report up, the board is not lost: read returns " +
              std::to_string(code) + ", " + tarnovid_last_error());

    // The read's request, still in the kernel, goes out as the board reads again, and the board
    // answers it late; it is let arrive first, or the next read would take it for its own answer.
    std::size_t mark = board.lineCount();
    board.signal(SIGUSR1);
    board.waitForLine("out 64 bytes: fc (+63 zeros)", mark);
    QTest::qWait(200);
    code = tarnovid_set_outputs(open, 0x05);
    const int readCode = tarnovid_read_inputs(open, &inputs);
    check(code == TARNOVID_OK && readCode == TARNOVID_OK && inputs == 0x05,
          "once the board reads again, the same open board serves: set " + std::to_string(code) +
              ", read " + std::to_string(readCode) + ", inputs " + hex(inputs));

    mark = board.lineCount();
    board.signal(SIGUSR1);
    board.waitForLine("stopped reading output reports", mark);
    code = setUntilStalled(open, ms);
    const auto start = Clock::now();
    tarnovid_close(open);
    const double closeMs = msBetween(start, Clock::now());
    check(code == TARNOVID_NO_ANSWER && closeMs < 100,
          "closing does not wait for the report stuck in the kernel: " + std::to_string(closeMs) +
              " ms");
}

void unplugged(const QString& program) {
    BoardProcess board(program, {});
    board.waitForLine("plugged into");
    (void)boardListed();
    tarnovid_board* open = openBoard();
    board.stop();
    unsigned char inputs = 0;
    const auto start = Clock::now();
    const int code = tarnovid_read_inputs(open, &inputs);
    const double ms = msBetween(start, Clock::now());
    check(code == TARNOVID_BOARD_LOST && ms < TARNOVID_TIMEOUT_MS,
          "a board unplugged meanwhile: the next read returns 6 at once: " + std::to_string(ms) +
              " ms, " + tarnovid_last_error());
    tarnovid_close(open);
}

// A program waits for a board that is plugged in meanwhile. This guest runs no udevd: the wait
// hears of the hidraw node from the kernel's own announcement.
void plugDuringWait(const QString& program) {
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    int code = -1;
    tarnovid_board* opened = nullptr;
    Clock::time_point began;
    Clock::time_point returned;
    std::thread waiter([&] {
        {
            const std::lock_guard lock(mutex);
            waiting = true;
            began = Clock::now();
        }
        changed.notify_all();
        tarnovid_board* board = nullptr;
        const int result = tarnovid_wait(nullptr, 10000, &board);
        const auto at = Clock::now();
        const std::lock_guard lock(mutex);
        code = result;
        opened = board;
        returned = at;
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return waiting; });
    }
    QTest::qWait(300); // its first look has found nothing
    BoardProcess board(program, {});
    const std::optional<std::size_t> plug = board.waitForLine("plugged into");
    waiter.join();
    const Clock::time_point plugged = plug ? BoardProcess::stamp(board.line(*plug)) : returned;
    const double ms = msBetween(plugged, returned);
    figure("wait_plug_to_open", ms);
    // Its own looks come at whole seconds from its start: a return there was no announcement's.
    check(code == TARNOVID_OK && plug && ms > 0 && ms < 1000,
          "a wait for a board plugged in " + std::to_string(msBetween(began, plugged)) +
              " ms after it began opens it " + std::to_string(ms) +
              " ms after the plug: " + (code == TARNOVID_OK ? "yes" : tarnovid_strerror(code)));
    unsigned char inputs = 0;
    const bool serves = tarnovid_set_outputs(opened, 0x02) == TARNOVID_OK &&
                        tarnovid_read_inputs(opened, &inputs) == TARNOVID_OK && inputs == 0x02;
    check(serves, "the board the wait opened serves: inputs " + hex(inputs));
    tarnovid_close(opened);
}

void run(const QString& program) {
    tarnovid_board* none = nullptr;
    check(tarnovid_open(nullptr, &none) == TARNOVID_NO_BOARD && none == nullptr,
          "without a board, open returns 3");
    {
        BoardProcess board(program, {});
        check(board.started() && board.waitForLine("plugged into").has_value(),
              "the emulator starts and plugs in");
        check(boardListed(), "the library lists the emulated board");
        exampleAndFigures(board);
    }
    neverAnswers(program);
    stopsTakingReports(program);
    unplugged(program);
    plugDuringWait(program);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "tarnovid-board";
    try {
        run(program);
    } catch (const std::exception& e) {
        check(false, std::string("unexpected exception: ") + e.what());
    }
    return finish("library");
}
