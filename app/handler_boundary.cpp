#include "handler_boundary.h"

#include <cstdio>

namespace tarnovid {

void reportHandlerFailure(const char* handler, const char* what) noexcept {
    std::fprintf(stderr, "tarnovid: %s: %s\n", handler, what);
}

} // namespace tarnovid
