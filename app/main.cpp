// Program start: one window on the system's HID access.

#include "fonts.h"
#include "hid_backend.h"
#include "usbport01.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // A line edit lays its text out once in the application font while it is being built,
    // before it takes the window's: with Qt's default there, that loads a face never shown.
    QApplication::setFont(tarnovid::windowFont(tarnovid::FontRole::Standard));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnovid.svg")));
    QApplication::setApplicationName(QStringLiteral("tarnovid"));
    QApplication::setDesktopFileName(QStringLiteral("tarnovid"));

    tarnovid::Usbport01 window(tarnovid::makeHidapiBackend());
    window.show();
    return app.exec();
}
