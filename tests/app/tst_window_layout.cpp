// The window as built from its definition: the facts the rest of the program relies on, the fonts
// actually used, and what the window looks like when rendered.

#include "colours.h"
#include "control_binding.h"
#include "fonts.h"
#include "layout.h"
#include "window_fixture.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <functional>

using namespace tarnovid;
using tarnovid::test::ShownWindow;

class WindowLayoutTest : public QObject {
    Q_OBJECT

    static Rgb pixel(const QImage& image, int x, int y) {
        return fromQColor(image.pixelColor(x, y));
    }

private slots:
    void windowIsTheFixedFrontPanel() {
        ShownWindow w;
        QCOMPARE(w.window->windowTitle(), QStringLiteral("USB Tarnovid "));
        QCOMPARE(w.window->size(), QSize(447, 326));
        QCOMPARE(w.window->minimumSize(), w.window->maximumSize());
        const Qt::WindowFlags flags = w.window->windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
    }

    void controlsSitWhereThePanelNeedsThem() {
        ShownWindow w;
        Usbport01& u = *w.window;
        QCOMPARE(u.Shape1.size(), std::size_t(8));
        QCOMPARE(u.Shape2.size(), std::size_t(3));
        // LED boxes: D7 leftmost, the two leftmost wider; every circle 25 px (375 twips) across.
        int previousLeft = -1;
        for (int i = 7; i >= 0; --i) {
            Shape* led = u.Shape1(i);
            QVERIFY2(led->x() > previousLeft, "LEDs must run D7 to D0 from left to right");
            previousLeft = led->x();
            QCOMPARE(led->width(), i >= 6 ? 41 : 33);
            QCOMPARE(led->height(), 25);
            QCOMPARE(led->y(), 80);
            QCOMPARE(led->figureRect().width(), led->figureRect().height());
            QCOMPARE(qRound(led->figureRect().width() + 2), 25);
            QCOMPARE(led->BackColor(), colour::White);
        }
        QCOMPARE(u.Shape1(0)->x(), 312);
        QCOMPARE(u.Shape1(7)->x(), 24);
        // Bit captions read opposite to their index; input captions stand above their indicator.
        auto label1 = [&](int i) { return w.label(QStringLiteral("Label1(%1)").arg(i)); };
        for (int i = 0; i < 8; ++i)
            QCOMPARE(label1(i)->text(), QStringLiteral("D%1").arg(7 - i));
        QVERIFY(label1(0)->x() < label1(7)->x());
        for (int bit = 0; bit < 3; ++bit) {
            QCOMPARE(label1(17 + bit)->text(), QStringLiteral("T%1").arg(2 + bit));
            QCOMPARE(label1(17 + bit)->x(), u.Shape2(bit)->x());
            QVERIFY(label1(17 + bit)->y() < u.Shape2(bit)->y());
            QCOMPARE(u.Shape2(bit)->BackColor(), colour::White);
        }
        QVERIFY(u.Shape2(2)->x() < u.Shape2(1)->x() && u.Shape2(1)->x() < u.Shape2(0)->x());
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, u.Shape1(8));
        QCOMPARE(w.label("Label2(0)")->text(), QStringLiteral("USB TARNOVID"));
        QCOMPARE(w.label("Label4(0)")->text(), QStringLiteral("Izlazni podaci"));
        QCOMPARE(w.label("Label4(1)")->text(), QStringLiteral("Ulazni podaci"));
        // 11 bit and input captions, the heading, two section captions and the credit line.
        QCOMPARE(u.findChildren<QLabel*>(Qt::FindDirectChildrenOnly).size(), 15);
        QCOMPARE(u.findChildren<Line*>(Qt::FindDirectChildrenOnly).size(), 8);
        QVERIFY(w.control<Line>("Line3(0)")->height() > w.control<Line>("Line3(0)")->width());
        QCOMPARE(u.Command1->text(), QStringLiteral("Upisi"));
        QCOMPARE(u.Command2->text(), QStringLiteral("Ocitaj"));
        QCOMPARE(u.Command1->geometry(), QRect(376, 72, 49, 25));
        QCOMPARE(u.Text1->geometry(), QRect(32, 232, 321, 19));
        QVERIFY(u.Text1->text().isEmpty());
        QCOMPARE(u.Timer1->interval(), 1000);
        QVERIFY(u.Timer1->isActive());
        QVERIFY(!u.Broj.has_value());
        QCOMPARE(u.Broj1, qint16(0));
    }

    void aLayoutEntryBindsOnlyToTheMemberItNames() {
        ControlArray<Shape> leds("Shape1");
        Button* upisi = nullptr;
        ControlBinding binding;
        binding.member(leds);
        binding.member("Command1", upisi, kSingle);
        QWidget parent;
        Shape led(Shape::Form::Circle, colour::White, colour::Red, &parent);
        Button button(QStringLiteral("Upisi"), colour::White, &parent);
        auto refusal = [&](const std::function<void()>& call) {
            try {
                call();
            } catch (const std::logic_error& e) {
                return QString::fromUtf8(e.what());
            }
            return QString();
        };
        QVERIFY(refusal([&] { binding.bind("Shape_1", 0, &led); }).contains("Shape_1(0)"));
        QVERIFY(!refusal([&] { binding.bind("Command1", kSingle, &led); }).isEmpty());
        binding.bind("Shape1", 3, &led);
        QCOMPARE(leds(3), &led);
        QVERIFY(refusal([&] { binding.checkComplete(); }).contains("Command1"));
        binding.bind("Command1", kSingle, &button);
        QCOMPARE(upisi, &button);
        QVERIFY(refusal([&] { binding.bind("Command1", kSingle, &button); }).contains("Command1"));
        binding.checkComplete();
    }

    void onlyButtonsAndStatusBoxTakeFocusInTabOrder() {
        ShownWindow w;
        Usbport01& u = *w.window;
        QCOMPARE(u.Command1->nextInFocusChain(), static_cast<QWidget*>(u.Command2));
        QCOMPARE(u.Command2->nextInFocusChain(), static_cast<QWidget*>(u.Text1));
        for (const QLabel* label : u.findChildren<QLabel*>())
            QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        // Both buttons are disabled while no board is open, so focus starts in the status box.
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(u.Text1));
    }

    void everyCaptionFitsItsBoxInTheFontInUse() {
        ShownWindow w;
        const QString family = windowFontFamily();
        QVERIFY2(fontCandidates().contains(family), qPrintable("unexpected font " + family));
        qInfo("captions in %s", qPrintable(family)); // which face this platform ended up with
        for (const QWidget* child : w.window->findChildren<QWidget*>()) {
            QString text;
            if (auto* label = qobject_cast<const QLabel*>(child))
                text = label->text();
            else if (auto* button = qobject_cast<const QPushButton*>(child))
                text = button->text();
            if (text.isEmpty())
                continue;
            const QFontInfo used(child->font());
            QCOMPARE(used.family(), family); // the font drawn is the font measured
            QVERIFY(used.bold());
            const int room =
                qobject_cast<const QPushButton*>(child) ? child->width() - 8 : child->width();
            QVERIFY2(captionFits(child->font(), text, room, child->height()),
                     qPrintable(QStringLiteral("'%1' is clipped in %2").arg(text, family)));
        }
        QVERIFY(QFontInfo(w.label("Label3")->font()).italic());
        QCOMPARE(w.label("Label2(0)")->font().pixelSize(), 18);
        QCOMPARE(w.window->Command1->font().pixelSize(), 11);
    }

    void captionFitsDetectsClipping() {
        const QFont font = windowFont(FontRole::Standard);
        QVERIFY(captionFits(font, QStringLiteral("D7"), 17, 17));
        QVERIFY(!captionFits(font, QStringLiteral("Izlazni podaci"), 30, 17));
        QVERIFY(!captionFits(font, QStringLiteral("D7"), 17, 5));
    }

    void rendersLedsIndicatorsAndInterruptedFrames() {
        ShownWindow w;
        Usbport01& u = *w.window;
        QImage before = u.grab().toImage();
        QCOMPARE(before.size(), QSize(447, 326));

        // Interiors: every LED and indicator white at its centre; outline dark on the ring.
        for (int i = 0; i < 8; ++i) {
            const QPoint c = u.Shape1(i)->geometry().center();
            QCOMPARE(pixel(before, c.x(), c.y()), colour::White);
        }
        for (int i = 0; i < 3; ++i) {
            const QPoint c = u.Shape2(i)->geometry().center();
            QCOMPARE(pixel(before, c.x(), c.y()), colour::White);
        }
        // Frame lines: green along each top edge, but cut where the section caption lies.
        QCOMPARE(pixel(before, 200, 48), colour::Green); // output top edge, right of caption
        QCOMPARE(pixel(before, 40, 48), colour::Green);  // output top edge, left of caption
        // Inside the caption box, past the caption's text: no line.
        QCOMPARE(pixel(before, 136, 47), colour::LightCyan);
        QCOMPARE(pixel(before, 136, 48), colour::LightCyan);
        QCOMPARE(pixel(before, 200, 144), colour::Green); // input top edge
        QCOMPARE(pixel(before, 136, 144), colour::LightCyan);
        QCOMPARE(pixel(before, 24, 100), colour::Green);  // output left edge
        QCOMPARE(pixel(before, 352, 200), colour::Green); // input right edge
        QCOMPARE(pixel(before, 200, 120), colour::Green); // output bottom edge
        QCOMPARE(pixel(before, 5, 5), colour::LightCyan); // window background

        // A red LED: interior red at once, outline unchanged.
        Shape* led = u.Shape1(3);
        const QPoint c = led->geometry().center();
        const QPoint ring =
            led->geometry().topLeft() + QPoint(qRound(led->figureRect().center().x()), 1);
        const Rgb outlineBefore = pixel(before, ring.x(), ring.y());
        QVERIFY2(qGray(toQColor(outlineBefore).rgb()) < 96, "outline should be dark");
        led->SetBackColor(colour::Red);
        const QImage after = u.grab().toImage();
        QCOMPARE(pixel(after, c.x(), c.y()), colour::Red);
        QCOMPARE(pixel(after, ring.x(), ring.y()), outlineBefore);
        QCOMPARE(pixel(after, u.Shape1(4)->geometry().center().x(), c.y()), colour::White);
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
