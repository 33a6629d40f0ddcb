// The board emulator as a child process of the guest program, on Linux.

#include "board_process.h"

#include <QProcess>
#include <csignal>

namespace tarnovid::guest {

struct BoardProcess::Child {
    QProcess process;
};

BoardProcess::BoardProcess(const QString& program, const QStringList& options)
    : child_(std::make_unique<Child>()) {
    child_->process.setProcessChannelMode(QProcess::MergedChannels);
    child_->process.start(program, options);
    started_ = child_->process.waitForStarted(5000);
}

BoardProcess::~BoardProcess() { stop(); }

bool BoardProcess::running() { return child_->process.state() != QProcess::NotRunning; }

int BoardProcess::stop() {
    QProcess& process = child_->process;
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(2000);
            collect();
            return -1;
        }
    }
    collect();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void BoardProcess::signal(int number) {
    if (running())
        ::kill(static_cast<pid_t>(child_->process.processId()), number);
}

std::optional<int> BoardProcess::waitForExit(int timeoutMs) {
    QProcess& process = child_->process;
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs))
        return std::nullopt;
    collect();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void BoardProcess::collect() { take(child_->process.readAll().toStdString()); }

} // namespace tarnovid::guest
