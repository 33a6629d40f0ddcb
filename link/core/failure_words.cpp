#include "failure_words.h"

#include "open_refusal.h"

#include <algorithm>
#include <cstdio>

namespace tarnovid::words {

namespace {

// Said with every refusal for want of permission; the README gives the same words.
#ifdef __linux__
const char* const kAccessHint =
    ": the udev rule 70-tarnovid.rules must be installed and you logged in at the computer; then "
    "replug the board or run: sudo udevadm control --reload-rules && sudo udevadm trigger "
    "--subsystem-match=hidraw --action=change";
#else
const char* const kAccessHint = "";
#endif

} // namespace

std::string_view fieldName(int matchBit) {
    switch (matchBit) {
    case kMatchVendorId:
        return "vendor";
    case kMatchProductId:
        return "product_id";
    case kMatchVersion:
        return "release";
    case kMatchManufacturer:
        return "manufacturer";
    case kMatchProductString:
        return "product";
    case kMatchBusUsb:
        return "bus";
    default:
        return {};
    }
}

std::string fieldNames(int mismatches) {
    std::string names;
    for (int bit = 1; bit <= kMatchAll; bit <<= 1)
        if ((mismatches & bit) != 0 && !fieldName(bit).empty())
            names += (names.empty() ? "" : ", ") + std::string(fieldName(bit));
    return names;
}

std::string_view busName(HidBus bus) {
    switch (bus) {
    case HidBus::Usb:
        return "USB";
    case HidBus::Bluetooth:
        return "Bluetooth";
    case HidBus::I2c:
        return "I2C";
    case HidBus::Spi:
        return "SPI";
    case HidBus::Unknown:
        break;
    }
    return "unknown";
}

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[12];
            std::snprintf(code, sizeof code, "\\u{%04x}", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string refusal(const BoardLink::Refusal& refusal) {
    if (refusal.path.empty()) // the system's device list itself failed
        return "cannot look for boards: " + escaped(refusal.reason);
    if (isAccessDenied(refusal.reason))
        return "access denied to " + escaped(refusal.path) + " (" + escaped(refusal.reason) + ")" +
               kAccessHint;
    return "cannot open " + escaped(refusal.path) + ": " + escaped(refusal.reason);
}

std::string noBoard(const char* path, const MatchRule& rule,
                    const std::vector<HidDeviceInfo>& candidates) {
    if (path != nullptr) {
        std::string text = "no board at " + escaped(path);
        for (const HidDeviceInfo& device : candidates)
            if (device.path == path && mismatchedFields(rule, device) != 0)
                text += ": it differs in " + fieldNames(mismatchedFields(rule, device));
        return text;
    }
    const auto lookalikes = std::count_if(candidates.begin(), candidates.end(),
                                          [&](auto& d) { return mismatchedFields(rule, d) != 0; });
    if (lookalikes == 0)
        return "no board found";
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", unsigned(rule.vendorId & 0xFFFF),
                  unsigned(rule.productId & 0xFFFF));
    return "no board found; " + std::to_string(lookalikes) + " other " + ids +
           (lookalikes == 1 ? " device does" : " devices do") + " not match";
}

} // namespace tarnovid::words
