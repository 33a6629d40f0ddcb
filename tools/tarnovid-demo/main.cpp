// The real window on a board that lives in this process: its inputs T2, T3, T4 are wired to its
// outputs D0, D1, D2, so someone without hardware sees "Upisi" and "Ocitaj" do their work. With
// --board, the same board fails in one way, so the window's handling of it can be watched
// without hardware or root.

#include "demo_board.h"
#include "fonts.h"
#include "usbport01.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <optional>

namespace {

constexpr int kUsageError = 2; // as tarnovidctl's

int usage(const QString& why) {
    std::fprintf(stderr, "tarnovid-demo: %s\nTry 'tarnovid-demo --help'.\n", qPrintable(why));
    return kUsageError;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnovid-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Tarnovid window on a simulated board: T2, T3, T4 follow D0, D1, D2.\n"
        "\n"
        "Failing boards, for --board:\n"
        "  demo:noreply          takes every report, never answers a read\n"
        "  demo:stall            takes no report: writes wait, as with firmware that\n"
        "                        stopped reading\n"
        "  demo:short            the 2nd, 4th, ... answer comes empty: no answer\n"
        "  demo:unplug-after=MS  goes away MS ms after it is first opened, for good\n"
        "  demo:replug-after=MS  goes away MS ms after it is first opened, comes back\n"
        "                        MS ms later, and so on every MS ms"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption board(QStringLiteral("board"),
                                   QStringLiteral("The simulated board: demo (the default) or "
                                                  "one of the failing boards above."),
                                   QStringLiteral("mode"), QStringLiteral("demo"));
    parser.addOptions({help, board});
    if (!parser.parse(QApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected \"%1\"").arg(parser.positionalArguments().first()));
    const QString path = parser.value(board);
    std::string why;
    const std::optional<tarnovid::DemoMode> mode =
        tarnovid::parseDemoMode(path.toStdString(), &why);
    if (!mode)
        return usage(QStringLiteral("--board %1: %2").arg(path, QString::fromStdString(why)));

    // A line edit lays its text out once in the application font while it is being built,
    // before it takes the window's: with Qt's default there, that loads a face never shown.
    QApplication::setFont(tarnovid::windowFont(tarnovid::FontRole::Standard));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnovid.svg")));

    tarnovid::Usbport01 window(tarnovid::makeDemoBackend(*mode));
    window.show();
    return app.exec();
}
