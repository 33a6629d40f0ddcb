#pragma once
// HIDComm: the window's link to the board, the Qt face of BoardLink (board_link.h states what a
// call on the board does, waits for and throws; this face adds only what is said here). It keeps
// the window definition's match settings, hands bytes over as QByteArray, and reports connected
// and disconnected as signals on the thread that owns it (the GUI thread). It knows nothing of
// any window.

#include "board_link.h"
#include "device_match.h"
#include "link_error.h"
#include "link_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

namespace tarnovid {

class HidBackend;

class HIDComm : public QObject {
    Q_OBJECT
public:
    explicit HIDComm(std::shared_ptr<HidBackend> backend, QObject* parent = nullptr);
    ~HIDComm() override; // releases the board

    // Match settings; the owner sets them before the first Connect(). Bits of matchmethod are
    // documented in device_match.h.
    qint32 matchvid = 0;
    qint32 matchpid = 0;
    qint32 matchversion = 0;
    qint16 matchmethod = 0;
    QString matchmanufacturer;
    QString matchproduct;
    // The settings above as the matcher takes them.
    MatchRule matchRule() const;

    // Finds and opens the first matching board (by path order); emits Connected before it
    // returns. Does nothing when a board is already open or none can be opened now (the caller
    // simply tries again later; a refused open, or a board that cannot be served, say for want of
    // a thread, is reported on stderr once per new reason and left closed). Never throws.
    void Connect();
    // Why the last Connect() left no board open although one may be there: BoardLink::refusal().
    // Both empty when that Connect opened the board, found one already open or found none.
    struct Refusal {
        QString path;
        QString reason;
    };
    Refusal lastRefusal() const;
    // True while a board is open. Never throws.
    bool IsConnected() const;
    // What the open board calls itself: "<manufacturer> <product>", trimmed, either alone if the
    // other is missing. Throws LinkError(NotOpen) if none is open.
    QString DeviceText() const;
    // BoardLink::write and BoardLink::read, with the board's default time-out. After
    // Disconnected no board is open here: both throw LinkError(NotOpen) until the next
    // Connected. A loss found inside one of them raises Disconnected before the throw.
    void Write(const QByteArray& bytes, qint16 count);
    QByteArray Read(qint16 count);
    // Closes the board, if any (BoardLink::close: never waits for the board), and ends
    // watchDevices(). Safe to call at any time, any number of times. Raises no Disconnected:
    // giving the board up is the owner's own act, not a loss. Never throws.
    void Release();

    // On top of the owner's polling, listens to the system's announcements of HID devices that
    // come and go (where the platform makes them; see watchSystemDevices): a device that arrives
    // leads to a Connect() from this object's event loop, once for a burst of announcements and
    // only while no board is open; a device that goes makes the open board's thread look at once,
    // so an unplug is noticed without waiting for its next look. Lasts until Release() or
    // destruction. Never throws.
    void watchDevices();

signals:
    // The argument carries nothing; it is there for handlers that take one. Both are raised on
    // the thread this object lives in. Disconnected comes exactly once per lost board (see
    // BoardLink: a board is lost only when a look at it fails): from the event loop when the
    // board goes while idle, or from inside the Write/Read that found it gone.
    void Connected(int reserved);
    void Disconnected(int reserved);

private:
    struct State;
    std::unique_ptr<State> d;
};

// Hands the window definition's settings to a link before its first Connect().
void applyMatchSettings(HIDComm& link, const MatchSettings& settings);

} // namespace tarnovid
