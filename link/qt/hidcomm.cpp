#include "hidcomm.h"

#include "board_link.h"
#include "device_text.h"
#include "hid_backend.h"

#include <QMetaObject>
#include <QtDebug>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnovid {

struct HIDComm::State {
    explicit State(std::shared_ptr<HidBackend> board, BoardLink::LossNotice onLost)
        : backend(board)
        , link(std::move(board), std::move(onLost)) {}

    std::shared_ptr<HidBackend> backend;
    BoardLink link;
    QString text;
    // Last reason an open failed, so a board that keeps refusing is reported once, not every
    // poll.
    std::string lastOpenFailure;
    std::unique_ptr<DeviceWatch> watch;
    // A Connect for announcements already waits in the event loop: a device with several HID
    // interfaces announces each, and all of them together are worth one look. Set on the watch's
    // thread, cleared on the owner's.
    std::atomic<bool> arrivalConnectQueued{false};
};

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

HIDComm::HIDComm(std::shared_ptr<HidBackend> backend, QObject* parent)
    : QObject(parent)
    // The board's thread only queues the notice; this object's thread acts on it, and a notice
    // still queued when this object goes is dropped with it.
    , d(std::make_unique<State>(std::move(backend), [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                // Only the current board's loss counts: a notice from a board already given up
                // (by the Write or Read that found it gone, or released) finds none, or a newer
                // healthy one.
                if (d->link.dropIfLost()) {
                    d->text.clear();
                    emit Disconnected(0);
                }
            },
            Qt::QueuedConnection);
    })) {}

HIDComm::~HIDComm() { Release(); }

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

void HIDComm::Connect() {
    if (d->link.isOpen())
        return;
    switch (d->link.connect(matchRule())) {
    case BoardLink::Outcome::Opened:
        break;
    case BoardLink::Outcome::AlreadyOpen:
        return;
    case BoardLink::Outcome::NoBoard:
        d->lastOpenFailure.clear(); // a board that comes back and fails again is worth a line
        return;
    case BoardLink::Outcome::Refused:
        try {
            const BoardLink::Refusal& refusal = d->link.refusal();
            const std::string reason =
                refusal.path.empty() ? refusal.reason : refusal.path + ": " + refusal.reason;
            if (reason != d->lastOpenFailure)
                qWarning().noquote() << "Tarnovid: cannot open board" << fromUtf8(reason);
            d->lastOpenFailure = reason;
        } catch (...) { // out of memory even for that: stay silent, Connect never throws
        }
        return;
    }
    d->lastOpenFailure.clear();
    d->text = fromUtf8(deviceText(d->link.device()));
    emit Connected(0);
}

HIDComm::Refusal HIDComm::lastRefusal() const {
    const BoardLink::Refusal& refusal = d->link.refusal();
    return {fromUtf8(refusal.path), fromUtf8(refusal.reason)};
}

bool HIDComm::IsConnected() const { return d->link.isOpen(); }

QString HIDComm::DeviceText() const {
    (void)d->link.device(); // throws NotOpen
    return d->text;
}

namespace {

// The one way a call on the board ends in a loss: the board is closed already, the owner hears
// Disconnected, then the caller gets the error.
template <typename Call> auto onBoard(HIDComm& link, QString& text, Call call) {
    try {
        return call();
    } catch (const LinkError& e) {
        if (e.kind() == LinkError::Kind::Lost) {
            text.clear();
            emit link.Disconnected(0);
        }
        throw;
    }
}

} // namespace

void HIDComm::Write(const QByteArray& bytes, qint16 count) {
    onBoard(*this, d->text, [&] {
        d->link.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                      static_cast<std::size_t>(bytes.size()), count);
    });
}

QByteArray HIDComm::Read(qint16 count) {
    return onBoard(*this, d->text, [&] {
        const std::vector<std::uint8_t> reply = d->link.read(count);
        return QByteArray(reinterpret_cast<const char*>(reply.data()),
                          static_cast<qsizetype>(reply.size()));
    });
}

void HIDComm::Release() {
    // The owner gives the board up; an announcement still to come must not open it again.
    d->watch.reset();
    d->link.close();
    d->text.clear();
}

void HIDComm::watchDevices() {
    if (d->watch || !d->backend)
        return;
    std::string why;
    try {
        // Runs on the watch's thread: it decides from the announcement alone and leaves the rest
        // to this object's thread. Connected runs the owner's handlers, and one that calls
        // Release() would destroy the watch in the middle of its own announcement.
        d->watch = d->backend->watchDevices(
            [this](DeviceChange change) {
                if (change == DeviceChange::Removed) {
                    QMetaObject::invokeMethod(
                        this, [this] { d->link.checkPresence(); }, Qt::QueuedConnection);
                    return;
                }
                if (d->arrivalConnectQueued.exchange(true))
                    return;
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        d->arrivalConnectQueued = false;
                        if (d->watch) // not released meanwhile
                            Connect();
                    },
                    Qt::QueuedConnection);
            },
            &why);
    } catch (const std::exception& e) {
        why = e.what();
    }
    if (!d->watch && !why.empty())
        qWarning().noquote()
            << "Tarnovid: no plug-in notices, the board is looked for once a second:"
            << fromUtf8(why);
}

void applyMatchSettings(HIDComm& link, const MatchSettings& settings) {
    link.matchvid = settings.matchvid;
    link.matchpid = settings.matchpid;
    link.matchversion = settings.matchversion;
    link.matchmethod = qint16(settings.matchmethod);
    link.matchmanufacturer = fromUtf8(settings.matchmanufacturer);
    link.matchproduct = fromUtf8(settings.matchproduct);
}

} // namespace tarnovid
