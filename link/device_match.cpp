#include "device_match.h"

namespace tarnovid {

namespace {

bool wants(const MatchRule& rule, MatchBit bit) { return (rule.method & bit) != 0; }

bool sameId(std::int32_t wanted, std::uint16_t actual) {
    return wanted >= 0 && wanted <= 0xFFFF && static_cast<std::uint16_t>(wanted) == actual;
}

std::uint16_t filterId(bool checked, std::int32_t wanted) {
    if (!checked || wanted < 0 || wanted > 0xFFFF)
        return 0;
    return static_cast<std::uint16_t>(wanted);
}

} // namespace

bool deviceMatches(const MatchRule& rule, const HidDeviceInfo& device) {
    if (wants(rule, kMatchVendorId) && !sameId(rule.vendorId, device.vendorId))
        return false;
    if (wants(rule, kMatchProductId) && !sameId(rule.productId, device.productId))
        return false;
    if (wants(rule, kMatchVersion) && !sameId(rule.version, device.releaseNumber))
        return false;
    if (wants(rule, kMatchManufacturer) && rule.manufacturer != device.manufacturer)
        return false;
    if (wants(rule, kMatchProductString) && rule.product != device.product)
        return false;
    if (wants(rule, kMatchBusUsb) && device.bus != HidBus::Usb)
        return false;
    return true;
}

EnumerateFilter enumerateFilter(const MatchRule& rule) {
    return {filterId(wants(rule, kMatchVendorId), rule.vendorId),
            filterId(wants(rule, kMatchProductId), rule.productId)};
}

std::optional<HidDeviceInfo> pickDevice(const MatchRule& rule,
                                        const std::vector<HidDeviceInfo>& devices) {
    const HidDeviceInfo* best = nullptr;
    for (const HidDeviceInfo& device : devices) {
        if (deviceMatches(rule, device) && (best == nullptr || device.path < best->path))
            best = &device;
    }
    if (best == nullptr)
        return std::nullopt;
    return *best;
}

} // namespace tarnovid
