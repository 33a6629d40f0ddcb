// tarnovidctl: the board from the command line, through the C library on the window's own link.

#include "commands.h"
#include "interrupt.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

namespace {

// The link tells a human at a window about a refused open; here the command reports it itself,
// in its one error line. Only what would end the program gets through.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "tarnovidctl: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnovidctl"));
    qInstallMessageHandler(quiet);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const tarnovid::ctl::Environment env{out, err, tarnovid::ctl::catchInterrupts,
                                         tarnovid::ctl::interruptRequested};
    return tarnovid::ctl::runCommandLine(QCoreApplication::arguments(), env);
}
