// Linux: hidraw announcements from a udev monitor socket, read by a thread of the watch's own that
// sleeps in poll() until one comes, so a watch costs no wake-ups while nothing is plugged or
// pulled.

#include "device_watch.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
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

std::unique_ptr<DeviceWatch> refuse(std::string* why, const char* what, int error) {
    if (why != nullptr)
        *why = std::string(what) + ": " + std::strerror(error);
    return nullptr;
}

class UdevDeviceWatch final : public DeviceWatch {
public:
    // Takes the eventfd that ends the thread; throws std::system_error when no thread can start.
    UdevDeviceWatch(Context context, Monitor monitor, int stopFd, Handler onEvent)
        : context_(std::move(context))
        , monitor_(std::move(monitor))
        , stopFd_(stopFd)
        , onEvent_(std::move(onEvent)) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (...) {
            close(stopFd_);
            throw;
        }
    }
    ~UdevDeviceWatch() override {
        const std::uint64_t one = 1;
        // An eventfd write fails only when its counter would overflow, which one write cannot do.
        [[maybe_unused]] const auto written = write(stopFd_, &one, sizeof one);
        thread_.join();
        close(stopFd_);
    }
    UdevDeviceWatch(const UdevDeviceWatch&) = delete;
    UdevDeviceWatch& operator=(const UdevDeviceWatch&) = delete;

private:
    void run() {
        pollfd fds[2] = {{udev_monitor_get_fd(monitor_.get()), POLLIN, 0}, {stopFd_, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return; // no announcements any more; the owner's poll still finds the board
            }
            if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
                return;
            // The socket is non-blocking: take what is queued, then sleep again.
            while (udev_device* device = udev_monitor_receive_device(monitor_.get())) {
                const char* subsystem = udev_device_get_subsystem(device);
                const char* action = udev_device_get_action(device);
                const auto change = udevChange(subsystem != nullptr ? subsystem : "",
                                               action != nullptr ? action : "");
                udev_device_unref(device);
                if (change)
                    onEvent_(*change);
            }
        }
    }

    Context context_;
    Monitor monitor_;
    int stopFd_;
    Handler onEvent_;
    std::thread thread_; // last: starts once everything it uses is in place
};

} // namespace

std::unique_ptr<DeviceWatch> watchSystemDevices(DeviceWatch::Handler onEvent, std::string* why) {
    Context context(udev_new());
    if (!context)
        return refuse(why, "udev_new", errno);
    Monitor monitor(udev_monitor_new_from_netlink(context.get(), eventSource()));
    if (!monitor)
        return refuse(why, "udev monitor", errno);
    int result = udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr);
    if (result >= 0)
        result = udev_monitor_enable_receiving(monitor.get());
    if (result < 0)
        return refuse(why, "udev monitor", -result);
    const int stopFd = eventfd(0, EFD_CLOEXEC);
    if (stopFd < 0)
        return refuse(why, "eventfd", errno);
    try {
        return std::make_unique<UdevDeviceWatch>(std::move(context), std::move(monitor), stopFd,
                                                 std::move(onEvent));
    } catch (const std::system_error& e) {
        return refuse(why, "watch thread", e.code().value());
    }
}

} // namespace tarnovid
