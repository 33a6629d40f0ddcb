// tarnovidctl as a script sees it: its command line, stdout, stderr and exit code, with the
// simulated board underneath (handed to the C library the tool goes through), and beside the
// real window on the same board.

#include "backend_hook.h"
#include "board_facts.h"
#include "board_report.h"
#include "colours.h"
#include "command_line.h"
#include "commands.h"
#include "exit_codes.h"
#include "interrupt.h"
#include "link_error.h"
#include "output_value.h"
#include "sim_board.h"
#include "timestamp.h"
#include "window_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <tarnovid.h>
#include <thread>

using namespace tarnovid;
using namespace tarnovid::ctl;

namespace {

// One run of the program on a backend: what it printed where, and its exit code.
struct Run {
    int code = -1;
    QString out;
    QString err;
    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Ends a watch after `limit`, as Ctrl+C would. A watch that waits for something to happen (a
// change, a loss, a failed write) and meets a wrong value instead would otherwise go on until
// ctest's limit; this way its test fails as soon as the limit is up.
std::function<bool()> stopAfter(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    return [until] { return std::chrono::steady_clock::now() >= until; };
}

constexpr std::chrono::seconds kLongestRun{10};

Run runCtl(std::shared_ptr<HidBackend> backend, const QStringList& args,
           std::function<bool()> interrupted = stopAfter(kLongestRun)) {
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    const lib::SystemDevicesOverride devices(std::move(backend));
    const Environment env{out, err, nullptr, std::move(interrupted)};
    run.code = runCommandLine(QStringList{QStringLiteral("tarnovidctl")} + args, env);
    return run;
}

// An error is one line on stderr, and nothing on stdout.
bool oneErrorLine(const Run& run) {
    return run.out.isEmpty() && run.err.startsWith(QLatin1String("tarnovidctl: ")) &&
           run.err.count(QLatin1Char('\n')) == 1 && run.err.endsWith(QLatin1Char('\n'));
}

// A backend whose boards are there but held by something else.
class BusyBackend : public SimBackend {
public:
    std::unique_ptr<HidDevice> open(const std::string&, std::string* error) override {
        *error = "Device or resource busy";
        return nullptr;
    }
};

// A system that cannot list its devices (udev gone, say): not the same as no board.
class BrokenBackend : public SimBackend {
public:
    std::vector<HidDeviceInfo> enumerate(std::uint16_t, std::uint16_t) override {
        throw std::runtime_error("Couldn't create udev context");
    }
};

// Standard output whose reader has gone: every write fails.
class ClosedOutput final : public QIODevice {
public:
    ClosedOutput() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override { return -1; }
};

const QRegularExpression kStampedLine(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d "
                   "T2=[01] T3=[01] T4=[01]$"));

} // namespace

class TarnovidctlTest : public QObject {
    Q_OBJECT
private slots:
    void outputValuesAreReadAsTyped_data();
    void outputValuesAreReadAsTyped();
    void setWritesOneReportAndPrintsNothing();
    void commandLineSlipsAreUsageErrors();

    void getPrintsTheInputsInEachStyle();
    void timestampIsLocalTimeWithMillisecondsAndOffset();
    void watchKeepsItsPaceAndCountsLines();
    void watchChangesPrintsOnlyWhenAnInputChanges();
    void interruptEndsWatchCleanly();

    void everyFailureHasItsExitCodeAndOneLine();
    void boardLostDuringWatchEndsWithItsCode();

    void listShowsBoardsAndExplainsLookalikes();
    void boardOptionChoosesAmongSeveral();

    void worksBesideTheWindow();
    void manPageNamesEveryOptionAndExitCode();
};

void TarnovidctlTest::outputValuesAreReadAsTyped_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<int>("value"); // -1: refused
    QTest::newRow("decimal") << QStringList{"129"} << 129;
    QTest::newRow("hex") << QStringList{"0x81"} << 129;
    QTest::newRow("hex upper") << QStringList{"0XfF"} << 255;
    QTest::newRow("binary") << QStringList{"0b10000001"} << 129;
    QTest::newRow("zero") << QStringList{"0"} << 0;
    QTest::newRow("leading zero is decimal") << QStringList{"010"} << 10;
    QTest::newRow("names in one word") << QStringList{"D7 D0"} << 129;
    QTest::newRow("names as words") << QStringList{"D7", "D0"} << 129;
    QTest::newRow("names with commas") << QStringList{"d0,D1"} << 3;
    QTest::newRow("every name") << QStringList{"D0 D1 D2 D3 D4 D5 D6 D7"} << 255;
    QTest::newRow("none") << QStringList{"none"} << 0;
    QTest::newRow("nothing") << QStringList{} << -1;
    QTest::newRow("256") << QStringList{"256"} << -1;
    QTest::newRow("0x100") << QStringList{"0x100"} << -1;
    QTest::newRow("nine bits") << QStringList{"0b111111111"} << -1;
    QTest::newRow("huge") << QStringList{"99999999999999999999999"} << -1;
    QTest::newRow("bare prefix") << QStringList{"0x"} << -1;
    QTest::newRow("not binary") << QStringList{"0b102"} << -1;
    QTest::newRow("trailing letters") << QStringList{"12abc"} << -1;
    QTest::newRow("D8") << QStringList{"D8"} << -1;
    QTest::newRow("unknown name") << QStringList{"T2"} << -1;
    QTest::newRow("none with a name") << QStringList{"none", "D0"} << -1;
    QTest::newRow("number with a name") << QStringList{"129", "D0"} << -1;
    QTest::newRow("two numbers") << QStringList{"1", "2"} << -1;
}

void TarnovidctlTest::outputValuesAreReadAsTyped() {
    QFETCH(QStringList, words);
    QFETCH(int, value);
    QString error;
    const auto parsed = parseOutputValue(words, &error);
    if (value < 0) {
        QVERIFY(!parsed);
        QVERIFY(!error.isEmpty());
    } else {
        QVERIFY2(parsed, qPrintable(error));
        QCOMPARE(int(*parsed), value);
    }
}

void TarnovidctlTest::setWritesOneReportAndPrintsNothing() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    const Run run = runCtl(backend, {"set", "D7", "D0"});
    QCOMPARE(run.code, int(kExitOk));
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.err.isEmpty());
    QCOMPARE(board->writes().size(), std::size_t(1));
    QCOMPARE(board->writes()[0], test::boardReport(board::kSetOutputs, 0x81));
    QCOMPARE(board->openCount(), 1);
    QCOMPARE(board->closeCount(), 1); // given up again when done

    QCOMPARE(runCtl(backend, {"set", "none"}).code, int(kExitOk));
    QCOMPARE(board->outputs(), 0);
}

void TarnovidctlTest::commandLineSlipsAreUsageErrors() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    const QList<QStringList> slips{
        {},
        {"blink"},
        {"set"},
        {"set", "256"},
        {"get", "now"},
        {"get", "--all"},
        {"set", "0x81", "--json"},
        {"list", "-v"},
        {"list", "--board", "sim/tarnovid-0"},
        {"watch", "--interval", "0"},
        {"watch", "--interval", "fast"},
        {"watch", "--count", "-3"},
        {"watch", "--count"},
        {"get", "--no-such-option"},
    };
    for (const QStringList& args : slips) {
        const Run run = runCtl(backend, args);
        QVERIFY2(run.code == kExitUsage && oneErrorLine(run),
                 qPrintable(args.join(' ') + " -> " + QString::number(run.code) + " " + run.err));
    }
    QVERIFY(board->writes().empty());
    QCOMPARE(board->openCount(), 0);

    const Run help = runCtl(backend, {"--help"});
    QCOMPARE(help.code, int(kExitOk));
    QVERIFY(help.out.startsWith(QLatin1String("Usage: tarnovidctl [options]")));
    for (const ExitCodeText& exit : kExitCodeTexts)
        QVERIFY(help.out.contains(QStringLiteral("  %1  ").arg(int(exit.code))));
    const Run version = runCtl(backend, {"--version"});
    QCOMPARE(version.out, versionText() + '\n');
    QVERIFY(version.out.contains(QRegularExpression("^tarnovidctl \\d+\\.\\d+\\.\\d+\n$")));
}

void TarnovidctlTest::getPrintsTheInputsInEachStyle() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    board->setInputs(0xFD); // T2, T4 set, T3 clear; upper bits are no inputs
    Run run = runCtl(backend, {"get"});
    QCOMPARE(run.code, int(kExitOk));
    QCOMPARE(run.out, QStringLiteral("T2=1 T3=0 T4=1\n"));
    QVERIFY(run.err.isEmpty());
    QCOMPARE(board->writes().back(), test::boardReport(board::kReadInputs, 0x00));

    QCOMPARE(runCtl(backend, {"get", "-v"}).out, QStringLiteral("T2=1 T3=0 T4=1 raw=0xfd\n"));
    board->setInputs(0x02);
    QCOMPARE(runCtl(backend, {"get", "--verbose"}).out,
             QStringLiteral("T2=0 T3=1 T4=0 raw=0x02\n"));

    run = runCtl(backend, {"get", "--json"});
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(json, (QJsonObject{{"T2", 0}, {"T3", 1}, {"T4", 0}, {"raw", 2}}));
    QCOMPARE(run.out.count('\n'), 1);

    board->setAnswerLength(1); // a one-byte answer carries all there is
    QCOMPARE(runCtl(backend, {"get"}).out, QStringLiteral("T2=0 T3=1 T4=0\n"));
}

void TarnovidctlTest::timestampIsLocalTimeWithMillisecondsAndOffset() {
    const QDate day(2026, 3, 1);
    const QTime time(14, 5, 9, 7);
    QCOMPARE(isoTimestamp(QDateTime(day, time, QTimeZone(3600))),
             QStringLiteral("2026-03-01T14:05:09.007+01:00"));
    QCOMPARE(isoTimestamp(QDateTime(day, time, QTimeZone(-(3 * 3600 + 1800)))),
             QStringLiteral("2026-03-01T14:05:09.007-03:30"));
    QCOMPARE(isoTimestamp(QDateTime(day, time, QTimeZone(0))),
             QStringLiteral("2026-03-01T14:05:09.007+00:00"));
    // Local time, as the clock on the wall shows it.
    const QDateTime now = QDateTime::currentDateTime();
    QVERIFY(isoTimestamp(now).startsWith(now.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm"))));
}

void TarnovidctlTest::watchKeepsItsPaceAndCountsLines() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    board->setInputs(0x04);
    board->setAnswerDelayMs(25); // a read takes well over half the interval
    const Run run = runCtl(backend, {"watch", "--count", "5", "--interval", "40"});
    QCOMPARE(run.code, int(kExitOk));
    const QStringList lines = run.lines();
    QCOMPARE(lines.size(), 5);
    for (const QString& line : lines) {
        QVERIFY2(kStampedLine.match(line).hasMatch(), qPrintable(line));
        QVERIFY(line.endsWith(QLatin1String("T2=0 T3=0 T4=1")));
    }
    // Samples keep to the interval, not to a fixed gap after each read, which would make every
    // gap an interval plus a read (65 ms). A sample that a loaded machine delays shortens the gap
    // after it, so the shortest gap stays near the interval whatever the load. And the watch does
    // wait: the first stamp to the fifth spans at least three intervals even when the first read
    // runs late, where reads without a pause would span four reads (100 ms).
    auto stamp = [&](int i) {
        return QDateTime::fromString(lines[i].section(' ', 0, 0), Qt::ISODateWithMs);
    };
    qint64 shortest = stamp(0).msecsTo(stamp(1));
    for (int i = 2; i < 5; ++i)
        shortest = std::min(shortest, stamp(i - 1).msecsTo(stamp(i)));
    const qint64 took = stamp(0).msecsTo(stamp(4));
    QVERIFY2(shortest < 40 + 25 - 10 && took >= 3 * 40,
             qPrintable(QStringLiteral("shortest gap %1 ms, all %2 ms").arg(shortest).arg(took)));
    QCOMPARE(board->closeCount(), board->openCount());

    const Run json = runCtl(backend, {"watch", "--count", "2", "--interval", "1", "--json", "-v"});
    QCOMPARE(json.lines().size(), 2);
    for (const QString& line : json.lines()) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        QCOMPARE(object.value("T4").toInt(), 1);
        QCOMPARE(object.value("raw").toInt(), 4);
        QVERIFY(kStampedLine.match(object.value("time").toString() + " T2=0 T3=0 T4=1").hasMatch());
    }
}

void TarnovidctlTest::watchChangesPrintsOnlyWhenAnInputChanges() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    // 0x08, 0x09: no input moves; then T2, T3 and T4 each alone.
    std::thread presses([board] {
        for (const std::uint8_t inputs : {0x08, 0x01, 0x09, 0x03, 0x07}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            board->setInputs(inputs);
        }
    });
    // A change missed would leave the watch waiting for its fourth line.
    const Run run = runCtl(backend, {"watch", "--changes", "--count", "4", "--interval", "5"},
                           stopAfter(std::chrono::seconds(3)));
    presses.join();
    QCOMPARE(run.code, int(kExitOk));
    const QStringList lines = run.lines();
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].endsWith(QLatin1String("T2=0 T3=0 T4=0"))); // the first sample always
    QVERIFY(lines[1].endsWith(QLatin1String("T2=1 T3=0 T4=0")));
    QVERIFY(lines[2].endsWith(QLatin1String("T2=1 T3=1 T4=0")));
    QVERIFY(lines[3].endsWith(QLatin1String("T2=1 T3=1 T4=1")));
    QVERIFY(board->writes().size() > 10); // sampled all along, printed only three
}

void TarnovidctlTest::interruptEndsWatchCleanly() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    // Ctrl+C once the first line is out; the watch ends at once with exit code 0, not after the
    // interval it was waiting out.
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    int caught = 0;
    const lib::SystemDevicesOverride devices(backend);
    const Environment env{
        out, err, [&] { ++caught; },
        [&, timeUp = stopAfter(kLongestRun)] { return run.out.count('\n') >= 1 || timeUp(); }};
    QElapsedTimer clock;
    clock.start();
    run.code = runCommandLine({"tarnovidctl", "watch", "--interval", "1000"}, env);
    QCOMPARE(run.code, int(kExitOk));
    QCOMPARE(caught, 1);
    QCOMPARE(run.lines().size(), 1);
    QVERIFY(run.err.isEmpty());
    // Giving up the board waits for nothing: the board's thread is never caught in a read.
    QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(board->openCount(), 1);
    QCOMPARE(board->closeCount(), 1); // released

#ifndef Q_OS_WIN
    // The real Ctrl+C is noted, not obeyed: the program is still here to release the board.
    catchInterrupts();
    QVERIFY(!interruptRequested());
    std::raise(SIGINT);
    QVERIFY(interruptRequested());
    catchInterrupts(); // a new watch starts afresh
    QVERIFY(!interruptRequested());
    std::signal(SIGINT, SIG_DFL);
#endif
}

void TarnovidctlTest::everyFailureHasItsExitCodeAndOneLine() {
    auto empty = std::make_shared<SimBackend>();
    Run run = runCtl(empty, {"get"});
    QCOMPARE(run.code, int(kExitNoBoard));
    QVERIFY(oneErrorLine(run));
    QCOMPARE(run.err, QStringLiteral("tarnovidctl: no board found\n"));
    QCOMPARE(runCtl(empty, {"set", "1"}).code, int(kExitNoBoard));
    QCOMPARE(runCtl(empty, {"watch"}).code, int(kExitNoBoard));

    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    board->setRefuseOpen(true); // no permission on the node
    run = runCtl(backend, {"get"});
    QCOMPARE(run.code, int(kExitAccessDenied));
    QVERIFY(oneErrorLine(run));
    QVERIFY2(run.err.startsWith("tarnovidctl: access denied to sim/tarnovid-0 (Permission denied)"),
             qPrintable(run.err));
#ifdef Q_OS_LINUX
    QVERIFY(run.err.contains("70-tarnovid.rules") &&
            run.err.contains("sudo udevadm control --reload-rules"));
#endif
    board->setRefuseOpen(false);

    auto busy = std::make_shared<BusyBackend>();
    busy->addTarnovid();
    run = runCtl(busy, {"set", "1"});
    QCOMPARE(run.code, int(kExitFailed));
    QVERIFY(oneErrorLine(run));
    QVERIFY(run.err.contains("Device or resource busy"));
    for (const char* command : {"list", "get"}) {
        run = runCtl(std::make_shared<BrokenBackend>(), {command});
        QCOMPARE(run.code, int(kExitFailed));
        QCOMPARE(
            run.err,
            QStringLiteral("tarnovidctl: cannot look for boards: Couldn't create udev context\n"));
    }

    board->setStall(true);
    QElapsedTimer clock;
    clock.start();
    run = runCtl(backend, {"get"});
    QCOMPARE(run.code, int(kExitNoAnswer));
    QVERIFY(oneErrorLine(run));
    QVERIFY(clock.elapsed() >= TARNOVID_TIMEOUT_MS); // the window's time-out, not one of its own
    QCOMPARE(board->closeCount(), board->openCount());

    std::thread unplug([board] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        board->unplug();
    });
    run = runCtl(backend, {"get"});
    unplug.join();
    QCOMPARE(run.code, int(kExitBoardLost));
    QVERIFY(oneErrorLine(run));

    // A board that stops taking reports has not failed to answer: set says what did happen.
    board->plug();
    board->setStall(false);
    board->setWriteStall(true);
    run = runCtl(backend, {"set", "1"});
    board->setWriteStall(false);
    QCOMPARE(run.code, int(kExitNoAnswer));
    QVERIFY(oneErrorLine(run));
    QVERIFY2(run.err.contains("not taken"), qPrintable(run.err));
    // The board's thread, left behind with the stuck write, closes the board once the write has
    // gone in, in its own time.
    QTRY_COMPARE(board->closeCount(), board->openCount());

    // The library's own failing board, as someone practising on it meets it.
    clock.restart();
    run = runCtl(empty, {"get", "--board", "demo:noreply"});
    QCOMPARE(run.code, int(kExitNoAnswer));
    QCOMPARE(run.err,
             QStringLiteral("tarnovidctl: no answer: the board did not answer within 500 ms\n"));
    QVERIFY2(clock.elapsed() >= TARNOVID_TIMEOUT_MS && clock.elapsed() < TARNOVID_TIMEOUT_MS + 300,
             qPrintable(QString::number(clock.elapsed())));
    run = runCtl(empty, {"set", "1", "--board", "demo:noreply=1"});
    QCOMPARE(run.code, int(kExitUsage));
    QCOMPARE(run.err, QStringLiteral("tarnovidctl: demo:noreply=1: noreply takes no value\n"));

    // Output nobody can take any more (a closed pipe whose SIGPIPE is ignored): the watch stops
    // instead of reading the board forever into nothing.
    ClosedOutput gone;
    QTextStream out(&gone);
    QString errors;
    QTextStream err(&errors);
    const lib::SystemDevicesOverride devices(backend);
    const Environment env{out, err, nullptr, stopAfter(kLongestRun)};
    QCOMPARE(runCommandLine({"tarnovidctl", "watch", "--interval", "5"}, env), int(kExitFailed));
    QCOMPARE(errors.count('\n'), 1);
    QCOMPARE(board->closeCount(), board->openCount());
}

void TarnovidctlTest::boardLostDuringWatchEndsWithItsCode() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    std::thread unplug([board] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        board->unplug();
    });
    const Run run = runCtl(backend, {"watch", "--interval", "20"});
    unplug.join();
    QCOMPARE(run.code, int(kExitBoardLost));
    QVERIFY(run.lines().size() >= 3); // what was read before the loss stays
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(run.err.startsWith("tarnovidctl: board lost"));
}

void TarnovidctlTest::listShowsBoardsAndExplainsLookalikes() {
    auto backend = std::make_shared<SimBackend>();
    HidDeviceInfo second = tarnovidDeviceInfo("sim/b");
    HidDeviceInfo first = tarnovidDeviceInfo("sim/a");
    first.serialNumber = "A1";
    HidDeviceInfo newer = tarnovidDeviceInfo("sim/c");
    newer.releaseNumber = 2;
    HidDeviceInfo odd = tarnovidDeviceInfo("sim/d");
    odd.manufacturer = "DRAVELKO";
    odd.product = "USB Tarnovid\n\"2\"";
    odd.bus = HidBus::Bluetooth;
    HidDeviceInfo mouse = tarnovidDeviceInfo("sim/0");
    mouse.vendorId = 0x046d; // not even a lookalike: listed by --all alone, last, never counted
    for (const auto& info : {second, newer, odd, first, mouse})
        backend->addBoard(info);

    Run run = runCtl(backend, {"list"});
    QCOMPARE(run.code, int(kExitOk));
    QCOMPARE(run.lines(),
             QStringList({"sim/a  serial \"A1\"  release 0x0001  \"Dravelko\" \"USB Tarnovid\"",
                          "sim/b  serial \"\"  release 0x0001  \"Dravelko\" \"USB Tarnovid\"",
                          "2 boards; 2 other 1234:0001 devices do not match (--all lists them)"}));

    run = runCtl(backend, {"list", "--all"});
    QStringList lines = run.lines();
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[2], QStringLiteral("sim/c  serial \"\"  release 0x0002  \"Dravelko\" "
                                      "\"USB Tarnovid\"  differs: release 0x0002 (wanted 0x0001)"));
    QCOMPARE(lines[3], QStringLiteral("sim/d  serial \"\"  release 0x0001  \"DRAVELKO\" "
                                      "\"USB Tarnovid\\n\\\"2\\\"\"  differs: manufacturer "
                                      "\"DRAVELKO\" (wanted \"Dravelko\"), product "
                                      "\"USB Tarnovid\\n\\\"2\\\"\" (wanted \"USB Tarnovid\"), "
                                      "bus Bluetooth (wanted USB)"));
    QCOMPARE(lines[4], QStringLiteral("sim/0  serial \"\"  release 0x0001  \"Dravelko\" "
                                      "\"USB Tarnovid\"  differs: vendor 0x046d (wanted 0x1234)"));
    QCOMPARE(lines[5], QStringLiteral("2 boards; 2 other 1234:0001 devices do not match"));

    run = runCtl(backend, {"list", "--all", "--json"});
    lines = run.lines();
    QCOMPARE(lines.size(), 5); // no count line: one object per device
    QList<QJsonObject> objects;
    for (const QString& line : lines)
        objects += QJsonDocument::fromJson(line.toUtf8()).object();
    QCOMPARE(objects[0].value("path").toString(), QStringLiteral("sim/a"));
    QCOMPARE(objects[0].value("serial").toString(), QStringLiteral("A1"));
    QCOMPARE(objects[0].value("release").toInt(), 1);
    QCOMPARE(objects[0].value("matches").toBool(), true);
    QVERIFY(!objects[0].contains("differs"));
    QCOMPARE(objects[3].value("product").toString(), QString::fromStdString(odd.product));
    QCOMPARE(objects[3].value("matches").toBool(), false);
    QCOMPARE(objects[3].value("differs").toObject().keys(),
             QStringList({"bus", "manufacturer", "product"}));
    QCOMPARE(objects[2].value("differs").toObject().value("release").toObject(),
             (QJsonObject{{"found", 2}, {"wanted", 1}}));
    QVERIFY(runCtl(backend, {"list", "--json"}).lines().size() == 2);

    // Only lookalikes: no board, and the error names them.
    auto lookalikes = std::make_shared<SimBackend>();
    lookalikes->addBoard(newer);
    run = runCtl(lookalikes, {"list"});
    QCOMPARE(run.code, int(kExitNoBoard));
    QCOMPARE(run.out, QStringLiteral("0 boards; 1 other 1234:0001 device does not match "
                                     "(--all lists them)\n"));
    run = runCtl(lookalikes, {"get"});
    QCOMPARE(run.code, int(kExitNoBoard));
    QCOMPARE(run.err, QStringLiteral("tarnovidctl: no board found; 1 other 1234:0001 device does "
                                     "not match (tarnovidctl list --all shows why)\n"));
}

void TarnovidctlTest::boardOptionChoosesAmongSeveral() {
    auto backend = std::make_shared<SimBackend>();
    auto first = backend->addTarnovid("sim/a");
    auto second = backend->addTarnovid("sim/b");
    HidDeviceInfo newer = tarnovidDeviceInfo("sim/c");
    newer.releaseNumber = 2;
    auto lookalike = backend->addBoard(newer);
    first->setInputs(0x01);
    second->setInputs(0x04);

    QCOMPARE(runCtl(backend, {"get"}).out, QStringLiteral("T2=1 T3=0 T4=0\n")); // first by path
    QCOMPARE(runCtl(backend, {"get", "--board", "sim/b"}).out, QStringLiteral("T2=0 T3=0 T4=1\n"));
    QCOMPARE(runCtl(backend, {"set", "0x81", "--board", "sim/b"}).code, int(kExitOk));
    QCOMPARE(second->outputs(), 0x81);
    QCOMPARE(first->outputs(), 0);
    QCOMPARE(first->openCount(), 1); // only the one get without --board

    // A path as Windows gives it is shown as it is, so that it can be handed back.
    const QString windowsPath = QStringLiteral("\\\\?\\hid#vid_1234&pid_0001#7&1a2b3c&0&0000");
    backend->addTarnovid(windowsPath.toStdString())->setInputs(0x02);
    const QString listed = runCtl(backend, {"list"}).lines().value(0);
    QVERIFY2(listed.startsWith(windowsPath + "  serial"), qPrintable(listed));
    QCOMPARE(runCtl(backend, {"get", "--board", listed.section("  ", 0, 0)}).out,
             QStringLiteral("T2=0 T3=1 T4=0\n"));

    Run run = runCtl(backend, {"get", "--board", "sim/c"});
    QCOMPARE(run.code, int(kExitNoBoard));
    QCOMPARE(run.err, QStringLiteral("tarnovidctl: no board at sim/c: it differs in release "
                                     "(tarnovidctl list --all shows why)\n"));
    QCOMPARE(lookalike->openCount(), 0);
    run = runCtl(backend, {"watch", "--board", "sim/z"});
    QCOMPARE(run.code, int(kExitNoBoard));
    QCOMPARE(run.err, QStringLiteral("tarnovidctl: no board at sim/z\n"));
}

void TarnovidctlTest::worksBesideTheWindow() {
    auto backend = std::make_shared<SimBackend>();
    auto board = backend->addTarnovid();
    board->wireInputsToOutputs(true);
    test::ShownWindow shown(backend);
    Usbport01& window = *shown.window;
    QTRY_VERIFY(window.Command2->isEnabled());

    // The window writes, tarnovidctl reads it back; tarnovidctl writes, the window reads it.
    shown.pressAtTwips(4710, 1305); // D0
    shown.clickButton(window.Command1);
    QCOMPARE(runCtl(backend, {"get"}).out, QStringLiteral("T2=1 T3=0 T4=0\n"));
    QCOMPARE(runCtl(backend, {"set", "D1"}).code, int(kExitOk));
    shown.clickButton(window.Command2);
    QCOMPARE(window.Shape2(0)->BackColor(), colour::Blue);
    QCOMPARE(window.Shape2(1)->BackColor(), colour::White);
    QVERIFY(window.Command1->isEnabled()); // the other program's coming and going is no loss

    // Both ask at the same time, over and over: each gets its own answers, none waits in vain.
    board->setAnswerDelayMs(1);
    Run watch;
    std::thread beside([&] {
        watch = runCtl(backend, {"watch", "--interval", "2", "--count", "60"});
    });
    QElapsedTimer clock;
    clock.start();
    int clicks = 0;
    for (; clicks < 40; ++clicks) {
        window.Shape2(1)->SetBackColor(colour::Blue);
        shown.clickButton(window.Command2);
        if (window.Shape2(1)->BackColor() != colour::White)
            break;
    }
    beside.join();
    QCOMPARE(clicks, 40);
    QCOMPARE(watch.code, int(kExitOk));
    QCOMPARE(watch.lines().size(), 60);
    for (const QString& line : watch.lines())
        QVERIFY2(line.endsWith(QLatin1String("T2=0 T3=1 T4=0")), qPrintable(line));
    QVERIFY(watch.err.isEmpty());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(window.Command2->isEnabled());
    QCOMPARE(board->openCount(), 1 + 3); // the window's, and one for each run of tarnovidctl
    QCOMPARE(board->closeCount(), 3);
}

void TarnovidctlTest::manPageNamesEveryOptionAndExitCode() {
    QFile page(QStringLiteral(TARNOVIDCTL_MAN_PAGE));
    QVERIFY2(page.open(QIODevice::ReadOnly), TARNOVIDCTL_MAN_PAGE);
    // troff writes a hyphen in an option name as \-.
    const QString text = QString::fromUtf8(page.readAll()).replace(QStringLiteral("\\-"), "-");
    const QRegularExpression longOption(QStringLiteral("--[a-z]+"));
    for (const auto& match : longOption.globalMatch(helpText()))
        QVERIFY2(text.contains(match.captured()), qPrintable(match.captured()));
    const qsizetype exitStatus = text.indexOf(QLatin1String(".SH \"EXIT STATUS\""));
    QVERIFY(exitStatus > 0);
    for (const ExitCodeText& exit : kExitCodeTexts)
        QVERIFY2(text.indexOf(QStringLiteral(".B %1\n").arg(int(exit.code)), exitStatus) > 0,
                 qPrintable(QString::number(exit.code)));
}

QTEST_MAIN(TarnovidctlTest)
#include "tst_tarnovidctl.moc"
