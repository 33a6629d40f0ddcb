#include "device_node.h"

#include "failure_words.h"
#include "tarnovid.h"

namespace tarnovid::lib {

int busNumber(HidBus bus) {
    switch (bus) {
    case HidBus::Usb:
        return TARNOVID_BUS_USB;
    case HidBus::Bluetooth:
        return TARNOVID_BUS_BLUETOOTH;
    case HidBus::I2c:
        return TARNOVID_BUS_I2C;
    case HidBus::Spi:
        return TARNOVID_BUS_SPI;
    case HidBus::Unknown:
        break;
    }
    return TARNOVID_BUS_UNKNOWN;
}

HidBus busOf(int number) {
    for (const HidBus bus : {HidBus::Usb, HidBus::Bluetooth, HidBus::I2c, HidBus::Spi})
        if (busNumber(bus) == number)
            return bus;
    return HidBus::Unknown;
}

} // namespace tarnovid::lib

// The words live with the link's, so that every program names a field the same way. Each name
// is a literal, so its view is a C string.
const char* tarnovid_field_name(unsigned int differs_bit) {
    const std::string_view name = differs_bit <= unsigned(tarnovid::kMatchAll)
                                      ? tarnovid::words::fieldName(int(differs_bit))
                                      : std::string_view();
    return name.empty() ? "" : name.data();
}

const char* tarnovid_bus_name(int bus) {
    return tarnovid::words::busName(tarnovid::lib::busOf(bus)).data();
}
