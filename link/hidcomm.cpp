#include "hidcomm.h"

#include "device_match.h"
#include "device_text.h"
#include "hid_backend.h"
#include "report_framing.h"
#include "report_pump.h"

#include <QMetaObject>
#include <QtDebug>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnovid {

struct HIDComm::State {
    std::shared_ptr<HidBackend> backend;
    // Declared before the pump: the device must outlive its reader. closeBoard() enforces the
    // order explicitly anyway.
    std::unique_ptr<HidDevice> device;
    std::unique_ptr<ReportPump> pump;
    QString text;
    // Last reason an open failed, so a board that keeps refusing is reported once, not every
    // poll.
    std::string lastOpenFailure;
    // The same refusal as its owner asks for it; empty as soon as a look ends otherwise.
    Refusal refusal;
    std::unique_ptr<ArrivalWatch> arrivals;
    // A Connect for announcements already waits in the event loop: a device with several HID
    // interfaces announces each, and all of them together are worth one look.
    bool arrivalConnectQueued = false;

    // Reader first, then the device: hidapi must never close a handle a read is still using.
    void closeBoard() {
        pump.reset();
        device.reset();
        text.clear();
    }
};

namespace {

[[noreturn]] void throwNotOpen() { throw LinkError(LinkError::Kind::NotOpen, "no board is open"); }

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
    if (d->device || !d->backend)
        return;
    d->refusal = {};
    const MatchRule rule = matchRule();
    const EnumerateFilter filter = enumerateFilter(rule);
    const auto chosen = pickDevice(rule, d->backend->enumerate(filter.vendorId, filter.productId));
    if (!chosen) {
        d->lastOpenFailure.clear(); // a board that comes back and fails again is worth a line
        return;
    }

    std::string error;
    std::unique_ptr<HidDevice> device = d->backend->open(chosen->path, &error);
    if (!device) {
        // Right after a plug the device node may not have its permissions yet; the next poll
        // simply tries again.
        const std::string why = error.empty() ? "cannot open" : error;
        const std::string reason = chosen->path + ": " + why;
        if (reason != d->lastOpenFailure)
            qWarning().noquote() << "Tarnovid: cannot open board" << QString::fromStdString(reason);
        d->lastOpenFailure = reason;
        d->refusal = {QString::fromStdString(chosen->path), QString::fromStdString(why)};
        return;
    }
    d->lastOpenFailure.clear();

    d->device = std::move(device);
    d->text = QString::fromStdString(deviceText(*chosen));
    // Runs on the reader thread. Only a queued call by name crosses to this object's thread: the
    // hand-off then happens entirely inside Qt, and the notice carries no data of its own.
    d->pump = std::make_unique<ReportPump>(*d->device, [this] {
        QMetaObject::invokeMethod(this, "takeReaderLoss", Qt::QueuedConnection);
    });
    emit Connected(0);
}

void HIDComm::takeReaderLoss() {
    // Only the current reader's loss counts. A notice from a board already given up (closed by
    // the Read that found it gone, or released) finds no reader or a newer, healthy one.
    if (!d->pump || !d->pump->lost())
        return;
    d->closeBoard();
    emit Disconnected(0);
}

HIDComm::Refusal HIDComm::lastRefusal() const { return d->refusal; }

bool HIDComm::IsConnected() const { return d->device != nullptr; }

QString HIDComm::DeviceText() const {
    if (!d->device)
        throwNotOpen();
    return d->text;
}

void HIDComm::Write(const QByteArray& bytes, qint16 count) {
    if (!d->device)
        throwNotOpen();
    const OutputFrame frame = frameOutputReport(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                static_cast<std::size_t>(bytes.size()), count);
    // Whatever arrived before this request cannot be its answer.
    d->pump->discardQueued();
    if (d->device->write(frame.data(), frame.size()) >= 0)
        return;
    // A board that refuses a write is as good as gone. Stop the reader before asking the device
    // why: hidapi keeps one error slot per device and the reader's next read would clear it.
    d->pump.reset();
    const std::string reason = d->device->lastError();
    d->closeBoard();
    emit Disconnected(0);
    throw LinkError(LinkError::Kind::Lost, "write to the board failed: " + reason);
}

QByteArray HIDComm::Read(qint16 count) {
    if (!d->device)
        throwNotOpen();
    checkCount(count, kReportSize);
    std::vector<std::uint8_t> report;
    switch (d->pump->waitForReport(std::chrono::milliseconds(kReadTimeoutMs), report)) {
    case ReportPump::Wait::Report: {
        const std::vector<std::uint8_t> reply = replyBytes(report, count);
        return QByteArray(reinterpret_cast<const char*>(reply.data()),
                          static_cast<qsizetype>(reply.size()));
    }
    case ReportPump::Wait::TimedOut:
        throw LinkError(LinkError::Kind::TimedOut, "the board did not answer within " +
                                                       std::to_string(kReadTimeoutMs) + " ms");
    case ReportPump::Wait::Lost:
        break;
    }
    // The reader's own notice may still be on its way; closing here leaves it no reader to act
    // on, so the caller sees the loss at once and Disconnected still comes exactly once.
    d->closeBoard();
    emit Disconnected(0);
    throw LinkError(LinkError::Kind::Lost, "the board was lost while waiting for its answer");
}

void HIDComm::Release() {
    // The owner gives the board up; an announcement still to come must not open it again.
    d->arrivals.reset();
    if (d->device)
        d->closeBoard();
}

void HIDComm::watchArrivals() {
    if (d->arrivals || !d->backend)
        return;
    d->arrivals =
        d->backend->watchArrivals([this](std::string_view subsystem, std::string_view action) {
            // Only a node that has just appeared can be a board that was not there before;
            // "change", "bind", "remove" and the like cannot.
            if (subsystem != "hidraw" || action != "add" || d->device || d->arrivalConnectQueued)
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
