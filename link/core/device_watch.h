#pragma once
// The system's word that a device node has come or gone, so the link need not wait for its owner's
// next poll to find a board that was just plugged in, nor for its board thread's next look to
// notice one that was pulled out.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarnovid {

class DeviceWatch {
public:
    // Called once per announcement, on the watch's own thread. subsystem and action are the
    // system's own words ("hidraw", "add", "remove"). The handler must not destroy the watch.
    using Handler = std::function<void(std::string_view subsystem, std::string_view action)>;

    virtual ~DeviceWatch() = default; // stops: once it returns, the handler is never called again
};

// Announcements about hidraw nodes on Linux (udev); nullptr on other platforms, and nullptr with
// *why set when the system refuses a watch (polling still finds the board). Never blocks.
std::unique_ptr<DeviceWatch> watchSystemDevices(DeviceWatch::Handler onEvent, std::string* why);

} // namespace tarnovid
