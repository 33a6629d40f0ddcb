#pragma once
// Shared set-up for tests that drive the real window: a shown Usbport01 on a simulated backend and
// helpers that press the mouse at twip positions through the window system, so presses reach
// whichever control lies under them exactly as a user's would.

#include "sim_board.h"
#include "twips.h"
#include "usbport01.h"

#include <QLabel>
#include <QTest>
#include <QWindow>
#include <memory>

namespace tarnovid::test {

struct ShownWindow {
    std::shared_ptr<SimBackend> backend = std::make_shared<SimBackend>();
    std::unique_ptr<Usbport01> window;

    ShownWindow() { show(); }
    explicit ShownWindow(std::shared_ptr<SimBackend> b)
        : backend(std::move(b)) {
        show();
    }

    void show() {
        window = std::make_unique<Usbport01>(backend);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    // Twip coordinates must be whole pixels for the press to land exactly there.
    void pressAtTwips(int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        QVERIFY2(x % kTwipsPerPixel == 0 && y % kTwipsPerPixel == 0, "not a whole pixel");
        QTest::mouseClick(window->windowHandle(), button, {},
                          QPoint(twipsToPixels(x), twipsToPixels(y)));
    }

    // A control no handler uses, found as a user of the layout would name it: "Label1(7)",
    // "Label3".
    template <class Control = QWidget> Control* control(const QString& objectName) const {
        auto* found = window->findChild<Control*>(objectName, Qt::FindDirectChildrenOnly);
        if (found == nullptr)
            qFatal("the window has no control %s", qPrintable(objectName));
        return found;
    }
    QLabel* label(const QString& objectName) const { return control<QLabel>(objectName); }

    void clickButton(QWidget* button) {
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, button->geometry().center());
    }
};

} // namespace tarnovid::test
