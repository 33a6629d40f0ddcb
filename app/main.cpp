// Program start: one window on the system's HID access.

#include "hid_backend.h"
#include "usbport01.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnovid"));
    QApplication::setApplicationDisplayName(QStringLiteral("USB Tarnovid"));
    QApplication::setDesktopFileName(QStringLiteral("tarnovid"));

    tarnovid::Usbport01 window(tarnovid::makeHidapiBackend());
    window.show();
    return app.exec();
}
