#pragma once
// Where a call crosses from C into the library: nothing thrown inside gets out, since a C++
// exception that reaches a C caller ends the program.

#include "last_error.h"
#include "tarnovid.h"

#include <exception>
#include <new>

namespace tarnovid::lib {

// Runs `body` (which returns a result code) as one call of the C interface.
template <class Body> int callBoundary(Body&& body) noexcept {
    clearLastError();
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return fail(TARNOVID_FAILED, "out of memory");
    } catch (const std::exception& e) {
        return fail(TARNOVID_FAILED, e.what());
    } catch (...) {
        return fail(TARNOVID_FAILED, "unknown failure");
    }
}

} // namespace tarnovid::lib
