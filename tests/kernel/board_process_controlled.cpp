// The board emulator for a guest program built for Windows and run under Wine in the test kernel.
// Such a program can start a Linux program, but Wine hands it no process handle for it (the call
// succeeds with a null handle) and no output of it arrives through a pipe: it could neither wait
// for the emulator, nor signal it, nor read its log. So the emulator runs on the Linux side,
// started, signalled and watched by the guest's board controller (tests/kernel/windows_guest.sh),
// which this program asks through files in a folder both sides see:
//   <name>.start   the emulator's options, one a line      (this program; the controller takes it)
//   <name>.pid     the emulator runs                       (the controller)
//   <name>.log     the emulator's stdout and stderr        (the emulator)
//   <name>.signal  a Linux signal number to send it        (this program; the controller takes it)
//   <name>.exit    its exit status, once it has ended      (the controller)
// Each file appears whole: it is written under another name and renamed.

#include "board_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTest>
#include <csignal>
#include <cstdio>

// windows.h before the headers that build on it.
// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

namespace tarnovid::guest {

namespace {

constexpr int kSigKill = 9; // Linux's numbers: the controller signals a Linux process

QString controlFolder() {
    const QString folder = qEnvironmentVariable("TARNOVID_BOARD_CONTROL");
    return folder.isEmpty() ? QStringLiteral("Z:/tmp/tarnovid-boards") : folder;
}

bool writeWhole(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.commit();
}

// Whether Windows still lists a HID interface of a board (USB 1234:0001). Wine removes a board's
// device a while after its hidraw node has gone, and a board plugged in meanwhile gets the same
// interface path: a program could open the old one, which no longer reads.
bool boardListed() {
    static const GUID hid = {
        0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    HDEVINFO set =
        SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    bool listed = false;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; !listed && SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &iface); ++i) {
        alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) char buffer[1024];
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
        detail->cbSize = sizeof *detail;
        if (SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, sizeof buffer, nullptr, nullptr))
            listed = QString::fromWCharArray(detail->DevicePath)
                         .contains(QLatin1String("vid_1234&pid_0001"), Qt::CaseInsensitive);
    }
    SetupDiDestroyDeviceInfoList(set);
    return listed;
}

} // namespace

struct BoardProcess::Child {
    QString base; // the folder and this emulator's name, without the suffix
    qint64 logRead = 0;

    QString path(const char* suffix) const { return base + QLatin1String(suffix); }
    bool ended() const { return QFile::exists(path(".exit")); }
    // The exit code as QProcess gives it: -1 when a signal ended it.
    int exitCode() const {
        QFile file(path(".exit"));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        bool ok = false;
        const int status = file.readAll().trimmed().toInt(&ok);
        return ok && status < 128 ? status : -1;
    }
    bool send(int signal) const {
        // One request at a time: the controller takes each before the next is written.
        (void)QTest::qWaitFor([&] { return !QFile::exists(path(".signal")); }, 2000);
        return writeWhole(path(".signal"), QByteArray::number(signal));
    }
};

BoardProcess::BoardProcess(const QString& program, const QStringList& options)
    : child_(std::make_unique<Child>()) {
    (void)program; // the controller runs the emulator the stage built
    static int count = 0;
    const QString folder = controlFolder();
    child_->base =
        folder +
        QStringLiteral("/board-%1-%2").arg(QCoreApplication::applicationPid()).arg(++count);
    // A real board is not replugged within milliseconds of the last one going; here the next
    // emulator starts at once, so it waits until Wine has let the last board go.
    if (!QTest::qWaitFor([] { return !boardListed(); }, 10000))
        std::printf("  (Wine still lists the last board after 10 s)\n");
    QByteArray request;
    for (const QString& option : options)
        request += option.toUtf8() + '\n';
    started_ = QDir(folder).exists() && writeWhole(child_->path(".start"), request) &&
               QTest::qWaitFor([&] { return QFile::exists(child_->path(".pid")); }, 5000);
}

BoardProcess::~BoardProcess() { stop(); }

bool BoardProcess::running() { return started_ && !child_->ended(); }

int BoardProcess::stop() {
    if (running()) {
        child_->send(SIGTERM);
        if (!QTest::qWaitFor([&] { return child_->ended(); }, 5000)) {
            child_->send(kSigKill);
            (void)QTest::qWaitFor([&] { return child_->ended(); }, 2000);
            collect();
            return -1;
        }
    }
    collect();
    return child_->exitCode();
}

void BoardProcess::signal(int number) {
    if (running())
        child_->send(number);
}

std::optional<int> BoardProcess::waitForExit(int timeoutMs) {
    if (running() && !QTest::qWaitFor([&] { return child_->ended(); }, timeoutMs))
        return std::nullopt;
    collect();
    return child_->exitCode();
}

void BoardProcess::collect() {
    QFile log(child_->path(".log"));
    if (!log.open(QIODevice::ReadOnly) || !log.seek(child_->logRead))
        return;
    const QByteArray text = log.readAll();
    child_->logRead += text.size();
    take(text.toStdString());
}

} // namespace tarnovid::guest
