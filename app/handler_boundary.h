#pragma once
// Every event reaches its handler through runHandler. Handlers that catch nothing end at their
// failing step; the failure stops here, is reported on stderr, and the event loop carries on,
// because an exception unwinding through Qt's event loop is undefined behaviour.

#include <exception>

namespace tarnovid {

void reportHandlerFailure(const char* handler, const char* what) noexcept;

template <class Handler> void runHandler(const char* name, Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& e) {
        reportHandlerFailure(name, e.what());
    } catch (...) {
        reportHandlerFailure(name, "unknown failure");
    }
}

} // namespace tarnovid
