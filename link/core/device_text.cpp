#include "device_text.h"

#include <cstdio>

namespace tarnovid {

namespace {

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

std::string deviceText(const HidDeviceInfo& device) {
    const std::string manufacturer = trimmed(device.manufacturer);
    const std::string product = trimmed(device.product);
    if (!manufacturer.empty() && !product.empty())
        return manufacturer + ' ' + product;
    if (!manufacturer.empty() || !product.empty())
        return manufacturer + product;
    char ids[32];
    std::snprintf(ids, sizeof ids, "HID %04x:%04x", device.vendorId, device.productId);
    return ids;
}

} // namespace tarnovid
