// The system's HID access through hidapi, and its device announcements. Kept to plain
// forwarding: everything with a decision in it lives in code the test suite reaches.

#include "hid_backend.h"
#include "wide_text.h"

#include <hidapi.h>
#include <mutex>
#include <stdexcept>
#include <string_view>

namespace tarnovid {

namespace {

HidBus busOf(const hid_device_info& info) {
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
    switch (info.bus_type) {
    case HID_API_BUS_USB:
        return HidBus::Usb;
    case HID_API_BUS_BLUETOOTH:
        return HidBus::Bluetooth;
    case HID_API_BUS_I2C:
        return HidBus::I2c;
    case HID_API_BUS_SPI:
        return HidBus::Spi;
    default:
        return HidBus::Unknown;
    }
#else
    (void)info;
    return HidBus::Unknown; // older hidapi cannot tell
#endif
}

// hidapi returns no list both when nothing matches and when the system could not list its
// devices; only its global error text tells them apart, and for "nothing" it says one of these.
bool isEmptyListText(std::string_view text) {
    return text.empty() || text == "Success" || text == "No HID devices found in the system." ||
           text == "No HID devices with requested VID/PID found in the system.";
}

class HidapiDevice final : public HidDevice {
public:
    explicit HidapiDevice(hid_device* handle)
        : handle_(handle) {}
    ~HidapiDevice() override { hid_close(handle_); }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    int write(const std::uint8_t* data, std::size_t length) override {
        return hid_write(handle_, data, length);
    }
    int readTimeout(std::uint8_t* data, std::size_t length, int milliseconds) override {
        return hid_read_timeout(handle_, data, length, milliseconds);
    }
    std::string lastError() const override { return utf8FromWide(hid_error(handle_)); }

private:
    hid_device* handle_;
};

class HidapiBackend final : public HidBackend {
public:
    HidapiBackend() {
        static std::once_flag once;
        std::call_once(once, [] { hid_init(); });
    }

    std::vector<HidDeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
        std::vector<HidDeviceInfo> devices;
        hid_device_info* list = hid_enumerate(vendorId, productId);
        if (list == nullptr) {
            const std::string why = utf8FromWide(hid_error(nullptr));
            if (!isEmptyListText(why))
                throw std::runtime_error(why);
        }
        for (const hid_device_info* it = list; it != nullptr; it = it->next) {
            HidDeviceInfo info;
            info.path = it->path != nullptr ? it->path : "";
            info.vendorId = it->vendor_id;
            info.productId = it->product_id;
            info.releaseNumber = it->release_number;
            info.manufacturer = utf8FromWide(it->manufacturer_string);
            info.product = utf8FromWide(it->product_string);
            info.serialNumber = utf8FromWide(it->serial_number);
            info.bus = busOf(*it);
            info.interfaceNumber = it->interface_number;
            devices.push_back(std::move(info));
        }
        hid_free_enumeration(list);
        return devices;
    }

    std::unique_ptr<HidDevice> open(const std::string& path, std::string* error) override {
        hid_device* handle = hid_open_path(path.c_str());
        if (handle == nullptr) {
            if (error != nullptr)
                *error = utf8FromWide(hid_error(nullptr));
            return nullptr;
        }
        return std::make_unique<HidapiDevice>(handle);
    }

    std::unique_ptr<DeviceWatch> watchDevices(DeviceWatch::Handler onEvent,
                                              std::string* why) override {
        return watchSystemDevices(std::move(onEvent), why);
    }
};

} // namespace

std::shared_ptr<HidBackend> makeHidapiBackend() { return std::make_shared<HidapiBackend>(); }

} // namespace tarnovid
