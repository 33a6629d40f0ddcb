#pragma once
// Which HID interface is "our board": the owner's match settings applied to what the system
// reports about each interface before anything is opened.

#include "hid_backend.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnovid {

// Bits of the match method. Every set bit adds one condition; all of them must hold. Bits above
// these are ignored, so 0 accepts any interface and 63 (kMatchAll) demands every field.
enum MatchBit : int {
    kMatchVendorId = 1,       // USB vendor id equals the wanted one
    kMatchProductId = 2,      // USB product id equals the wanted one
    kMatchVersion = 4,        // device release number (bcdDevice) equals the wanted one
    kMatchManufacturer = 8,   // manufacturer string equals the wanted one, byte for byte
    kMatchProductString = 16, // product string equals the wanted one, byte for byte
    kMatchBusUsb = 32,        // the interface sits on USB (not Bluetooth, I2C, SPI)
    kMatchAll = 63,
};

struct MatchRule {
    int method = 0;
    // Wider than the 16-bit USB fields on purpose: a wanted value outside 0..0xFFFF can never
    // match, instead of silently wrapping onto some other device's id.
    std::int32_t vendorId = 0;
    std::int32_t productId = 0;
    std::int32_t version = 0;
    std::string manufacturer; // UTF-8, compared exactly (case-sensitive, no trimming)
    std::string product;      // UTF-8, compared exactly
};

bool deviceMatches(const MatchRule& rule, const HidDeviceInfo& device);

// The rule's conditions that the interface fails, as MatchBits ORed together; 0 exactly when it
// matches. A firmware author's first question about a board that is not taken is which field.
int mismatchedFields(const MatchRule& rule, const HidDeviceInfo& device);

// The vendor/product ids to hand to HidBackend::enumerate: the wanted ones where the rule checks
// them, else 0 (any), so the system already narrows the list without ever hiding a candidate.
struct EnumerateFilter {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};
EnumerateFilter enumerateFilter(const MatchRule& rule);

// The matching interface that sorts first by path, or nothing. Sorting makes the choice
// independent of the order in which the system happens to list devices.
std::optional<HidDeviceInfo> pickDevice(const MatchRule& rule,
                                        const std::vector<HidDeviceInfo>& devices);

} // namespace tarnovid
