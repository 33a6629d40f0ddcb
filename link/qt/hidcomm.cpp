#include "hidcomm.h"

#include "board_link.h"
#include "device_text.h"
#include "failure_words.h"
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
    explicit State(std::shared_ptr<HidBackend> board, BoardLink::Notices notices)
        : backend(board)
        , link(std::move(board), std::move(notices)) {}

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
    , d(std::make_unique<State>(
          std::move(backend),
          BoardLink::Notices{
              // The board's thread only queues the news; this object's thread acts on it, and news
              // still queued when this object goes is dropped with it. The link itself decides
              // whether it concerns the board open now.
              .boardFailed =
                  [this] {
                      QMetaObject::invokeMethod(
                          this, [this] { d->link.updateState(); }, Qt::QueuedConnection);
                  },
              // The one place a loss reaches the owner, whichever call found it.
              .lost =
                  [this](const std::string&) {
                      d->text.clear();
                      emit Disconnected(0);
                  },
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
    if (IsConnected())
        return;
    switch (d->link.connect(matchRule())) {
    case BoardLink::Outcome::Opened:
        break;
    case BoardLink::Outcome::NoBoard:
        d->lastOpenFailure.clear(); // a board that comes back and fails again is worth a line
        return;
    case BoardLink::Outcome::Refused:
        try {
            const std::string reason = words::refusal(d->link.refusal());
            if (reason != d->lastOpenFailure)
                qWarning().noquote() << "Tarnovid:" << fromUtf8(reason);
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

bool HIDComm::IsConnected() const { return d->link.state() == BoardLink::State::Open; }

namespace {

// After Disconnected the window has no board, whatever the link keeps of the lost one.
void requireOpen(const HIDComm& link) {
    if (!link.IsConnected())
        throw LinkError(LinkError::Kind::NotOpen, "no board is open");
}

} // namespace

QString HIDComm::DeviceText() const {
    requireOpen(*this);
    return d->text;
}

void HIDComm::Write(const QByteArray& bytes, qint16 count) {
    requireOpen(*this);
    d->link.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                  static_cast<std::size_t>(bytes.size()), count);
}

QByteArray HIDComm::Read(qint16 count) {
    requireOpen(*this);
    const std::vector<std::uint8_t> reply = d->link.read(count);
    return QByteArray(reinterpret_cast<const char*>(reply.data()),
                      static_cast<qsizetype>(reply.size()));
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
