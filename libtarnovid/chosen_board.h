#pragma once
// A board opened by its path: the system's devices narrowed to the one at that path, so that the
// link's own choice, with its usual match rule, takes exactly that board or none.

#include "hid_backend.h"

#include <memory>
#include <string>

namespace tarnovid::lib {

class ChosenBoardBackend final : public HidBackend {
public:
    ChosenBoardBackend(std::shared_ptr<HidBackend> system, std::string path);

    std::vector<HidDeviceInfo> enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
    std::unique_ptr<HidDevice> open(const std::string& path, std::string* error) override;
    std::thread startThread(std::function<void()> body) override;

private:
    std::shared_ptr<HidBackend> system_;
    std::string path_;
};

} // namespace tarnovid::lib
