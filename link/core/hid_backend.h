#pragma once
// The seam between the link and the operating system's HID access. The real program uses the
// hidapi backend; tests and the demo use the simulated board. Semantics follow hidapi's.

#include "device_watch.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarnovid {

enum class HidBus { Unknown, Usb, Bluetooth, I2c, Spi };

// What the system tells us about one HID interface before it is opened. Strings are UTF-8.
struct HidDeviceInfo {
    std::string path; // opaque, unique per interface, stable while plugged in
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t releaseNumber = 0; // bcdDevice
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    HidBus bus = HidBus::Unknown;
    int interfaceNumber = -1;
};

// An open device. Threading: one thread makes every call, from the first to the destructor, and
// never destroys it while a call runs; hidapi is not safe for two threads on one handle (they
// share its error slot).
class HidDevice {
public:
    virtual ~HidDevice() = default; // closes the device
    // data[0] is the report id (0 when the device uses none). Returns bytes written or -1. May
    // block for seconds when the device stops taking reports (until USB's time-out on Linux).
    virtual int write(const std::uint8_t* data, std::size_t length) = 0;
    // Returns the report length as soon as one arrives, 0 once `milliseconds` have passed
    // without one (0 ms: at once), -1 on error (an unplug shows up here). Nothing cuts a read
    // short: hidapi offers no way to, so a read that waits runs until a report or its time.
    virtual int readTimeout(std::uint8_t* data, std::size_t length, int milliseconds) = 0;
    // Human-readable reason of the last failure, for error messages only; ask right after the
    // failing call, since hidapi keeps one error slot per device and every call rewrites it.
    virtual std::string lastError() const = 0;
};

class HidBackend {
public:
    virtual ~HidBackend() = default;
    // All HID interfaces with this vendor and product id; 0 is a wildcard, as in hidapi.
    virtual std::vector<HidDeviceInfo> enumerate(std::uint16_t vendorId,
                                                 std::uint16_t productId) = 0;
    // nullptr and *error set when the device cannot be opened (gone, no permission, busy).
    virtual std::unique_ptr<HidDevice> open(const std::string& path, std::string* error) = 0;
    // Starts the thread that serves one open device. Throws std::system_error when the system
    // has none to give (out of threads or memory).
    virtual std::thread startThread(std::function<void()> body) {
        return std::thread(std::move(body));
    }
    // The system's announcements of device nodes that come and go, where the backend hears them;
    // nullptr by default (and *why left empty), so simulated boards are found by polling alone.
    virtual std::unique_ptr<DeviceWatch> watchDevices(DeviceWatch::Handler onEvent,
                                                      std::string* why) {
        (void)onEvent;
        (void)why;
        return nullptr;
    }
};

// The system's HID access (hidapi). Defined by the thin hidapi layer, not linked into tests.
std::shared_ptr<HidBackend> makeHidapiBackend();

} // namespace tarnovid
