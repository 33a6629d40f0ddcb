// Runs inside the test kernel: the real window on the offscreen platform, wired through hidapi to
// the board emulator. Clicks must reach the board, its answers the indicators, an unplug and a new
// board must be followed by the window's own supervision, and a board that stops taking reports
// must not freeze the window.

#include "board_link.h"
#include "board_process.h"
#include "colours.h"
#include "guest_report.h"
#include "hid_backend.h"
#include "hidcomm.h"
#include "link_error.h"
#include "usbport01.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The link's wait for the board, in the unit the checks use.
constexpr int kTimeoutMs = int(tarnovid::BoardLink::kDefaultTimeout.count());

using namespace tarnovid;
using namespace tarnovid::guest;

void press(Usbport01& window, QWidget* target) {
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, target->geometry().center());
}

bool buttonsEnabled(const Usbport01& window) {
    return window.Command1->isEnabled() && window.Command2->isEnabled();
}

std::string indicators(const Usbport01& window) {
    std::string shown;
    for (int bit = 0; bit < 3; ++bit) {
        const Rgb colour = window.Shape2(bit)->BackColor();
        shown += colour == colour::White ? 'W' : colour == colour::Blue ? 'B' : '?';
    }
    return shown; // T2, T3, T4
}

// Upisi, then Ocitaj, checking what the board received and what the indicators show.
void writeAndRead(Usbport01& window, BoardProcess& board, const std::string& expectedWrite,
                  const std::string& expectedIndicators) {
    const std::size_t mark = board.lineCount();
    press(window, window.Command1);
    press(window, window.Command2);
    check(indicators(window) == expectedIndicators,
          "Ocitaj shows T2..T4 as " + expectedIndicators + ": got " + indicators(window));
    // Exactly two whole reports, so a request split over several reports does not go unnoticed.
    (void)board.waitForLine("fc (+63 zeros)", mark);
    std::vector<std::string> reports;
    for (std::size_t i = mark; i < board.lineCount(); ++i)
        if (board.line(i).find("] out ") != std::string::npos)
            reports.push_back(board.line(i));
    const bool asExpected =
        reports.size() == 2 &&
        reports[0].find("out 64 bytes: " + expectedWrite) != std::string::npos &&
        reports[1].find("out 64 bytes: fc (+63 zeros)") != std::string::npos;
    check(asExpected, "the board received \"" + expectedWrite + "\" then the read request");
    if (!asExpected)
        board.dump();
}

void run(const QString& program) {
    auto board = std::make_unique<BoardProcess>(program, QStringList{});
    check(board->started() && board->waitForLine("plugged into").has_value(),
          "the emulator starts and plugs in");

    Usbport01 window(makeHidapiBackend());
    window.show();
    check(QTest::qWaitForWindowExposed(&window), "the window is shown offscreen");
    check(QTest::qWaitFor([&] { return buttonsEnabled(window); }, 5000),
          "the window connects to the board by itself: both buttons enabled");
    const QString text = window.Text1->text();
    check(text.contains("Dravelko") && text.contains("USB Tarnovid"),
          "the status box shows the board: \"" + text.toStdString() + "\"");

    press(window, window.Shape1(0));
    press(window, window.Shape1(2));
    check(window.Shape1(0)->BackColor() == colour::Red &&
              window.Shape1(2)->BackColor() == colour::Red,
          "clicks on D0 and D2 light them");
    writeAndRead(window, *board, "fb 05 (+62 zeros)", "WBW");
    press(window, window.Shape1(0));
    writeAndRead(window, *board, "fb 04 (+62 zeros)", "BBW");

    // "Ocitaj" on a board that answers at once: from the click to the indicators painted. The
    // guest's processor is emulated and paints a pressed button slowly, so a click on "Upisi",
    // which paints its button alike and sends one report, is measured the same way: the
    // difference is the answer's part, its wait and its indicators.
    const auto medianOf20 = [&](QWidget* target, const std::function<void()>& before) {
        std::vector<double> shown;
        for (int i = 0; i < 20; ++i) {
            before();
            QApplication::processEvents();
            const auto start = Clock::now();
            press(window, target);
            QApplication::processEvents(); // the paint the click asked for
            shown.push_back(msBetween(start, Clock::now()));
        }
        std::sort(shown.begin(), shown.end());
        return (shown[9] + shown[10]) / 2;
    };
    const double upisi = medianOf20(window.Command1, [] {});
    // White again before each click, so that every click repaints an indicator.
    const double ocitaj =
        medianOf20(window.Command2, [&] { window.Shape2(0)->SetBackColor(colour::White); });
    figure("upisi_click_to_painted_median", upisi);
    figure("ocitaj_click_to_indicators_median", ocitaj);
    check(indicators(window) == "BBW" && ocitaj - upisi <= 15,
          "Ocitaj shows the board's inputs within 15 ms of the click beyond what an Upisi click "
          "takes (medians of 20: " +
              std::to_string(int(ocitaj)) + " ms against " + std::to_string(int(upisi)) + " ms)");

    board->stop();
    check(QTest::qWaitFor(
              [&] {
                  return window.Text1->text() == "Tarnovid - diskonektovano" &&
                         !window.Command1->isEnabled() && !window.Command2->isEnabled();
              },
              2000),
          "unplugging shows \"Tarnovid - diskonektovano\" and disables both buttons");

    board = std::make_unique<BoardProcess>(program, QStringList{"--inputs", "0x02"});
    board->waitForLine("plugged into");
    // The window's one-second poll has to find the new board on its own.
    check(QTest::qWaitFor([&] { return buttonsEnabled(window); }, 5000),
          "a board plugged in again is found by the window's poll");
    press(window, window.Command2);
    check(indicators(window) == "BWB",
          "Ocitaj on the new board shows its fixed inputs: got " + indicators(window));
    window.close();
}

// A board whose firmware stops taking output reports: once the gadget's queue is full the host's
// write stalls in the kernel (until USB's 5 s time-out). A click on "Upisi" must come back within
// the link's bound all the same, the window must go on answering, and "Upisi" must work again once
// the board reads its reports again.
void stalledBoard(const QString& program) {
    BoardProcess board(program, {"--stop-reading-after", "0"});
    check(board.started() && board.waitForLine("stopped reading output reports").has_value(),
          "the emulator plugs in and stops reading output reports");
    Usbport01 window(makeHidapiBackend());
    window.show();
    check(QTest::qWaitForWindowExposed(&window), "the window is shown offscreen");
    if (!QTest::qWaitFor([&] { return buttonsEnabled(window); }, 5000)) {
        check(false, "the window connects to the stalled board");
        board.dump();
        return;
    }

    // The first few reports still fit the gadget's queue, and each of those clicks is sent at
    // once; the click that finds the queue full is the one that would hang.
    const double stalledMs = kTimeoutMs * 0.9;
    double blocked = 0;
    double beforeStall = 0; // the longest of the clicks the queue still took
    int clicks = 0;
    while (clicks < 12 && blocked < stalledMs) {
        beforeStall = std::max(beforeStall, blocked);
        const auto start = Clock::now();
        press(window, window.Command1);
        blocked = msBetween(start, Clock::now());
        ++clicks;
    }
    figure("upisi_taken_longest", beforeStall);
    figure("upisi_gui_blocked_on_stalled_board", blocked);
    check(blocked >= stalledMs && blocked <= kTimeoutMs + 300,
          "a click on Upisi against the stalled board returns within " +
              std::to_string(kTimeoutMs) + " + 300 ms: " + std::to_string(int(blocked)) +
              " ms at click " + std::to_string(clicks));
    check(buttonsEnabled(window) && window.Text1->text() != "Tarnovid - diskonektovano",
          "the stalled board stays open: both buttons enabled, no disconnect message");

    // While the report is still stuck in the kernel: the event loop keeps its pace through a
    // click on each button, and an LED still lights.
    std::vector<Clock::time_point> ticks;
    QTimer pace;
    pace.setInterval(10);
    QObject::connect(&pace, &QTimer::timeout, [&] { ticks.push_back(Clock::now()); });
    double upisiMs = -1;
    double ocitajMs = -1;
    QTimer::singleShot(200, [&] {
        auto start = Clock::now();
        press(window, window.Command1);
        upisiMs = msBetween(start, Clock::now());
        start = Clock::now();
        press(window, window.Command2);
        ocitajMs = msBetween(start, Clock::now());
    });
    pace.start();
    QTest::qWait(600);
    pace.stop();
    double gap = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        gap = std::max(gap, msBetween(ticks[i - 1], ticks[i]));
    figure("event_loop_gap_while_stalled", gap);
    figure("upisi_while_stuck", upisiMs);
    figure("ocitaj_while_stuck", ocitajMs);
    check(upisiMs >= 0 && upisiMs < 100 && ocitajMs >= 0 && ocitajMs < 100 && gap < 150,
          "the window stays responsive while the report is stuck: Upisi " +
              std::to_string(int(upisiMs)) + " ms, Ocitaj " + std::to_string(int(ocitajMs)) +
              " ms, longest gap between 10 ms ticks " + std::to_string(int(gap)) + " ms");
    press(window, window.Shape1(3));
    check(window.Shape1(3)->BackColor() == colour::Red, "a click on D3 lights it");

    // usbhid gives the stuck report up after USB's 5 s with the board still plugged in: no loss,
    // not even one that the next poll would mend.
    const QString name = window.Text1->text();
    int disconnects = 0;
    const auto counting = QObject::connect(window.HIDComm1, &HIDComm::Disconnected,
                                           [&disconnects] { ++disconnects; });
    QTest::qWait(5500);
    QObject::disconnect(counting);
    check(disconnects == 0 && buttonsEnabled(window) && window.Text1->text() == name,
          "after the system gave the report up the board is still open, the status line \"" +
              window.Text1->text().toStdString() + "\"");

    const std::size_t mark = board.lineCount();
    board.signal(SIGUSR1);
    check(board.waitForLine("reading output reports again", mark).has_value(),
          "the board reads its reports again on SIGUSR1");
    // The stuck report goes out as soon as the board takes it; the next click is sent at once.
    bool sent = false;
    double lastMs = -1;
    (void)QTest::qWaitFor(
        [&] {
            const std::size_t from = board.lineCount();
            const auto start = Clock::now();
            press(window, window.Command1);
            lastMs = msBetween(start, Clock::now());
            sent = board.waitForLine("out 64 bytes: fb 08 (+62 zeros)", from, 500).has_value();
            return sent;
        },
        5000);
    check(sent && lastMs < 100,
          "once the board drains its reports Upisi reaches it again (D3: fb 08), in " +
              std::to_string(int(lastMs)) + " ms");
    check(buttonsEnabled(window), "the board is still open after the stall");
    if (!sent)
        board.dump();

    // Closing the window while a report is stuck must not wait for the kernel's time-out either.
    const std::size_t again = board.lineCount();
    board.signal(SIGUSR1);
    board.waitForLine("stopped reading output reports", again);
    blocked = 0;
    for (int click = 0; click < 12 && blocked < stalledMs; ++click) {
        const auto start = Clock::now();
        press(window, window.Command1);
        blocked = msBetween(start, Clock::now());
    }
    const auto closing = Clock::now();
    window.close();
    const double closeMs = msBetween(closing, Clock::now());
    figure("close_with_a_report_stuck", closeMs);
    check(blocked >= stalledMs && closeMs < 100,
          "closing the window with a report stuck in the kernel takes " +
              std::to_string(int(closeMs)) + " ms");
    // The board's thread closes the device once the write returns; the board then drains.
    board.signal(SIGUSR1);
    check(board.waitForLine("reading output reports again", again).has_value(),
          "the board drains the stuck report after the window has gone");

    // The same as a whole program: the window goes at once, but the process can end only once
    // the kernel gives the stuck write up (USB's 5 s time-out).
    const std::size_t third = board.lineCount();
    board.signal(SIGUSR1);
    board.waitForLine("stopped reading output reports", third);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--close-with-a-report-stuck"});
    const bool closed =
        child.waitForStarted(5000) &&
        QTest::qWaitFor([&] { return child.canReadLine() || !child.isOpen(); }, 15000) &&
        child.readLine().startsWith("closing");
    const auto closedAt = Clock::now();
    const bool ended = child.waitForFinished(15000);
    const double endMs = msBetween(closedAt, Clock::now());
    figure("window_process_end_with_a_report_stuck", endMs);
    check(closed && ended && child.exitCode() == 0 && endMs < 5000 + 1500,
          "the window's process ends once the kernel gives the write up: " +
              std::to_string(int(endMs)) + " ms after the window closed");
    board.signal(SIGUSR1);
    check(board.waitForLine("reading output reports again", third).has_value() && board.stop() == 0,
          "the board drains the stuck report and stops cleanly after the window has gone");
}

// The child of the check above: a window that clicks "Upisi" until a report sticks, says
// "closing" and ends as the program does when its window is closed.
int closeWithAReportStuck() {
    Usbport01 window(makeHidapiBackend());
    window.show();
    if (!QTest::qWaitFor([&] { return buttonsEnabled(window); }, 5000))
        return 1;
    double blocked = 0;
    for (int click = 0; click < 12 && blocked < kTimeoutMs * 0.9; ++click) {
        const auto start = Clock::now();
        press(window, window.Command1);
        blocked = msBetween(start, Clock::now());
    }
    std::printf("closing after a click of %d ms\n", int(blocked));
    std::fflush(stdout);
    window.close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && std::string_view(argv[1]) == "--close-with-a-report-stuck")
        return closeWithAReportStuck();
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "tarnovid-board";
    try {
        run(program);
        stalledBoard(program);
    } catch (const std::exception& e) {
        check(false, std::string("unexpected exception: ") + e.what());
    }
    return finish("window");
}
