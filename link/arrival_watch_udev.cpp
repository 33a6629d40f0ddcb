// Linux: hidraw announcements from a udev monitor socket, read on the owner's event loop.

#include "arrival_watch.h"

#include <QSocketNotifier>
#include <QtDebug>
#include <cerrno>
#include <cstring>
#include <libudev.h>
#include <unistd.h>

namespace tarnovid {

namespace {

struct Unref {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
using Context = std::unique_ptr<udev, Unref>;
using Monitor = std::unique_ptr<udev_monitor, Unref>;

// udevd announces a node only after its rules have run (group, mode, the seat's ACL), so an open
// right after its event succeeds. Without udevd nobody sends those announcements, yet libudev
// still subscribes to them when /dev is a devtmpfs, so ask the kernel directly then. udevd's
// control socket is what libudev itself looks for to tell that udevd runs.
const char* eventSource() { return access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel"; }

std::unique_ptr<ArrivalWatch> refuse(const char* what, int error) {
    qWarning().noquote() << "Tarnovid: no plug-in notices, the board is looked for once a second:"
                         << what << std::strerror(error);
    return nullptr;
}

class UdevArrivalWatch final : public ArrivalWatch {
public:
    UdevArrivalWatch(Context context, Monitor monitor, Handler onEvent)
        : context_(std::move(context))
        , monitor_(std::move(monitor))
        , onEvent_(std::move(onEvent))
        , notifier_(udev_monitor_get_fd(monitor_.get()), QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { drain(); });
    }

private:
    // The socket is non-blocking: take what is queued, then give the event loop back.
    void drain() {
        while (udev_device* device = udev_monitor_receive_device(monitor_.get())) {
            const char* subsystem = udev_device_get_subsystem(device);
            const char* action = udev_device_get_action(device);
            onEvent_(subsystem != nullptr ? subsystem : "", action != nullptr ? action : "");
            udev_device_unref(device);
        }
    }

    // Destroyed in reverse: the notifier goes before the socket it watches is closed.
    Context context_;
    Monitor monitor_;
    Handler onEvent_;
    QSocketNotifier notifier_;
};

} // namespace

std::unique_ptr<ArrivalWatch> watchSystemArrivals(ArrivalWatch::Handler onEvent) {
    Context context(udev_new());
    if (!context)
        return refuse("udev_new:", errno);
    Monitor monitor(udev_monitor_new_from_netlink(context.get(), eventSource()));
    if (!monitor)
        return refuse("udev monitor:", errno);
    int result = udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr);
    if (result >= 0)
        result = udev_monitor_enable_receiving(monitor.get());
    if (result < 0)
        return refuse("udev monitor:", -result);
    return std::make_unique<UdevArrivalWatch>(std::move(context), std::move(monitor),
                                              std::move(onEvent));
}

} // namespace tarnovid
