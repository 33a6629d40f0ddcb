// Where the real program's startup goes, phase by phase, measured inside one process the way
// app/main.cpp starts: the application object, the window icon, the font choice, the system's
// HID access, the window (its controls and its first Connect), and showing it up to its first
// paint. With
// --floor it does the same for an empty window instead, for comparison. With --app-font the
// window's standard font is made the application's font before the window is built, so no
// control is ever laid out in Qt's default font first: the change bench/README.md proposes.

#include "fonts.h"
#include "hid_backend.h"
#include "usbport01.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QIcon>
#include <QWidget>
#include <cstdio>

namespace {

// Ends the event loop at the first paint of the watched widget.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
    bool painted = false;
};

} // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    auto phase = [&](const char* name) {
        const qint64 now = clock.nsecsElapsed();
        std::printf("%-34s %8.2f ms\n", name, double(now - last) / 1e6);
        last = now;
    };

    QApplication app(argc, argv);
    phase("QApplication");
    const bool floor = QApplication::arguments().contains(QStringLiteral("--floor"));

    FirstPaint firstPaint;
    std::unique_ptr<QWidget> window;
    if (floor) {
        window = std::make_unique<QWidget>();
        window->setFixedSize(447, 326);
        phase("empty QWidget");
    } else {
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnovid.svg")));
        phase("window icon (QIcon)");
        tarnovid::windowFontFamily();
        phase("font choice (fontconfig, captions)");
        if (QApplication::arguments().contains(QStringLiteral("--app-font")))
            QApplication::setFont(tarnovid::windowFont(tarnovid::FontRole::Standard));
        auto backend = tarnovid::makeHidapiBackend();
        phase("hidapi backend (hid_init)");
        window = std::make_unique<tarnovid::Usbport01>(backend);
        phase("Usbport01 (controls, Form_Load)");
    }
    window->installEventFilter(&firstPaint);
    window->show();
    phase("show()");
    app.exec();
    phase("event loop to first paint");
    std::printf("%-34s %8.2f ms\n", "total after main()", double(clock.nsecsElapsed()) / 1e6);
    return firstPaint.painted ? 0 : 1;
}
