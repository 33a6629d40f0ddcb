#include "device_watch.h"

namespace tarnovid {

std::optional<DeviceChange> udevChange(std::string_view subsystem, std::string_view action) {
    if (subsystem != "hidraw")
        return std::nullopt;
    if (action == "add")
        return DeviceChange::Arrived;
    if (action == "remove")
        return DeviceChange::Removed;
    return std::nullopt;
}

} // namespace tarnovid
