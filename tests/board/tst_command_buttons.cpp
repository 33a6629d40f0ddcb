// "Upisi" and "Ocitaj" end to end: real clicks on the window, a simulated board underneath, the
// bytes checked where the board receives them.

#include "board_facts.h"
#include "board_report.h"
#include "colours.h"
#include "hidcomm.h"
#include "link_error.h"
#include "protocol.h"
#include "window_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace tarnovid;
using tarnovid::test::ShownWindow;

namespace {

// The link's wait for the board, in the unit the checks use.
constexpr int kTimeoutMs = int(tarnovid::BoardLink::kDefaultTimeout.count());

// A shown window whose board was plugged in before it opened, so it is connected from the start.
struct Connected {
    std::shared_ptr<SimBackend> backend = std::make_shared<SimBackend>();
    std::shared_ptr<SimBoard> board = backend->addTarnovid();
    ShownWindow shown{backend};
    std::unique_ptr<Usbport01>& window = shown.window;

    void pressAtTwips(int x, int y) { shown.pressAtTwips(x, y); }
    void clickButton(QWidget* button) { shown.clickButton(button); }
    std::array<Rgb, 3> indicators() const {
        return {window->Shape2(0)->BackColor(), window->Shape2(1)->BackColor(),
                window->Shape2(2)->BackColor()};
    }
};

constexpr Rgb W = colour::White;
constexpr Rgb B = colour::Blue;

} // namespace

class CommandButtonsTest : public QObject {
    Q_OBJECT

private slots:
    void requestHelpers() {
        QCOMPARE(newRequest(), QByteArray(9, '\0'));
        QCOMPARE(requestByte(std::nullopt), char(0));
        QCOMPARE(quint8(requestByte(255)), quint8(255));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, requestByte(256));
        QCOMPARE(inputByte(QByteArray("\xF8", 1)), qint16(0xF8));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, inputByte(QByteArray()));
    }

    void upisiSendsTheLedByte() {
        Connected w;
        Usbport01& u = *w.window;
        w.clickButton(u.Command1); // no press on the window yet: Broj has no value
        QCOMPARE(w.board->writes().size(), std::size_t(1));
        QCOMPARE(w.board->writes().back(), test::boardReport(board::kSetOutputs, 0x00));

        w.pressAtTwips(405, 1305);  // D7
        w.pressAtTwips(4710, 1305); // D0
        w.clickButton(u.Command1);
        QCOMPARE(w.board->writes().back(), test::boardReport(board::kSetOutputs, 0x81));
        QCOMPARE(w.board->outputs(), std::uint8_t(0x81));
        QVERIFY(u.Command1->isEnabled());
        QVERIFY(u.Command2->isEnabled());
    }

    void ocitajShowsTheInputBits_data() {
        QTest::addColumn<int>("inputs");
        QTest::addColumn<int>("answerLength");
        QTest::addColumn<Rgb>("t2");
        QTest::addColumn<Rgb>("t3");
        QTest::addColumn<Rgb>("t4");
        QTest::newRow("0x05") << 0x05 << 64 << W << B << W;
        QTest::newRow("0x06") << 0x06 << 64 << B << W << W;
        QTest::newRow("0x00") << 0x00 << 64 << B << B << B;
        QTest::newRow("0xFF") << 0xFF << 64 << W << W << W;
        QTest::newRow("0xF8 upper bits unused") << 0xF8 << 64 << B << B << B;
        QTest::newRow("one-byte answer") << 0x02 << 1 << B << W << B;
    }
    void ocitajShowsTheInputBits() {
        QFETCH(int, inputs);
        QFETCH(int, answerLength);
        Connected w;
        Usbport01& u = *w.window;
        w.board->setInputs(std::uint8_t(inputs));
        w.board->setAnswerLength(answerLength);
        w.clickButton(u.Command2);
        QCOMPARE(w.board->writes().back(), test::boardReport(board::kReadInputs, 0x00));
        QCOMPARE(u.Broj1, qint16(inputs));
        QFETCH(Rgb, t2);
        QFETCH(Rgb, t3);
        QFETCH(Rgb, t4);
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{t2, t3, t4}));
        QVERIFY(u.Command1->isEnabled());
    }

    void noAnswerKeepsIndicatorsAndWindowResponsive() {
        Connected w;
        Usbport01& u = *w.window;
        // Before any read: a silent board must not paint the request's 0xFC as inputs.
        w.board->setStall(true);
        QElapsedTimer clock;
        clock.start();
        w.clickButton(u.Command2);
        QVERIFY2(clock.elapsed() < kTimeoutMs + 400, "the read must give up on its own");
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{W, W, W}));
        QCOMPARE(u.Broj1, qint16(0));

        w.board->setStall(false);
        w.board->setInputs(0x05);
        w.clickButton(u.Command2);
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{W, B, W}));

        w.board->setStall(true);
        w.clickButton(u.Command2);
        QCOMPARE(u.Broj1, qint16(5));
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{W, B, W}));

        // An empty answer reads as no answer at all.
        w.board->setStall(false);
        w.board->setAnswerLength(0);
        w.board->setInputs(0x00);
        w.clickButton(u.Command2);
        QCOMPARE(u.Broj1, qint16(5));
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{W, B, W}));

        // Still responsive: a later click works at once.
        w.board->setAnswerLength(64);
        w.clickButton(u.Command2);
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{B, B, B}));
        QVERIFY(u.Command1->isEnabled());
    }

    void boardLostDuringOcitajLeavesBothButtonsDisabled() {
        Connected w;
        Usbport01& u = *w.window;
        w.board->setInputs(0x07);
        QSignalSpy lost(u.HIDComm1, &HIDComm::Disconnected);
        // Runs inside Ocitaj's own event processing, after the answer has been read.
        QMetaObject::invokeMethod(
            &u,
            [&] {
                w.board->unplug();
                QTRY_COMPARE(lost.count(), 1);
            },
            Qt::QueuedConnection);
        u.Command2_Click();
        QCOMPARE(lost.count(), 1);
        QVERIFY(!u.Command1->isEnabled());
        QVERIFY(!u.Command2->isEnabled());
        QCOMPARE(u.Text1->text(), QStringLiteral("Tarnovid - diskonektovano"));
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{W, W, W})); // the answer did arrive
        QCOMPARE(u.Broj1, qint16(7));
    }

    void aBoardThatStopsTakingReportsIsStillTheBoard() {
        Connected w;
        Usbport01& u = *w.window;
        const QString name = u.Text1->text();
        QSignalSpy lost(u.HIDComm1, &HIDComm::Disconnected);
        // The firmware stops reading; the system gives the stuck report up (usbhid after USB's
        // 5 s), the board still plugged in.
        w.board->setWriteStall(true);
        w.board->setSystemWriteTimeoutMs(150);
        w.clickButton(u.Command1);
        QTRY_COMPARE(w.board->stuckWrites(), 0);
        QTest::qWait(50); // the link's news, had there been any, has had its turn
        QCOMPARE(lost.count(), 0);
        QCOMPARE(u.Text1->text(), name);
        QVERIFY(u.Command1->isEnabled() && u.Command2->isEnabled());
        // Once it reads again, the next click reaches it.
        w.board->setWriteStall(false);
        w.clickButton(u.Command2);
        QCOMPARE(w.board->writes().back(), test::boardReport(board::kReadInputs, 0x00));
    }

    void upisiWithTheBoardGoneStaysDisabled() {
        Connected w;
        Usbport01& u = *w.window;
        QSignalSpy lost(u.HIDComm1, &HIDComm::Disconnected);
        w.board->unplug();
        QVERIFY(lost.wait(200));
        u.Command1_Click(); // the write fails; the click still runs to its end
        QVERIFY(!u.Command1->isEnabled());
        u.Command2_Click();
        QVERIFY(!u.Command1->isEnabled());
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{W, W, W}));
    }

    void secondOcitajNestedInsideTheFirst() {
        Connected w;
        Usbport01& u = *w.window;
        w.board->setInputs(0x01);
        bool nestedRan = false;
        QMetaObject::invokeMethod(
            &u,
            [&] {
                w.board->setInputs(0x06);
                w.clickButton(u.Command2); // runs to its end before the outer click goes on
                nestedRan = true;
                QCOMPARE(u.Broj1, qint16(6));
                QCOMPARE(w.indicators(), (std::array<Rgb, 3>{B, W, W}));
            },
            Qt::QueuedConnection);
        u.Command2_Click();
        QVERIFY(nestedRan);
        // The outer click finishes with its own answer.
        QCOMPARE(u.Broj1, qint16(1));
        QCOMPARE(w.indicators(), (std::array<Rgb, 3>{W, B, B}));
        const auto writes = w.board->writes();
        QCOMPARE(writes.size(), std::size_t(2));
        QCOMPARE(writes[0], test::boardReport(board::kReadInputs, 0x00));
        QCOMPARE(writes[1], test::boardReport(board::kReadInputs, 0x00));
        QVERIFY(u.Command1->isEnabled());
    }
};

QTEST_MAIN(CommandButtonsTest)
#include "tst_command_buttons.moc"
