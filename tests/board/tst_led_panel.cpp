// Switching the LEDs by mouse: presses go through the window system to whatever lies under them,
// and Form_MouseDown decides by twip coordinates which LED was meant.

#include "led_panel.h"
#include "window_fixture.h"

#include <QTest>

using namespace tarnovid;
using tarnovid::test::ShownWindow;

class LedPanelTest : public QObject {
    Q_OBJECT

    static int redMask(const Usbport01& u) {
        int mask = 0;
        for (int i = 0; i < 8; ++i)
            if (u.Shape1(i)->BackColor() == colour::Red)
                mask |= 1 << i;
        return mask;
    }

private slots:
    void hitRegionsOverlapsAndGap_data() {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<int>("led");
        QTest::newRow("D7 left edge included") << 360.f << 1300.f << 7;
        QTest::newRow("D7 wide box") << 950.f << 1300.f << 7;
        QTest::newRow("overlap D7/D6 -> lower index") << 965.f << 1300.f << 6;
        QTest::newRow("D6 right bound excluded") << 1575.f << 1300.f << kNoLed;
        QTest::newRow("gap") << 1600.f << 1300.f << kNoLed;
        QTest::newRow("gap end") << 1679.9f << 1300.f << kNoLed;
        QTest::newRow("D5 starts") << 1680.f << 1300.f << 5;
        QTest::newRow("overlap D5/D4") << 2285.f << 1300.f << 4;
        QTest::newRow("overlap D1/D0") << 4694.f << 1300.f << 0;
        QTest::newRow("D0 past its box") << 5294.f << 1300.f << 0;
        QTest::newRow("D0 right bound excluded") << 5295.f << 1300.f << kNoLed;
        QTest::newRow("top bound excluded") << 400.f << 1200.f << kNoLed;
        QTest::newRow("just below top") << 400.f << 1200.5f << 7;
        QTest::newRow("bottom bound excluded") << 400.f << 1575.f << kNoLed;
        QTest::newRow("left of panel") << 359.f << 1300.f << kNoLed;
    }
    void hitRegionsOverlapsAndGap() {
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(int, led);
        QCOMPARE(ledAt(x, y), led);
    }

    void outputByteCountsExactlyRedLeds() {
        std::array<Rgb, kLedCount> leds;
        leds.fill(colour::White);
        QCOMPARE(outputByte(leds), 0);
        leds[0] = colour::Red;
        QCOMPARE(outputByte(leds), 1);
        leds[7] = colour::Red;
        QCOMPARE(outputByte(leds), 0x81);
        leds[3] = rgb(254, 0, 0); // not exactly red: off as far as the byte goes
        QCOMPARE(outputByte(leds), 0x81);
        leds.fill(colour::Red);
        QCOMPARE(outputByte(leds), 255);
        QCOMPARE(toggledLedColour(colour::White), colour::Red);
        QCOMPARE(toggledLedColour(colour::Red), colour::White);
        QCOMPARE(toggledLedColour(colour::Blue), colour::White);
    }

    void pressesToggleLedsAndRecomputeBroj() {
        ShownWindow w;
        Usbport01& u = *w.window;
        QVERIFY(!u.Broj.has_value());
        w.pressAtTwips(405, 1305); // D7
        QCOMPARE(u.Shape1(7)->BackColor(), colour::Red);
        QCOMPARE(u.Broj, std::optional<int>(128));
        w.pressAtTwips(405, 1305);
        QCOMPARE(u.Shape1(7)->BackColor(), colour::White);
        QCOMPARE(u.Broj, std::optional<int>(0));

        w.pressAtTwips(960, 1305); // overlap of D7 and D6
        QCOMPARE(redMask(u), 0x40);
        w.pressAtTwips(960, 1305);
        w.pressAtTwips(4710, 1305); // D0
        QCOMPARE(u.Broj, std::optional<int>(1));
        w.pressAtTwips(405, 1305);
        QCOMPARE(u.Broj, std::optional<int>(0x81));
    }

    void boundsAndGapToggleNothing() {
        ShownWindow w;
        Usbport01& u = *w.window;
        w.pressAtTwips(405, 1200);  // top bound
        w.pressAtTwips(405, 1575);  // bottom bound
        w.pressAtTwips(1590, 1305); // gap between D6 and D5
        w.pressAtTwips(5295, 1305); // right of D0's region
        QCOMPARE(redMask(u), 0);
        // A miss still computes the byte: from the first press on Broj has a value.
        QCOMPARE(u.Broj, std::optional<int>(0));
        w.pressAtTwips(405, 1215);  // first row inside
        w.pressAtTwips(405, 1560);  // last row inside
        QCOMPARE(redMask(u), 0);    // toggled twice
        w.pressAtTwips(5280, 1305); // inside D0's region, past its circle
        QCOMPARE(redMask(u), 0x01);
    }

    void everyMouseButtonActsAlike() {
        ShownWindow w;
        Usbport01& u = *w.window;
        w.pressAtTwips(2295, 1305, Qt::RightButton); // D4 (overlap D5/D4)
        QCOMPARE(redMask(u), 0x10);
        w.pressAtTwips(3000, 1305, Qt::MiddleButton); // D3
        QCOMPARE(redMask(u), 0x18);
        QCOMPARE(u.Broj, std::optional<int>(0x18));
    }

    void allEightOn() {
        ShownWindow w;
        for (int x : {405, 1005, 1695, 2310, 2895, 3495, 4095, 4695})
            w.pressAtTwips(x, 1305);
        QCOMPARE(w.window->Broj, std::optional<int>(255));
    }

    void pressesOnControlsNeverReachThePanel() {
        ShownWindow w;
        Usbport01& u = *w.window;
        // The caption "D0", the heading and the status box take their own presses.
        for (QWidget* control : {w.control("Label1(7)"), w.control("Label2(0)"),
                                 static_cast<QWidget*>(u.Text1), w.control("Label4(0)")}) {
            QTest::mouseClick(u.windowHandle(), Qt::LeftButton, {}, control->geometry().center());
            QVERIFY2(!u.Broj.has_value(), qPrintable(control->objectName()));
        }
        // A frame line and an LED's outline take nothing: the press reaches the window.
        QTest::mouseClick(u.windowHandle(), Qt::LeftButton, {}, QPoint(200, 48));
        QCOMPARE(u.Broj, std::optional<int>(0));
    }
};

QTEST_MAIN(LedPanelTest)
#include "tst_led_panel.moc"
