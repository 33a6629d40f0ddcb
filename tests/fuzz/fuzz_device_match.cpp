// Device lists as the system reports them, with any strings at all (empty, very long, invalid
// UTF-8, white space only), run through matching, the enumerate filter, the pick and the status
// text, under any match settings: every bit pattern of the method, wanted ids outside 16 bits.
//
// Input: method u16 (taken as the signed 16-bit value the window stores), wanted vendor,
// product and version u32 each, wanted manufacturer and product strings; then devices until the
// input ends: path, vendor u16, product u16, release u16, bus u8, manufacturer, product, serial.
// Integers are little-endian; a string is a u16 length and that many bytes.

#include "device_match.h"
#include "device_text.h"
#include "fuzz_device.h"
#include "fuzz_input.h"

#include <string>
#include <vector>

using namespace tarnovid;
using namespace tarnovid::fuzz;

namespace {

constexpr std::size_t kMaxDevices = 64;
constexpr int kKnownBits[] = {kMatchVendorId,     kMatchProductId,     kMatchVersion,
                              kMatchManufacturer, kMatchProductString, kMatchBusUsb};

MatchRule withMethod(MatchRule rule, int method) {
    rule.method = method;
    return rule;
}

// Each bit is one condition and a rule is their conjunction; bits beyond the known six change
// nothing. A single bit's meaning is checked where it can be stated without the code's help.
void checkMatching(const MatchRule& rule, const HidDeviceInfo& d) {
    const bool matched = deviceMatches(rule, d);
    FUZZ_CHECK(matched == deviceMatches(withMethod(rule, rule.method & kMatchAll), d));
    bool all = true;
    for (int bit : kKnownBits)
        if (rule.method & bit)
            all = all && deviceMatches(withMethod(rule, bit), d);
    FUZZ_CHECK(matched == all);

    FUZZ_CHECK(deviceMatches(withMethod(rule, 0), d));
    if (deviceMatches(withMethod(rule, kMatchVendorId), d))
        FUZZ_CHECK(rule.vendorId == d.vendorId);
    if (deviceMatches(withMethod(rule, kMatchProductId), d))
        FUZZ_CHECK(rule.productId == d.productId);
    if (deviceMatches(withMethod(rule, kMatchVersion), d))
        FUZZ_CHECK(rule.version == d.releaseNumber);
    FUZZ_CHECK(deviceMatches(withMethod(rule, kMatchManufacturer), d) ==
               (rule.manufacturer == d.manufacturer));
    FUZZ_CHECK(deviceMatches(withMethod(rule, kMatchProductString), d) ==
               (rule.product == d.product));
    FUZZ_CHECK(deviceMatches(withMethod(rule, kMatchBusUsb), d) == (d.bus == HidBus::Usb));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

void checkText(const HidDeviceInfo& d) {
    const std::string text = deviceText(d);
    FUZZ_CHECK(!text.empty());
    FUZZ_CHECK(!isBlank(text.front()) && !isBlank(text.back()));
    FUZZ_CHECK(text.size() <= d.manufacturer.size() + d.product.size() + 1 ||
               text.rfind("HID ", 0) == 0);
    // Trimming removes ASCII bytes only, so it can never cut a multi-byte character apart.
    if (decodeUtf8(d.manufacturer) && decodeUtf8(d.product))
        FUZZ_CHECK(decodeUtf8(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    MatchRule rule;
    rule.method = static_cast<std::int16_t>(in.u16());
    rule.vendorId = static_cast<std::int32_t>(in.u32());
    rule.productId = static_cast<std::int32_t>(in.u32());
    rule.version = static_cast<std::int32_t>(in.u32());
    rule.manufacturer = in.text();
    rule.product = in.text();

    std::vector<HidDeviceInfo> devices;
    while (!in.empty() && devices.size() < kMaxDevices)
        devices.push_back(readDevice(in));

    const EnumerateFilter filter = enumerateFilter(rule);
    const HidDeviceInfo* first = nullptr;
    for (const HidDeviceInfo& d : devices) {
        checkMatching(rule, d);
        checkText(d);
        if (!deviceMatches(rule, d))
            continue;
        // The system's own narrowing must never hide a device the rule accepts.
        FUZZ_CHECK(filter.vendorId == 0 || filter.vendorId == d.vendorId);
        FUZZ_CHECK(filter.productId == 0 || filter.productId == d.productId);
        if (first == nullptr || d.path < first->path)
            first = &d;
    }

    const auto picked = pickDevice(rule, devices);
    FUZZ_CHECK(picked.has_value() == (first != nullptr));
    if (picked) {
        FUZZ_CHECK(picked->path == first->path);
        FUZZ_CHECK(deviceMatches(rule, *picked));
    }
    return 0;
}
