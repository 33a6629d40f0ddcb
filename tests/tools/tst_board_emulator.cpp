// The emulated board's firmware rules, its command line, its signal routing and its instance lock,
// without a kernel.

#include "board_logic.h"
#include "instance_lock.h"
#include "options.h"
#include "signals.h"

#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tarnovid::board;

namespace {

std::vector<std::uint8_t> report(std::uint8_t command, std::uint8_t value,
                                 std::size_t size = kReportSize) {
    std::vector<std::uint8_t> bytes(size, 0);
    if (size > 0)
        bytes[0] = command;
    if (size > 1)
        bytes[1] = value;
    return bytes;
}

ParsedOptions parse(std::initializer_list<std::string_view> args) {
    return parseOptions(std::vector<std::string_view>(args));
}

// Runs `child` in a forked process and returns its wait status; the child's return value is its
// exit code. A child still running after 10 s is killed, so that one which hangs (a lock that
// waits instead of failing, a signal that stops it) fails its test then, not at ctest's limit.
template <typename F> int inChild(F child) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(child());
    // Through syscall(): glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage.
    if (const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); handle >= 0) {
        pollfd ended{handle, POLLIN, 0};
        if (::poll(&ended, 1, 10000) == 0)
            ::kill(pid, SIGKILL);
        ::close(handle);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// Which signal the routed descriptor delivers next, 0 if none is pending.
int nextRouted(int fd) {
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    signalfd_siginfo info{};
    return ::read(fd, &info, sizeof info) == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
}

} // namespace

class TestBoardLogic : public QObject {
    Q_OBJECT
private slots:
    void setOutputsIsStoredAndNotAnswered() {
        BoardState state;
        Outcome outcome = handleReport(state, report(kSetOutputs, 0x81));
        QCOMPARE(state.outputs, 0x81);
        QVERIFY(!outcome.answer);
        QCOMPARE(outcome.note, std::string("outputs 0x81"));
    }

    void readAnswersWithTheWiredInputs_data() {
        QTest::addColumn<int>("outputs");
        QTest::addColumn<int>("inputs");
        QTest::newRow("none") << 0x00 << 0x00;
        QTest::newRow("D7 and D0") << 0x81 << 0x01;
        QTest::newRow("D1 and D2") << 0x06 << 0x06;
        QTest::newRow("all") << 0xFF << 0x07;
        QTest::newRow("only D3..D7") << 0xF8 << 0x00;
    }
    void readAnswersWithTheWiredInputs() {
        QFETCH(int, outputs);
        QFETCH(int, inputs);
        BoardState state;
        handleReport(state, report(kSetOutputs, static_cast<std::uint8_t>(outputs)));
        Outcome outcome = handleReport(state, report(kReadInputs, 0x00));
        QVERIFY(outcome.answer);
        Report expected{};
        expected[0] = static_cast<std::uint8_t>(inputs);
        QVERIFY(*outcome.answer == expected);
        QCOMPARE(state.outputs, outputs); // a read leaves the outputs alone
    }

    void fixedInputsIgnoreTheOutputs() {
        BoardState state;
        state.fixedInputs = 0x05;
        handleReport(state, report(kSetOutputs, 0x02));
        Outcome outcome = handleReport(state, report(kReadInputs, 0x00));
        QVERIFY(outcome.answer);
        QCOMPARE((*outcome.answer)[0], 0x05);
        QCOMPARE(inputByte(state), 0x05);
    }

    void silentBoardTakesReadsButNeverAnswers() {
        BoardState state;
        state.answersReads = false;
        QVERIFY(!handleReport(state, report(kReadInputs, 0x00)).answer);
        handleReport(state, report(kSetOutputs, 0x42));
        QCOMPARE(state.outputs, 0x42);
    }

    // Framing faults of the host must not look like commands: a report carrying a stray report id
    // in front is one byte too long, one padded to 64 including the id one byte too short.
    void reportsOfTheWrongSizeAreIgnored_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("empty") << 0;
        QTest::newRow("two bytes, unpadded") << 2;
        QTest::newRow("one short") << 63;
        QTest::newRow("one long") << 65;
    }
    void reportsOfTheWrongSizeAreIgnored() {
        QFETCH(int, size);
        BoardState state;
        state.outputs = 0x11;
        Outcome write = handleReport(state, report(kSetOutputs, 0x81, size));
        Outcome read = handleReport(state, report(kReadInputs, 0x00, size));
        QCOMPARE(state.outputs, 0x11);
        QVERIFY(!write.answer);
        QVERIFY(!read.answer);
        QVERIFY(write.note.starts_with("ignored: " + std::to_string(size) + " bytes"));
    }

    void unknownCommandsChangeNothing() {
        BoardState state;
        state.outputs = 0x33;
        for (int command : {0x00, 0x81, 0xFA, 0xFD, 0xFF}) {
            Outcome outcome = handleReport(state, report(static_cast<std::uint8_t>(command), 0x55));
            QVERIFY(!outcome.answer);
            QVERIFY(outcome.note.starts_with("ignored: unknown command"));
        }
        QCOMPARE(state.outputs, 0x33);
    }

    void bytesAreDescribedWithTrailingZerosFolded() {
        QCOMPARE(describeBytes(report(0xFB, 0x81)), std::string("fb 81 (+62 zeros)"));
        QCOMPARE(describeBytes(report(0xFC, 0x00)), std::string("fc (+63 zeros)"));
        QCOMPARE(describeBytes(report(0xFC, 0x00, 2)), std::string("fc 00"));
        QCOMPARE(describeBytes(report(0x00, 0x00, 64)), std::string("(+64 zeros)"));
        QCOMPARE(describeBytes(std::vector<std::uint8_t>{0x00, 0xFB, 0x81}),
                 std::string("00 fb 81"));
        QCOMPARE(describeBytes(std::vector<std::uint8_t>{}), std::string("(empty)"));
    }

    // Stopped by anything, the emulator must still unbind and remove its gadget; a board left
    // bound with nobody serving it hangs the host's writes.
    void noCatchableSignalEndsItPastItsLoop() {
        const int status = inChild([] {
            const int fd = routeSignals();
            if (fd < 0)
                return 100;
            for (int signal = 1; signal <= SIGRTMAX; ++signal) {
                const bool uncatchable = signal == SIGKILL || signal == SIGSTOP;
                const bool stops = signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU;
                const bool fault = signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE ||
                                   signal == SIGILL || signal == SIGSYS || signal == SIGTRAP ||
                                   signal == SIGABRT;
                const bool glibcInternal = signal > 31 && signal < SIGRTMIN;
                if (uncatchable || stops || fault || glibcInternal)
                    continue;
                ::kill(::getpid(), signal); // one that is not routed ends the child here
                const int routed = nextRouted(fd);
                if (routed != 0 && routed != signal)
                    return 101;
            }
            // The loop sees the usual ways of stopping a program, Ctrl+\ among them.
            for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) {
                ::kill(::getpid(), signal);
                if (nextRouted(fd) != signal)
                    return 102;
            }
            // A log whose reader has gone is a failed write, not the end.
            int pipeFds[2];
            if (::pipe(pipeFds) != 0)
                return 103;
            ::close(pipeFds[0]);
            if (::write(pipeFds[1], "x", 1) != -1 || errno != EPIPE)
                return 104;
            return 0;
        });
        QVERIFY2(!WIFSIGNALED(status),
                 qPrintable(QString("ended by signal %1").arg(WTERMSIG(status))));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void aFaultUnbindsTheGadgetOnItsWayOut() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string udc = dir.filePath("UDC").toStdString();
        // configfs takes a whole value per write; a plain file stands in for it only if empty.
        std::ofstream{udc};
        const int status = inChild([&] {
            routeSignals();
            unplugOnFault(udc);
            std::abort(); // what an uncaught exception comes to
            return 0;
        });
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGABRT);
        std::ifstream written(udc);
        std::string content((std::istreambuf_iterator<char>(written)), {});
        QCOMPARE(content, std::string("\n"));
    }

    void aGadgetNameServesOneEmulatorAtATime() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string where = dir.path().toStdString();
        {
            InstanceLock first(where, "tarnovid");
            QVERIFY2(first.held(), first.error().c_str());
            InstanceLock second(where, "tarnovid");
            QVERIFY(!second.held());
            QVERIFY2(second.error().find("another tarnovid-board") != std::string::npos &&
                         second.error().find("--name") != std::string::npos,
                     second.error().c_str());
            InstanceLock other(where, "tarnovid2");
            QVERIFY2(other.held(), other.error().c_str());
            // Another process is refused the same way.
            const int status = inChild([&] { return InstanceLock(where, "tarnovid").held(); });
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        }
        // Gone with its holder, however that ended.
        const int status = inChild([&] {
            static InstanceLock held(where, "tarnovid");
            ::raise(SIGKILL);
            return 0;
        });
        QVERIFY(WIFSIGNALED(status));
        QVERIFY(InstanceLock(where, "tarnovid").held());
        QVERIFY(!InstanceLock(where + "/missing", "tarnovid").held());
    }

    void optionsDefaultToAWiredAnsweringBoard() {
        ParsedOptions parsed = parse({});
        QVERIFY(parsed.error.empty());
        QVERIFY(!parsed.options.inputs);
        QVERIFY(!parsed.options.neverAnswer);
        QCOMPARE(parsed.options.answerDelayMs, 0);
        QCOMPARE(parsed.options.unplugAfterMs, -1);
        QCOMPARE(parsed.options.replugAfterMs, -1);
        QCOMPARE(parsed.options.stopReadingAfterMs, -1);
        QCOMPARE(parsed.options.stopReadingForMs, -1);
        QCOMPARE(parsed.options.name, std::string("tarnovid"));
    }

    void optionsTakeSeparateAndInlineValues() {
        ParsedOptions parsed =
            parse({"--inputs=0x05", "--answer-delay", "120", "--never-answer", "--unplug-after",
                   "0x10", "--replug-after=300", "--udc", "dummy_udc.1", "--name=b2", "--configfs",
                   "/cfg", "--stop-reading-after", "0", "--stop-reading-for=2500"});
        QVERIFY2(parsed.error.empty(), parsed.error.c_str());
        const Options& o = parsed.options;
        QCOMPARE(o.inputs.value_or(0xEE), 0x05);
        QCOMPARE(o.answerDelayMs, 120);
        QVERIFY(o.neverAnswer);
        QCOMPARE(o.unplugAfterMs, 16);
        QCOMPARE(o.replugAfterMs, 300);
        QCOMPARE(o.udc, std::string("dummy_udc.1"));
        QCOMPARE(o.name, std::string("b2"));
        QCOMPARE(o.configfs, std::string("/cfg"));
        QCOMPARE(o.stopReadingAfterMs, 0);
        QCOMPARE(o.stopReadingForMs, 2500);
        QVERIFY(parse({"--help"}).options.help);
        QVERIFY(parse({"-h"}).options.help);
    }

    void badOptionsAreRefusedWithTheirName_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("named");
        QTest::newRow("unknown") << QStringList{"--inputz", "1"} << "--inputz";
        QTest::newRow("missing value") << QStringList{"--answer-delay"} << "--answer-delay";
        QTest::newRow("not a number") << QStringList{"--inputs", "five"} << "--inputs";
        QTest::newRow("byte too big") << QStringList{"--inputs", "256"} << "--inputs";
        QTest::newRow("negative delay") << QStringList{"--answer-delay=-5"} << "--answer-delay";
        QTest::newRow("trailing junk") << QStringList{"--unplug-after", "10ms"} << "--unplug-after";
        QTest::newRow("path as name") << QStringList{"--name", "../x"} << "--name";
        QTest::newRow("flag with value") << QStringList{"--never-answer=1"} << "--never-answer";
        QTest::newRow("replug alone") << QStringList{"--replug-after", "5"} << "--replug-after";
        QTest::newRow("resume alone")
            << QStringList{"--stop-reading-for", "5"} << "--stop-reading-for";
        QTest::newRow("negative stop")
            << QStringList{"--stop-reading-after=-1"} << "--stop-reading-after";
    }
    void badOptionsAreRefusedWithTheirName() {
        QFETCH(QStringList, args);
        QFETCH(QString, named);
        std::vector<std::string> storage;
        for (const QString& a : args)
            storage.push_back(a.toStdString());
        std::vector<std::string_view> views(storage.begin(), storage.end());
        ParsedOptions parsed = parseOptions(views);
        QVERIFY2(parsed.error.starts_with(named.toStdString()), parsed.error.c_str());
    }
};

QTEST_GUILESS_MAIN(TestBoardLogic)
#include "tst_board_emulator.moc"
