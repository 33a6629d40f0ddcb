#include "hidcomm.h"

#include "device_io.h"
#include "device_match.h"
#include "device_text.h"
#include "hid_backend.h"
#include "report_framing.h"

#include <QMetaObject>
#include <QtDebug>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnovid {

struct HIDComm::State {
    std::shared_ptr<HidBackend> backend;
    // The open board: its thread owns the device. Set only once everything about the board is
    // in place, so there is never half an open board.
    std::unique_ptr<DeviceIo> io;
    QString text;
    // The last Write timed out: no request went out, so no answer is coming.
    bool requestUnsent = false;
    // Last reason an open failed, so a board that keeps refusing is reported once, not every
    // poll.
    std::string lastOpenFailure;
    // The same refusal as its owner asks for it; empty as soon as a look ends otherwise.
    Refusal refusal;
    std::unique_ptr<ArrivalWatch> arrivals;
    // A Connect for announcements already waits in the event loop: a device with several HID
    // interfaces announces each, and all of them together are worth one look.
    bool arrivalConnectQueued = false;

    // The device closes on its own thread after its last call; a call stuck in the kernel is
    // not waited for.
    void closeBoard() {
        io.reset();
        text.clear();
        requestUnsent = false;
    }

    // Keeps why a matching board could not be used, for the owner to ask, and reports it once per
    // new reason. Out of memory even for that, it stays silent: Connect never throws.
    void reportFailure(const std::string& path, const std::string& why) noexcept {
        try {
            refusal = {QString::fromStdString(path), QString::fromStdString(why)};
            const std::string reason = path.empty() ? why : path + ": " + why;
            if (reason != lastOpenFailure)
                qWarning().noquote()
                    << "Tarnovid: cannot open board" << QString::fromStdString(reason);
            lastOpenFailure = reason;
        } catch (...) {
        }
    }
};

namespace {

[[noreturn]] void throwNotOpen() { throw LinkError(LinkError::Kind::NotOpen, "no board is open"); }

const std::chrono::milliseconds kWaitForBoard{kReadTimeoutMs};

} // namespace

MatchRule HIDComm::matchRule() const {
    MatchRule rule;
    rule.method = matchmethod;
    rule.vendorId = matchvid;
    rule.productId = matchpid;
    rule.version = matchversion;
    rule.manufacturer = matchmanufacturer.toStdString();
    rule.product = matchproduct.toStdString();
    return rule;
}

HIDComm::HIDComm(std::shared_ptr<HidBackend> backend, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<State>()) {
    d->backend = std::move(backend);
}

HIDComm::~HIDComm() { Release(); }

void HIDComm::Connect() {
    if (d->io || !d->backend)
        return;
    d->refusal = {};
    // Nothing is kept until the board is wholly open: a failure on the way closes what was opened
    // (the device goes with its local owner) and leaves the next poll to try again.
    std::optional<HidDeviceInfo> chosen;
    try {
        const MatchRule rule = matchRule();
        const EnumerateFilter filter = enumerateFilter(rule);
        chosen = pickDevice(rule, d->backend->enumerate(filter.vendorId, filter.productId));
        if (!chosen) {
            d->lastOpenFailure.clear(); // a board that comes back and fails again is worth a line
            return;
        }
        std::string error;
        std::unique_ptr<HidDevice> device = d->backend->open(chosen->path, &error);
        if (!device) {
            // Right after a plug the device node may not have its permissions yet; the next poll
            // simply tries again.
            d->reportFailure(chosen->path, error.empty() ? "cannot open" : error);
            return;
        }
        QString text = QString::fromStdString(deviceText(*chosen));
        std::unique_ptr<DeviceIo> io;
        try {
            // onLost runs on the board's thread. Only a queued call by name crosses to this
            // object's thread: the hand-off then happens entirely inside Qt, and the notice carries
            // no data of its own.
            io = std::make_unique<DeviceIo>(
                std::move(device),
                [this] { QMetaObject::invokeMethod(this, "takeDeviceLoss", Qt::QueuedConnection); },
                DeviceIo::Options{.start = [backend = d->backend](std::function<void()> body) {
                    return backend->startThread(std::move(body));
                }});
        } catch (const std::exception& e) {
            d->reportFailure(chosen->path, std::string("cannot start its I/O thread: ") + e.what());
            return;
        }
        d->io = std::move(io);
        d->text = std::move(text);
        d->requestUnsent = false;
        d->lastOpenFailure.clear();
    } catch (const std::exception& e) {
        d->reportFailure(chosen ? chosen->path : std::string(), e.what());
        return;
    } catch (...) {
        d->reportFailure(chosen ? chosen->path : std::string(), "unknown failure");
        return;
    }
    emit Connected(0);
}

void HIDComm::takeDeviceLoss() {
    // Only the current board's loss counts. A notice from a board already given up (closed by the
    // Write or Read that found it gone, or released) finds none or a newer, healthy one.
    if (!d->io || !d->io->lost())
        return;
    d->closeBoard();
    emit Disconnected(0);
}

HIDComm::Refusal HIDComm::lastRefusal() const { return d->refusal; }

bool HIDComm::IsConnected() const { return d->io != nullptr; }

QString HIDComm::DeviceText() const {
    if (!d->io)
        throwNotOpen();
    return d->text;
}

void HIDComm::Write(const QByteArray& bytes, qint16 count) {
    if (!d->io)
        throwNotOpen();
    const OutputFrame frame = frameOutputReport(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                static_cast<std::size_t>(bytes.size()), count);
    switch (d->io->write(frame, kWaitForBoard)) {
    case DeviceIo::Write::Sent:
        d->requestUnsent = false;
        return;
    case DeviceIo::Write::TimedOut:
        d->requestUnsent = true;
        throw LinkError(LinkError::Kind::TimedOut, "the board did not take the report within " +
                                                       std::to_string(kReadTimeoutMs) + " ms");
    case DeviceIo::Write::Stuck:
        d->requestUnsent = true;
        throw LinkError(LinkError::Kind::TimedOut,
                        "the board has not yet taken an earlier report; nothing was sent");
    case DeviceIo::Write::Lost:
        break;
    }
    // A board that refuses a write is as good as gone. Its thread's own notice may still be on
    // its way; closing here leaves it nothing to act on.
    const std::string reason = d->io->lossReason();
    d->closeBoard();
    emit Disconnected(0);
    throw LinkError(LinkError::Kind::Lost, "write to the board failed: " + reason);
}

QByteArray HIDComm::Read(qint16 count) {
    if (!d->io)
        throwNotOpen();
    checkCount(count, kReportSize);
    if (d->requestUnsent)
        throw LinkError(LinkError::Kind::TimedOut,
                        "the last request did not reach the board; no answer is coming");
    std::vector<std::uint8_t> report;
    switch (d->io->waitForReport(kWaitForBoard, report)) {
    case DeviceIo::Wait::Report: {
        const std::vector<std::uint8_t> reply = replyBytes(report, count);
        return QByteArray(reinterpret_cast<const char*>(reply.data()),
                          static_cast<qsizetype>(reply.size()));
    }
    case DeviceIo::Wait::TimedOut:
        throw LinkError(LinkError::Kind::TimedOut, "the board did not answer within " +
                                                       std::to_string(kReadTimeoutMs) + " ms");
    case DeviceIo::Wait::Lost:
        break;
    }
    // The thread's own notice may still be on its way; closing here leaves it nothing to act on,
    // so the caller sees the loss at once and Disconnected still comes exactly once.
    d->closeBoard();
    emit Disconnected(0);
    throw LinkError(LinkError::Kind::Lost, "the board was lost while waiting for its answer");
}

void HIDComm::Release() {
    // The owner gives the board up; an announcement still to come must not open it again.
    d->arrivals.reset();
    if (d->io)
        d->closeBoard();
}

void HIDComm::watchArrivals() {
    if (d->arrivals || !d->backend)
        return;
    d->arrivals =
        d->backend->watchArrivals([this](std::string_view subsystem, std::string_view action) {
            // Only a node that has just appeared can be a board that was not there before;
            // "change", "bind", "remove" and the like cannot.
            if (subsystem != "hidraw" || action != "add" || d->io || d->arrivalConnectQueued)
                return;
            d->arrivalConnectQueued = true;
            // Not called from here: Connected runs the owner's handlers, and one that calls
            // Release() would destroy the watch in the middle of its own announcement.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    d->arrivalConnectQueued = false;
                    if (d->arrivals) // not released meanwhile
                        Connect();
                },
                Qt::QueuedConnection);
        });
}

} // namespace tarnovid
