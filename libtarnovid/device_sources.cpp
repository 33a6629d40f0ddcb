#include "device_sources.h"

#include "backend_hook.h"
#include "demo_board.h"
#include "failure_text.h"
#include "failure_words.h"
#include "link_settings.h"

#include <optional>
#include <utility>
#include <vector>

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

// The demo boards made so far, by mode; never destroyed, for the same reason.
struct DemoBoards {
    std::mutex mutex;
    std::vector<std::pair<DemoMode, std::shared_ptr<DemoBackend>>> made;
};

DemoBoards& demoBoards() {
    static auto* const instance = new DemoBoards;
    return *instance;
}

// Their timers, though, end when the program does: none may plug or unplug a board, and call the
// watches that hear it, while the program's static objects are going.
struct DemoTimersEnd {
    DemoTimersEnd() = default;
    DemoTimersEnd(const DemoTimersEnd&) = delete;
    DemoTimersEnd& operator=(const DemoTimersEnd&) = delete;
    ~DemoTimersEnd() {
        DemoBoards& all = demoBoards();
        const std::lock_guard lock(all.mutex);
        for (const auto& [mode, backend] : all.made)
            backend->stopTimer();
    }
};

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

std::shared_ptr<HidBackend> demoDevices(std::string_view path, std::string* error) {
    std::string why;
    const std::optional<DemoMode> mode = parseDemoMode(path, &why);
    if (!mode) {
        if (error != nullptr)
            *error = words::escaped(path) + ": " + why;
        return nullptr;
    }
    static const DemoTimersEnd timersEnd;
    DemoBoards& all = demoBoards();
    const std::lock_guard lock(all.mutex);
    for (const auto& [made, backend] : all.made)
        if (made == *mode)
            return backend;
    return all.made.emplace_back(*mode, makeDemoBackend(*mode)).second;
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
