#pragma once
// The system's word that a HID device has come or gone, so the link need not wait for its owner's
// next poll to find a board that was just plugged in, nor for its board thread's next look to
// notice one that was pulled out.

#include <cstdint>
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

// Announcements of HID devices that come and go: udev's hidraw nodes on Linux, the HID class's
// device interfaces on Windows; nullptr where the platform has none, and nullptr with *why set when
// the system refuses a watch (polling still finds the board). Never blocks.
std::unique_ptr<DeviceWatch> watchSystemDevices(DeviceWatch::Handler onEvent, std::string* why);

// What one of udev's announcements means here. Only a hidraw node that appears can be a board
// that was not there before ("change", "bind" and the like cannot), and only one that goes can be
// the open board leaving.
std::optional<DeviceChange> udevChange(std::string_view subsystem, std::string_view action);

// Windows' numbers for what windowsDeviceChange reads (dbt.h's DBT_DEVICEARRIVAL,
// DBT_DEVICEREMOVECOMPLETE and DBT_DEVTYP_DEVICEINTERFACE), so that it and its tests need no
// Windows headers; the Windows watch checks them against dbt.h.
namespace dbt {
constexpr std::uint32_t kDeviceArrival = 0x8000;
constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;
constexpr std::uint32_t kDevTypeDeviceInterface = 0x0005;
} // namespace dbt

// What one of Windows' device notices (WM_DEVICECHANGE) means here: `event` is its wParam,
// `deviceType` the kind of thing it is about (0 when it names none) and `hidClass` whether that
// is a device interface of the HID class. Only a HID interface that arrives can be a board that was
// not there before, and only one whose removal is complete can be the open board leaving: a
// removal that is merely asked for may still be refused.
std::optional<DeviceChange> windowsDeviceChange(std::uint32_t event, std::uint32_t deviceType,
                                                bool hidClass);

} // namespace tarnovid
