#include "chosen_board.h"

#include <algorithm>

namespace tarnovid::lib {

ChosenBoardBackend::ChosenBoardBackend(std::shared_ptr<HidBackend> system, std::string path)
    : system_(std::move(system))
    , path_(std::move(path)) {}

std::vector<HidDeviceInfo> ChosenBoardBackend::enumerate(std::uint16_t vendorId,
                                                         std::uint16_t productId) {
    std::vector<HidDeviceInfo> devices = system_->enumerate(vendorId, productId);
    std::erase_if(devices, [this](const HidDeviceInfo& device) { return device.path != path_; });
    return devices;
}

std::unique_ptr<HidDevice> ChosenBoardBackend::open(const std::string& path, std::string* error) {
    if (path != path_) { // the link only opens what enumerate listed; anything else is a mistake
        if (error != nullptr)
            *error = "not the board asked for by its path";
        return nullptr;
    }
    return system_->open(path, error);
}

std::thread ChosenBoardBackend::startThread(std::function<void()> body) {
    return system_->startThread(std::move(body));
}

} // namespace tarnovid::lib
