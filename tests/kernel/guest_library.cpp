// Runs inside the test kernel: the C library as another program uses it, against the board
// emulator through hidapi and the kernel's hidraw. The README's C example runs as installed, then
// this program calls the library itself: per-call times, and the bounds of tarnovid.h against a
// board that never answers, one that stops taking reports, and one that goes away.

#include "board_process.h"
#include "guest_report.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <exception>
#include <string>
#include <tarnovid.h>
#include <vector>

namespace {

using namespace tarnovid::guest;

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

// tarnovid.h's bounds, on the real kernel's HID stack.
void bounds(const QString& program) {
    auto board = std::make_unique<BoardProcess>(program, QStringList{"--never-answer"});
    board->waitForLine("plugged into");
    (void)boardListed();
    tarnovid_board* open = openBoard();
    unsigned char inputs = 0;
    auto start = Clock::now();
    int code = tarnovid_read_inputs(open, &inputs);
    double ms = msBetween(start, Clock::now());
    figure("lib_read_no_answer", ms);
    check(code == TARNOVID_NO_ANSWER && ms >= TARNOVID_TIMEOUT_MS && ms < 2 * TARNOVID_TIMEOUT_MS,
          "a board that never answers: the read returns 5 after 500 ms: " + std::to_string(ms));
    tarnovid_close(open);
    board.reset();

    // The kernel takes a few reports before its queue to a board that stopped reading is full;
    // the set that meets the full queue gives up after its wait, and closing does not wait for
    // the report stuck in the kernel (USB's time-out, 5 s).
    board = std::make_unique<BoardProcess>(program, QStringList{"--stop-reading-after", "0"});
    board->waitForLine("stopped reading output reports");
    (void)boardListed();
    open = openBoard();
    double longest = 0;
    code = TARNOVID_OK;
    for (int i = 0; i < 12 && code == TARNOVID_OK; ++i) {
        start = Clock::now();
        code = tarnovid_set_outputs(open, static_cast<unsigned char>(i));
        longest = std::max(longest, msBetween(start, Clock::now()));
    }
    figure("lib_set_not_taken_longest", longest);
    check(code == TARNOVID_NO_ANSWER && longest < TARNOVID_TIMEOUT_MS + 250,
          "a board that stops taking reports: set returns 5 within its wait: " +
              std::to_string(longest) + " ms");
    start = Clock::now();
    tarnovid_close(open);
    ms = msBetween(start, Clock::now());
    check(ms < 100, "closing does not wait for the report stuck in the kernel: " +
                        std::to_string(ms) + " ms");
    board.reset();

    board = std::make_unique<BoardProcess>(program, QStringList{});
    board->waitForLine("plugged into");
    (void)boardListed();
    open = openBoard();
    board->stop();
    start = Clock::now();
    code = tarnovid_read_inputs(open, &inputs);
    ms = msBetween(start, Clock::now());
    check(code == TARNOVID_BOARD_LOST && ms < TARNOVID_TIMEOUT_MS,
          "a board unplugged meanwhile: the next read returns 6 at once: " + std::to_string(ms) +
              " ms, " + tarnovid_last_error());
    tarnovid_close(open);
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
    bounds(program);
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
