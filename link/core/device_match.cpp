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

int mismatchedFields(const MatchRule& rule, const HidDeviceInfo& device) {
    int failed = 0;
    auto fails = [&](MatchBit bit, bool holds) {
        if (wants(rule, bit) && !holds)
            failed |= bit;
    };
    fails(kMatchVendorId, sameId(rule.vendorId, device.vendorId));
    fails(kMatchProductId, sameId(rule.productId, device.productId));
    fails(kMatchVersion, sameId(rule.version, device.releaseNumber));
    fails(kMatchManufacturer, rule.manufacturer == device.manufacturer);
    fails(kMatchProductString, rule.product == device.product);
    fails(kMatchBusUsb, device.bus == HidBus::Usb);
    return failed;
}

bool deviceMatches(const MatchRule& rule, const HidDeviceInfo& device) {
    return mismatchedFields(rule, device) == 0;
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
