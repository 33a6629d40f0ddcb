// Runs inside the test kernel: the real window on the offscreen platform, wired through hidapi to
// the board emulator. Clicks must reach the board, its answers the indicators, and an unplug and
// a new board must be followed by the window's own supervision.

#include "board_process.h"
#include "colours.h"
#include "guest_report.h"
#include "hid_backend.h"
#include "usbport01.h"

#include <QApplication>
#include <QTest>
#include <QWindow>
#include <array>
#include <exception>
#include <string>
#include <vector>

namespace {

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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "tarnovid-board";
    try {
        run(program);
    } catch (const std::exception& e) {
        check(false, std::string("unexpected exception: ") + e.what());
    }
    return finish("window");
}
