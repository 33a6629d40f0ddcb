// Runs inside the test kernel: the installed tarnovidctl as a user runs it, against the board
// emulator through hidapi and the kernel's hidraw, alone and beside the real window. Every run is
// also printed as a shell session, for the record.

#include "board_process.h"
#include "colours.h"
#include "guest_report.h"
#include "hid_backend.h"
#include "usbport01.h"

#include <QApplication>
#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QWindow>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>

namespace {

using namespace tarnovid;
using namespace tarnovid::guest;

QString ctlProgram() { return QCoreApplication::applicationDirPath() + "/tarnovidctl"; }

struct Result {
    int code = -1; // -1: did not finish, or crashed
    QStringList out;
    QStringList err;
    double ms = 0;
};

void record(const QString& line) {
    std::printf("  | %s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

QStringList lines(const QByteArray& bytes) {
    return QString::fromLocal8Bit(bytes).split('\n', Qt::SkipEmptyParts);
}

Result finish(QProcess& process, const QStringList& args, Clock::time_point start, int timeoutMs,
              const QString& who = {}, bool quiet = false) {
    // The window's event loop keeps running while tarnovidctl works.
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    Result result;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.code = process.exitCode();
    }
    result.ms = msBetween(start, Clock::now());
    result.out = lines(process.readAllStandardOutput());
    result.err = lines(process.readAllStandardError());
    if (quiet)
        return result;
    record(who + "$ tarnovidctl " + args.join(' '));
    // A long watch is shown by its first lines and its last.
    for (qsizetype i = 0; i < result.out.size(); ++i) {
        if (result.out.size() <= 8 || i < 5 || i == result.out.size() - 1)
            record(result.out[i]);
        else if (i == 5)
            record(QStringLiteral("... (%1 lines in all)").arg(result.out.size()));
    }
    for (const QString& line : result.err)
        record(line);
    if (result.code != 0)
        record(QStringLiteral("(exit code %1)").arg(result.code));
    return result;
}

Result ctl(const QStringList& args, int timeoutMs = 10000, bool quiet = false) {
    QProcess process;
    const auto start = Clock::now();
    process.start(ctlProgram(), args);
    return finish(process, args, start, timeoutMs, {}, quiet);
}

// The kernel lists a gadget's hidraw node a moment after the emulator has plugged it in; a
// script that races the plug sees "no board", so wait as a script would.
bool boardListed() {
    return QTest::qWaitFor([] { return ctl({"list"}, 5000, true).code == 0; }, 5000);
}

bool stampedLine(const QString& line) {
    const QString stamp = line.section(' ', 0, 0);
    return QDateTime::fromString(stamp, Qt::ISODateWithMs).isValid() && stamp.size() == 29 &&
           line.section(' ', 1).contains(QRegularExpression("^T2=[01] T3=[01] T4=[01]$"));
}

double spanMs(const QStringList& stamped) {
    const auto first = QDateTime::fromString(stamped.front().section(' ', 0, 0), Qt::ISODateWithMs);
    const auto last = QDateTime::fromString(stamped.back().section(' ', 0, 0), Qt::ISODateWithMs);
    return double(first.msecsTo(last));
}

void press(Usbport01& window, QWidget* target) {
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, target->geometry().center());
}

std::string indicators(const Usbport01& window) {
    std::string shown;
    for (int bit = 0; bit < 3; ++bit) {
        const Rgb colour = window.Shape2(bit)->BackColor();
        shown += colour == colour::White ? 'W' : colour == colour::Blue ? 'B' : '?';
    }
    return shown; // T2, T3, T4
}

// Set, get, list and watch on the wired emulator, and what the board received.
void alone(BoardProcess& board) {
    check(boardListed(), "the emulated board is listed within 5 s of its plug");
    Result run = ctl({"list"});
    check(run.code == 0 && run.out.size() == 2 && run.out[0].startsWith("/dev/hidraw") &&
              run.out[0].contains("\"Dravelko\" \"USB Tarnovid\"") && run.out[1] == "1 board",
          "list shows the emulated board and counts it");

    std::size_t mark = board.lineCount();
    run = ctl({"set", "0x05"});
    check(run.code == 0 && run.out.isEmpty() && run.err.isEmpty(), "set 0x05 succeeds silently");
    check(board.waitForLine("out 64 bytes: fb 05 (+62 zeros)", mark).has_value(),
          "the board receives FB 05 as one 64-byte report");
    figure("ctl_set_process", run.ms);

    run = ctl({"get"});
    check(run.code == 0 && run.out == QStringList{"T2=1 T3=0 T4=1"},
          "get reads back what set wrote (D0, D2 wired to T2, T4)");
    figure("ctl_get_process", run.ms);
    run = ctl({"set", "D1"});
    run = ctl({"get", "--json"});
    check(run.code == 0 && run.out == QStringList{R"({"T2":0,"T3":1,"T4":0,"raw":2})"},
          "set D1, then get --json reads T3 alone");

    run = ctl({"watch", "--count", "5", "--interval", "20"});
    bool stamped = run.out.size() == 5;
    for (const QString& line : run.out)
        stamped = stamped && stampedLine(line) && line.endsWith("T2=0 T3=1 T4=0");
    check(run.code == 0 && stamped, "watch --count 5 --interval 20 prints 5 time-stamped lines");
    if (stamped) {
        const double span = spanMs(run.out);
        figure("ctl_watch_first_to_fifth_line", span);
        // Reads start on a fixed schedule and each line comes at its read's end: a first read
        // slower than the fifth (the emulated processor's first time through) shortens the span.
        check(span >= 4 * 20 - 20 && span <= 4 * 20 * 2.5,
              "the 5 lines come at about 20 ms apart: " + std::to_string(span) + " ms for 4");
    }

    // Ctrl+C: the watch ends by itself with exit code 0.
    QProcess watch;
    const QStringList args{"watch", "--interval", "50"};
    const auto start = Clock::now();
    watch.start(ctlProgram(), args);
    (void)QTest::qWaitFor([&] { return watch.canReadLine(); }, 5000);
    QTest::qWait(200);
    ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
    run = finish(watch, args, start, 3000, "(Ctrl+C after 200 ms) ");
    check(run.code == 0 && run.err.isEmpty(), "Ctrl+C ends a watch cleanly with exit code 0");

    // A user without the udev rule's access: root's 0600 node refuses nobody.
    QProcess denied;
    denied.setChildProcessModifier([] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
    });
    const auto deniedStart = Clock::now();
    denied.start(ctlProgram(), {"get"});
    run = finish(denied, {"get"}, deniedStart, 10000, "(as nobody) ");
    check(run.code == 4 && run.out.isEmpty() && run.err.size() == 1 &&
              run.err[0].startsWith("tarnovidctl: access denied to /dev/hidraw") &&
              run.err[0].contains("70-tarnovid.rules"),
          "without permission, get exits 4 with the udev hint in one line");
}

// The real window and tarnovidctl on the same board at once.
void besideTheWindow() {
    Usbport01 window(makeHidapiBackend());
    window.show();
    check(QTest::qWaitForWindowExposed(&window) &&
              QTest::qWaitFor([&] { return window.Command2->isEnabled(); }, 5000),
          "the window connects to the board");

    Result run = ctl({"set", "D0", "D1"});
    run = ctl({"get"});
    check(run.code == 0 && run.out == QStringList{"T2=1 T3=1 T4=0"},
          "get while the window is connected reads the board");
    press(window, window.Command2);
    check(indicators(window) == "WWB" && window.Command1->isEnabled(),
          "the window's Ocitaj reads what tarnovidctl set, and the window stays connected");

    // Both read at the same time: tarnovidctl watches fast while the window clicks Ocitaj.
    QProcess watch;
    const QStringList args{"watch", "--interval", "10", "--count", "100"};
    const auto start = Clock::now();
    watch.start(ctlProgram(), args);
    (void)QTest::qWaitFor([&] { return watch.canReadLine(); }, 5000); // it is reading by now
    int clicks = 0;
    for (int i = 0; i < 20; ++i) {
        window.Shape2(0)->SetBackColor(colour::Blue);
        press(window, window.Command2);
        clicks += indicators(window) == "WWB";
        QTest::qWait(5);
    }
    const bool overlapped = watch.state() == QProcess::Running;
    run = finish(watch, args, start, 15000, "(beside the window) ");
    bool allRight = run.out.size() == 100;
    for (const QString& line : run.out)
        allRight = allRight && line.endsWith("T2=1 T3=1 T4=0");
    check(run.code == 0 && allRight && overlapped,
          "a watch beside the clicking window gets every answer right (exit code " +
              std::to_string(run.code) + (overlapped ? ")" : ", ended before the clicks)"));
    check(clicks == 20, "every Ocitaj of the window beside the watch is answered: " +
                            std::to_string(clicks) + " of 20");
    window.close();
}

void run(const QString& program) {
    Result result = ctl({"get"});
    check(result.code == 3 && result.err == QStringList{"tarnovidctl: no board found"} &&
              result.out.isEmpty(),
          "without a board, get exits 3 and says so in one line");

    auto board = std::make_unique<BoardProcess>(program, QStringList{});
    check(board->started() && board->waitForLine("plugged into").has_value(),
          "the emulator starts and plugs in");
    alone(*board);
    besideTheWindow();

    // The board goes away under a running watch.
    QProcess watch;
    const QStringList args{"watch", "--interval", "20"};
    const auto start = Clock::now();
    watch.start(ctlProgram(), args);
    (void)QTest::qWaitFor([&] { return watch.bytesAvailable() > 0; }, 5000);
    board->stop();
    result = finish(watch, args, start, 5000, "(emulator stopped meanwhile) ");
    check(result.code == 6 && result.err.size() == 1 &&
              result.err[0].startsWith("tarnovidctl: board lost"),
          "a board lost under a watch ends it with exit code 6");

    board = std::make_unique<BoardProcess>(program, QStringList{"--never-answer"});
    board->waitForLine("plugged into");
    (void)boardListed();
    result = ctl({"get"});
    check(result.code == 5 && result.err.size() == 1 && result.ms >= 500,
          "a board that never answers makes get exit 5 after the 500 ms wait");

    // A board that stops taking reports: the set that finds its queue full says so after the
    // link's 500 ms, but the process can end only once the kernel gives the write up (USB's 5 s
    // time-out): a thread in the kernel's write cannot be made to leave it.
    board = std::make_unique<BoardProcess>(program, QStringList{"--stop-reading-after", "0"});
    board->waitForLine("stopped reading output reports");
    (void)boardListed();
    result = {};
    for (int i = 0; i < 12 && result.code != 5; ++i)
        result = ctl({"set", QString::number(i)}, 15000);
    check(result.code == 5 && result.err.size() == 1 && result.err[0].contains("not taken"),
          "set on a board that stops taking reports exits 5 saying it was not taken");
    figure("ctl_set_process_end_with_a_report_stuck", result.ms);
    check(result.ms < 5000 + 1500, "that process ends once the kernel gives the write up: " +
                                       std::to_string(int(result.ms)) + " ms");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "tarnovid-board";
    try {
        run(program);
    } catch (const std::exception& e) {
        check(false, std::string("unexpected exception: ") + e.what());
    }
    return finish("ctl");
}
