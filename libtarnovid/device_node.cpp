#include "device_node.h"

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

} // namespace tarnovid::lib
