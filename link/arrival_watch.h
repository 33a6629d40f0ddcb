#pragma once
// The system's word that a device node has come or changed, so the link need not wait for its
// owner's next poll to find a board that was just plugged in.

#include <functional>
#include <memory>
#include <string_view>

namespace tarnovid {

class ArrivalWatch {
public:
    // Called once per announcement, on the thread that created the watch, from its event loop.
    // subsystem and action are the system's own words ("hidraw", "add"). The handler must not
    // destroy the watch it is called from.
    using Handler = std::function<void(std::string_view subsystem, std::string_view action)>;

    virtual ~ArrivalWatch() = default; // stops: the handler is never called after this
};

// Announcements about hidraw nodes on Linux (udev), nullptr on other platforms or when the
// system refuses a watch (said once on stderr; polling still finds the board). Never blocks.
std::unique_ptr<ArrivalWatch> watchSystemArrivals(ArrivalWatch::Handler onEvent);

} // namespace tarnovid
