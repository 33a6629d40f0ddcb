// Program start: one window on the system's HID access.

#include "hid_backend.h"
#include "usbport01.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnovid.svg")));
    QApplication::setApplicationName(QStringLiteral("tarnovid"));
    QApplication::setDesktopFileName(QStringLiteral("tarnovid"));

    tarnovid::Usbport01 window(tarnovid::makeHidapiBackend());
    window.show();
    return app.exec();
}
