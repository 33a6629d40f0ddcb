#pragma once
// The system's word that a HID device has come or gone, so the link need not wait for its owner's
// next poll to find a board that was just plugged in, nor for its board thread's next look to
// notice one that was pulled out.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarnovid {

enum class DeviceChange {
    Arrived, // a HID device appeared: perhaps the board, worth a look
    Removed, // a HID device went: perhaps the open board, worth a look at it
};

class DeviceWatch {
public:
    // Called once per announcement, on the watch's own thread. The handler must not destroy the
    // watch.
    using Handler = std::function<void(DeviceChange)>;

    virtual ~DeviceWatch() = default; // stops: once it returns, the handler is never called again
};

// Announcements of HID devices that come and go: udev's hidraw nodes on Linux; nullptr where the
// platform has none, and nullptr with *why set when the system refuses a watch (polling still
// finds the board). Never blocks.
std::unique_ptr<DeviceWatch> watchSystemDevices(DeviceWatch::Handler onEvent, std::string* why);

// What one of udev's announcements means here. Only a hidraw node that appears can be a board
// that was not there before ("change", "bind" and the like cannot), and only one that goes can be
// the open board leaving.
std::optional<DeviceChange> udevChange(std::string_view subsystem, std::string_view action);

} // namespace tarnovid
