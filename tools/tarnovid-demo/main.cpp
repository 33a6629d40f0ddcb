// The real window on a board that lives in this process: its inputs T2, T3, T4 are wired to its
// outputs D0, D1, D2, so someone without hardware sees "Upisi" and "Ocitaj" do their work.

#include "demo_board.h"
#include "fonts.h"
#include "usbport01.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // A line edit lays its text out once in the application font while it is being built,
    // before it takes the window's: with Qt's default there, that loads a face never shown.
    QApplication::setFont(tarnovid::windowFont(tarnovid::FontRole::Standard));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnovid.svg")));
    QApplication::setApplicationName(QStringLiteral("tarnovid-demo"));

    tarnovid::Usbport01 window(tarnovid::makeDemoBackend());
    window.show();
    return app.exec();
}
