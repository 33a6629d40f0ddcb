#include "device_sources.h"

#include "backend_hook.h"
#include "demo_board.h"
#include "link_settings.h"

namespace tarnovid::lib {

namespace {

// Never destroyed: a board left open by a program that exits still has its thread running, and
// nothing it might reach may go away under it.
struct Devices {
    std::mutex mutex;
    std::shared_ptr<HidBackend> system;
    std::shared_ptr<HidBackend> override;
    bool systemMade = false;
};

Devices& devices() {
    static auto* const instance = new Devices;
    return *instance;
}

} // namespace

std::shared_ptr<HidBackend> systemDevices() {
    Devices& all = devices();
    const std::lock_guard lock(all.mutex);
    if (all.override)
        return all.override;
    if (!all.systemMade) {
        all.system = makeSystemDevices();
        all.systemMade = true;
    }
    return all.system;
}

std::shared_ptr<HidBackend> demoDevices() {
    static auto* const demo = new std::shared_ptr<HidBackend>(makeDemoBackend());
    return *demo;
}

std::mutex& systemLock() {
    static auto* const lock = new std::mutex;
    return *lock;
}

MatchRule genuineRule() { return matchRule(kGenuineBoardLink); }

SystemDevicesOverride::SystemDevicesOverride(std::shared_ptr<HidBackend> replacement) {
    Devices& all = devices();
    const std::lock_guard lock(all.mutex);
    all.override = std::move(replacement);
}

SystemDevicesOverride::~SystemDevicesOverride() {
    Devices& all = devices();
    const std::lock_guard lock(all.mutex);
    all.override.reset();
}

} // namespace tarnovid::lib
