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

std::optional<DeviceChange> windowsDeviceChange(std::uint32_t event, std::uint32_t deviceType,
                                                bool hidClass) {
    if (deviceType != dbt::kDevTypeDeviceInterface || !hidClass)
        return std::nullopt;
    if (event == dbt::kDeviceArrival)
        return DeviceChange::Arrived;
    if (event == dbt::kDeviceRemoveComplete)
        return DeviceChange::Removed;
    return std::nullopt;
}

} // namespace tarnovid
